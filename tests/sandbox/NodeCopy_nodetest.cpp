// The node copy in the machine's view, as "vxlfixup plan" uses it: the
// machine's processes and kernel values in sight, kernel writes and tool calls
// recorded, nothing left running afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "sandbox/NodeTestSupport.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

TEST(NodeCopyNodeTest, MachineViewRecordsWritesAndCallsAndEndsWhatThePayloadLeft) {
    VXL_REQUIRE_TEST_NODE();
    const std::string oops = vxl_test::TempDir::read("/proc/sys/kernel/panic_on_oops");
    const std::string wanted = oops == "1\n" ? "0" : "1";
    NodeCopy copy;
    copy.viewMachine().addRecordingSysctl().addRecorder("/bin/kill");
    const NodeResult r = copy.run(
        "sleep 300 & echo $! > /var/tmp/left; sysctl -n kernel.ostype; "
        "sysctl -w kernel.ostype=x; sysctl -q -w kernel.panic_on_oops=" +
        wanted + "; sysctl -n kernel.panic_on_oops; /bin/kill -9 1; ps -p " +
        std::to_string(::getpid()) + " >/dev/null && echo seen");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.stdoutText, "Linux\n" + wanted + "\nseen\n");
    EXPECT_EQ(r.stderrText, "sysctl: permission denied on key 'kernel.ostype'\n");
    ASSERT_EQ(r.kernelWrites().size(), 1u);
    EXPECT_EQ(r.kernelWrites()[0].key, "kernel.panic_on_oops");
    EXPECT_EQ(r.kernelWrites()[0].before + "\n", oops);
    EXPECT_EQ(r.kernelWrites()[0].after, wanted);
    EXPECT_EQ(vxl_test::TempDir::read("/proc/sys/kernel/panic_on_oops"), oops);
    EXPECT_NE(std::find(r.commandLog().begin(), r.commandLog().end(), "/bin/kill [-9] [1]"),
              r.commandLog().end());
    const pid_t left = std::stoi(r.fileContent("/var/tmp/left").value_or("0"));
    EXPECT_TRUE(left > 0 && ::kill(left, 0) != 0 && errno == ESRCH) << left;
}

}  // namespace
}  // namespace vxl_fixup
