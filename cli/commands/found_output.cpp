#include "cli/commands/found_output.h"

#include <fmt/format.h>

#include <ctime>

#include "engines/content_verdict.h"
#include "engines/deep/lost_volume_folders.h"
#include "engines/photo/photo_metadata.h"
#include "engines/recovery_target.h"
#include "platform/clock.h"

namespace keltra::cli {

namespace {

// "  (note)" after a file that is not intact.
std::string Note(std::string_view note) {
    return note.empty() ? std::string() : fmt::format("  ({})", note);
}

std::string OriginName(uint32_t origin) {
    switch (static_cast<RecordOrigin>(origin)) {
        case RecordOrigin::QuickNtfs:
            return "quick-ntfs";
        case RecordOrigin::QuickFat:
            return "quick-fat";
        case RecordOrigin::DeepNtfs:
            return "deep-ntfs";
        case RecordOrigin::DeepFat:
            return "deep-fat";
        case RecordOrigin::Carving:
            return "carving";
        case RecordOrigin::QuickExFat:
            return "quick-exfat";
        case RecordOrigin::DeepExFat:
            return "deep-exfat";
    }
    if (origin == kLostVolumeOrigin) return "lost-volume";
    return std::to_string(origin);
}

nlohmann::ordered_json TimeJson(uint64_t fileTime) {
    const std::optional<std::string> text = IsoTime(fileTime);
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json();
}

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::optional<std::string> IsoTime(uint64_t fileTime) {
    if (fileTime == 0) return std::nullopt;
    const std::time_t seconds = static_cast<std::time_t>(UnixFromFileTime(fileTime));
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) == nullptr) return std::nullopt;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", utc.tm_year + 1900, utc.tm_mon + 1,
                       utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::string JsonLine(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
    }
    return out;
}

nlohmann::ordered_json ItemJson(const FoundItem& item, const ScanSession& session) {
    const FoundRecord& r = item.record;
    const bool folder = r.isFolder != 0;
    nlohmann::ordered_json j;
    j["name"] = std::string(r.Name());
    j["path"] = item.folderPath;
    j["size"] = r.size;
    j["is_folder"] = folder;
    j["origin"] = OriginName(r.origin);
    j["intact"] = r.contentIntact != 0;
    FoundFiles* engine = session.sources[item.source].engine.get();
    const uint32_t form = folder || engine == nullptr ? 0 : engine->DataForm(r);
    j["compressed"] = (form & kDataCompressed) != 0;
    j["encrypted"] = (form & kDataEncrypted) != 0;
    j["created"] = TimeJson(r.created);
    j["modified"] = TimeJson(r.modified);
    j["accessed"] = TimeJson(r.accessed);
    // A carved picture has no name or date of its own: what its EXIF says stands in.
    const PhotoMetadata photo =
        engine == nullptr ? PhotoMetadata() : ReadFoundPhotoMetadata(*engine, r);
    j["taken"] = photo.taken ? nlohmann::ordered_json(photo.taken->IsoText())
                             : nlohmann::ordered_json();
    j["camera"] = photo.camera.empty() ? nlohmann::ordered_json()
                                       : nlohmann::ordered_json(photo.camera);
    j["category"] = folder ? nlohmann::ordered_json()
                           : nlohmann::ordered_json(std::string(GetFileCategory(r.Name())));
    j["location"] = r.location;
    j["source"] = session.sources[item.source].sourceArg.text;
    return j;
}

void TreePrinter::ReachSource(size_t source) {
    while (nextSource_ <= source && nextSource_ < session_.sources.size()) {
        out_ << Printable(session_.sources[nextSource_].sourceArg.text) << "\n";
        ++nextSource_;
        open_.clear();
    }
}

void TreePrinter::Add(const FoundItem& item) {
    ReachSource(item.source);
    const std::vector<std::string> parts = SplitPath(item.folderPath);
    size_t common = 0;
    while (common < open_.size() && common < parts.size() && open_[common] == parts[common]) {
        ++common;
    }
    open_.resize(common);
    for (size_t i = common; i < parts.size(); ++i) {
        out_ << std::string(2 * (i + 1), ' ') << Printable(parts[i]) << "/\n";
        open_.push_back(parts[i]);
    }
    const std::string indent(2 * (parts.size() + 1), ' ');
    const FoundRecord& r = item.record;
    if (r.isFolder != 0) {
        ++folders_;
        out_ << indent << Printable(r.Name()) << "/\n";
        open_.emplace_back(r.Name());
        return;
    }
    ++files_;
    out_ << fmt::format("{}{}  {} bytes  {}{}\n", indent, Printable(r.Name()), r.size,
                        IsoTime(r.modified).value_or("-"), Note(VerdictNote(VerdictOf(r))));
}

void TreePrinter::Finish() {
    if (!session_.sources.empty()) ReachSource(session_.sources.size() - 1);
    out_ << fmt::format("{} file{}, {} folder{}\n", files_, files_ == 1 ? "" : "s", folders_,
                        folders_ == 1 ? "" : "s");
}

}  // namespace keltra::cli
