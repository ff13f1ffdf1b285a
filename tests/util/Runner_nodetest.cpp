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

TEST(RunnerNodeTest, WorkDirectoryWithBlanksAndQuotesHoldsEveryPad) {
    VXL_REQUIRE_TEST_NODE();
    const struct {
        const char *out, *err;
        int exitCode;
        const char* printed;  // "exit|status|native error details|output"
    } cases[] = {
        {"18446744073692774399\n", "", 0, "0|SUCCESSFUL||18446744073692774399"},
        {"", "first line\nsecond line\n", 3, "3|FAILED|first linesecond line|"},
        {"only\nstdout\n", "", 4, "4|FAILED|only\nstdout|only\nstdout"},
    };
    for (const auto& c : cases) {
        TestNode node;
        node.addDirectory(kWorkDir, 0700).addFakeSysctl().forceResult(c.out, c.err, c.exitCode);
        NodeResult r = node.runFunction([] {
            Constants::setWorkDirPath(kWorkDir + "/");
            Constants::setLocalNodeName("node1");
            FixupUtil::initScratchPad();
            Result result;
            const std::string exe = "/sbin/sysctl", option = "-n", key = "kernel.shmmax";
            const int rc = FixupUtil::runExe(&exe, {&option, &key}, &result, false);
            const auto& errors = result.getNativeErrorList();
            std::printf("%d|%s|%s|%s", rc, statusToString(result.getStatus()).c_str(),
                        errors.empty() ? "" : errors[0]->details->c_str(),
                        result.getOutput() ? result.getOutput()->c_str() : "");
            FixupUtil::disposeScratchPad();
            return 0;
        });
        ASSERT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.stdoutText, c.printed);
        EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/sbin/sysctl [-n] [kernel.shmmax]"});
        for (const std::string& path : r.changedFiles()) {
            EXPECT_EQ(path.rfind(kWorkDir, 0), 0u) << "written outside the work dir: " << path;
        }
        EXPECT_FALSE(r.exists(kWorkDir + "/.fix_scratch"));
    }
}

}  // namespace
}  // namespace vxl_fixup
