// The command runner against a fake tool at its real absolute path, inside a
// test node, from a work directory with blanks, quotes and a substitution.
#include <gtest/gtest.h>

#include <string>

#include "engine/Constants.h"
#include "model/Result.h"
#include "sandbox/NodeTestSupport.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

const std::string kWorkDir = "/var/tmp/work dir 'q' $(x)";

TEST(RunnerNodeTest, WorkDirectoryWithBlanksAndQuotesHoldsBothPads) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addDirectory(kWorkDir, 0700).addFakeSysctl().forceResult("out\n", "first\nsecond\n", 3);
    NodeResult r = node.runFunction([] {
        Constants::setWorkDirPath(kWorkDir + "/");
        Constants::setLocalNodeName("node1");
        FixupUtil::initScratchPad();
        Result result;
        const std::string exe = "/sbin/sysctl", option = "-n", key = "kernel.shmmax";
        const int rc = FixupUtil::runExe(&exe, {&option, &key}, &result, false);
        const auto errors = result.getNativeErrorList();
        std::printf("%d|%s|%s|%s", rc, statusToString(result.getStatus()).c_str(),
                    errors.empty() ? "" : errors[0]->details->c_str(),
                    result.getOutput() ? result.getOutput()->c_str() : "");
        FixupUtil::disposeScratchPad();
        return 0;
    });
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "3|FAILED|firstsecond|out");  // exit|status|native error|output
    EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/sbin/sysctl [-n] [kernel.shmmax]"});
    for (const std::string& path : r.changedFiles()) {
        EXPECT_EQ(path.rfind(kWorkDir, 0), 0u) << "written outside the work dir: " << path;
    }
    EXPECT_FALSE(r.exists(kWorkDir + "/.fix_scratch"));
}

}  // namespace
}  // namespace vxl_fixup
