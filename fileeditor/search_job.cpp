#include "fileeditor/search_job.h"

namespace corvex::fileeditor {

SearchJob::SearchJob(std::string workFile, std::vector<std::uint8_t> pattern,
                     std::uint32_t baseAddress, SearchResults& results, CaseMatch caseMatch)
    : m_workFile(std::move(workFile)), m_pattern(std::move(pattern)), m_baseAddress(baseAddress),
      m_results(results), m_caseMatch(caseMatch), m_thread([this] {
          SearchControl control;
          control.cancel = &m_cancel;
          control.progress = [this](std::uint64_t done, std::uint64_t total) {
              m_bytesDone.store(done, std::memory_order_relaxed);
              m_bytesTotal.store(total, std::memory_order_relaxed);
          };
          m_summary =
              searchWorkFile(m_workFile, m_pattern, m_baseAddress, m_results, control, m_caseMatch);
          m_finished.store(true, std::memory_order_release);
      }) {}

SearchJob::~SearchJob() {
    if (m_thread.joinable()) {
        cancel();
        m_thread.join();
    }
}

std::optional<int> SearchJob::permille() const {
    const std::uint64_t total = m_bytesTotal.load(std::memory_order_relaxed);
    if (total == 0) {
        return std::nullopt;
    }
    return static_cast<int>(m_bytesDone.load(std::memory_order_relaxed) * 1000 / total);
}

SearchSummary SearchJob::wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return std::move(m_summary);
}

} // namespace corvex::fileeditor
