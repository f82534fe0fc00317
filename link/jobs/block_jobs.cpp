#include "link/jobs/flash_jobs.h"
#include "link/jobs/job_context.h"
#include "link/jobs/job_files.h"
#include "link/port/port.h"
#include "link/protocol/link.h"

#include <algorithm>
#include <vector>

namespace corvex::link {

namespace {

// A last word that the block cuts short is padded as erased flash reads.
constexpr std::uint32_t kPaddedWord = 0xFFFFFFFF;
constexpr std::uint32_t kBlockTitleIcon = 38;
constexpr std::uint32_t kBlockTitleColour = 0xF0E0C0;
constexpr std::uint32_t kPlainColour = 0xE0E0E0;
// A block may reach the top of the address space; it ends there.
constexpr std::uint64_t kAddressSpaceEnd = 1ULL << 32;

void postBlockTitle(JobContext& guard, std::string_view text, std::uint32_t icon,
                    std::uint32_t colour) {
    guard.messageRecord().Param = colour;
    guard.Post(kMsgAreaColour, text, icon);
    guard.raise(AreaEvent::Reset, 0);
}

// How a block job takes the breaks between its words. A word the window's time-out broke off is
// abandoned and the next one tried, so one stuck word does not end the block at once; but its
// bytes are whatever the fallen-through exchange returned, so the block has failed, and a second
// time-out means the interface has stopped answering: the block ends there. A user's break, or
// the Guard's end, ends the block at once.
class BlockBreaks {
public:
    explicit BlockBreaks(JobContext& guard) : m_guard(guard) {}

    /// After each word; true when the loop is to stop.
    bool stopAfterWord() {
        Link& link = m_guard.link();
        if (!link.breakRequested()) {
            return false;
        }
        LinkFlags& flags = link.flags();
        if (flags.pendingDepth.load() < kBrokenLinkMark || flags.ending.load()) {
            return true;
        }
        if (m_abandoned) {
            return true; // left as the time-out set it: the Guard reports the broken link
        }
        m_abandoned = true;
        flags.pendingDepth.store(0);
        flags.breakFlag.store(false);
        return false;
    }

