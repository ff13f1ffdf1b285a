// The node copy in the machine's view, as "vxlfixup plan" uses it: the
// machine's processes and kernel values in sight, kernel writes and tool calls
// recorded, nothing left running afterwards.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
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

// Keys the copy's own IPC and network namespaces hold read as the machine has
// them, not at a new namespace's defaults. The machine here is this child,
// in IPC and network namespaces of its own that it tunes: this machine's
// values stay as they are.
TEST(NodeCopyNodeTest, KeysOfTheCopysOwnNamespacesReadAsTheMachineHasThem) {
    VXL_REQUIRE_TEST_NODE();
    vxl_test::TempDir dir;
    const std::string out = dir.file("out");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWIPC | CLONE_NEWNET) != 0) ::_exit(2);
        vxl_test::TempDir::write("/proc/sys/kernel/msgmnb", "12345\n");
        vxl_test::TempDir::write("/proc/sys/net/ipv4/ip_local_port_range", "20000 30000\n");
        NodeCopy copy;
        copy.viewMachine().addRecordingSysctl();
        const NodeResult r =
            copy.run("sysctl -n kernel.msgmnb net.ipv4.ip_local_port_range kernel.ostype");
        vxl_test::TempDir::write(out, r.setupError + r.stdoutText + r.stderrText);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(vxl_test::TempDir::read(out), "12345\n20000\t30000\nLinux\n");
}

}  // namespace
}  // namespace vxl_fixup
