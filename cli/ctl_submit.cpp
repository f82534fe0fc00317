#include "backup/restore_check.h"
#include "ctl_session.h"
#include "link/guard/guard_commands.h"

namespace corvex::cli {

namespace {

// The block jobs raise about 32 progress steps, whatever the block's size.
constexpr std::uint64_t kBlockSteps = 32;

bool isReadFirmware(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return entry != nullptr && entry->word == "READ FIRMWARE";
}

bool readsForCompare(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) != link::kAreaModeSkip &&
           (flags & link::kAreaReadMark) == 0;
}

bool isRead(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) != link::kAreaModeSkip;
}

// The jobs that read or write the flash chip through its command words.
bool needsKnownChip(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return entry != nullptr && (entry->word == "READ FIRMWARE" || entry->word == "WRITE FIRMWARE" ||
                                entry->word == "PREVIEW FIRMWARE");
}

bool isProgrammed(std::uint32_t flags) {
    return (flags & link::kAreaModeMask) == link::kAreaModePgm &&
           (flags & link::kAreaDiffersMark) != 0 && (flags & link::kAreaProtectedMark) == 0;
}

} // namespace

std::size_t CtlSession::commandCount() const {
    return m_options.commands.size() + (m_options.hardware ? 1 : 0);
}

link::GuardRecord CtlSession::commandAt(std::size_t index) const {
    if (m_options.hardware) {
        if (index == 0) {
            return link::GuardRecord::command("SETHARDWARE", *m_options.hardware);
        }
        --index;
    }
    return m_options.commands[index];
}

bool CtlSession::refusesFlashJob(const link::GuardRecord& command) {
    if (m_options.force || m_chip != Chip::Unknown || !needsKnownChip(command)) {
        return false;
    }
    clearProgress();
    m_err << "corvexctl: " << command.Text.view() << " not run: "
          << (m_chipText.empty() ? std::string("no signature was read")
                                 : "the signature reads \"" + escapeLineBreaks(m_chipText) +
                                       "\", not a known flash chip")
          << " (--force runs it anyway)\n"
          << std::flush;
    m_failed = true;
    return true;
}

bool CtlSession::needsSignature(const link::GuardRecord& command) const {
    // A restore is its one write, which first needs to know what it writes into.
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    return needsKnownChip(command) ||
           (m_restore != nullptr && entry != nullptr &&
            (entry->word == "WRITE FIRMWARE" || entry->word == "EEWRITE"));
}

bool CtlSession::refusesRestore(const link::GuardRecord& command) {
    if (m_restore == nullptr || m_options.force || m_chip == Chip::NotRead) {
        return false;
    }
    const std::string why = backup::restoreRefusal(*m_restore, m_options.hardware.value_or(0),
                                                   m_chip == Chip::Known ? m_chipText : "");
    if (why.empty()) {
        return false;
    }
    clearProgress();
    m_err << "corvexctl: " << command.Text.view() << " of " << m_restore->path
          << " not run: " << why << " (--force restores it anyway)\n"
          << std::flush;
    m_failed = true;
    return true;
}

void CtlSession::submitNext() {
    // Refused jobs are passed over; the commands after them still run, as after a failed job.
    while (!m_stopping && m_next < commandCount() &&
           (refusesFlashJob(commandAt(m_next)) || refusesRestore(commandAt(m_next)))) {
        ++m_next;
    }
    const bool last = m_next == commandCount() || m_stopping;
    link::GuardRecord command = last ? link::GuardRecord::command("EXIT") : commandAt(m_next);
    // A flash job on a chip nobody has identified would read or write whatever answers: an
    // empty port or an unpowered receiver reads as all ones, and a read of it "succeeds".
    const bool signatureFirst =
        !last && !m_options.force && m_chip == Chip::NotRead && needsSignature(command);
    if (signatureFirst) {
        command = link::GuardRecord::command("SIGNATURE");
    }
    if (!last && link::findCommand(command.Text.view()) == nullptr) {
        m_failed = true; // the Guard answers with its unknown-command line
    }
    if (!last && isReadFirmware(command) && m_areaModel.readSavesNothing()) {
        // It would report success and write no file: refused before it starts.
        m_err << "corvexctl: " << command.Text.view()
              << " refused: no area is set to PGM, so the read would save nothing\n"
              << std::flush;
        m_failed = true;
        ++m_next;
        return;
    }
    const bool accepted = m_guard->Submit(command) >= 0;
    if (command.Text == "SETHARDWARE") {
        m_areaModel.selectHardwareType(static_cast<int>(command.Param), accepted);
    }
    if (!accepted) {
        m_failed = true;
        m_exitSubmitted = true; // stopped Guard: nothing more will run
    } else if (last) {
        m_exitSubmitted = true;
    } else {
        startJob(command);
        if (!signatureFirst) {
            ++m_next; // the flash job itself comes once the signature has been read
        }
    }
}

void CtlSession::startJob(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    m_jobText = command.Text.str();
    m_job = entry != nullptr ? entry->word : std::string_view{};
    if (m_job == "SIGNATURE") {
        // Unknown until its report says otherwise: a job broken off sends none.
        m_chip = Chip::Unknown;
        m_chipText.clear();
    } else if (m_job == "SETHARDWARE") {
        m_chip = Chip::NotRead;
    }
    m_differs = m_equal = m_protected = m_notWritten = 0;
    m_progress.noPhase();
    m_progress.jobStarted(std::chrono::steady_clock::now());
    // The Guard is idle: the area marks are what the job will start from.
    if (m_job == "READ FIRMWARE") {
        m_progress.startPhase("reading", areaBytes(isRead), false);
    } else if (m_job == "WRITE FIRMWARE" || m_job == "PREVIEW FIRMWARE") {
        m_progress.startPhase("comparing", areaBytes(readsForCompare), false);
    } else if (m_job == "RBB") {
        m_progress.startPhase("reading", kBlockSteps, true);
    } else if (m_job == "WBB") {
        m_progress.startPhase("writing", kBlockSteps, true);
    }
}

void CtlSession::startProgramming() {
    if (m_progress.phaseName() == "comparing") {
        m_progress.startPhase("programming", areaBytes(isProgrammed), false);
    }
}

std::uint64_t CtlSession::areaBytes(bool (*counts)(std::uint32_t flags)) const {
    std::uint64_t bytes = 0;
    const auto areas = static_cast<std::size_t>(m_areaModel.shownAreaCount());
    for (std::size_t area = 0; area < areas && area + 1 < link::kAreaSlots; ++area) {
        if (counts(m_areaTable.AreaFlags[area].load())) {
            bytes += m_areaTable.AreaStart[area + 1].load() - m_areaTable.AreaStart[area].load();
        }
    }
    return bytes;
}

} // namespace corvex::cli
