#pragma once

#include "fileeditor/search.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvex::fileeditor {

// The search button's scan of the working copy, on a thread of its own so that the window can
// show its progress and take Cancel. The results list is the job's until wait() has returned.
class SearchJob {
public:
    /// Starts scanning `workFile` (as stored on disk) for `pattern` into `results`.
    SearchJob(std::string workFile, std::vector<std::uint8_t> pattern, std::uint32_t baseAddress,
              SearchResults& results, CaseMatch caseMatch);
    /// A scan still running is cancelled and waited for.
    ~SearchJob();
    SearchJob(const SearchJob&) = delete;
    SearchJob& operator=(const SearchJob&) = delete;

    /// Any thread: the scan stops at its next check and reports itself broken off.
    void cancel() { m_cancel.store(true); }
    /// The scan has ended: wait() returns at once.
    [[nodiscard]] bool finished() const { return m_finished.load(std::memory_order_acquire); }
    /// How far the scan has come, in thousandths of the file; nullopt before it knows the size.
    [[nodiscard]] std::optional<int> permille() const;
    /// Waits for the scan's end and gives what it left besides its lines. Once.
    SearchSummary wait();

private:
    const std::string m_workFile;
    const std::vector<std::uint8_t> m_pattern;
    const std::uint32_t m_baseAddress;
    SearchResults& m_results;
    const CaseMatch m_caseMatch;
    std::atomic<bool> m_cancel{false};          // set by cancel() on any thread, read by the scan
    std::atomic<std::uint64_t> m_bytesDone{0};  // written by the scan, read by permille()
    std::atomic<std::uint64_t> m_bytesTotal{0}; // likewise
    std::atomic<bool> m_finished{false};        // set by the scan as its last act, after m_summary
    SearchSummary m_summary;                    // the scan's until m_finished, then the owner's
    std::thread m_thread;                       // last: it starts once everything above is in place
};

} // namespace corvex::fileeditor
