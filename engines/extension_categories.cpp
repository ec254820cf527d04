#include "engines/extension_categories.h"

#include "platform/text.h"

namespace keltra {

const std::string_view kPhotoExtensions =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm|*.heic|*.heif|*.avif|"
    "*.cr3|*.rw2|*.rwl|*.srw|*.3fr|*.iiq|*.webp|*.jxl|*.j2c|*.ppm|*.xcf|";
const std::string_view kAudioExtensions =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd|*.flac|*.opus|*.oga|*.aifc|";
const std::string_view kVideoExtensions =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
    "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|"
    "*.mod|*.mxf|*.lrv|*.ogv|";
const std::string_view kDocumentExtensions =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.html|"
    "*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb|";
const std::string_view kArchiveExtensions =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso|";

std::string_view ExtensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    return name.substr(dot + 1);
}

bool ExtensionInList(std::string_view extension, std::string_view list) {
    if (extension.empty()) return false;
    return list.find(AsciiLower(extension)) != std::string_view::npos;
}

FileCategory CategoryOf(std::string_view name) {
    const std::string_view ext = ExtensionOf(name);
    for (FileCategory c : {FileCategory::Photo, FileCategory::Audio, FileCategory::Video,
                           FileCategory::Document, FileCategory::Archive}) {
        if (ExtensionInList(ext, CategoryExtensions(c))) return c;
    }
    return FileCategory::Others;
}

std::string_view CategoryName(FileCategory category) {
    switch (category) {
        case FileCategory::Photo:
            return "photo";
        case FileCategory::Audio:
            return "audio";
        case FileCategory::Video:
            return "video";
        case FileCategory::Document:
            return "document";
        case FileCategory::Archive:
            return "archive";
        case FileCategory::Others:
            break;
    }
    return "others";
}

std::string_view CategoryExtensions(FileCategory category) {
    switch (category) {
        case FileCategory::Photo:
            return kPhotoExtensions;
        case FileCategory::Audio:
            return kAudioExtensions;
        case FileCategory::Video:
            return kVideoExtensions;
        case FileCategory::Document:
            return kDocumentExtensions;
        case FileCategory::Archive:
            return kArchiveExtensions;
        case FileCategory::Others:
            break;
    }
    return {};
}

}  // namespace keltra
