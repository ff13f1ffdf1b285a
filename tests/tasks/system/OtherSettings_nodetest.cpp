// The other kernel and service settings of the system-settings family, run
// inside a test node: the fix-up script is a real executable file, the
// configuration files are real files in the node, kernel values go to the
// fake sysctl and /proc/filesystems is replaced by a plain file.
#include <sys/mount.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/system/sTaskSystemSettings.h"

namespace vxl_fixup {
namespace {

const std::string kScript = "/var/tmp/fixup/fixup.sh";
const std::string kSysctlConf = "/etc/sysctl.conf";
const std::string kDropIn = "/etc/sysctl.d/90-extra.conf";
const std::string kNetwork = "/etc/sysconfig/network";
const std::string kLogind = "/etc/systemd/logind.conf";
const std::string kSystemConf = "/etc/systemd/system.conf";
const std::string kClocks = "/sys/devices/system/clocksource/";
const std::string kClock = kClocks + "clocksource0/current_clocksource";
const std::string kClockDir = kClocks + "clocksource1/current_clocksource";  // a directory
const std::string kClockGone = kClocks + "clocksource2/current_clocksource";
// A control file whose path holds shell text; written only when quoted.
const std::string kOddClock = "/var/tmp/$(id>pwned);id>pwned/current_clocksource";
const std::string kEth1 = "net.ipv4.conf.eth1.rp_filter";
const std::string kLoRP = "net.ipv4.conf.lo.rp_filter";  // read-only
const std::string kArp = "net.ipv4.conf.all.arp_ignore";
const std::string kLoArp = "net.ipv4.conf.lo.arp_ignore";  // read-only
const std::string kMinFree = "vm.min_free_kbytes";

// Every node starts with these files.
const std::map<std::string, std::string> kFiles = {
    {kSysctlConf, "# tuned\n"},
    {kDropIn, kArp + " = 0\n"},
    {kNetwork, "NETWORKING=yes\n  ZEROCONF_ON=yes\nNOZEROCONF=no\n"},
    {kLogind, "[Login]\n#RemoveIPC=yes\n"},
    {kSystemConf, "[Manager]\n#DefaultTasksMax=15%\n"},
    {kClock, "kvm-clock\n"},
    {kOddClock, "kvm-clock\n"},
};

// A node holding kFiles, a fake sysctl and systemctl, a kernel with hugetlbfs
// and a fix-up script that prints what script() gave.
struct SettingsNode {
    SettingsNode() : sysctl(node.addFakeSysctl()) {
        for (const auto& [path, text] : kFiles) node.addFile(path, text);
        node.addDirectory(kClockDir).addFakeTool("/bin/systemctl");
        sysctl.set("vm.nr_hugepages", "0").set(kEth1, "1").set(kArp, "0").set(kMinFree, "45056");
        sysctl.set(kLoRP, "1").setReadOnly(kLoRP).set(kLoArp, "0").setReadOnly(kLoArp);
        filesystems("nodev\tsysfs\nnodev\thugetlbfs\n");
    }
    // The script prints output, then err on standard error, and exits.
    SettingsNode& script(const std::string& output, int exitCode = 0, mode_t mode = 0755,
                         const std::string& err = "") {
        node.addFile("/var/tmp/fixup/output", output).addFile("/var/tmp/fixup/error", err);
        vxl_test::addScript(node, kScript,
                            "cat /var/tmp/fixup/output\ncat /var/tmp/fixup/error >&2\nexit " +
                                std::to_string(exitCode),
                            mode);
        return *this;
    }
    SettingsNode& filesystems(const std::string& text) {
        node.addFile("/var/tmp/filesystems", text);
        return *this;
    }
    // The task with the script, or with the data items when there are any.
    vxl_test::Fixed fix(const std::string& taskId, vxl_test::TaskInstance::Data data = {}) {
        vxl_test::Fixed r = vxl_test::fixInNode<sTaskSystemSettings>(
            node, {{taskId, data, {}, {}, data.empty() && withScript ? kScript : ""}}, [] {
                return ::mount("/var/tmp/filesystems", "/proc/filesystems", nullptr, MS_BIND,
                               nullptr);
            });
        for (const std::string& path : r.changedFiles()) {
            EXPECT_NE(path.substr(path.rfind('/')), "/pwned") << "an injected command ran";
        }
        return r;
    }
    TestNode node;
    FakeSysctl& sysctl;
    bool withScript = true;
};

// The outcome line without the script's output equals outcome, or starts
// with it when outcome ends in "..." (for texts the shell words itself).
void expectOutcome(const vxl_test::Fixed& r, const std::string& outcome, const std::string& what) {
    ASSERT_EQ(r.lines.size(), 1u) << what;
    const std::string line = r.lines[0].substr(0, r.lines[0].find(" output ["));
    const size_t n = outcome.size() - 3;
    if (outcome.size() > 3 && outcome.compare(n, 3, "...") == 0) {
        EXPECT_EQ(line.substr(0, n), outcome.substr(0, n)) << what;
    } else {
        EXPECT_EQ(line, outcome) << what;
    }
}

class OtherSettingsNodeTest : public ::testing::Test {
protected:
    void SetUp() override { VXL_REQUIRE_TEST_NODE(); }
};

// Each script-driven method with its script's output: what it sets, and the
// errors of failing scripts and of outputs not in the task's format (for
// those nothing is run or written).
TEST_F(OtherSettingsNodeTest, ScriptDrivenFixes) {
    // What a read-only key gives.
    auto denied = [](const std::string& key, const std::string& value) {
        return "FAILED Vxlg 9026 [" + key + "] [/sbin/sysctl] [node1] native [(/sbin/sysctl  -w " +
               key + "=\"" + value + "\")] [255] [sysctl: permission denied on key '" + key + "']";
    };
    auto unavailable = [](const std::string& word) {
        return "FAILED Vxlg 10530 [" + word + "-fixup-data-unavailable]";
    };
    const std::string zeroconf = "FAILED Vxlg 9050 [node1]", hugePages = "FAILED Vxlg 9068 [node1]";
    const std::string rp = unavailable("rpfilter"), arp = unavailable("arp-param"),
                      clock = unavailable("current-clocksource"),
                      minFree = unavailable("vm_min_free_kbytes"),
                      logind = unavailable("logindIPC");
    const std::string logindTask = "CHECK_SYSTEMD_LOGIN_IPC_PARAM";
    using SetUp = std::function<void(SettingsNode&)>;
    struct Case {
        std::string task, output;
        std::string outcome;                // see expectOutcome
        SetUp setUp = nullptr;              //
        std::string file = "", after = "";  // file afterwards ("" as it started); none: nothing
        std::string key = "", value = "";   // changes and nothing runs; a kernel value afterwards
    } cases[] = {
        {logindTask, "", "FAILED Vxlg 9031", [](SettingsNode& n) { n.withScript = false; }},
        {logindTask, "", "FAILED Vxlg 9020 [" + kScript + "] [node1]",
         [](SettingsNode& n) { n.node.hidePath(kScript); }},
        {logindTask, "",
         "FAILED native [(" + kScript + " )] [126] [sh: 1: " + kScript + ": Permission denied]",
         [](SettingsNode& n) { n.script("RemoveIPC," + kLogind, 0, 0644); }},
        {logindTask, "", "FAILED native [(" + kScript + " )] [3] [cannot inspect logind]",
         [](SettingsNode& n) { n.script("", 3, 0755, "cannot inspect logind\n"); }},
        {logindTask, " \n\n", logind},
        {logindTask, "RemoveIPC", logind},
        {logindTask, "RemoveIPC , " + kLogind, "SUCCESSFUL", nullptr, kLogind,
         "[Login]\n#RemoveIPC=yes\n# Recommended value for RemoveIPC\nRemoveIPC=no\n"},
        {logindTask, "KillUserProcesses," + kLogind, "SUCCESSFUL", nullptr, kLogind, ""},
        {"CHECK_ZEROCONF", "NOZEROCONF," + kNetwork, "SUCCESSFUL", nullptr, kNetwork,
         "NETWORKING=yes\n  ZEROCONF_ON=yes\nNOZEROCONF=yes\n"},
        {"CHECK_ZEROCONF", " ZEROCONF_ON , " + kNetwork + " \n", "SUCCESSFUL", nullptr, kNetwork,
         "NETWORKING=yes\n#ZEROCONF_ON=yes\nNOZEROCONF=no\n"},
        {"CHECK_ZEROCONF", "", unavailable("zeroconf")},
        {"CHECK_ZEROCONF", "NOZEROCONF", zeroconf},
        {"CHECK_ZEROCONF", "NOZEROCONF,sysconfig/network", zeroconf},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024\n", "SUCCESSFUL", nullptr, kSysctlConf,
         "# tuned\n# Recommended value for vm.nr_hugepages\nvm.nr_hugepages = 1024\n",
         "vm.nr_hugepages", "1024"},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024",
         "WARNING Vxlg 9067 [node1] native [cat /proc/filesystems | grep  hugetlbfs] [1] []",
         [](SettingsNode& n) { n.filesystems("nodev\tproc\n"); }, kSysctlConf, "",
         "vm.nr_hugepages", "0"},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024", denied("vm.nr_hugepages", "1024"),
         [](SettingsNode& n) { n.sysctl.setReadOnly("vm.nr_hugepages"); }, kSysctlConf, "",
         "vm.nr_hugepages", "0"},
        {"ENABLED_HUGE_PAGE", "", hugePages},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages 1024", hugePages},
        {"ENABLED_HUGE_PAGE", "kernel.shmmax=1024", hugePages},
        {"REVERSE_PATH_FILTER", "current_" + kEth1 + ", config_" + kEth1 + " " + kDropIn,
         "SUCCESSFUL", nullptr, kDropIn,
         kArp + " = 0\n# Recommended value for " + kEth1 + "\n" + kEth1 + "=2\n", kEth1, "2"},
        // A failed running value is not masked by the configuration step after it.
        {"REVERSE_PATH_FILTER", "current_" + kLoRP + ",config_" + kLoRP, denied(kLoRP, "2"),
         nullptr, kSysctlConf, "# tuned\n# Recommended value for " + kLoRP + "\n" + kLoRP + "=2\n",
         kLoRP, "1"},
        {"REVERSE_PATH_FILTER", "config_" + kEth1 + " /etc/sysctl.d/gone.conf",
         "FAILED Vxlg 9030 [/etc/sysctl.d/gone.conf] [node1]", nullptr, "/etc/sysctl.d/gone.conf",
         "<missing>"},
        {"REVERSE_PATH_FILTER", "current_" + kEth1 + ",config_" + kEth1 + " sysctl.conf", rp},
        {"REVERSE_PATH_FILTER", kEth1 + "=2", rp},
        {"REVERSE_PATH_FILTER", " , ,", rp},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp + ",config_" + kArp + ":" + kDropIn + " 1",
         "SUCCESSFUL", nullptr, kDropIn, kArp + "=1\n", kArp, "1"},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kLoArp + ",config_" + kLoArp + " 2",
         denied(kLoArp, "2"), nullptr, kSysctlConf,
         "# tuned\n# Recommended value for " + kLoArp + "\n" + kLoArp + "=2\n", kLoArp, "0"},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp, arp},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp + " 1 2", arp},
        {"CHECK_ARP_PARAM_SETTINGS", "config_" + kArp + ":" + kDropIn + ":x 1", arp},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock + " tsc\n", "SUCCESSFUL", nullptr, kClock, "tsc\n"},
        {"CHECK_CURRENT_CLOCKSOURCE", kOddClock + " tsc", "SUCCESSFUL", nullptr, kOddClock,
         "tsc\n"},
        {"CHECK_CURRENT_CLOCKSOURCE", kClockDir + " tsc",
         "FAILED Vxlh 1001 [/bin/echo  \"tsc\" > " + kClockDir +
             "] [node1] [sh: 1: cannot create ...",
         nullptr, kClock, ""},
        // A missing control file is never created.
        {"CHECK_CURRENT_CLOCKSOURCE", kClockGone + " tsc",
         "FAILED Vxlh 1001 [/bin/echo  \"tsc\" > " + kClockGone + "] [node1] [" + kClockGone +
             ": No such file or directory]",
         nullptr, kClockGone, "<missing>"},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock, clock},
        {"CHECK_CURRENT_CLOCKSOURCE", "/etc/passwd tsc", clock},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock.substr(1) + " tsc", clock},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584", "SUCCESSFUL", nullptr, kSysctlConf, "", kMinFree,
         "67584"},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn, "SUCCESSFUL",
         [](SettingsNode& n) { n.sysctl.set(kMinFree, "90112"); }, kDropIn,
         kArp + " = 0\n# Recommended value for " + kMinFree + "\n" + kMinFree + " = 67584\n",
         kMinFree, "90112"},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn,
         "FAILED Vxlg 9027 [" + kMinFree + "] [/sbin/sysctl] [node1] native [(/sbin/sysctl  -n " +
             kMinFree + ")] [255] [sysctl: permission denied]",
         [](SettingsNode& n) { n.sysctl.forceResult("", "sysctl: permission denied\n", 255); },
         kDropIn, ""},
        {"CHECK_VM_MIN_FREE_KBYTES", "lots", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "-1", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 relative.conf", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn + " extra", minFree},
        // Keys that would reach sysctl as an option, or that are no key of
        // the file they name.
        {"REVERSE_PATH_FILTER", "current_-p/var/tmp/evil", "FAILED Vxlg 9031"},
        {"REVERSE_PATH_FILTER", "current_" + kEth1 + ",config_--help " + kDropIn,
         "FAILED Vxlg 9031"},
        {"CHECK_ARP_PARAM_SETTINGS", "current_-p" + kDropIn + " 1", "FAILED Vxlg 9031"},
        {"CHECK_ZEROCONF", "-o," + kNetwork, "FAILED Vxlg 9031"},
        {"CHECK_ZEROCONF", "../../etc/shadow," + kNetwork, "FAILED Vxlg 9031"},
        {logindTask, "--help," + kLogind, "FAILED Vxlg 9031"},
        {logindTask, "../../etc/shadow," + kLogind, "FAILED Vxlg 9031"},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.script(c.output);
        if (c.setUp) c.setUp(n);
        const vxl_test::Fixed r = n.fix(c.task);
        expectOutcome(r, c.outcome, c.task + " " + c.output);
        if (c.file.empty()) {
            EXPECT_TRUE(r.commandLog().empty()) << c.output;
            for (const std::string& path : r.changedFiles()) {
                EXPECT_EQ(path.rfind("/var/tmp/vxlwork", 0), 0u) << c.output << " changed " << path;
            }
        } else {
            EXPECT_EQ(r.fileContent(c.file).value_or("<missing>"),
                      c.after.empty() ? kFiles.at(c.file) : c.after)
                << c.output;
        }
        if (!c.key.empty()) {
            EXPECT_EQ(r.sysctlValue(c.key).value_or(""), c.value) << c.output;
        }
    }
}

