#include "app/found_files.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <utility>

#include "engines/content_verdict.h"
#include "engines/extension_categories.h"
#include "platform/clock.h"

namespace keltra {

namespace {

constexpr const char* kNoTime = "    ----    ";

}  // namespace

std::string GroupExtension(std::string_view name) {
    std::string extension(ExtensionOf(name));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static constexpr std::pair<std::string_view, std::string_view> kAliases[] = {
        {"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"}, {"midi", "mid"}, {"m4p", "m4a"}};
    for (const auto& alias : kAliases) {
        if (extension == alias.first) return std::string(alias.second);
    }
    return extension;
}

uint64_t CheckedFileKey(const FoundRecord& record) {
    const uint16_t tag = record.sourceTag;
    const uint32_t origin = record.origin;
    const uint32_t index = record.recordIndex;
    return (uint64_t{tag} << 48) | (uint64_t{origin & 0xFFFF} << 32) | index;
}

QString FileTimeText(uint64_t fileTime) {
    if (fileTime == 0) return QString::fromLatin1(kNoTime);
    const time_t seconds = static_cast<time_t>(UnixFromFileTime(fileTime));
    std::tm fields{};
    if (gmtime_r(&seconds, &fields) == nullptr) return QString::fromLatin1(kNoTime);
    return QString::asprintf("%d-%d-%d %02d:%02d:%02d", fields.tm_year + 1900, fields.tm_mon + 1,
                             fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
}

QString FileTypeText(const FoundRecord& record) {
    if (record.isFolder != 0) return QStringLiteral("folder");
    const std::string_view extension = ExtensionOf(record.Name());
    QString text = extension.empty() ? QStringLiteral("file")
                                     : QString::fromUtf8(extension.data(),
                                                         static_cast<qsizetype>(extension.size()));
    const std::string_view note = VerdictNote(VerdictOf(record));
    if (!note.empty()) {
        text += QStringLiteral(" (") +
                QString::fromUtf8(note.data(), static_cast<qsizetype>(note.size())) +
                QStringLiteral(")");
    }
    return text;
}

}  // namespace keltra
