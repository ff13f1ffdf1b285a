// The other kernel and service settings of the system-settings family, run
// inside a test node: the fix-up script is a real executable file, the
// configuration files are real files in the node, kernel values go to the
// fake sysctl and /proc/filesystems is replaced by a plain file.
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "model/Script.h"
#include "sandbox/NodeTestSupport.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

const std::string kScriptDir = "/var/tmp/fixup";
const std::string kScriptName = "fixup.sh";
const std::string kScript = kScriptDir + "/" + kScriptName;
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

// "STATUS", then " FacilityNumber(arg,...)" per message error and
// " native(details)" per failed command.
std::string describe(const Result& r) {
    std::string text = statusToString(r.getStatus());
    for (const NLSError* e : r.getErrorList()) {
        text += " " + *e->facility + *e->messageNumber + "(";
        for (size_t i = 0; i < e->arguments.size(); ++i) text += (i ? "," : "") + *e->arguments[i];
        text += ")";
    }
    for (const NativeError* e : r.getNativeErrorList()) {
        text += " native(" + (e->details ? *e->details : std::string()) + ")";
    }
    return text;
}

void bindOver(const std::string& file, const std::string& target, unsigned long flags = 0) {
    if (::mount(file.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        (flags &&
         ::mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | flags, nullptr) != 0)) {
        std::perror(target.c_str());
    }
}

// A node holding kFiles, a fake sysctl and systemctl and a kernel with
// hugetlbfs; fix() runs one task instance in it and prints describe() of the
// Result as the node's standard output.
class SettingsNode {
public:
    SettingsNode() : sysctl(node.addFakeSysctl("/sbin/sysctl")) {
        for (const auto& [path, text] : kFiles) node.addFile(path, text);
        node.addDirectory(kClockDir).addFakeTool("/bin/systemctl");
        sysctl.set("vm.nr_hugepages", "0").set(kEth1, "1").set(kArp, "0").set(kMinFree, "45056");
        sysctl.set(kLoRP, "1").setReadOnly(kLoRP).set(kLoArp, "0").setReadOnly(kLoArp);
        procFilesystems("nodev\tsysfs\nnodev\thugetlbfs\n");
    }

    // The fix-up script prints output, then err on standard error, and exits.
    SettingsNode& script(const std::string& output, int exitCode = 0, mode_t mode = 0755,
                         const std::string& err = "") {
        node.addFile(kScriptDir + "/output", output).addFile(kScriptDir + "/error", err);
        node.addFile(kScript,
                     "#!/bin/sh\ncat " + kScriptDir + "/output\ncat " + kScriptDir +
                         "/error >&2\nexit " + std::to_string(exitCode) + "\n",
                     mode);
        return *this;
    }
    SettingsNode& procFilesystems(const std::string& text) {
        node.addFile("/var/tmp/filesystems", text);
        return *this;
    }

    NodeResult fix(const std::string& taskId) {
        const bool withScript = scriptGiven;
        const std::optional<std::string> roDir = readOnlyDir;
        const auto data = items;
        NodeResult r = node.runFunction([=] {
            bindOver("/var/tmp/filesystems", "/proc/filesystems");
            if (roDir) bindOver(*roDir, *roDir, MS_RDONLY);
            ::mkdir("/var/tmp/work", 0755);
            Constants::setWorkDirPath("/var/tmp/work/");
            Constants::setLocalNodeName("node1");
            Trace::setTraceLevel(0);
            FixupUtil::initScratchPad();
            FixupData* instance = new FixupData(&taskId);
            RunObjects::adopt(instance);
            for (const auto& [name, value] : data) instance->addData(&name, &value);
            if (withScript) {
                instance->addScript(
                    Script::createScript(SCRIPT_TYPE_SHELL, &kScriptName, &kScriptDir));
            }
            std::unique_ptr<Result> result;
            {
                sTaskSystemSettings task(instance);
                result.reset(task.fix(instance));
            }
            std::printf("%s", describe(*result).c_str());
            result.reset();
            FixupUtil::disposeScratchPad();
            XmlParser::dispose();
            RunObjects::releaseAll();
            return 0;
        });
        EXPECT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.exitCode, 0) << r.stderrText;
        for (const std::string& path : r.changedFiles()) {
            EXPECT_NE(path.substr(path.rfind('/')), "/pwned") << "an injected command ran";
        }
        return r;
    }

    TestNode node;
    FakeSysctl& sysctl;
    bool scriptGiven = true;
    std::optional<std::string> readOnlyDir;
    std::vector<std::pair<std::string, std::string>> items;
};

