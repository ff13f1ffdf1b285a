#include "sandbox/SimNodes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sandbox/NodeLayers.h"

using namespace vxl_fixup::simnode;
namespace node_detail = vxl_fixup::node_detail;

namespace {

std::vector<std::string> names(const std::vector<SimNode>& nodes) {
    std::vector<std::string> out;
    for (const SimNode& n : nodes) out.push_back(n.name + "@" + n.address);
    return out;
}

}  // namespace

// Names sort as numbers do (the fleet folds them into ranges) and every
// node owns an address of its own.
TEST(SimNodesTest, NamesAndAddresses) {
    struct Row {
        int count;
        std::string prefix;
        std::vector<std::string> expected;  // empty: refused
    };
    const Row rows[] = {
        {1, "node", {"node01@127.0.1.1"}},
        {3, "n", {"n01@127.0.1.1", "n02@127.0.1.2", "n03@127.0.1.3"}},
        {0, "node", {}},
        {255, "node", {}},
        {-1, "node", {}},
        {2, "", {}},
        {2, "9node", {}},
        {2, "no de", {}},
        {2, "node;rm", {}},
        {2, "../x", {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(names(simNodes(row.count, row.prefix)), row.expected)
            << row.count << " " << row.prefix;
    }
    const std::vector<SimNode> many = simNodes(254, "node");
    ASSERT_EQ(many.size(), 254u);
    EXPECT_EQ(many[8].name, "node009");
    EXPECT_EQ(many[253].name + "@" + many[253].address, "node254@127.0.1.254");
}

// Folders and names end up unquoted in an inventory and a script: anything
// that could split a word, reach another folder or start an option is refused.
TEST(SimNodesTest, PlainFoldersAndNames) {
    struct Row {
        std::string text;
        bool folder;
        bool name;
    };
    const Row rows[] = {
        {"/tmp/fleet", true, false}, {"/tmp/fleet-1.x_y", true, false},
        {"node01", false, true},     {"tmp/fleet", false, false},
        {"/", false, false},         {"/tmp/../etc", false, false},
        {"/tmp/./x", false, false},  {"/tmp//x", false, false},
        {"/tmp/a b", false, false},  {"/tmp/a'b", false, false},
        {"/tmp/a$b", false, false},  {"/tmp/x\n", false, false},
        {"-node", false, false},     {"node01/..", false, false},
        {"", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(plainFolder(row.text), row.folder) << row.text;
        EXPECT_EQ(plainName(row.text), row.name) << row.text;
    }
}

TEST(SimNodesTest, HostsInventoryAndWrapper) {
    const std::vector<SimNode> nodes = simNodes(2, "node");
    struct Row {
        std::string what, got, expected;
    };
    const Row rows[] = {
        {"hosts after a last line without newline", hostsText("127.0.0.1 localhost", nodes),
         "127.0.0.1 localhost\n# simulated nodes\n127.0.1.1 node01\n127.0.1.2 node02\n"},
        {"hosts of an empty machine file", hostsText("", nodes),
         "# simulated nodes\n127.0.1.1 node01\n127.0.1.2 node02\n"},
        {"inventory", inventoryText("/tmp/f", simNodes(1, "node")),
         "[vxlfixup_simnodes]\nnode01 ansible_connection=community.general.chroot "
         "ansible_host=/tmp/f/node01/root ansible_chroot_exe=/tmp/f/node01/chroot-exe "
         "ansible_python_interpreter=/usr/bin/python3 vxlfixup_address=127.0.1.1\n"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.got, row.expected) << row.what;

    // The wrapper drops the root and passes every other word on as it came.
    const std::string script = chrootExeScript("/b/vxl simnode", "/tmp/f", "node01");
    EXPECT_NE(script.find("\nshift\nexec '/b/vxl simnode' exec --dir /tmp/f node01 -- \"$@\"\n"),
              std::string::npos)
        << script;
}

TEST(SimNodesTest, StateRoundTripsAndBadStatesAreRefused) {
    NodeState s;
    s.supervisor = 100, s.init = 101, s.keeper = 102;
    s.supervisorStart = 5, s.initStart = 6, s.keeperStart = 7;
    s.address = "127.0.1.4";
    std::optional<NodeState> back = parseState(formatState(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(formatState(*back), formatState(s));

    // A state that would name the wrong process (or none) is no state.
    const std::string good = formatState(s);
    const std::vector<std::string> bad = {
        "",
        "supervisor=100 5\ninit=101 6\naddress=127.0.1.4\n",         // keeper missing
        "supervisor=100 5\ninit=101 6\nkeeper=1 7\naddress=x\n",     // PID 1
        "supervisor=100 5\ninit=-101 6\nkeeper=102 7\naddress=x\n",  // negative
        "supervisor=100 5\ninit=101 0\nkeeper=102 7\naddress=x\n",   // no start time
        "supervisor=100 5\ninit=101\nkeeper=102 7\naddress=x\n",     // no start time
        "supervisor=100 5\ninit=101 6x\nkeeper=102 7\naddress=x\n",  // trailing junk
        "supervisor=100 5\ninit=101 6\nkeeper=102 7\nother=1 1\naddress=x\n",
        "supervisor=100 5\ninit=99999999999 6\nkeeper=102 7\naddress=x\n",
        good + "junk\n",
    };
    for (const std::string& text : bad) EXPECT_FALSE(parseState(text)) << text;
}

TEST(SimNodesTest, KernelValues) {
    struct Row {
        std::string assignment;
        bool ok;
        std::string key, value;
    };
    const Row rows[] = {
        {"kernel.shmmax=4096", true, "kernel.shmmax", "4096"},  // replaces the default
        {"kernel/shmmni=8192", true, "kernel.shmmni", "8192"},  // slashes as dots
        {"vm.new_key=1 2", true, "vm.new_key", "1 2"},          // added
        {"kernel.shmmax", false, "", ""},
        {"=1", false, "", ""},
        {"kernel.shmmax=1\nkernel.x=2", false, "", ""},
        {"../x=1", false, "", ""},
    };
    for (const Row& row : rows) {
        KernelValues values = defaultKernelValues();
        const size_t before = values.size();
        std::string error;
        EXPECT_EQ(addKernelValue(values, row.assignment, &error), row.ok) << row.assignment;
        if (!row.ok) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(values.size(), before);
            continue;
        }
        int found = 0;
        for (const auto& [key, value] : values) {
            if (key == row.key) {
                ++found;
                EXPECT_EQ(value, row.value) << row.assignment;
            }
        }
        EXPECT_EQ(found, 1) << row.assignment;
    }
}

TEST(SimNodesTest, ProcessStartAndChildren) {
    EXPECT_NE(processStart(::getpid()), 0u);
    EXPECT_EQ(processStart(0), 0u);
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    const std::vector<pid_t> children = node_detail::childrenOf(::getpid());
    EXPECT_NE(std::find(children.begin(), children.end(), child), children.end());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(processStart(child), 0u);
}
