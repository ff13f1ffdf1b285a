#include "engine/Trace.h"

#include <gtest/gtest.h>

#include "engine/Constants.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        Trace::resetForTesting();
        Constants::clearTraceDirPath();
        Constants::setWorkDirPath(work.dir());
    }
    void TearDown() override { Trace::resetForTesting(); }
    std::string traceFile(int n) const {
        return work.file("vexel_fixup_trace_" + std::to_string(n) + ".log");
    }
    TempDir work;
};

TEST_F(TraceTest, ThresholdMappingTable) {
    struct Case {
        int requested;
        int before;
        int after;
    } cases[] = {{0, 5, 0},   {1, 5, 2},  {2, 0, 2},   {3, 5, 3},     {4, 5, 3},
                 {7, 0, 5},   {8, 5, 8},  {11, 5, 8},  {12, 5, 12},   {14, 5, 12},
                 {15, 5, 15}, {16, 3, 3}, {17, 5, 16}, {1000, 5, 16}, {-1, 8, 8}};
    // Every "before" value maps to itself, so it can be set by request.
    for (const Case& c : cases) {
        Trace::setTraceLevel(c.before);
        Trace::setTraceLevel(c.requested);
        EXPECT_EQ(Trace::getTraceLevel(), c.after) << "requested " << c.requested;
    }
}

TEST_F(TraceTest, LevelsDecideWhatIsWritten) {
    Trace::trace("", "message");
    Trace::trace("source", "");
    EXPECT_FALSE(TempDir::exists(traceFile(0))) << "an empty line opens no file";
    Trace::setTraceLevel(0);
    Trace::trace("S", "detail", TRACE_DETAIL);
    Trace::setTraceLevel(2);
    Trace::trace("S", "hidden detail", TRACE_DETAIL);
    Trace::trace("S", "flow", TRACE_FLOW);
    Trace::setTraceLevel(5);
    Trace::trace("S", "hidden flow", TRACE_FLOW);
    Trace::trace("S", "always");
    Trace::close();
    Trace::trace("S", "after close");  // appends to the same file
    Trace::close();
    EXPECT_EQ(TempDir::read(traceFile(0)), "S - detail\nS - flow\nS - always\nS - after close\n");
}

TEST_F(TraceTest, RotatesAtExactly1048576CountedBytesKeepingTheCrossingLine) {
    // Counted bytes are source + message only. One line of the given count,
    // then two short lines "S - a" and "S - b" (2 counted bytes each); the
    // crossing line stays in its file and its own count starts the next one.
    // A close in between keeps the file number.
    const struct {
        int counted;
        int fileOfA;
        int fileOfB;
    } cases[] = {{1048575, 0, 1}, {1048576, 1, 2}, {1048577, 1, 2}};
    for (const auto& c : cases) {
        TempDir dir;
        Trace::resetForTesting();
        Constants::setWorkDirPath(dir.dir());
        const std::string big(static_cast<size_t>(c.counted) - 1, 'm');
        Trace::trace("B", big);
        Trace::trace("S", "a");
        Trace::close();
        Trace::trace("S", "b");
        Trace::close();
        const auto file = [&dir](int n) {
            return TempDir::read(dir.file("vexel_fixup_trace_" + std::to_string(n) + ".log"));
        };
        std::string expected[3];
        expected[0] = "B - " + big + "\n";
        expected[c.fileOfA] += "S - a\n";
        expected[c.fileOfB] += "S - b\n";
        for (int n = 0; n < 3; ++n) EXPECT_EQ(file(n), expected[n]) << c.counted << " file " << n;
    }
}

}  // namespace
}  // namespace vxl_fixup