    /// After the loop: true when every word went through. A block that abandoned a word and
    /// still reached its end is reported as the broken link its time-out was.
    bool finish() {
        if (m_abandoned && !m_guard.link().breakRequested()) {
            m_guard.link().flags().markBrokenLink();
        }
        return !m_abandoned && !m_guard.link().breakRequested();
    }

private:
    JobContext& m_guard;
    bool m_abandoned = false;
};

std::uint32_t blockProgressStep(std::uint32_t bytes) {
    return ((bytes >> 2) / 31) - 1;
}

std::uint64_t blockEnd(std::uint32_t first, std::uint32_t bytes) {
    return std::min<std::uint64_t>(std::uint64_t{first} + bytes, kAddressSpaceEnd);
}

} // namespace

void readBlockJob(JobContext& guard, const GuardRecord& command) {
    // Without an initialised bus every word would be wrong; a break here is not one stuck word
    // to go on past, and the Guard's report follows.
    if (!guard.jobPrologue()) {
        if (guard.PendingDepth() != 0) {
            guard.Log("Reading binary block failed.");
        }
        return;
    }
    postBlockTitle(guard, "Read Binary Block", kBlockTitleIcon, kBlockTitleColour);
    const std::string name = guard.writeFileName();
    ReplacingFile out(name);
    const std::uint32_t first = command.Address;
    const std::uint32_t bytes = command.Data;
    const std::uint32_t step = blockProgressStep(bytes);
    guard.Log(formatLine("%8.8X %8.8X - %s (%u bytes)", first, step, name.c_str(), bytes));

    BlockBreaks breaks(guard);
    bool written = out.valid();
    if (written) {
        WordWriter words(out.fd(), 0);
        const std::uint64_t end = blockEnd(first, bytes);
        std::uint32_t counter = 0;
        for (std::uint64_t address = first; address < end; address += 4) {
            if (counter == step) {
                guard.Log(formatLine("Working @ %8.8X", static_cast<std::uint32_t>(address)));
                guard.raise(AreaEvent::Progress, 0);
                counter = 0;
            }
            words.append(guard.link().readWord(static_cast<std::uint32_t>(address)));
            if (breaks.stopAfterWord()) {
                break;
            }
            ++counter;
        }
        written = words.flush();
    }
    guard.raise(AreaEvent::Progress, 0);

    // Without every word the file is not the block: the earlier file stays as it was.
    if (breaks.finish()) {
        if (written && out.commit()) {
            reportFinal(guard, "Reading binary block succeeded.", kStyleNormal);
        } else {
            guard.Log("Write Error: " + name);
            reportFinal(guard, "Reading binary block failed.", kStyleError);
        }
    } else if (guard.PendingDepth() != 0) {
        // The Guard's broken-link report follows and is the one the owner is shown.
        guard.Log("Reading binary block failed.");
    }
    postBlockTitle(guard, "", 0, kPlainColour);
}

void writeBlockJob(JobContext& guard, const GuardRecord& command) {
    if (!guard.jobPrologue()) {
        if (guard.PendingDepth() != 0) {
            guard.Log("Writing binary block failed.");
        }
        return;
    }
    postBlockTitle(guard, "Write Binary Block", kBlockTitleIcon, kBlockTitleColour);
    const std::string name = guard.readFileName();
    // Only a regular file: opening a FIFO with no writer would hold the Guard where no break
    // reaches it.
    const InputFile source = openInputFile(name);
    const FileHandle& in = source.file;
    const std::uint32_t first = command.Address;
    const std::uint32_t bytes = command.Data;
    const std::uint32_t step = blockProgressStep(bytes);
    guard.Log(formatLine("%8.8X %8.8X - %s (%u bytes)", first, step, name.c_str(), bytes));

    BlockBreaks breaks(guard);
    bool complete = in.valid();
    if (!complete) {
        guard.Log("Read Error: " + name);
        if (!source.problem.empty()) {
            guard.Log(fileProblemLine("", name, source.problem));
        }
    }
    std::vector<std::uint8_t> chunk(WordWriter::kBlockBytes);
    std::size_t chunkUsed = 0;
    std::size_t chunkFilled = 0;
    off_t filePosition = 0;
    const std::uint64_t end = blockEnd(first, bytes);
    std::uint32_t counter = 0;
    for (std::uint64_t address = first; complete && address < end; address += 4) {
        if (counter == step) {
            guard.Log(formatLine("Working @ %8.8X", static_cast<std::uint32_t>(address)));
            guard.raise(AreaEvent::Progress, 0);
            counter = 0;
        }
        if (chunkUsed == chunkFilled) {
            const ssize_t got = readAt(in.fd(), chunk.data(), chunk.size(), filePosition);
            chunkFilled = got > 0 ? static_cast<std::size_t>(got) : 0;
            chunkUsed = 0;
            filePosition += static_cast<off_t>(chunkFilled);
        }
        // The block's last word may be partly outside it; only the bytes inside must be there.
        const std::size_t needed = std::min<std::uint64_t>(4, end - address);
        const std::size_t available = std::min<std::size_t>(4, chunkFilled - chunkUsed);
        if (available < needed) {
            // A short file ends the block here: writing on past it would put words on the bus
            // that the file never held.
            guard.Log(formatLine("*** READ ERROR: END OF FILE %s BEFORE ADDRESS %8.8X",
                                 name.c_str(), static_cast<std::uint32_t>(address)));
            complete = false;
            break;
        }
        std::uint32_t word = kPaddedWord;
        for (std::size_t b = 0; b < available; ++b) {
            word &= ~(0xFFU << (8 * b));
            word |= static_cast<std::uint32_t>(chunk[chunkUsed + b]) << (8 * b);
        }
        chunkUsed += available;
        guard.link().writeWord(static_cast<std::uint32_t>(address), word);
        if (breaks.stopAfterWord()) {
            break;
        }
        ++counter;
    }
    guard.raise(AreaEvent::Progress, 0);

    if (breaks.finish()) {
        if (complete) {
            reportFinal(guard, "Writing binary block succeeded.", kStyleNormal);
        } else {
            reportFinal(guard, "Writing binary block failed.", kStyleError);
        }
    } else if (guard.PendingDepth() != 0) {
        guard.Log("Writing binary block failed.");
    }
    postBlockTitle(guard, "", 0, kPlainColour);
}

} // namespace corvex::link