// The fix's describe() equals outcome, or starts with it when outcome ends
// in "..." (for texts the shell words itself).
::testing::AssertionResult outcomeIs(const NodeResult& r, const std::string& outcome) {
    const size_t dots = outcome.size() >= 3 && outcome.compare(outcome.size() - 3, 3, "...") == 0
                            ? outcome.size() - 3
                            : std::string::npos;
    if (dots == std::string::npos ? r.stdoutText == outcome
                                  : r.stdoutText.compare(0, dots, outcome, 0, dots) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "outcome " << r.stdoutText << "\nwanted  " << outcome;
}

std::string content(const NodeResult& r, const std::string& path) {
    return r.fileContent(path).value_or("<missing>");
}

class OtherSettingsNodeTest : public ::testing::Test {
protected:
    void SetUp() override { VXL_REQUIRE_TEST_NODE(); }
};

TEST_F(OtherSettingsNodeTest, ScriptDrivenFixes) {
    using SetUp = std::function<void(SettingsNode&)>;
    struct Case {
        std::string task, output;
        std::string outcome;                // describe(), see outcomeIs
        std::string file = "", after = "";  // file afterwards; "" as it started
        std::string key = "", value = "";   // a kernel value afterwards
        SetUp setUp = nullptr;
    } cases[] = {
        {"CHECK_ZEROCONF", "NOZEROCONF," + kNetwork, "SUCCESSFUL", kNetwork,
         "NETWORKING=yes\n  ZEROCONF_ON=yes\nNOZEROCONF=yes\n"},
        {"CHECK_ZEROCONF", " ZEROCONF_ON , " + kNetwork + " \n", "SUCCESSFUL", kNetwork,
         "NETWORKING=yes\n#ZEROCONF_ON=yes\nNOZEROCONF=no\n"},
        {"CHECK_ZEROCONF", "NOZEROCONF,/etc/sysconfig/gone",
         "FAILED Vxlg9030(/etc/sysconfig/gone,node1)", kNetwork, ""},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024\n", "SUCCESSFUL", kSysctlConf,
         "# tuned\n# Recommended value for vm.nr_hugepages\nvm.nr_hugepages = 1024\n",
         "vm.nr_hugepages", "1024"},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024", "WARNING Vxlg9067(node1) native()",
         kSysctlConf, "", "vm.nr_hugepages", "0",
         [](SettingsNode& n) { n.procFilesystems("nodev\tproc\n"); }},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages=1024",
         "FAILED Vxlg9026(vm.nr_hugepages,/sbin/sysctl,node1) native(sysctl: permission denied on "
         "key "
         "'vm.nr_hugepages')",
         kSysctlConf, "", "vm.nr_hugepages", "0",
         [](SettingsNode& n) { n.sysctl.setReadOnly("vm.nr_hugepages"); }},
        {"REVERSE_PATH_FILTER", "current_" + kEth1 + ", config_" + kEth1 + " " + kDropIn,
         "SUCCESSFUL", kDropIn,
         kArp + " = 0\n# Recommended value for " + kEth1 + "\n" + kEth1 + "=2\n", kEth1, "2"},
        // A failed running value is not masked by the configuration step after it.
        {"REVERSE_PATH_FILTER", "current_" + kLoRP + ",config_" + kLoRP,
         "FAILED Vxlg9026(" + kLoRP +
             ",/sbin/sysctl,node1) native(sysctl: permission denied on key '" + kLoRP + "')",
         kSysctlConf, "# tuned\n# Recommended value for " + kLoRP + "\n" + kLoRP + "=2\n", kLoRP,
         "1"},
        {"REVERSE_PATH_FILTER", "config_" + kEth1 + " /etc/sysctl.d/gone.conf",
         "FAILED Vxlg9030(/etc/sysctl.d/gone.conf,node1)", "/etc/sysctl.d/gone.conf", "<missing>"},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp + ",config_" + kArp + ":" + kDropIn + " 1",
         "SUCCESSFUL", kDropIn, kArp + "=1\n", kArp, "1"},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kLoArp + ",config_" + kLoArp + " 2",
         "FAILED Vxlg9026(" + kLoArp +
             ",/sbin/sysctl,node1) native(sysctl: permission denied on key '" + kLoArp + "')",
         kSysctlConf, "# tuned\n# Recommended value for " + kLoArp + "\n" + kLoArp + "=2\n", kLoArp,
         "0"},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock + " tsc\n", "SUCCESSFUL", kClock, "tsc\n"},
        {"CHECK_CURRENT_CLOCKSOURCE", kOddClock + " tsc", "SUCCESSFUL", kOddClock, "tsc\n"},
        {"CHECK_CURRENT_CLOCKSOURCE", kClockDir + " tsc",
         "FAILED Vxlh1001(/bin/echo \"tsc\" > " + kClockDir + ",node1,sh: 1: cannot create ..."},
        // A missing control file is never created.
        {"CHECK_CURRENT_CLOCKSOURCE", kClockGone + " tsc",
         "FAILED Vxlh1001(/bin/echo \"tsc\" > " + kClockGone + ",node1," + kClockGone +
             ": No such file or directory)",
         kClockGone, "<missing>"},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584", "SUCCESSFUL", kSysctlConf, "", kMinFree, "67584"},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn, "SUCCESSFUL", kDropIn,
         kArp + " = 0\n# Recommended value for " + kMinFree + "\n" + kMinFree + " = 67584\n",
         kMinFree, "90112", [](SettingsNode& n) { n.sysctl.set(kMinFree, "90112"); }},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn,
         "FAILED Vxlg9027(" + kMinFree + ",/sbin/sysctl,node1) native(sysctl: permission denied)",
         kDropIn, "", "", "",
         [](SettingsNode& n) { n.sysctl.forceResult("", "sysctl: permission denied\n", 255); }},
        {"CHECK_SYSTEMD_LOGIN_IPC_PARAM", "RemoveIPC , " + kLogind, "SUCCESSFUL", kLogind,
         "[Login]\n#RemoveIPC=yes\n# Recommended value for RemoveIPC\nRemoveIPC=no\n"},
        {"CHECK_SYSTEMD_LOGIN_IPC_PARAM", "KillUserProcesses," + kLogind, "SUCCESSFUL", kLogind,
         ""},
        {"CHECK_SYSTEMD_LOGIN_IPC_PARAM", "RemoveIPC," + kLogind + ".gone",
         "FAILED Vxlg9030(" + kLogind + ".gone,node1)", kLogind, ""},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.script(c.output);
        if (c.setUp) c.setUp(n);
        const NodeResult r = n.fix(c.task);
        EXPECT_TRUE(outcomeIs(r, c.outcome)) << c.output;
        if (!c.file.empty()) {
            EXPECT_EQ(content(r, c.file), c.after.empty() ? kFiles.at(c.file) : c.after)
                << c.output;
        }
        if (!c.key.empty()) {
            EXPECT_EQ(r.sysctlValue(c.key).value_or(""), c.value) << c.output;
        }
    }
}

