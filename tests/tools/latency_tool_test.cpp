// parlune-latency on the private audio server: one short run per path gives
// a figure for every burst, and the median lies where the path's buffers put
// it (the live chain holds about 50 ms in its ring; Looptap six 512-frame
// buffers on each side).
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace {

using parlune::test::binPath;
using parlune::test::runProgram;

TEST(LatencyTool, EachPathIsMeasuredBurstByBurst) {
    PARLUNE_NEED_PULSE();
    struct Case {
        std::vector<std::string> options;
        const char* summary;
        double lowestMs, highestMs;
    } cases[] = {
        {{"--path", "live", "--mode", "off", "--settle", "3"}, "path live, mode off", 50, 400},
        {{"--path", "looptap", "--speaker", "Speaker"},
         "path looptap, speaker speaker, start as-is",
         40,
         400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        std::vector<std::string> argv{binPath("parlune-latency"), "--bursts", "2"};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const auto run = runProgram(argv, {}, 40000);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const std::regex burstLine(R"(burst \d at [0-9.]+ s: [0-9.]+ ms)");
        EXPECT_EQ(
            std::distance(std::sregex_iterator(run.output.begin(), run.output.end(), burstLine),
                          std::sregex_iterator()),
            2)
            << run.output;
        std::smatch summary;
        ASSERT_TRUE(std::regex_search(run.output, summary,
                                      std::regex(std::string("latency: ") + c.summary +
                                                 R"(, bursts 2/2, median ([0-9.]+) ms)")))
            << run.output;
        const double median = std::atof(summary[1].str().c_str());
        EXPECT_GT(median, c.lowestMs);
        EXPECT_LT(median, c.highestMs);
    }
}

}  // namespace
