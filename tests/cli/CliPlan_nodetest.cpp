// "vxlfixup plan" against "vxlfixup run": the plan of a document with tasks
// of every family, made in a test node that plays the machine, lists exactly
// what a run of the same document changes in a second node started alike,
// and changes nothing itself; a plan on this very machine leaves it
// byte-identical.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/RpmPackage.h"
#include "support/Shell.h"
#include "support/TempDir.h"

namespace vxl_fixup {
namespace {

using Lines = std::vector<std::string>;
using vxl_test::TempDir;

const std::string kTool = VXL_CLI_PATH;
const std::string kWork = "/var/tmp/planwork";
const std::string kDocument = "/var/tmp/plan.xml";
const std::string kClock = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
const std::string kPackage = "vxlplan-1.0-1.noarch.rpm";
const char* const kKernelKeys[] = {"fs.file-max", "kernel.sem", "net.ipv4.ip_local_port_range",
                                   "kernel.panic_on_oops", "fs.aio-max-nr"};
const std::string kPrivate = "/etc/qhm/wallet.loc";
const std::string kSecret = "wallet_pin=2468";

std::string instance(const std::string& expected, const std::vector<Lines>& items,
                     const std::string& script = "") {
    std::string text = "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1\" ACT_VAL=\"x\" EXP_VAL=\"" +
                       expected + "\"/>\n</NODE_LIST>\n<DATA_LIST>\n";
    for (const Lines& item : items) {
        text += "<DATA NAME=\"" + item[0] + "\" VAL=\"" + item[1] + "\"/>\n";
    }
    text += "</DATA_LIST>\n";
    if (!script.empty()) {
        text +=
            "<FIXUP_SCRIPTS>\n<SCRIPT NAME=\"" + script + "\" TYPE=\"SHELL\"/>\n</FIXUP_SCRIPTS>\n";
    }
    return text + "</FIXUP_DATA>\n";
}

std::string task(const std::string& id, const std::string& instances) {
    return "<TASK ID=\"" + id + "\">\n<FIXUP_DATA_LIST>\n" + instances +
           "</FIXUP_DATA_LIST>\n</TASK>\n";
}

std::string document(const std::string& tasks) {
    return "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" + tasks +
           "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

// A task of every family, each with something to change on the machine below.
const std::string kEveryFamily = document(
    task("TASKKERNELPARAM",
         instance("CURR(6815744)CONF(6815744)", {{"NAME", "file-max"}}) +
             instance("CURR(9000 65500)CONF(9000 65500)", {{"NAME", "ip_local_port_range"}}) +
             instance("CURR(1)CONF(1)", {{"NAME", "panic_on_oops"}})) +
    task("TASKSHELLLIMITS", instance("65536", {{"USER", "dbowner"}, {"SOFT_FILES", "65536"}})) +
    task("TASKRUNLEVEL", instance("5", {{"POST_DV7_SYSTEM", "true"}})) +
    task("TASKPACKAGE",
         instance("", {{"NAME", kPackage}, {"LOC", "/var/tmp/pkgs"}, {"GROUP", "plangrp"}})) +
    task("CHECK_DEFAULTTASKSMAX", instance("65535", {{"EXPECTED", "65535"}})) +
    task("CHECK_CURRENT_CLOCKSOURCE", instance("tsc", {}, "clock.sh")) +
    task("TASKGROUPEXISTENCE", instance("54410", {{"GROUP", "plangrp"}, {"GID", "54410"}})) +
    task("TASKUSEREXISTENCE",
         instance(
             "54411",
             {{"USER", "planuser"}, {"UID", "54411"}, {"GROUP", "plangrp"}, {"GID", "54410"}})) +
    task("TASKPATHCHECK",
         instance("USER:nobody(65534),GROUP:nogroup(65534),PERMISSIONS:640",
                  {{"PATH", "/etc/qhm/tdb.loc"}}) +
             instance("USER:root(0),GROUP:root(0),PERMISSIONS:644", {{"PATH", kPrivate}})) +
    task("TASKQVRLIBCHECKS", instance("", {{"KELVANEQVR_UID", "54411"},
                                           {"CONFIGFILEPATH", "/etc/sysconfig/kelvaneqvr"}})) +
    task("TASKPINNODES", instance("", {{"QHMHOME", "/opt/qhm"}})) +
    task("CHECK_HWT_RESOURCE", instance("", {{"QHMHOME", "/opt/qhm"}})) +
    task("TASKDAEMONNOTRUNNING", instance("not running", {{"NAME", "avahi-daemon"}})));

// Every setting of this document is right on the machine below.
const std::string kAlreadyRight = document(
    task("TASKKERNELPARAM", instance("CURR(1000)CONF(1000)", {{"NAME", "file-max"}})) +
    task("TASKSHELLLIMITS", instance("1024", {{"USER", "dbowner"}, {"SOFT_FILES", "1024"}})) +
    task("TASKGROUPEXISTENCE", instance("0", {{"GROUP", "root"}, {"GID", "0"}})) +
    task("TASKPATHCHECK",
         instance("USER:root(0),GROUP:root(0),PERMISSIONS:644", {{"PATH", "/etc/qhm/tdb.loc"}})));

// A tool that leaves a mark when it acts: the plan must not run it (a
// status call only reads).
std::string marking(const std::string& name, const std::string& output = "") {
    return "#!/bin/sh\n[ \"$1\" = status ] || echo \"" + name +
           " $*\" >> /var/tmp/really-ran\nprintf '" + output + "'\n";
}

// Built once with the real rpmbuild, in a node: a noarch package of one file.
const std::string& testPackage() {
    static const std::string package = vxl_test::buildNoarchPackage(
        "vxlplan",
        "%description\nt\n%install\nmkdir -p %{buildroot}/opt/vxlplan\necho hello > "
        "%{buildroot}/opt/vxlplan/hello.txt\n%files\n/opt/vxlplan/hello.txt\n");
    return package;
}

std::string realKernelValue(const std::string& key) {
    std::string path = "/proc/sys/" + key;
    for (char& c : path) c = c == '.' ? '/' : c;
    std::string value = TempDir::read(path);
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

// The clock-source script also writes kernel values as a script may: the
// same numbers with blanks for the kernel's tabs (no change), and one key
// twice (a change from the machine's value to the last).
const std::string kClockScript =
    "#!/bin/sh\n/sbin/sysctl -q -w \"kernel.sem=$(echo $(/sbin/sysctl -n kernel.sem))\"\n"
    "n=$(/sbin/sysctl -n fs.aio-max-nr)\n/sbin/sysctl -q -w fs.aio-max-nr=$((n + 1))\n"
    "/sbin/sysctl -q -w fs.aio-max-nr=$((n + 2))\necho " +
    kClock + " tsc\n";

// The machine both nodes start from. The run's node gets fakes where the plan
// records; the plan's node gets tools that leave a mark if they ever run.
void addMachine(TestNode& node, const std::string& doc, bool forRun) {
    node.setHostname("node1").addDirectory(kWork, 0700).addFile(kDocument, doc);
    node.addFile("/etc/sysctl.conf", "fs.file-max = 6815744\n")
        .addFile("/etc/security/limits.conf", "dbowner soft nofile 1024\n")
        .addFile("/etc/ssh/sshd_config", "UsePAM yes\n")
        .addFile("/etc/systemd/system.conf", "[Manager]\n#DefaultTasksMax=15%\n")
        .addFile(kWork + "/clock.sh", kClockScript, 0755)
        .addFile(kClock, "kvm-clock\n")
        .addFile("/etc/qhm/tdb.loc", "tdbconfig_loc=/srv/qhm/tdb\n")
        .addFile(kPrivate, kSecret + "\n", 0600)
        .addFile("/etc/sysconfig/kelvaneqvr", "KELVANEQVR_ENABLED=true\nKELVANEQVR_UID=0\n")
        .addFile("/opt/qhm/bin/membview",
                 "#!/bin/sh\nprintf 'node1 1 Pinned\\nnode2 2 Unpinned\\n'\n", 0755)
        .addFile("/var/tmp/avahi-daemon", TempDir::read("/bin/sleep"), 0755)
        .addFile("/etc/rpm/macros", "%_dbpath /var/lib/rpm\n")
        .addFile("/var/tmp/pkgs/" + kPackage, testPackage());
    const std::map<std::string, std::string> recorded = {
        {"/sbin/service", ""},
        {"/sbin/chkconfig", ""},
        {"/etc/init.d/kelvaneqvr", ""},
        {"/opt/qhm/bin/qhmctl", ""},
        {"/opt/qhm/bin/rescmd", "HWT is running\\n"}};
    for (const auto& [path, output] : recorded) {
        if (forRun) {
            node.addFakeTool(path, output == "" ? "" : "HWT is running\n");
        } else {
            node.addFile(path, marking(path, output), 0755);
        }
    }
    if (forRun) {
        node.addFakeTool("/bin/systemctl");
        FakeSysctl& sysctl = node.addFakeSysctl();
        for (const char* key : kKernelKeys) sysctl.set(key, realKernelValue(key));
    }
}

// What the tool is run as in both nodes: a running avahi-daemon, then the tool.
std::string command(const std::string& arguments) {
    return "/var/tmp/avahi-daemon 600 & until ps -C avahi-daemon >/dev/null; do sleep 0.01; "
           "done; " +
           kTool + " " + arguments + " --node node1 --work-dir " + kWork;
}

// Every match of pattern in the plan's JSON report, with its groups decoded
// as JSON strings (these hold no escape but \t, \n and escaped characters).
std::vector<Lines> jsonMatches(const std::string& json, const std::string& pattern) {
    std::vector<Lines> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(json.begin(), json.end(), re); it != std::sregex_iterator();
         ++it) {
        Lines groups;
        for (size_t g = 1; g < it->size(); ++g) {
            const std::string raw = (*it)[g];
            std::string text;
            for (size_t i = 0; i < raw.size(); ++i) {
                const char c = raw[i] == '\\' ? raw[++i] : '\0';
                text += c == '\0' ? raw[i] : c == 't' ? '\t' : c == 'n' ? '\n' : c;
            }
            groups.push_back(text);
        }
        found.push_back(groups);
    }
    return found;
}

const std::string kJsonString = R"~("((?:[^"\\]|\\.)*)")~";

std::string words(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string w; in >> w;) out += (out.empty() ? "" : " ") + w;
    return out;
}

bool underWorkDir(const std::string& path) {
    return path == kWork || path.rfind(kWork + "/", 0) == 0;
}

TEST(CliPlanNodeTest, PlanListsExactlyWhatARunChangesAndChangesNothing) {
    VXL_REQUIRE_TEST_NODE();
    ASSERT_FALSE(testPackage().empty());
    TestNode runNode;
    addMachine(runNode, kEveryFamily, true);
    const NodeResult run = runNode.run(command("run " + kDocument));
    ASSERT_TRUE(run.ran()) << run.setupError;
    ASSERT_EQ(run.exitCode, 0) << run.stdoutText << run.stderrText;

    TestNode planNode;
    addMachine(planNode, kEveryFamily, false);
    const NodeResult plan =
        planNode.run(command("plan " + kDocument + " --format json --output /var/tmp/kept"));
    ASSERT_TRUE(plan.ran()) << plan.setupError;
    ASSERT_EQ(plan.exitCode, 0) << plan.stdoutText << plan.stderrText;
    if (::access("/usr/bin/python3", X_OK) == 0) {  // a second reader checks the JSON
        TempDir dir;
        TempDir::write(dir.file("plan.json"), plan.stdoutText);
        EXPECT_EQ(vxl_test::runShell("python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " +
                                     dir.file("plan.json"))
                      .exitCode,
                  0);
    }

    // The commands as the library gave them, shell syntax and all; only the
    // runner's own redirections into its scratch files are cut.
    Lines commands;
    const size_t listed = plan.stdoutText.find("\"commands\": [");
    for (const Lines& c :
         jsonMatches(plan.stdoutText.substr(listed, plan.stdoutText.find("\n  ]", listed) - listed),
                     "\n    " + kJsonString)) {
        commands.push_back(c[0]);
    }
    for (const std::string& c :
         {"(/bin/echo  \"tsc\" > " + kClock + ")",
          std::string("(/sbin/sysctl  -w net.ipv4.ip_local_port_range=\"9000\t65500\")"),
          "(/bin/rpm  -Uvh --nosignature /var/tmp/pkgs/" + kPackage + ")",
          std::string("(/opt/qhm/bin/rescmd  status hostsvcs | /bin/grep HWT | /bin/grep running)"),
          "chmod 644 " + kPrivate}) {
        EXPECT_EQ(std::count(commands.begin(), commands.end(), c), 1) << c;
    }
    // Same files, each changed alike, with the same bytes (the package
    // database only named: it holds the time of the install).
    Lines expected;
    for (const FileChange& c : run.changes()) {
        if (underWorkDir(c.path) || c.path == kClock) continue;
        expected.push_back(std::string(toString(c.kind)) + " " + c.path);
        const std::optional<NodeFile> f = run.file(c.path);
        if (!f || f->type != NodeFile::Type::Regular || c.path.rfind("/var/lib/rpm/", 0) == 0) {
            continue;
        }
        EXPECT_EQ(plan.fileContent("/var/tmp/kept/files" + c.path), f->content) << c.path;
    }
    Lines planned;
    std::map<std::string, std::pair<std::string, bool>> shown;  // path: kind, has a diff
    size_t databases = 0;
    for (const Lines& f : jsonMatches(
             plan.stdoutText, "\\{\"path\": " + kJsonString + ", \"change\": " + kJsonString +
                                  ", \"kind\": " + kJsonString + ", \"details\": " + kJsonString +
                                  ", \"diff\": \"(.)")) {
        planned.push_back(f[1] + " " + f[0]);
        shown[f[0]] = {f[2], f[4] != "\""};  // a diff is long: only its first character
        databases += f[0].rfind("/var/lib/rpm/", 0) == 0 && f[2] == "package database";
    }
    EXPECT_EQ(planned, expected);
    EXPECT_GT(databases, 0u);
    // Text shows as a diff; a file not readable by everyone before or after
    // the run never shows its content.
    const std::pair<std::string, std::pair<std::string, bool>> kinds[] = {
        {"/etc/sysctl.conf", {"text", true}},         {"/etc/passwd", {"text", true}},
        {"/opt/vxlplan/hello.txt", {"text", true}},   {"/etc/security/limits.conf", {"text", true}},
        {"/etc/systemd/system.conf", {"text", true}}, {"/etc/sysconfig/kelvaneqvr", {"text", true}},
        {"/etc/qhm/tdb.loc", {"private", false}},     {kPrivate, {"private", false}},
    };
    for (const auto& [path, kind] : kinds) {
        const auto found = shown.find(path);
        ASSERT_NE(found, shown.end()) << path;
        EXPECT_EQ(found->second, kind) << path;
    }
    EXPECT_EQ(plan.stdoutText.find(kSecret), std::string::npos);

    // Same kernel values: the run's fake sysctl started from this machine's.
    std::map<std::string, std::pair<std::string, std::string>> kernel;
    for (const char* key : kKernelKeys) {
        const std::string before = realKernelValue(key), after = run.sysctlValue(key).value_or("");
        if (words(before) != words(after)) kernel[key] = {before, after};
    }
    kernel[kClock] = {"kvm-clock", "tsc"};
    std::map<std::string, std::pair<std::string, std::string>> plannedKernel;
    for (const Lines& k : jsonMatches(plan.stdoutText, "\\{\"key\": " + kJsonString +
                                                           ", \"before\": " + kJsonString +
                                                           ", \"after\": " + kJsonString)) {
        plannedKernel[k[0]] = {k[1], k[2]};
    }
    EXPECT_EQ(plannedKernel, kernel) << plan.stdoutText;
    EXPECT_GE(kernel.size(), 2u);

    // Same service and cluster calls; rescmd status is a read the plan runs.
    Lines calls;
    for (const std::string& line : run.commandLog()) {
        if (line.rfind("/sbin/sysctl ", 0) != 0 &&
            line != "/opt/qhm/bin/rescmd [status] [hostsvcs]") {
            calls.push_back(line);
        }
    }
    const size_t from = plan.stdoutText.find("\"recordedCalls\": [");
    Lines recorded;
    for (const Lines& call :
         jsonMatches(plan.stdoutText.substr(from, plan.stdoutText.find("\n  ]", from) - from),
                     "\n    \\[(.*)\\]")) {
        std::string line;
        for (const Lines& word : jsonMatches(call[0], kJsonString)) {
            line += line.empty() ? word[0] : " [" + word[0] + "]";
        }
        recorded.push_back(line);
    }
    EXPECT_EQ(recorded, calls) << plan.stdoutText;
    EXPECT_EQ(calls.size(), 8u);

    // The plan's node: nothing ran for real and nothing changed but --output.
    EXPECT_FALSE(plan.exists("/var/tmp/really-ran"));
    for (const FileChange& c : plan.changes()) {
        EXPECT_EQ(c.path.rfind("/var/tmp/kept", 0), 0u) << c.path;
    }
    EXPECT_TRUE(plan.exists("/var/tmp/kept/vexelfixupoutput_node1.xml"));
}

TEST(CliPlanNodeTest, DocumentWhoseSettingsAreRightChangesNothing) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    addMachine(node, kAlreadyRight, false);
    const NodeResult plan = node.run(command("plan " + kDocument));
    ASSERT_TRUE(plan.ran()) << plan.setupError;
    EXPECT_EQ(plan.exitCode, 0) << plan.stderrText;
    EXPECT_NE(plan.stdoutText.find("A run would change nothing.\n"), std::string::npos)
        << plan.stdoutText;
    EXPECT_EQ(plan.stdoutText.find("FAILED"), std::string::npos) << plan.stdoutText;
}

// A file of this machine as the plans could leave it.
struct HostFile {
    bool exists = false;
    std::string meta;  // type, mode and owner
    std::set<std::string> lines;
};

HostFile hostFile(const std::string& path) {
    HostFile f;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return f;
    f.exists = true;
    f.meta = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
             std::to_string(st.st_gid);
    if (S_ISREG(st.st_mode) && st.st_size < (16 << 20)) {
        std::istringstream in(TempDir::read(path));
        for (std::string line; std::getline(in, line);) f.lines.insert(line);
    }
    return f;
}

// Where the documents' tasks write, walked whole; the homes by their names.
const char* const kWritten[] = {"/etc",         "/opt/qhm",        "/opt/vxlplan",
                                "/var/lib/rpm", "/var/spool/mail", "/root/.ssh"};

bool walked(const std::string& path) {
    if (path.rfind("/home/", 0) == 0) return path.find('/', 6) == std::string::npos;
    return std::any_of(std::begin(kWritten), std::end(kWritten), [&path](const char* root) {
        return path == root || path.rfind(std::string(root) + "/", 0) == 0;
    });
}

std::map<std::string, HostFile> machineFiles() {
    std::map<std::string, HostFile> files;
    std::vector<std::string> pending(std::begin(kWritten), std::end(kWritten));
    for (const std::string& name : TempDir::list("/home")) files["/home/" + name].exists = true;
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        files[path] = hostFile(path);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (const std::string& name : TempDir::list(path))
                pending.push_back(path + "/" + name);
        }
    }
    return files;
}

std::string kernelState() {
    std::string state;
    for (const char* key : kKernelKeys)
        state += std::string(key) + "=" + realKernelValue(key) + "\n";
    return state + TempDir::read(kClock);
}

// A plan on this machine leaves no trace of what it reports: no created path
// appears, no deleted one goes, no mode or owner moves, no line the copy
// added appears and none it dropped goes, no kernel value moves. Whatever
// else others write here meanwhile (build folders, logs, accounts, package
// installs) is no concern of this test.
TEST(CliPlanNodeTest, PlanOnThisMachineLeavesNoTraceOfItsChanges) {
    VXL_REQUIRE_TEST_NODE();
    TempDir work;
    TempDir::write(work.file("every.xml"), kEveryFamily);
    const std::map<std::string, HostFile> before = machineFiles();
    const std::string kernel = kernelState();
    std::vector<std::pair<Lines, std::string>> reported;  // path, change; where the copy is kept
    int n = 0;
    for (const std::string& doc :
         {work.file("every.xml"), std::string(VXL_SOURCE_DIR) + "/examples/fixup_data.xml"}) {
        const std::string kept = work.file("kept" + std::to_string(n++));
        const vxl_test::ShellRun r =
            vxl_test::runShell(kTool + " plan " + doc + " --node node1 --format json --output " +
                               kept + " --work-dir " + work.path() + " 2>/dev/null");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.rfind("{\n  \"document\": \"" + doc + "\"", 0), 0u) << r.output;
        for (const Lines& f : jsonMatches(
                 r.output, "\\{\"path\": " + kJsonString + ", \"change\": " + kJsonString)) {
            reported.push_back({f, kept + "/files"});
        }
    }
    ASSERT_GT(reported.size(), 10u);
    const std::map<std::string, HostFile> after = machineFiles();
    Lines traces;
    size_t compared = 0;
    for (const auto& [file, kept] : reported) {
        const std::string& path = file[0];
        if (!walked(path)) continue;
        const auto was = before.find(path);
        const auto is = after.find(path);
        const HostFile b = was == before.end() ? HostFile{} : was->second;
        const HostFile a = is == after.end() ? HostFile{} : is->second;
        if (b.exists != a.exists) traces.push_back(file[1] + " " + path);
        if (!b.exists || !a.exists || file[1] != "modified") continue;
        if (b.meta != a.meta) traces.push_back("mode or owner of " + path);
        const HostFile copy = hostFile(kept + path);
        compared += copy.exists;
        for (const std::string& line : copy.lines) {
            if (!b.lines.count(line) && a.lines.count(line)) traces.push_back(path + " +" + line);
        }
        for (const std::string& line : b.lines) {
            if (copy.exists && !copy.lines.count(line) && !a.lines.count(line)) {
                traces.push_back(path + " -" + line);
            }
        }
    }
    EXPECT_EQ(traces, Lines{});
    EXPECT_GE(compared, 8u) << "passwd, group, shadow, sysctl.conf, limits.conf, ...";
    EXPECT_EQ(kernelState(), kernel);
    EXPECT_EQ(TempDir::list(work.path()), (Lines{"every.xml", "kept0", "kept1"}));
}

}  // namespace
}  // namespace vxl_fixup