// Outputs not in the task's format: the task's error, nothing run or written.
TEST_F(OtherSettingsNodeTest, OutputsThatAreRefused) {
    const std::string zeroconf = "FAILED Vxlg9050(node1)", hugePages = "FAILED Vxlg9068(node1)";
    auto unavailable = [](const std::string& word) { return "FAILED Vxlg10530(" + word + ")"; };
    const std::string rp = unavailable("rpfilter-fixup-data-unavailable"),
                      arp = unavailable("arp-param-fixup-data-unavailable"),
                      clock = unavailable("current-clocksource-fixup-data-unavailable"),
                      minFree = unavailable("vm_min_free_kbytes-fixup-data-unavailable"),
                      logind = unavailable("logindIPC-fixup-data-unavailable");
    const struct {
        std::string task, output, outcome;
    } cases[] = {
        {"CHECK_ZEROCONF", "", unavailable("zeroconf-fixup-data-unavailable")},
        {"CHECK_ZEROCONF", "NOZEROCONF", zeroconf},
        {"CHECK_ZEROCONF", "NOZEROCONF,sysconfig/network", zeroconf},
        {"ENABLED_HUGE_PAGE", "", hugePages},
        {"ENABLED_HUGE_PAGE", "vm.nr_hugepages 1024", hugePages},
        {"ENABLED_HUGE_PAGE", "kernel.shmmax=1024", hugePages},
        {"REVERSE_PATH_FILTER", "current_" + kEth1 + ",config_" + kEth1 + " sysctl.conf", rp},
        {"REVERSE_PATH_FILTER", kEth1 + "=2", rp},
        {"REVERSE_PATH_FILTER", " , ,", rp},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp, arp},
        {"CHECK_ARP_PARAM_SETTINGS", "current_" + kArp + " 1 2", arp},
        {"CHECK_ARP_PARAM_SETTINGS", "config_" + kArp + ":" + kDropIn + ":x 1", arp},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock, clock},
        {"CHECK_CURRENT_CLOCKSOURCE", "/etc/passwd tsc", clock},
        {"CHECK_CURRENT_CLOCKSOURCE", kClock.substr(1) + " tsc", clock},
        {"CHECK_VM_MIN_FREE_KBYTES", "lots", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "-1", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 relative.conf", minFree},
        {"CHECK_VM_MIN_FREE_KBYTES", "67584 " + kDropIn + " extra", minFree},
        {"CHECK_SYSTEMD_LOGIN_IPC_PARAM", "RemoveIPC", logind},
    };
    for (const auto& c : cases) {
        SettingsNode n;
        const NodeResult r = n.script(c.output).fix(c.task);
        EXPECT_EQ(r.stdoutText, c.outcome) << c.output;
        EXPECT_TRUE(r.commandLog().empty()) << c.output;
        for (const std::string& path : r.changedFiles()) {
            EXPECT_EQ(path.rfind("/var/tmp/work", 0), 0u) << c.output << " changed " << path;
        }
    }
}

