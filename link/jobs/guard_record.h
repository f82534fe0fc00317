#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvex::link {

// A length-prefixed text of at most 103 characters, stored inline so that a record can be
// copied whole into and out of a queue slot without touching the heap.
class ShortText {
public:
    static constexpr std::size_t kCapacity = 103;

    ShortText() = default;
    ShortText(std::string_view text) { assign(text); } // NOLINT(google-explicit-constructor)

    /// Longer texts are cut at kCapacity characters.
    void assign(std::string_view text) {
        m_length = static_cast<std::uint8_t>(std::min(text.size(), kCapacity));
        std::copy_n(text.data(), m_length, m_chars.begin());
    }
    [[nodiscard]] std::string_view view() const { return {m_chars.data(), m_length}; }
    [[nodiscard]] std::string str() const { return std::string(view()); }
    [[nodiscard]] bool empty() const { return m_length == 0; }
    [[nodiscard]] std::size_t size() const { return m_length; }

    friend bool operator==(const ShortText& a, std::string_view b) { return a.view() == b; }

private:
    std::uint8_t m_length = 0;
    std::array<char, kCapacity> m_chars{};
};

// Log lines the Guard builds from names and values are cut to this many characters.
inline constexpr std::size_t kLogLineLimit = 100;

/// A built log line, cut to kLogLineLimit characters.
[[nodiscard]] inline std::string_view logLineOf(std::string_view text) {
    return text.substr(0, kLogLineLimit);
}

// The one record for commands, log lines and window messages.
struct GuardRecord {
    ShortText Text;
    std::uint32_t Param = 0;      // command parameter; enable flag (code 11) or colour (code 17)
    std::uint32_t Code = 0;       // message code; 0 in commands
    std::uint32_t Flag = 0;       // message qualifier (failure flag, digit count)
    std::uint32_t Address = 0;    // command or message address; area index for code 17
    std::uint32_t Data = 0;       // command data; status style (codes 2, 3, 5); progress (code 9)
    const void* Target = nullptr; // the window control a diagnostic result is shown in

    [[nodiscard]] static GuardRecord command(std::string_view word, std::uint32_t param = 0,
                                             std::uint32_t address = 0, std::uint32_t data = 0) {
        GuardRecord r;
        r.Text.assign(word);
        r.Param = param;
        r.Address = address;
        r.Data = data;
        return r;
    }
};

// Status style words carried in Data; the window uses bits 8 to 15.
inline constexpr std::uint32_t kStyleNormal = 0x1000;
inline constexpr std::uint32_t kStyleAttention = 0x2000;
inline constexpr std::uint32_t kStyleError = 0x0F00;

// Message codes carried by MessageRecord and, for code 3, by LogQueue records.
enum MessageCode : std::uint32_t {
    kMsgSignature = 1,
    kMsgStatus = 2,
    kMsgRejected = 3,
    kMsgFirmwareName = 4,
    kMsgFinalReport = 5,
    kMsgDiagValue = 6,
    kMsgDiagLine = 7,
    kMsgDiagDone = 8,
    kMsgLoopProgress = 9,
    kMsgBrokenLink = 10,
    kMsgProgramming = 11,
    kMsgEepromView = 12,
    kMsgBlockMode = 13,
    kMsgStoppedOnError = 14,
    kMsgLoopWarning = 15,
    kMsgWriteProtected = 16,
    kMsgAreaColour = 17,
};

/// The Guard's own report of a job broken off by the user (message code 5).
inline constexpr std::string_view kAbortReport =
    "Job aborted and Corvex guard ready to start new job !";

} // namespace corvex::link
