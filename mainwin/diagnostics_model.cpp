#include "diagnostics_model.h"

#include "link/jobs/diag_jobs.h"
#include "link/jobs/plain_text.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace corvex::mainwin {

namespace {

constexpr std::size_t kWordDigits = 8;
constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;

constexpr FileDialogSpec kBlockSave{"Save as ...", "Binary files|*.bin", true};
constexpr FileDialogSpec kBlockOpen{"Use file ...", "Binary files|*.bin", false};

// In the order of DiagControl.
constexpr std::array<DiagControlSpec, 18> kControls{{
    {link::kPidReadWord, true, false, 0},
    {link::kPidWriteWord, true, true, 0},
    {link::kPidReceiveByte, false, false, 0},
    {link::kPidSendByte, false, true, 0},
    {link::kPidAcknowledge, false, false, 0},
    {link::kPidReadDataLines, false, false, 0},
    {link::kPidWriteDataLines, false, true, 0},
    {link::kPidReadHigh, false, false, 1},
    {link::kPidReadLow, false, false, 0},
    {link::kPidTxAckHigh, false, false, 1},
    {link::kPidTxAckLow, false, false, 0},
    {link::kPidWriteHigh, false, false, 1},
    {link::kPidWriteLow, false, false, 0},
    {link::kPidResetHigh, false, false, 1},
    {link::kPidResetLow, false, false, 0},
    {link::kPidDataValid, false, false, 0},
    {link::kPidRxAck, false, false, 0},
    {link::kPidEchoForever, false, true, 0},
}};

// A block file the job could write: an existing regular file or a new one in a folder that
// takes files. The job itself writes beside it and renames, so the folder must be writable.
bool writableTarget(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path(name);
    if (fs::exists(path, error) && !fs::is_regular_file(path, error)) {
        return false;
    }
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return fs::is_directory(folder, error) && ::access(folder.c_str(), W_OK) == 0;
}

bool readable(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return in.is_open();
}

} // namespace