TEST_F(OtherSettingsNodeTest, ScriptPreludeFailures) {
    const struct {
        const char* what;
        std::function<void(SettingsNode&)> setUp;
        std::string outcome;  // describe(), see outcomeIs
    } cases[] = {
        {"no script", [](SettingsNode& n) { n.scriptGiven = false; }, "FAILED Vxlg9031()"},
        {"script file missing", [](SettingsNode&) {}, "FAILED Vxlg9020(" + kScript + ",node1)"},
        {"not executable", [](SettingsNode& n) { n.script("RemoveIPC," + kLogind, 0, 0644); },
         "FAILED native(sh: 1: " + kScript + ": Permission denied)"},
        {"failing", [](SettingsNode& n) { n.script("", 3, 0755, "cannot inspect logind\n"); },
         "FAILED native(cannot inspect logind)"},
        {"blank lines only", [](SettingsNode& n) { n.script(" \n\n"); },
         "FAILED Vxlg10530(logindIPC-fixup-data-unavailable)"},
        {"a second line",
         [](SettingsNode& n) { n.script("RemoveIPC," + kLogind + "\nRemoveIPC,/x\n"); },
         "FAILED Vxlg9031()"},
    };
    for (const auto& c : cases) {
        SettingsNode n;
        c.setUp(n);
        const NodeResult r = n.fix("CHECK_SYSTEMD_LOGIN_IPC_PARAM");
        EXPECT_TRUE(outcomeIs(r, c.outcome)) << c.what;
        EXPECT_EQ(content(r, kLogind), kFiles.at(kLogind)) << c.what;
    }
}

TEST_F(OtherSettingsNodeTest, DefaultTasksMax) {
    const std::string after =
        kFiles.at(kSystemConf) + "# Recommended value for DefaultTasksMax\nDefaultTasksMax=65535\n";
    const std::string reload = "/bin/systemctl [daemon-reload]";
    const struct {
        const char* what;
        std::function<void(SettingsNode&)> setUp;
        std::string outcome, after;
        bool reloaded;
    } cases[] = {
        {"success", [](SettingsNode&) {}, "SUCCESSFUL", after, true},
        {"reload fails",
         [](SettingsNode& n) {
             n.node.addFakeTool("/bin/systemctl", "", "Failed to reload daemon: Access denied\n",
                                1);
         },
         "FAILED Vxlf5718(/bin/systemctl daemon-reload,node1,Failed to reload daemon: Access "
         "denied) native(Failed to reload daemon: Access denied)",
         after, true},
        {"no EXPECTED item", [](SettingsNode& n) { n.items.clear(); }, "FAILED Vxlg9031()", "",
         false},
        {"a second line",
         [](SettingsNode& n) {
             n.items = {{"EXPECTED", "65535\nDefaultLimitNOFILE=1"}};
         },
         "FAILED Vxlg9031()", "", false},
        {"no system.conf", [](SettingsNode& n) { n.node.hidePath(kSystemConf); },
         "FAILED Vxlg9030(" + kSystemConf + ",node1)", "<missing>", false},
        {"read-only system.conf", [](SettingsNode& n) { n.readOnlyDir = "/etc/systemd"; },
         "FAILED Vxlg9030(" + kSystemConf + ",node1)", "", false},
    };
    for (const auto& c : cases) {
        SettingsNode n;
        n.scriptGiven = false;
        n.items = {{"EXPECTED", "65535"}};
        c.setUp(n);
        const NodeResult r = n.fix("CHECK_DEFAULTTASKSMAX");
        EXPECT_TRUE(outcomeIs(r, c.outcome)) << c.what;
        EXPECT_EQ(content(r, kSystemConf), c.after.empty() ? kFiles.at(kSystemConf) : c.after)
            << c.what;
        EXPECT_EQ(r.commandLog(),
                  c.reloaded ? std::vector<std::string>{reload} : std::vector<std::string>{})
            << c.what;
    }
}

}  // namespace
}  // namespace vxl_fixup
