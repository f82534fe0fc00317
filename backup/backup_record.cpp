#include "backup/backup_record.h"

#include "backup/sha256.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace corvex::backup {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kCheck = "check";
constexpr std::size_t kShaPrefix = 12;
constexpr std::uint32_t kChannelListBase = 0xC0000000;

// Keys are kept sorted by the JSON library, so the line a record gives is always the same.
std::string dumpLine(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool isHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

std::string sidecarText(const BackupRecord& record) {
    Json object = {{"time", record.time},         {"kind", record.kind},
                   {"hardware", record.hardware}, {"receiver", record.receiver},
                   {"chip", record.chip},         {"signature", record.signature},
                   {"firmware", record.firmware}, {"size", record.size},
                   {"sha256", record.sha256},     {"image", record.image}};
    object[std::string(kCheck)] = sha256Hex(dumpLine(object));
    return dumpLine(object) + "\n";
}

std::optional<BackupRecord> parseSidecar(std::string_view text, std::string& error) {
    Json object = Json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        error = "not a backup sidecar (no JSON object)";
        return std::nullopt;
    }
    BackupRecord record;
    try {
        const std::string check = object.at(std::string(kCheck)).get<std::string>();
        object.erase(std::string(kCheck));
        if (check != sha256Hex(dumpLine(object))) {
            error = "SHA-256 mismatch: the sidecar was altered since the backup was made";
            return std::nullopt;
        }
        record.time = object.at("time").get<std::string>();
        record.kind = object.at("kind").get<std::string>();
        record.hardware = object.at("hardware").get<unsigned>();
        record.receiver = object.at("receiver").get<std::string>();
        record.chip = object.at("chip").get<std::string>();
        record.signature = object.at("signature").get<std::string>();
        record.firmware = object.at("firmware").get<std::string>();
        record.size = object.at("size").get<std::uint64_t>();
        record.sha256 = object.at("sha256").get<std::string>();
        record.image = object.at("image").get<std::string>();
    } catch (const Json::exception& failure) {
        error = std::string("not a backup sidecar (") + failure.what() + ")";
        return std::nullopt;
    }
    if ((record.kind != kKindFlash && record.kind != kKindEeprom) || record.hardware > 2 ||
        !isHexDigest(record.sha256)) {
        error = "not a backup sidecar (unknown kind, hardware or digest)";
        return std::nullopt;
    }
    return record;
}

unsigned hardwareSelection(std::uint32_t hardwareType, std::uint32_t flashBase) {
    if (hardwareType == 0) {
        return 0;
    }
    return flashBase == kChannelListBase ? 2 : 1;
}

std::string receiverName(unsigned selection) {
    switch (selection) {
    case 0:
        return "DSX6071";
    case 1:
        return "DSI185D";
    default:
        return "DSI185D-CL";
    }
}

std::string chipOf(std::string_view signature) {
    const auto colon = signature.rfind(": ");
    std::string_view device =
        colon == std::string_view::npos ? signature : signature.substr(colon + 2);
    std::string chip;
    for (const char c : device) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_';
        chip += safe ? c : '_';
    }
    return chip.empty() ? "unknown" : chip;
}

std::string backupFileName(const BackupRecord& record, const std::tm& when) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return std::string(stamp) + "-" + record.kind + "-" + record.chip + "-" + record.receiver +
           "-" + record.sha256.substr(0, kShaPrefix) + ".bin";
}

std::string sidecarPathOf(std::string_view backupPath) {
    std::string path(backupPath);
    if (path.ends_with(".bin")) {
        path.resize(path.size() - 4);
    }
    return path + ".json";
}

std::string shownTime(std::string_view time) {
    std::string shown(time.substr(0, 19));
    if (shown.size() > 10 && shown[10] == 'T') {
        shown[10] = ' ';
    }
    return shown;
}

} // namespace corvex::backup