TEST_F(OtherSettingsNodeTest, DefaultTasksMax) {
    const std::string after =
        kFiles.at(kSystemConf) + "# Recommended value for DefaultTasksMax\nDefaultTasksMax=65535\n";
    const std::string denied = "Failed to reload daemon: Access denied";
    SettingsNode n;
    vxl_test::Fixed r = n.fix("CHECK_DEFAULTTASKSMAX", {{"EXPECTED", "65535"}});
    expectOutcome(r, "SUCCESSFUL", "success");
    EXPECT_EQ(r.fileContent(kSystemConf), after);
    EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/bin/systemctl [daemon-reload]"});

    n.node.addFakeTool("/bin/systemctl", "", denied + "\n", 1);
    r = n.fix("CHECK_DEFAULTTASKSMAX", {{"EXPECTED", "65535"}});
    expectOutcome(r,
                  "FAILED Vxlf 5718 [/bin/systemctl  daemon-reload] [node1] [" + denied +
                      "] native [(/bin/systemctl  daemon-reload)] [1] [" + denied + "]",
                  "reload fails");
    EXPECT_EQ(r.fileContent(kSystemConf), after);

    n.withScript = false;
    r = n.fix("CHECK_DEFAULTTASKSMAX");
    expectOutcome(r, "FAILED Vxlg 9031", "no EXPECTED item");
    EXPECT_EQ(r.fileContent(kSystemConf), kFiles.at(kSystemConf));
    EXPECT_TRUE(r.commandLog().empty());
}

