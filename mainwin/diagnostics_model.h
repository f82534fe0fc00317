#pragma once

#include "link/jobs/guard_record.h"
#include "link/port/port_io.h"
#include "mainwin/area_model.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/job_dispatch.h"
#include "mainwin/settings_file.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::mainwin {

inline constexpr std::string_view kWrongAddress = "Wrong data entered for ADDRESS field.";
inline constexpr std::string_view kWrongData = "Wrong data entered for DATA field.";
inline constexpr std::string_view kExecutingFunction =
    "Executing function, press ESC or click BREAK to abort operation.";
inline constexpr std::string_view kBlockNotDivisible =
    "Datablock must be divisible by 4 without remainder !";
inline constexpr std::string_view kBlockEmpty = "Datablock of 0 bytes: nothing to transfer !";
inline constexpr std::string_view kBlockPastEnd =
    "Datablock runs past the end of the address space (FFFFFFFF) !";
inline constexpr std::string_view kPortBusy =
    "The Corvex Guard is running a job.\rPress STOP or BREAK first, then try again.";

/// What a hexadecimal field keeps of typed or pasted text: 0-9 and A-F, letters upper-cased,
/// at most `width` characters.
[[nodiscard]] std::string hexFieldText(std::string_view typed, std::size_t width);
/// The field's number; nullopt when it is empty, not hexadecimal or over 8 digits.
[[nodiscard]] std::optional<std::uint32_t> parseHex(std::string_view text);

enum class FieldRole { Address, Data };

// The page's controls that send one fixed kind of request.
enum class DiagControl {
    Read,
    Write,
    ReadByte,
    WriteByte,
    WriteAck,
    DataPortRead,
    DataPortWrite,
    ReadLineHigh,
    ReadLineLow,
    TxAckHigh,
    TxAckLow,
    WriteLineHigh,
    WriteLineLow,
    ResetHigh,
    ResetLow,
    DataValidRead,
    RxAckRead,
    Start,
};

struct DiagControlSpec {
    std::uint32_t pid = 0;
    bool addressField = false; // `Address` comes from the control's address field, else 0
    bool dataField = false;    // `Data` comes from the control's data or value field
    std::uint32_t data = 0;    // `Data` otherwise
};
[[nodiscard]] const DiagControlSpec& diagControlSpec(DiagControl control);

/// The port list: captions and the base each one chooses.
struct PortEntry {
    std::string_view caption;
    std::uint16_t base;
};
inline constexpr std::array<PortEntry, 3> kPortEntries{
    {{"Port 0378", 0x378}, {"Port 0278", 0x278}, {"Port 03BC", 0x3BC}}};

enum class LoopbackTest { Ack, Data, Flow };

// The two input lines as the page shows them between requests: polled each 100 ms tick, a
// line that changed is highlighted for the next 15 ticks so a short pulse is still seen.
class LineWatch {
public:
    static constexpr int kHoldTicks = 15;
    struct Line {
        bool set = false;
        bool highlighted = false;
    };

    /// The page has come to the front: the next poll only takes the lines as they are.
    void restart() { m_polled = false; }
    /// One tick with the status register's value.
    void poll(std::uint8_t status);
    [[nodiscard]] const Line& dataValid() const { return m_lines[0].view; }
    [[nodiscard]] const Line& rxAck() const { return m_lines[1].view; }

private:
    struct Watched {
        std::uint8_t bit;
        int hold = 0;
        Line view{};
    };
    std::array<Watched, 2> m_lines{{{link::kStatusDataValid}, {link::kStatusRxAck}}};
    std::uint8_t m_previous = 0;
    bool m_polled = false;
};

// The diagnostics page without widgets: field reading and its error mark, the request each
// control submits, block transfers and the factory check's direct port access. Calls come on
// the window's thread.
class DiagnosticsModel {
public:
    enum class Result {
        Submitted, // the Guard took the request
        Refused,   // the Guard refused it (busy, stopped): it says so itself
        Dropped,   // a field was wrong, or the mark from an earlier one was pending
        Cancelled, // the user cancelled a file dialog
        Rejected,  // a block transfer or port access that cannot go: the user was told why
    };

    DiagnosticsModel(Settings& settings, AreaModel& areas, GuardFeedback& feedback,
                     DispatchHost& host)
        : m_settings(settings), m_areas(areas), m_feedback(feedback), m_host(host) {}

    /// The Guard requests go to (null while none runs: requests are then refused).
    void bindGuard(GuardJobs* guard) { m_guard = guard; }
    /// The port the factory check drives, and whether the Guard leaves it alone right now.
    void bindPort(link::PortIo* port, std::function<bool()> portFree) {
        m_port = port;
        m_portFree = std::move(portFree);
    }

    /// A field as a number. With the mark already set the text is not read and 0 is given;
    /// text that is not a number sets the mark, says which field is wrong, and gives 0.
    std::uint32_t readField(std::string_view text, FieldRole role);
    [[nodiscard]] bool fieldError() const { return m_fieldError; }

    /// A "DIAG" request as the page sends it: with the mark set it is cleared and nothing goes.
    Result submit(std::uint32_t pid, std::uint32_t address, std::uint32_t data, const void* target);
    /// The control's request; the data field is read before the address field.
    Result run(DiagControl control, std::string_view addressText, std::string_view dataText,
               const void* target);
    /// The port list moved to entry `index`.
    Result choosePort(std::size_t index);
    /// "Enable internal loopback" now shows `on`.
    Result setLoopback(bool on);
    /// A loopback test: from the page's buttons the long one, from the menu the short one.
    Result loopbackTest(LoopbackTest test, bool internalLoopback, bool fromPage,
                        const void* target);

    /// Block mode's "Read": the block at the read row's address, of the length in its data
    /// field, into a file the user names.
    Result blockRead(std::string_view addressText, std::string_view lengthText);
    /// Block mode's "Write": a file the user picks into the block at the write row's address.
    Result blockWrite(std::string_view addressText, std::string_view lengthText);

    /// Factory check "R": the byte at the I/O address in the field; nullopt when not read.
    std::optional<std::uint8_t> factoryRead(std::string_view addressText);
    /// Factory check "W": the value field's byte to the I/O address in the field.
    Result factoryWrite(std::string_view addressText, std::string_view valueText);

private:
    Result block(bool reading, std::string_view addressText, std::string_view lengthText);
    bool portFree();

    Settings& m_settings;
    AreaModel& m_areas;
    GuardFeedback& m_feedback;
    DispatchHost& m_host;
    GuardJobs* m_guard = nullptr;
    link::PortIo* m_port = nullptr;
    std::function<bool()> m_portFree;
    bool m_fieldError = false;
};

} // namespace corvex::mainwin
