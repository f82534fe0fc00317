#include "guard_feedback.h"

#include "link/guard/guard_commands.h"
#include "link/guard/log_book.h"
#include "mainwin/message_texts.h"

#include <algorithm>
#include <cstdio>

namespace corvex::mainwin {

namespace {

constexpr std::uint32_t kLoopbackGaugeMax = 100;

// A status style word names panel 1's icon in its bits 8 to 15 (0x1000 gives 16).
int styleIcon(std::uint32_t style) {
    return static_cast<int>((style >> 8) & 0xFFU);
}

std::string upperCased(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper;
}

} // namespace

GuardFeedback::GuardFeedback(AreaModel& areas, FeedbackView& view, std::string title,
                             std::string logFile, Clock clock)
    : m_areas(areas), m_view(view), m_title(std::move(title)), m_logFile(std::move(logFile)),
      m_clock(std::move(clock)) {
    m_panelText = {" ", m_title, std::string(kVersionText)};
}

// ---- status bar ----------------------------------------------------------------------------

void GuardFeedback::setPanelIcon(int index, int icon) {
    const auto shift = static_cast<std::uint32_t>(8 * index);
    m_panelIcons =
        (m_panelIcons & ~(0xFFU << shift)) | ((static_cast<std::uint32_t>(icon) & 0xFFU) << shift);
}

void GuardFeedback::setPanel(int index, int icon, std::string_view text) {
    m_panelText.at(static_cast<std::size_t>(index)) = text;
    setPanelIcon(index, icon);
    if (index == 1) {
        m_waitShown = false;
    }
}

PanelView GuardFeedback::panel(int index) const {
    const int icon = static_cast<int>((m_panelIcons >> (8 * index)) & 0xFFU);
    const std::string& text = m_panelText.at(static_cast<std::size_t>(index));
    if (index == 0) {
        if (icon == 0) {
            return {std::string(kSelectSignature), kIconSelectSignature, std::nullopt};
        }
        std::optional<Rgb> background;
        if (icon == kIconKnownChip) {
            background = kLightGreen;
        } else if (icon == kIconError) {
            background = kLightRed;
        }
        return {text, icon, background};
    }
    if (text.empty()) {
        return {};
    }
    if (index == 2 && icon == 0) {
        return {text, kIconPanel2Default, std::nullopt};
    }
    return {text, icon, std::nullopt};
}

void GuardFeedback::showWait(std::string_view text) {
    removeHintHandler();
    setPanel(1, kIconWait, text);
    m_waitText = text;
    m_waitShown = true;
}

// ---- jobs the window hands over ------------------------------------------------------------

void GuardFeedback::jobSubmitted(const link::GuardRecord& command) {
    const link::CommandEntry* entry = link::findCommand(command.Text.view());
    m_jobCommand = entry != nullptr ? std::string(entry->word) : command.Text.str();
    m_jobRunning = true;
    m_reportShown = false;
    m_progress.start(JobProgress::kindOf(m_jobCommand), m_areas.table(),
                     static_cast<std::size_t>(m_areas.shownAreaCount()), m_clock());
    showProgress();
}

std::string GuardFeedback::progressText() const {
    return m_jobRunning ? m_progress.text(m_clock()) : std::string();
}

// The wait text carries the job's progress at its end while nothing else has taken panel 1.
void GuardFeedback::showProgress() {
    if (!m_waitShown) {
        return;
    }
    const std::string progress = progressText();
    m_panelText[1] = progress.empty() ? m_waitText : m_waitText + " " + progress;
}

// However the job ended (its report, a refusal, a break, a broken link, a job that said
// nothing), the map takes clicks again and the progress goes; a wait text nothing replaced
// would otherwise claim the job still runs.
void GuardFeedback::endJob() {
    m_jobRunning = false;
    m_reportShown = false;
    m_progress.stop();
    m_mapBusy = false;
    m_loopbackGauge = 0;
    if (m_waitShown) {
        setPanel(1, kIconDone, "Ready");
    }
}

void GuardFeedback::showHint(std::string_view text) {
    if (m_hintHandler) {
        setPanel(1, kIconHint, text);
    }
}

// ---- Guard events --------------------------------------------------------------------------

void GuardFeedback::onMessage(const link::GuardRecord& message) {
    const std::string text = message.Text.str();
    const std::uint32_t currentArea =
        m_guard != nullptr ? m_guard->CurrentArea() : static_cast<std::uint32_t>(link::kAreaSlots);
    switch (message.Code) {
    case link::kMsgSignature:
        m_panelText[0] = text;
        if (message.Flag == 0) {
            setPanelIcon(0, kIconKnownChip);
            setPanel(1, kIconDone, "Read signature function completed.");
            m_flashGroup = true;
        } else {
            m_flashGroup = false;
            setPanelIcon(0, kIconError);
            setPanel(1, kIconError, "Read signature can not read correct signature.");
            // Inside a longer job (PendingDepth above 0) the status bar says it; a box would
            // hold the job until someone clicks it away.
            if (m_guard == nullptr || m_guard->PendingDepth() == 0) {
                m_view.messageBox({"Information", "Read signature can not read correct signature.",
                                   BoxKind::Information});
            }
        }
        break;
    case link::kMsgStatus:
        setPanel(1, styleIcon(message.Data), text);
        break;
    case link::kMsgRejected:
        // Refused is never done: "not running" comes in the normal style, whose icon is the
        // done tick.
        setPanel(1, message.Data == link::kStyleAttention ? kIconBusy : kIconError, text);
        break;
    case link::kMsgFirmwareName:
        setPanel(2, kIconFirmware, text);
        setPanelIcon(1, kIconDone);
        break;
    case link::kMsgFinalReport:
        finalReport(message, currentArea);
        break;
    case link::kMsgDiagValue:
        m_view.showDiagResult(message.Target,
                              diagValueText(message.Data, message.Flag, m_swapDataBytes));
        break;
    case link::kMsgDiagLine:
        m_view.showDiagResult(message.Target, std::to_string(message.Data));
        break;
    case link::kMsgDiagDone:
        setPanel(1, kIconDone, text);
        break;
    case link::kMsgLoopProgress:
        m_watch.restart();
        m_loopbackGauge = static_cast<int>(std::min(message.Data, kLoopbackGaugeMax));
        break;
    case link::kMsgBrokenLink:
        m_progress.stop();
        setPanel(1, kIconError, "May be you MUST reset the device connected with your Corvex.");
        m_view.messageBox({"Timeout", text, BoxKind::Warning});
        // The job's last word in place of its final report: the map takes clicks again.
        m_mapBusy = false;
        break;
    case link::kMsgProgramming:
        m_flashGroup = message.Param != 0;
        break;
    case link::kMsgEepromView:
        m_view.openFileEditor(text);
        setPanel(1, kIconDone, "Ready.");
        break;
    case link::kMsgBlockMode:
        m_blockMode = !m_blockMode;
        break;
    case link::kMsgStoppedOnError:
        m_progress.stop();
        setPanel(1, kIconError, "Stopped on error.");
        m_view.messageBox({"Stopped", text, BoxKind::Error});
        break;
    case link::kMsgLoopWarning:
        if (!m_view.messageBox({m_title, std::string(kLoopbackWarning), BoxKind::Question}) &&
            m_guard != nullptr) {
            m_guard->Break();
        }
        break;
    case link::kMsgWriteProtected:
    case link::kMsgAreaColour:
        m_areas.applyMessage(message, currentArea);
        break;
    default:
        break;
    }
    m_hintCountdown = kHintTicksAfterMessage;
    m_view.refresh();
}

void GuardFeedback::finalReport(const link::GuardRecord& message, std::uint32_t currentArea) {
    const std::string text = message.Text.str();
    m_progress.stop(); // the job has said how it ended: nothing is left to count
    m_areas.applyMessage(message, currentArea);
    setPanel(1, styleIcon(message.Data), text);
    if (m_jobRunning && m_jobCommand == "READ FIRMWARE" && message.Flag == 0 &&
        message.Data == link::kStyleNormal && text != link::kAbortReport) {
        m_lastFirmwareRead = m_readFile;
    }
    // A job broken off says so itself, and the Guard's own abort report follows: one break,
    // one box. The Guard's words stay on panel 1, where they also say it is ready.
    if (text == link::kAbortReport && m_jobRunning && m_reportShown) {
        m_mapBusy = false;
        return;
    }
    m_reportShown = true;
    m_view.messageBox({"Information", text, BoxKind::Information});
    setPanel(1, kIconDone, "Ready");
    m_mapBusy = false;
}

void GuardFeedback::onAreaEvent(link::AreaEvent event, std::size_t area) {
    m_areas.applyAreaEvent(event, area);
    m_progress.onAreaEvent(event, area, m_areas.table());
    if (event == link::AreaEvent::Progress) {
        m_watch.restart();
        showProgress();
    }
}

void GuardFeedback::onTerminate() {
    // The Guard's last lines first: once the window replaces it, its queue goes with it.
    drainLog();
    endJob();
    m_restart = RestartStep::None;
    m_breakEnabled = false;
    m_view.messageBox({"Information", std::string(kGuardStopped), BoxKind::Information});
    m_restartEnabled = true;
    m_view.refresh();
}

void GuardFeedback::restart(GuardLink* guard) {
    m_restartEnabled = false;
    m_guard = guard;
    endJob();
    m_restart = RestartStep::SubmitRestart;
}

void GuardFeedback::continueRestart() {
    if (m_guard == nullptr) {
        m_restart = RestartStep::None;
        return;
    }
    switch (m_restart) {
    case RestartStep::None:
        return;
    case RestartStep::SubmitRestart:
        // A refusal is the Guard's to report; a Guard that has died ends in onTerminate.
        if (const auto command = link::GuardRecord::command("RESTART");
            m_guard->Submit(command) >= 0) {
            jobSubmitted(command);
            m_restart = RestartStep::ChooseHardware;
        } else {
            m_restart = RestartStep::None;
        }
        return;
    case RestartStep::ChooseHardware: {
        // Only once "RESTART" has run: a command submitted while it runs would be refused.
        if (!m_guard->isIdle()) {
            return;
        }
        (void)m_areas.submitHardwareType(m_areas.hardwareType(),
                                         [this](const link::GuardRecord& command) {
                                             const int slot = m_guard->Submit(command);
                                             if (slot >= 0) {
                                                 jobSubmitted(command);
                                             }
                                             return slot;
                                         });
        m_breakEnabled = true;
        m_restart = RestartStep::None;
        return;
    }
    }
}

// ---- timer ---------------------------------------------------------------------------------

void GuardFeedback::setTimeoutControl(bool on) {
    if (on && !m_timeoutControl) {
        m_watch.restart(); // a count left over from before says nothing about this exchange
    }
    m_timeoutControl = on;
}

std::string GuardFeedback::title() const {
    if (!m_debugFields) {
        const std::optional<int> percent = m_jobRunning ? m_progress.percent() : std::nullopt;
        return percent ? std::to_string(*percent) + " % - " + m_title : m_title;
    }
    const std::int32_t pending = m_guard != nullptr ? m_guard->PendingDepth() : 0;
    return std::to_string(pending) + " - " + std::to_string(m_watch.countdown());
}

void GuardFeedback::tick() {
    drainLog();
    // The Guard goes idle only after the last report of a job: whatever has not come by now
    // will not come.
    if ((m_jobRunning || m_mapBusy) && (m_guard == nullptr || m_guard->isIdle())) {
        endJob();
    }
    showProgress();
    continueRestart();
    if (m_timeoutControl && m_guard != nullptr &&
        m_watch.tick(m_guard->PendingDepth(), m_guard->ExchangesDone())) {
        m_guard->BreakOnTimeout();
    }
    if (m_hintCountdown > 0) {
        --m_hintCountdown;
        if (m_hintCountdown == 0 && !m_hintHandler) {
            m_hintHandler = true;
        }
    }
    m_view.refresh();
}

void GuardFeedback::drainLog() {
    if (m_guard == nullptr) {
        return;
    }
    const auto now = m_clock();
    link::GuardRecord record;
    while (m_guard->takeLog(record) >= 0) {
        addLine(link::logBookLine(record.Text.view(), now));
        if (record.Code == link::kMsgRejected) {
            onMessage(record);
        }
    }
}

// ---- "Corvex Guard" page -------------------------------------------------------------------

void GuardFeedback::addLine(std::string_view line) {
    m_lines.emplace_back(line);
    ++m_linesAdded;
    if (m_lines.size() <= kLogViewLimit) {
        return;
    }
    m_spilled.push_back(std::move(m_lines.front()));
    m_lines.pop_front();
    if (m_spilled.size() < m_spillAt) {
        return;
    }
    // Lines that leave the view go to the log book in blocks, so hours of logging neither
    // slow the page nor pile up in memory, and the file still gets every line in order.
    if (std::string error = link::appendLogFile(m_logFile, m_spilled); error.empty()) {
        m_spilled.clear();
        m_spillAt = kLogSpillBlock;
    } else {
        m_spillAt += kLogSpillBlock; // kept for the next attempt
        addLine(link::logBookLine(error, m_clock()));
    }
}

std::string GuardFeedback::writeLogBook(bool includeView) {
    std::vector<std::string> lines;
    lines.reserve(m_spilled.size() + (includeView ? m_lines.size() : 0));
    lines.insert(lines.end(), m_spilled.begin(), m_spilled.end());
    if (includeView) {
        lines.insert(lines.end(), m_lines.begin(), m_lines.end());
    }
    std::string error = link::appendLogFile(m_logFile, lines);
    if (error.empty()) {
        m_spilled.clear();
        m_spillAt = kLogSpillBlock;
    }
    return error;
}

std::string GuardFeedback::appendViewToLogBook() {
    std::string error = writeLogBook(true);
    if (error.empty()) {
        m_lines.clear();
    } else {
        addLine(link::logBookLine(error, m_clock()));
    }
    return error;
}

std::string GuardFeedback::closeLogBook() {
    std::string error = writeLogBook(true);
    if (error.empty()) {
        m_lines.clear(); // written once, even when closing is asked twice
    }
    return error;
}

void GuardFeedback::sendCommand(std::string_view fieldText) {
    const std::string command = upperCased(fieldText);
    if (command == "STOP") {
        if (m_guard != nullptr) {
            m_guard->Break();
        }
        return;
    }
    const auto record = link::GuardRecord::command(link::logLineOf(command));
    const bool accepted = m_guard != nullptr && m_guard->Submit(record) >= 0;
    if (accepted) {
        jobSubmitted(record);
    } else {
        m_view.messageBox({"Information", std::string(kGuardNotResponding), BoxKind::Information});
    }
}

std::string GuardFeedback::diagValueText(std::uint32_t data, std::uint32_t digits, bool swapBytes) {
    constexpr std::uint32_t kWordDigits = 8;
    if (swapBytes && digits == kWordDigits) {
        data = (data >> 24) | ((data >> 8) & 0xFF00U) | ((data << 8) & 0xFF0000U) | (data << 24);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", static_cast<int>(std::min(digits, kWordDigits)), data);
    return text;
}

} // namespace corvex::mainwin