std::string hexFieldText(std::string_view typed, std::size_t width) {
    std::string kept;
    for (const char c : typed) {
        if (kept.size() == width) {
            break;
        }
        if (link::hexDigitValue(c) >= 0) {
            kept += c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    return kept;
}

std::optional<std::uint32_t> parseHex(std::string_view text) {
    if (text.empty() || text.size() > kWordDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = link::hexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

const DiagControlSpec& diagControlSpec(DiagControl control) {
    return kControls.at(static_cast<std::size_t>(control));
}

// ---- input line watch ----------------------------------------------------------------------

void LineWatch::poll(std::uint8_t status) {
    for (Watched& line : m_lines) {
        const bool set = (status & line.bit) != 0;
        if (!m_polled) {
            line.hold = 0;
            line.view.highlighted = false;
        } else if (line.hold <= 0) {
            line.view.highlighted = set != ((m_previous & line.bit) != 0);
            if (line.view.highlighted) {
                line.hold = kHoldTicks;
            }
        } else {
            --line.hold;
        }
        line.view.set = set;
    }
    m_previous = status;
    m_polled = true;
}

// ---- requests ------------------------------------------------------------------------------

std::uint32_t DiagnosticsModel::readField(std::string_view text, FieldRole role) {
    if (m_fieldError) {
        return 0;
    }
    if (const auto value = parseHex(text)) {
        return *value;
    }
    m_fieldError = true;
    m_host.showMessage({"Error",
                        std::string(role == FieldRole::Address ? kWrongAddress : kWrongData),
                        BoxKind::Error});
    return 0;
}

DiagnosticsModel::Result DiagnosticsModel::submit(std::uint32_t pid, std::uint32_t address,
                                                  std::uint32_t data, const void* target) {
    if (m_fieldError) {
        m_fieldError = false;
        return Result::Dropped;
    }
    m_feedback.showWait(kExecutingFunction);
    link::GuardRecord request = link::GuardRecord::command("DIAG", pid, address, data);
    request.Target = target;
    return m_guard != nullptr && m_guard->Submit(request) >= 0 ? Result::Submitted
                                                               : Result::Refused;
}

DiagnosticsModel::Result DiagnosticsModel::run(DiagControl control, std::string_view addressText,
                                               std::string_view dataText, const void* target) {
    const DiagControlSpec& entry = diagControlSpec(control);
    // Data first: with both fields wrong, the data field is the one the user hears about.
    const std::uint32_t data = entry.dataField ? readField(dataText, FieldRole::Data) : entry.data;
    const std::uint32_t address =
        entry.addressField ? readField(addressText, FieldRole::Address) : 0;
    return submit(entry.pid, address, data, target);
}

DiagnosticsModel::Result DiagnosticsModel::choosePort(std::size_t index) {
    const std::uint16_t base =
        index < kPortEntries.size() ? kPortEntries.at(index).base : kPortEntries.front().base;
    return submit(link::kPidPortBase, base, 0, nullptr);
}

DiagnosticsModel::Result DiagnosticsModel::setLoopback(bool on) {
    return submit(on ? link::kPidLoopbackOn : link::kPidLoopbackOff, on ? 1 : 0, 0, nullptr);
}

DiagnosticsModel::Result DiagnosticsModel::loopbackTest(LoopbackTest test, bool internalLoopback,
                                                        bool fromPage, const void* target) {
    const std::uint32_t pid = test == LoopbackTest::Ack    ? link::kPidLoopbackAckTest
                              : test == LoopbackTest::Data ? link::kPidLoopbackDataTest
                                                           : link::kPidLoopbackFlowTest;
    return submit(pid, internalLoopback ? 1 : 0, fromPage ? 1 : 0, target);
}

// ---- block mode ----------------------------------------------------------------------------

DiagnosticsModel::Result DiagnosticsModel::blockRead(std::string_view addressText,
                                                     std::string_view lengthText) {
    return block(true, addressText, lengthText);
}

DiagnosticsModel::Result DiagnosticsModel::blockWrite(std::string_view addressText,
                                                      std::string_view lengthText) {
    return block(false, addressText, lengthText);
}

DiagnosticsModel::Result DiagnosticsModel::block(bool reading, std::string_view addressText,
                                                 std::string_view lengthText) {
    m_areas.resetAreaStatus();
    // The block files start where the firmware files were, but are not remembered as them.
    const std::optional<std::string> chosen =
        reading ? m_host.chooseFile(kBlockSave, m_settings.lastFile(FileKind::WriteFirmware))
                : m_host.chooseFile(kBlockOpen, m_settings.lastFile(FileKind::ReadFirmware));
    if (!chosen || chosen->empty()) {
        return Result::Cancelled;
    }
    const std::string& file = *chosen;
    const std::uint32_t address = readField(addressText, FieldRole::Address);
    const std::uint32_t length = readField(lengthText, FieldRole::Data);
    if (m_fieldError) {
        // A wrong field stops the transfer here: a block of what the field failed to say
        // (address 0, length 0) is not what the user asked for.
        m_fieldError = false;
        return Result::Dropped;
    }
    const auto refuse = [this](std::string text) {
        m_host.showMessage({"Error", std::move(text), BoxKind::Error});
        return Result::Rejected;
    };
    if (length % 4 != 0) {
        return refuse(std::string(kBlockNotDivisible));
    }
    if (length == 0) {
        return refuse(std::string(kBlockEmpty));
    }
    if (std::uint64_t{address} + length > kAddressSpaceEnd) {
        return refuse(std::string(kBlockPastEnd));
    }
    if (reading && !writableTarget(file)) {
        return refuse("Operation failed.\rFile (" + file + ") cannot be written.");
    }
    if (!reading && !m_host.fileExists(file)) {
        return refuse("Operation failed.\rFile (" + file + ") not found.");
    }
    if (!reading && !readable(file)) {
        return refuse("Operation failed.\rFile (" + file + ") cannot be opened.");
    }
    if (m_guard == nullptr) {
        return Result::Refused;
    }
    const link::GuardRecord command =
        link::GuardRecord::command(reading ? "RBB" : "WBB", 0, address, length);
    if (m_guard->refuseWhileBusy(command)) {
        return Result::Refused;
    }
    if (m_guard->Submit(command, reading ? FileSetter::WriteFile : FileSetter::ReadFile, file) <
        0) {
        return Result::Refused;
    }
    m_host.showFlashPage();
    return Result::Submitted;
}

// ---- factory check -------------------------------------------------------------------------

bool DiagnosticsModel::portFree() {
    // Registers written by hand in the middle of a job would break its handshake, and the
    // simulated interface takes register writes from one thread at a time.
    if (m_port != nullptr && (!m_portFree || m_portFree())) {
        return true;
    }
    m_host.showMessage({"Information", std::string(kPortBusy), BoxKind::Information});
    return false;
}

std::optional<std::uint8_t> DiagnosticsModel::factoryRead(std::string_view addressText) {
    const std::uint32_t address = readField(addressText, FieldRole::Address);
    if (m_fieldError) {
        m_fieldError = false;
        return std::nullopt;
    }
    if (!portFree()) {
        return std::nullopt;
    }
    return m_port->in(static_cast<std::uint16_t>(address));
}

DiagnosticsModel::Result DiagnosticsModel::factoryWrite(std::string_view addressText,
                                                        std::string_view valueText) {
    const std::uint32_t value = readField(valueText, FieldRole::Data);
    const std::uint32_t address = readField(addressText, FieldRole::Address);
    if (m_fieldError) {
        m_fieldError = false;
        return Result::Dropped;
    }
    if (!portFree()) {
        return Result::Rejected;
    }
    m_port->out(static_cast<std::uint16_t>(address), static_cast<std::uint8_t>(value));
    return Result::Submitted;
}

} // namespace corvex::mainwin