// Only what the service manager reads as a tasks limit reaches its file.
TEST_F(OtherSettingsNodeTest, DefaultTasksMaxTakesACountAPercentageOrInfinity) {
    const struct {
        std::string value;
        std::string written;  // empty: refused, nothing written or run
    } cases[] = {
        {"infinity", "infinity"},
        {" 80% ", "80%"},
        {"$(touch /tmp/x)", ""},
        {"-1", ""},
        {"12.5", ""},
        {"%", ""},
        {"infinite", ""},
        {"\xff\xfe", ""},
        {std::string(5000, '9'), ""},
    };
    for (const auto& c : cases) {
        SettingsNode n;
        n.withScript = false;
        const vxl_test::Fixed r = n.fix("CHECK_DEFAULTTASKSMAX", {{"EXPECTED", c.value}});
        const std::string what = c.value.substr(0, 20);
        if (c.written.empty()) {
            expectOutcome(r, "FAILED Vxlg 9031", what);
            EXPECT_EQ(r.fileContent(kSystemConf), kFiles.at(kSystemConf)) << what;
            EXPECT_TRUE(r.commandLog().empty()) << what;
        } else {
            expectOutcome(r, "SUCCESSFUL", what);
            EXPECT_EQ(r.fileContent(kSystemConf),
                      kFiles.at(kSystemConf) + "# Recommended value for DefaultTasksMax\n" +
                          "DefaultTasksMax=" + c.written + "\n")
                << what;
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
