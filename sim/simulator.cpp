#include "simulator.h"

#include <charconv>
#include <utility>

namespace corvex::sim {

namespace {

bool parseAdapterType(std::string_view text, AdapterType& type) {
    if (text == "revb") {
        type = AdapterType::RevB;
    } else if (text == "compatible") {
        type = AdapterType::Compatible;
    } else if (text == "unknown") {
        type = AdapterType::Unknown;
    } else if (text == "absent") {
        type = AdapterType::Absent;
    } else {
        return false;
    }
    return true;
}

bool parseWholeNumber(std::string_view text, std::uint64_t& value) {
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

} // namespace

std::string applySimOption(SimConfig& config, std::string_view keyValue) {
    const std::size_t equals = keyValue.find('=');
    const std::string_view key = keyValue.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : keyValue.substr(equals + 1);

    if (key == "adapter") {
        if (!parseAdapterType(value, config.adapter.type)) {
            return "adapter must be revb, compatible, unknown or absent";
        }
        return {};
    }
    if (key == "hang-after") {
        std::uint64_t count = 0;
        if (!parseWholeNumber(value, count)) {
            return "hang-after needs a whole number";
        }
        config.adapter.hangAfter = count;
        return {};
    }
    return "unknown simulator option '" + std::string(key) + "'";
}

Simulator::Simulator(SimConfig config)
    : m_config(std::move(config)), m_adapter(m_bus, m_config.adapter) {}

} // namespace corvex::sim
