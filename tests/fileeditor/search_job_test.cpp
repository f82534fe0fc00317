#include "fileeditor/search_job.h"
#include "tests/link/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

using fileeditor::CaseMatch;
using fileeditor::ScanEnd;
using fileeditor::SearchJob;
using fileeditor::SearchResults;

TEST(SearchJob, ScansOnItsOwnThreadAndStopsWhenCancelled) {
    TempDir dir;
    writeBytes(dir.file("small"), {0x41, 0x61, 0x41});
    // Sparse: a scan of it outlasts the cancel that follows the start.
    writeBytes(dir.file("large"), {});
    std::filesystem::resize_file(dir.file("large"), std::uint64_t{256} << 20);

    SearchResults found;
    SearchJob finding(dir.file("small"), {0x41}, 0x100, found, CaseMatch::IgnoreAsciiCase);
    const auto summary = finding.wait();
    EXPECT_TRUE(finding.finished());
    EXPECT_EQ(summary.end, ScanEnd::Completed);
    EXPECT_EQ(summary.matches, 3u);
    EXPECT_EQ(found.text(found.size() - 1), "COMPLETED OK - Found 3 matches.");

    SearchResults broken;
    SearchJob cancelled(dir.file("large"), {0x41}, 0, broken, CaseMatch::Exact);
    cancelled.cancel();
    EXPECT_EQ(cancelled.wait().end, ScanEnd::Cancelled);
    EXPECT_EQ(broken.text(0), "CANCELLED - Found 0 matches.");
}

} // namespace
} // namespace corvex::test
