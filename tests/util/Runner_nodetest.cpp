// The command runner against fake tools at their real absolute paths, inside
// a test node.
#include <gtest/gtest.h>

#include <string>

#include "engine/Constants.h"
#include "model/Result.h"
#include "sandbox/TestNode.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

class RunnerNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!TestNode::available(&why)) GTEST_SKIP() << "test node unavailable: " << why;
    }
    // Runs /sbin/sysctl -n kernel.shmmax through runExe inside the node with
    // the given work directory; prints "exit|status|details|output".
    NodeResult runSysctl(TestNode& node, const std::string& workDir) {
        node.addDirectory(workDir.substr(0, workDir.size() - 1), 0700);
        return node.runFunction([workDir] {
            Constants::setWorkDirPath(workDir);
            Constants::setLocalNodeName("node1");
            FixupUtil::initScratchPad();
            Result result;
            const std::string exe = "/sbin/sysctl", option = "-n", key = "kernel.shmmax";
            const int rc = FixupUtil::runExe(&exe, {&option, &key}, &result, false);
            std::string details;
            if (result.hasNativeErrors() && result.getNativeErrorList()[0]->details) {
                details = *result.getNativeErrorList()[0]->details;
            }
            std::printf("%d|%s|%s|%s", rc, statusToString(result.getStatus()).c_str(),
                        details.c_str(), result.getOutput() ? result.getOutput()->c_str() : "");
            std::fflush(stdout);
            FixupUtil::disposeScratchPad();
            return 0;
        });
    }
};

TEST_F(RunnerNodeTest, FailingToolReportsItsErrorLinesJoined) {
    TestNode node;
    node.addFakeSysctl().forceResult("", "first line\nsecond line\n", 3);
    NodeResult r = runSysctl(node, "/var/tmp/work dir/");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "3|FAILED|first linesecond line|");
    EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/sbin/sysctl [-n] [kernel.shmmax]"});
}

TEST_F(RunnerNodeTest, FailingToolWithOnlyOutputReportsTheOutput) {
    TestNode node;
    node.addFakeSysctl().forceResult("only\nstdout\n", "", 4);
    NodeResult r = runSysctl(node, "/var/tmp/work dir/");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "4|FAILED|only\nstdout|only\nstdout");
}

TEST_F(RunnerNodeTest, WorkDirectoryWithABlankWorksAndNothingLeaksOutOfIt) {
    TestNode node;
    node.addFakeSysctl().set("kernel.shmmax", "18446744073692774399");
    NodeResult r = runSysctl(node, "/var/tmp/work dir/");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "0|SUCCESSFUL||18446744073692774399");
    for (const std::string& path : r.changedFiles()) {
        EXPECT_EQ(path.rfind("/var/tmp/work dir", 0), 0u) << "written outside the work dir: " << path;
    }
    EXPECT_FALSE(r.exists("/var/tmp/work dir/.fix_scratch"));
}

}  // namespace
}  // namespace vxl_fixup
