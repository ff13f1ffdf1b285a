// The other kernel and service settings of the system-settings family, run
// inside a test node: the fix-up script is a real executable file, the
// configuration files are real files in the node, kernel values go to the
// fake sysctl and /proc/filesystems is replaced by a plain file.
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
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
const std::string kClockFile = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
const std::string kLogind = "/etc/systemd/logind.conf";
const std::string kSystemConf = "/etc/systemd/system.conf";
const std::string kPwned = "/tmp/pwned";  // what an injected command would create

// "STATUS", then " FacilityNumber(arg,...)" per message error and
// " native(details)" per failed command.
std::string describe(const Result& r) {
    std::string text = statusToString(r.getStatus());
    for (const NLSError* e : r.getErrorList()) {
        text += " " + *e->facility + *e->messageNumber + "(";
        for (size_t i = 0; i < e->arguments.size(); ++i) {
            text += (i ? "," : "") + *e->arguments[i];
        }
        text += ")";
    }
    for (const NativeError* e : r.getNativeErrorList()) {
        text += " native(" + (e->details ? *e->details : std::string()) + ")";
    }
    return text;
}

void bindOver(const std::string& file, const std::string& target) {
    if (::mount(file.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) std::perror("bind");
}

void bindReadOnly(const std::string& dir) {
    bindOver(dir, dir);
    if (::mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        std::perror("remount");
    }
}

// One node with the family's environment; fix() runs one task instance in a
// fresh node and returns what it left, with describe() of its Result as the
// node's standard output.
class SettingsNode {
public:
    SettingsNode() : sysctl(node.addFakeSysctl("/sbin/sysctl")) {
        node.addFile(kSysctlConf, "# tuned\n");
    }

    // The fix-up script prints output, then err on standard error, and exits.
    SettingsNode& script(const std::string& output, int exitCode = 0, mode_t mode = 0755,
                         const std::string& err = "") {
        node.addFile(kScriptDir + "/output", output);
        node.addFile(kScriptDir + "/error", err);
        node.addFile(kScript,
                     "#!/bin/sh\ncat " + kScriptDir + "/output\ncat " + kScriptDir +
                         "/error >&2\nexit " + std::to_string(exitCode) + "\n",
                     mode);
        return *this;
    }
    SettingsNode& withoutScript() {
        scriptGiven = false;
        return *this;
    }
    SettingsNode& procFilesystems(const std::string& content) {
        node.addFile("/var/tmp/filesystems", content);
        filesystems = true;
        return *this;
    }
    SettingsNode& readOnly(const std::string& dir) {
        readOnlyDir = dir;
        return *this;
    }
    SettingsNode& item(const std::string& name, const std::string& value) {
        items.emplace_back(name, value);
        return *this;
    }

    NodeResult fix(const std::string& taskId) {
        const bool withScript = scriptGiven, replaceFilesystems = filesystems;
        const std::optional<std::string> roDir = readOnlyDir;
        const auto data = items;
        NodeResult r = node.runFunction([=] {
            if (replaceFilesystems) bindOver("/var/tmp/filesystems", "/proc/filesystems");
            if (roDir) bindReadOnly(*roDir);
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
        return r;
    }

    TestNode node;
    FakeSysctl& sysctl;

private:
    bool scriptGiven = true;
    bool filesystems = false;
    std::optional<std::string> readOnlyDir;
    std::vector<std::pair<std::string, std::string>> items;
};

std::string content(const NodeResult& r, const std::string& path) {
    return r.fileContent(path).value_or("<missing>");
}

// An output the task must refuse: its error, nothing run, nothing written.
void expectRefused(const NodeResult& r, const std::string& outcome, const std::string& output) {
    EXPECT_EQ(r.stdoutText, outcome) << output;
    EXPECT_TRUE(r.commandLog().empty()) << output;
    EXPECT_FALSE(r.exists(kPwned)) << output;
    for (const std::string& path : r.changedFiles()) {
        EXPECT_EQ(path.rfind("/var/tmp/work", 0), 0u) << output << " changed " << path;
    }
}

class OtherSettingsNodeTest : public ::testing::Test {
protected:
    void SetUp() override { VXL_REQUIRE_TEST_NODE(); }
};

TEST_F(OtherSettingsNodeTest, ScriptPreludeFailures) {
    struct Case {
        const char* what;
        std::function<void(SettingsNode&)> setUp;
        std::string outcome;  // prefix of describe()
    } cases[] = {
        {"no script", [](SettingsNode& n) { n.withoutScript(); }, "FAILED Vxlg9031()"},
        {"script file missing", [](SettingsNode&) {}, "FAILED Vxlg9020(" + kScript + ",node1)"},
        {"not executable", [](SettingsNode& n) { n.script("RemoveIPC," + kLogind, 0, 0644); },
         "FAILED native("},
        {"failing", [](SettingsNode& n) { n.script("", 3, 0755, "cannot inspect logind\n"); },
         "FAILED native(cannot inspect logind)"},
        {"prints nothing", [](SettingsNode& n) { n.script(" \n\n"); },
         "FAILED Vxlg10530(logindIPC-fixup-data-unavailable)"},
        {"second line",
         [](SettingsNode& n) { n.script("RemoveIPC," + kLogind + "\nRemoveIPC,/x\n"); },
         "FAILED Vxlg9031()"},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.node.addFile(kLogind, "[Login]\n");
        c.setUp(n);
        NodeResult r = n.fix("CHECK_SYSTEMD_LOGIN_IPC_PARAM");
        EXPECT_EQ(r.stdoutText.rfind(c.outcome, 0), 0u) << c.what << ": " << r.stdoutText;
        EXPECT_EQ(content(r, kLogind), "[Login]\n") << c.what;
    }
}

TEST_F(OtherSettingsNodeTest, ZeroConf) {
    const std::string network = "/etc/sysconfig/network";
    struct Case {
        std::string output, before, outcome, after;
    } cases[] = {
        {"NOZEROCONF," + network, "NETWORKING=yes\nNOZEROCONF=no\n", "SUCCESSFUL",
         "NETWORKING=yes\nNOZEROCONF=yes\n"},
        {"  NOZEROCONF , " + network + " \n", "NETWORKING=yes\n", "SUCCESSFUL",
         "NETWORKING=yes\n# Recommended value for NOZEROCONF\nNOZEROCONF=yes\n"},
        // Any other switch is commented out.
        {"ZEROCONF_ON," + network, "  ZEROCONF_ON=yes\nNETWORKING=yes\n", "SUCCESSFUL",
         "#ZEROCONF_ON=yes\nNETWORKING=yes\n"},
        {"NOZEROCONF", "NETWORKING=yes\n", "FAILED Vxlg9050(node1)", "NETWORKING=yes\n"},
        {"NOZEROCONF;touch " + kPwned + "," + network, "A=1\n", "FAILED Vxlg9050(node1)", "A=1\n"},
        {"NOZEROCONF,sysconfig/network", "A=1\n", "FAILED Vxlg9050(node1)", "A=1\n"},
        {"NOZEROCONF,/etc/sysconfig/missing", "A=1\n",
         "FAILED Vxlg9030(/etc/sysconfig/missing,node1)", "A=1\n"},
        {"", "A=1\n", "FAILED Vxlg10530(zeroconf-fixup-data-unavailable)", "A=1\n"},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.node.addFile(network, c.before);
        NodeResult r = n.script(c.output).fix("CHECK_ZEROCONF");
        EXPECT_EQ(r.stdoutText, c.outcome) << c.output;
        EXPECT_EQ(content(r, network), c.after) << c.output;
        EXPECT_FALSE(r.exists(kPwned));
    }
}

TEST_F(OtherSettingsNodeTest, HugePagesSetTheKernelAndSysctlConf) {
    SettingsNode n;
    n.sysctl.set("vm.nr_hugepages", "0");
    NodeResult r = n.script("vm.nr_hugepages=1024\n")
                       .procFilesystems("nodev\tsysfs\nnodev\thugetlbfs\n")
                       .fix("ENABLED_HUGE_PAGE");
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
    EXPECT_EQ(r.sysctlValue("vm.nr_hugepages").value_or(""), "1024");
    EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/sbin/sysctl [-w] [vm.nr_hugepages=1024]"});
    EXPECT_EQ(content(r, kSysctlConf),
              "# tuned\n# Recommended value for vm.nr_hugepages\nvm.nr_hugepages = 1024\n");
}

TEST_F(OtherSettingsNodeTest, HugePagesFailures) {
    {
        SettingsNode n;
        n.sysctl.set("vm.nr_hugepages", "0");
        NodeResult r = n.script("vm.nr_hugepages=1024")
                           .procFilesystems("nodev\tsysfs\nnodev\tproc\n")
                           .fix("ENABLED_HUGE_PAGE");
        EXPECT_EQ(r.stdoutText.rfind("WARNING Vxlg9067(node1)", 0), 0u) << r.stdoutText;
        EXPECT_TRUE(r.commandLog().empty());
        EXPECT_EQ(content(r, kSysctlConf), "# tuned\n");
    }
    {
        SettingsNode n;
        n.sysctl.set("vm.nr_hugepages", "0").setReadOnly("vm.nr_hugepages");
        NodeResult r = n.script("vm.nr_hugepages=1024")
                           .procFilesystems("nodev\thugetlbfs\n")
                           .fix("ENABLED_HUGE_PAGE");
        EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlg9026(vm.nr_hugepages,/sbin/sysctl,node1)", 0), 0u)
            << r.stdoutText;
        EXPECT_EQ(content(r, kSysctlConf), "# tuned\n");
    }
    for (const std::string& output : std::vector<std::string>{
             "vm.nr_hugepages 1024", "vm.nr_hugepages=$(touch /tmp/pwned)",
             "vm.nr_hugepages=1024;touch /tmp/pwned", "kernel.shmmax=1024", "=1024", ""}) {
        SettingsNode n;
        n.sysctl.set("vm.nr_hugepages", "0");
        NodeResult r =
            n.script(output).procFilesystems("nodev\thugetlbfs\n").fix("ENABLED_HUGE_PAGE");
        expectRefused(r, "FAILED Vxlg9068(node1)", output);
    }
}

TEST_F(OtherSettingsNodeTest, ReversePathFilters) {
    const std::string eth1 = "net.ipv4.conf.eth1.rp_filter", all = "net.ipv4.conf.all.rp_filter";
    const std::string dropIn = "/etc/sysctl.d/90-rp.conf";
    SettingsNode n;
    n.sysctl.set(eth1, "1").set(all, "1");
    n.node.addFile(kSysctlConf, eth1 + " = 1\n").addFile(dropIn, "");
    NodeResult r =
        n.script("current_" + eth1 + ",config_" + eth1 + ", config_" + all + " " + dropIn)
            .fix("REVERSE_PATH_FILTER");
    EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
    EXPECT_EQ(r.sysctlValue(eth1).value_or(""), "2");
    EXPECT_EQ(r.sysctlValue(all).value_or(""), "1") << "only named running values change";
    EXPECT_EQ(content(r, kSysctlConf), eth1 + "=2\n");
    EXPECT_EQ(content(r, dropIn), "# Recommended value for " + all + "\n" + all + "=2\n");
}

TEST_F(OtherSettingsNodeTest, AFailedRunningValueIsNotMaskedByTheConfigurationStep) {
    const std::string key = "net.ipv4.conf.eth1.rp_filter";
    SettingsNode n;
    n.sysctl.set(key, "1").setReadOnly(key);
    NodeResult r = n.script("current_" + key + ",config_" + key).fix("REVERSE_PATH_FILTER");
    EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlg9026(" + key + ",/sbin/sysctl,node1)", 0), 0u)
        << r.stdoutText;
    EXPECT_EQ(content(r, kSysctlConf),
              "# tuned\n# Recommended value for " + key + "\n" + key + "=2\n")
        << "the configuration step still runs";
}

TEST_F(OtherSettingsNodeTest, ReversePathFilterOutputsThatAreRefused) {
    for (const std::string& output : std::vector<std::string>{
             "current_net.ipv4.conf.all.rp_filter;touch /tmp/pwned",
             "config_net.ipv4.conf.all.rp_filter $(touch /tmp/pwned)",
             "current_net.ipv4.conf.all.rp_filter,config_net.ipv4.conf.all.rp_filter sysctl.conf",
             "net.ipv4.conf.all.rp_filter=2", "current_", " , ,"}) {
        SettingsNode n;
        n.sysctl.set("net.ipv4.conf.all.rp_filter", "1");
        expectRefused(n.script(output).fix("REVERSE_PATH_FILTER"),
                      "FAILED Vxlg10530(rpfilter-fixup-data-unavailable)", output);
    }
    SettingsNode n;
    const NodeResult r = n.script("config_net.ipv4.conf.all.rp_filter /etc/sysctl.d/missing.conf")
                             .fix("REVERSE_PATH_FILTER");
    EXPECT_EQ(r.stdoutText, "FAILED Vxlg9030(/etc/sysctl.d/missing.conf,node1)");
    EXPECT_FALSE(r.exists("/etc/sysctl.d/missing.conf"));
}

TEST_F(OtherSettingsNodeTest, ArpParameters) {
    const std::string key = "net.ipv4.conf.all.arp_ignore";
    const std::string dropIn = "/etc/sysctl.d/99-arp.conf";
    {
        SettingsNode n;
        n.sysctl.set(key, "0");
        n.node.addFile(dropIn, key + " = 0\n");
        NodeResult r = n.script("current_" + key + ",config_" + key + ":" + dropIn + " 1")
                           .fix("CHECK_ARP_PARAM_SETTINGS");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(r.sysctlValue(key).value_or(""), "1");
        EXPECT_EQ(content(r, dropIn), key + "=1\n");
        EXPECT_EQ(content(r, kSysctlConf), "# tuned\n");
    }
    {
        SettingsNode n;
        n.sysctl.set(key, "0").setReadOnly(key);
        NodeResult r =
            n.script("current_" + key + ",config_" + key + " 2").fix("CHECK_ARP_PARAM_SETTINGS");
        EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlg9026(" + key + ",/sbin/sysctl,node1)", 0), 0u)
            << r.stdoutText;
        EXPECT_EQ(content(r, kSysctlConf),
                  "# tuned\n# Recommended value for " + key + "\n" + key + "=2\n");
    }
    for (const std::string& output : std::vector<std::string>{
             "current_" + key, "current_" + key + " $(touch /tmp/pwned)", "current_" + key + " 1 2",
             "arp_ignore=1 1", "config_" + key + ":" + dropIn + ":x 1",
             "config_" + key + ":;touch 1"}) {
        SettingsNode n;
        n.sysctl.set(key, "0");
        expectRefused(n.script(output).fix("CHECK_ARP_PARAM_SETTINGS"),
                      "FAILED Vxlg10530(arp-param-fixup-data-unavailable)", output);
    }
}

TEST_F(OtherSettingsNodeTest, ClockSource) {
    {
        SettingsNode n;
        n.node.addFile(kClockFile, "kvm-clock\n");
        NodeResult r = n.script(kClockFile + " tsc\n").fix("CHECK_CURRENT_CLOCKSOURCE");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(content(r, kClockFile), "tsc\n");
    }
    {
        // The target reaches the shell quoted: the command in it never runs.
        const std::string odd = "/var/tmp/$(id>pwned);id>pwned/current_clocksource";
        SettingsNode n;
        n.node.addFile(odd, "kvm-clock\n");
        NodeResult r = n.script(odd + " tsc").fix("CHECK_CURRENT_CLOCKSOURCE");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(content(r, odd), "tsc\n");
        for (const std::string& path : r.changedFiles()) {
            EXPECT_NE(path.substr(path.rfind('/')), "/pwned") << path;
        }
    }
    const std::string command = "/bin/echo \"tsc\" > " + kClockFile;
    {
        SettingsNode n;
        n.node.addDirectory(kClockFile);  // the write itself fails
        NodeResult r = n.script(kClockFile + " tsc").fix("CHECK_CURRENT_CLOCKSOURCE");
        EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlh1001(" + command + ",node1,", 0), 0u)
            << r.stdoutText;
        EXPECT_NE(r.stdoutText.find("Is a directory"), std::string::npos) << r.stdoutText;
    }
    {
        SettingsNode n;  // a missing control file is not created
        NodeResult r = n.script(kClockFile + " tsc").fix("CHECK_CURRENT_CLOCKSOURCE");
        EXPECT_EQ(r.stdoutText, "FAILED Vxlh1001(" + command + ",node1," + kClockFile +
                                    ": No such file or directory)");
        EXPECT_FALSE(r.exists(kClockFile));
    }
    for (const std::string& output : std::vector<std::string>{
             kClockFile, kClockFile + " $(touch /tmp/pwned)", kClockFile + " tsc;touch",
             kClockFile + " tsc extra", "/etc/passwd tsc",
             "sys/devices/system/clocksource/clocksource0/current_clocksource tsc"}) {
        SettingsNode n;
        n.node.addFile(kClockFile, "kvm-clock\n");
        expectRefused(n.script(output).fix("CHECK_CURRENT_CLOCKSOURCE"),
                      "FAILED Vxlg10530(current-clocksource-fixup-data-unavailable)", output);
    }
}

TEST_F(OtherSettingsNodeTest, MinFreeKBytes) {
    const std::string key = "vm.min_free_kbytes", dropIn = "/etc/sysctl.d/97-min-free.conf";
    {
        SettingsNode n;  // one value: only the running value
        n.sysctl.set(key, "45056");
        NodeResult r = n.script("67584").fix("CHECK_VM_MIN_FREE_KBYTES");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(r.sysctlValue(key).value_or(""), "67584");
        EXPECT_EQ(content(r, kSysctlConf), "# tuned\n");
    }
    {
        SettingsNode n;  // a larger running value stands; the file gains the record
        n.sysctl.set(key, "90112");
        n.node.addFile(dropIn, "");
        NodeResult r = n.script("67584 " + dropIn).fix("CHECK_VM_MIN_FREE_KBYTES");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/sbin/sysctl [-n] [" + key + "]"});
        EXPECT_EQ(content(r, dropIn), "# Recommended value for " + key + "\n" + key + " = 67584\n");
    }
    {
        SettingsNode n;
        n.sysctl.forceResult("", "sysctl: permission denied\n", 255);
        NodeResult r = n.script("67584 " + dropIn).fix("CHECK_VM_MIN_FREE_KBYTES");
        EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlg9027(" + key + ",/sbin/sysctl,node1)", 0), 0u)
            << r.stdoutText;
        EXPECT_FALSE(r.exists(dropIn));
    }
    for (const std::string& output :
         std::vector<std::string>{"lots", "$(touch /tmp/pwned)", "67584 relative.conf",
                                  "67584 " + dropIn + " extra", "-1"}) {
        SettingsNode n;
        n.sysctl.set(key, "45056");
        expectRefused(n.script(output).fix("CHECK_VM_MIN_FREE_KBYTES"),
                      "FAILED Vxlg10530(vm_min_free_kbytes-fixup-data-unavailable)", output);
    }
}

TEST_F(OtherSettingsNodeTest, LogindRemoveIPC) {
    struct Case {
        std::string output, before, outcome, after;
    } cases[] = {
        {"RemoveIPC," + kLogind, "[Login]\n#RemoveIPC=yes\n", "SUCCESSFUL",
         "[Login]\n#RemoveIPC=yes\n# Recommended value for RemoveIPC\nRemoveIPC=no\n"},
        {"RemoveIPC , " + kLogind, "[Login]\nRemoveIPC=yes\n", "SUCCESSFUL",
         "[Login]\nRemoveIPC=no\n"},
        {"KillUserProcesses," + kLogind, "[Login]\n", "SUCCESSFUL", "[Login]\n"},
        {"RemoveIPC", "[Login]\n", "FAILED Vxlg10530(logindIPC-fixup-data-unavailable)",
         "[Login]\n"},
        {"RemoveIPC;touch /tmp/pwned," + kLogind, "[Login]\n",
         "FAILED Vxlg10530(logindIPC-fixup-data-unavailable)", "[Login]\n"},
        {"RemoveIPC," + kLogind + ".missing", "[Login]\n",
         "FAILED Vxlg9030(" + kLogind + ".missing,node1)", "[Login]\n"},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.node.addFile(kLogind, c.before);
        NodeResult r = n.script(c.output).fix("CHECK_SYSTEMD_LOGIN_IPC_PARAM");
        EXPECT_EQ(r.stdoutText, c.outcome) << c.output;
        EXPECT_EQ(content(r, kLogind), c.after) << c.output;
        EXPECT_FALSE(r.exists(kPwned));
    }
}

TEST_F(OtherSettingsNodeTest, DefaultTasksMax) {
    const std::string before = "[Manager]\n#DefaultTasksMax=15%\n";
    const std::string after =
        before + "# Recommended value for DefaultTasksMax\nDefaultTasksMax=65535\n";
    {
        SettingsNode n;
        n.node.addFile(kSystemConf, before).addFakeTool("/bin/systemctl");
        NodeResult r = n.withoutScript().item("EXPECTED", "65535").fix("CHECK_DEFAULTTASKSMAX");
        EXPECT_EQ(r.stdoutText, "SUCCESSFUL");
        EXPECT_EQ(content(r, kSystemConf), after);
        EXPECT_EQ(r.commandLog(), std::vector<std::string>{"/bin/systemctl [daemon-reload]"});
    }
    {
        SettingsNode n;
        n.node.addFile(kSystemConf, before)
            .addFakeTool("/bin/systemctl", "", "Failed to reload daemon: Access denied\n", 1);
        NodeResult r = n.withoutScript().item("EXPECTED", "65535").fix("CHECK_DEFAULTTASKSMAX");
        EXPECT_EQ(r.stdoutText.rfind("FAILED Vxlf5718(/bin/systemctl daemon-reload,node1,Failed to "
                                     "reload daemon: Access denied)",
                                     0),
                  0u)
            << r.stdoutText;
        EXPECT_EQ(content(r, kSystemConf), after);
    }
    struct Case {
        const char* what;
        std::function<void(SettingsNode&)> setUp;
        std::string outcome;
    } cases[] = {
        {"no EXPECTED item", [](SettingsNode&) {}, "FAILED Vxlg9031()"},
        {"a second line",
         [](SettingsNode& n) { n.item("EXPECTED", "65535\nDefaultLimitNOFILE=1"); },
         "FAILED Vxlg9031()"},
        {"no system.conf",
         [](SettingsNode& n) { n.item("EXPECTED", "65535").node.hidePath(kSystemConf); },
         "FAILED Vxlg9030(" + kSystemConf + ",node1)"},
        {"read-only system.conf",
         [](SettingsNode& n) { n.item("EXPECTED", "65535").readOnly("/etc/systemd"); },
         "FAILED Vxlg9030(" + kSystemConf + ",node1)"},
    };
    for (const Case& c : cases) {
        SettingsNode n;
        n.node.addFakeTool("/bin/systemctl");
        if (c.what != std::string("no system.conf")) n.node.addFile(kSystemConf, before);
        c.setUp(n);
        NodeResult r = n.withoutScript().fix("CHECK_DEFAULTTASKSMAX");
        EXPECT_EQ(r.stdoutText, c.outcome) << c.what;
        EXPECT_TRUE(r.commandLog().empty()) << c.what << ": no reload";
        if (r.exists(kSystemConf)) {
            EXPECT_EQ(content(r, kSystemConf), before) << c.what;
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
