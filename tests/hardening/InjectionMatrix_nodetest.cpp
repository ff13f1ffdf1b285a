// Every field that reaches a command line or a file line, of every family,
// times hostile values: shell separators and substitutions, a line feed,
// leading "-" (alone and with an attached path), blanks, both quotes, glob
// characters, a 64 KB value, a carriage return, a relative path that climbs
// to /etc and bytes that are no UTF-8. One document holds every combination
// and runs through the command-line tool in one node (SSH equivalence, which
// reads no document, in a second): no canary file appears anywhere, no line
// starts with what followed a line break, nothing under /etc changes but the
// files the families own, and every instance ends as its field's row says.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hardening/HardeningSupport.h"
#include "sandbox/NodeTestSupport.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

using vxl_test::DocInstance;

const std::string kScripts = "/var/tmp/scripts";
const std::string kWork = "/var/tmp/vxlwork/";
const std::string kCanary = "vxlcanary";

// A hostile value whose command, were it ever run, creates canary.
std::vector<std::string> hostileValues(const std::string& canary) {
    const std::string touch = "touch " + canary;
    return {"1;" + touch,
            "$(" + touch + ")",
            "`" + touch + "`",
            "1\n" + touch,
            "--eval=%(" + touch + ")",
            " 1 -o -u 0 " + canary + " ",
            "1'\"; " + touch + "; \"'",
            "/etc/* ?[a-z]",
            std::string(65536, '9'),
            "1\r2",
            "-p" + canary,
            "--help",
            "../../etc/shadow",
            "\xff\xfe"};
}

// Where a field's hostile value goes: kValue in one text of the instance,
// or kListingHome as a cluster home whose membview lists the value as a node.
const std::string kValue = "\x01", kListingHome = "\x02";

std::string listingHome(const std::string& v) {
    return "/opt/qhm" + std::to_string(std::hash<std::string>{}(v) % 1000003);
}

DocInstance withValue(DocInstance in, const std::string& v) {
    auto put = [&v](std::string& text) {
        for (size_t at; (at = text.find(kValue)) != std::string::npos;) text.replace(at, 1, v);
        if (text == kListingHome) text = listingHome(v);
    };
    for (std::string* text : {&in.expected, &in.actual, &in.scriptName, &in.scriptPath}) put(*text);
    for (auto& item : in.data) put(item.second);
    for (std::string& arg : in.scriptArgs) put(arg);
    return in;
}

// A fix-up script that prints its argument: the script output a task reads.
DocInstance printing(const std::string& task, const std::string& line) {
    return {task, {}, "", "print-arg.sh", kScripts, {line}};
}

// A field and how an instance with each hostile value, in hostileValues()'s
// order, ends: the first error's number, "N" for a failed command's error
// only, "S" for SUCCESSFUL; "9031*8" stands for eight of them.
struct Field {
    const char* name;
    DocInstance instance;
    std::string endings;
};

std::string expand(const std::string& endings) {
    std::istringstream in(endings);
    std::vector<std::string> all;
    for (std::string word; in >> word;) {
        const size_t star = word.find('*');
        const int n = star == std::string::npos ? 1 : std::stoi(word.substr(star + 1));
        all.insert(all.end(), n, word.substr(0, star));
    }
    std::string text;
    for (const std::string& e : all) text += e + " ";
    return text;
}

const std::string kOwner = "USER:qhmowner(54330)", kGroup = "GROUP:qhminst(54330)";
const std::string kMode = "PERMISSIONS:640", kTdb = "/etc/qhm/tdb.loc";
const std::string kClock = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
const std::string kV = kValue;

DocInstance kernel(const std::string& name, const std::string& expected) {
    return {"TASKKERNELPARAM", {{"NAME", name}}, expected};
}
DocInstance memlock(const std::string& user, const std::string& value, const std::string& file) {
    return {"MAX_LOCKED_MEM", {{"USER", user}}, value, "print-arg.sh", kScripts, {file}};
}
DocInstance user(const std::string& name, const std::string& uid, const std::string& group,
                 const std::string& gid) {
    return {"TASKUSEREXISTENCE", {{"USER", name}, {"UID", uid}, {"GROUP", group}, {"GID", gid}}};
}
DocInstance driver(const std::string& path, const std::string& uid, const std::string& exclude) {
    return {
        "TASKQVRLIBCHECKS",
        {{"CONFIGFILEPATH", path}, {"KELVANEQVR_UID", uid}, {"KELVANEQVR_SCANEXCLUDE", exclude}}};
}
DocInstance ownership(const std::string& path, const std::string& expected) {
    return {"TASKPATHCHECK", {{"PATH", path}}, expected};
}

const std::string kDriverConf = "/etc/kelvaneqvr/kelvaneqvr.conf";
const std::string kLimitsConf = "/etc/security/limits.conf", kNetwork = "/etc/sysconfig/network";

const std::vector<Field> kFields = {
    {"kernel NAME", kernel(kV, "CURR(1048576)CONF(1048576)"), "9046*14"},
    {"kernel CURR value", kernel("file-max", "CURR(" + kV + ")CONF(1048576)"),
     "S*3 9031 S*4 9031*2 S*4"},
    {"kernel CONF value", kernel("file-max", "CURR(1048576)CONF(" + kV + ")"),
     "S*3 9031 S*4 9031*2 S*4"},
    {"kernel PATH",
     {"TASKKERNELPARAM", {{"NAME", "file-max"}, {"PATH", kV}}, "CURR(1)CONF(1)"},
     "9031*7 9030 9031*6"},
    {"limits USER", {"TASKSHELLLIMITS", {{"USER", kV}, {"SOFT_FILES", "65536"}}}, "9031*14"},
    {"limits value", {"TASKSHELLLIMITS", {{"USER", "dbowner"}, {"SOFT_FILES", kV}}}, "9031*14"},
    {"memlock USER", memlock(kV, "3145728", kLimitsConf), "9031*14"},
    {"memlock value", memlock("dbowner", kV, kLimitsConf), "9031*14"},
    {"memlock script's file", memlock("dbowner", "3145728", kV), "9031*7 9030 9031*6"},
    {"run level (init table)", {"TASKRUNLEVEL", {}, kV}, "9031*14"},
    {"run level (systemd)", {"TASKRUNLEVEL", {{"POST_DV7_SYSTEM", "true"}}, kV}, "9031*14"},
    {"package NAME",
     {"TASKPACKAGE", {{"NAME", kV}, {"LOC", "/var/tmp/pkgs"}, {"GROUP", "dba"}}},
     "9031*14"},
    {"package LOC",
     {"TASKPACKAGE", {{"NAME", "pkg.rpm"}, {"LOC", kV}, {"GROUP", "dba"}}},
     "9021*3 9031*2 9021*3 9031*4 9021*2"},
    {"package GROUP",
     {"TASKPACKAGE", {{"NAME", "pkg.rpm"}, {"LOC", "/var/tmp/pkgs"}, {"GROUP", kV}}},
     "9045*3 9031 9045*4 9031*2 9045*4"},
    {"zeroconf key", printing("CHECK_ZEROCONF", kV + "," + kNetwork), "9031*14"},
    {"zeroconf file", printing("CHECK_ZEROCONF", "NOZEROCONF," + kV),
     "9050*3 9031 9050*3 9030 9031*2 9050*4"},
    {"huge pages value", printing("ENABLED_HUGE_PAGE", "vm.nr_hugepages=" + kV),
     "9068*3 9031 9068*4 9031*2 9068*4"},
    {"rp_filter key", printing("REVERSE_PATH_FILTER", "current_" + kV),
     "10530*3 9031 10530*4 9031*4 10530*2"},
    {"rp_filter file", printing("REVERSE_PATH_FILTER", "config_net.ipv4.conf.eth1.rp_filter " + kV),
     "10530*3 9031 10530*4 9031*2 10530*4"},
    {"ARP value",
     printing("CHECK_ARP_PARAM_SETTINGS", "current_net.ipv4.conf.all.arp_filter " + kV),
     "10530*3 9031 10530*4 9031*2 10530*4"},
    {"clock source", printing("CHECK_CURRENT_CLOCKSOURCE", kClock + " " + kV),
     "10530*3 9031 10530*4 9031*2 10530 9031 10530*2"},
    {"min_free_kbytes value", printing("CHECK_VM_MIN_FREE_KBYTES", kV + " /etc/sysctl.conf"),
     "10530*3 9031 10530*4 9031*2 10530*4"},
    {"logind key", printing("CHECK_SYSTEMD_LOGIN_IPC_PARAM", kV + ",/etc/systemd/logind.conf"),
     "9031*14"},
    {"logind file", printing("CHECK_SYSTEMD_LOGIN_IPC_PARAM", "RemoveIPC," + kV),
     "10530*3 9031 10530*3 9030 9031*2 10530*4"},
    {"DefaultTasksMax", {"CHECK_DEFAULTTASKSMAX", {{"EXPECTED", kV}}}, "9031*14"},
    {"script NAME",
     {"CHECK_ZEROCONF", {}, "", kV, kScripts, {"NOZEROCONF," + kNetwork}},
     "9020*14"},
    {"script PATH",
     {"CHECK_ZEROCONF", {}, "", "print-arg.sh", kV, {"NOZEROCONF," + kNetwork}},
     "9020*14"},
    {"group GROUP", {"TASKGROUPEXISTENCE", {{"GROUP", kV}, {"GID", "54324"}}}, "9031*14"},
    {"group GID", {"TASKGROUPEXISTENCE", {{"GROUP", "appgrp"}, {"GID", kV}}}, "9031*14"},
    {"user USER", user(kV, "54325", "appgrp", "54324"), "9031*14"},
    {"user UID", user("appowner", kV, "appgrp", "54324"), "9031*14"},
    {"user GROUP", user("appowner", "54325", kV, "54324"), "9031*14"},
    {"user GID", user("appowner", "54325", "appgrp", kV), "9031*14"},
    {"membership USER", {"TASKGROUPMEMBERSHIP", {{"USER", kV}, {"GROUP", "dbgrp"}}}, "9031*14"},
    {"membership GROUP", {"TASKGROUPMEMBERSHIP", {{"USER", "dbowner"}, {"GROUP", kV}}}, "9031*14"},
    {"primary group GROUP",
     {"TASKGROUPMEMBERSHIP", {{"USER", "dbowner"}, {"GROUP", kV}}, "PRIMARY_GROUP"},
     "9031*14"},
    {"pin nodes QHMHOME", {"TASKPINNODES", {{"QHMHOME", kV}}}, "9031*7 9020 9031*6"},
    {"pin nodes listed name", {"TASKPINNODES", {{"QHMHOME", kListingHome}}}, "9031*12 S*2"},
    {"resource use QHMHOME", {"TASKQHMRESOURCEPARAMS", {{"QHMHOME", kV}}}, "9031*7 9020 9031*6"},
    {"HWT resource QHMHOME", {"CHECK_HWT_RESOURCE", {{"QHMHOME", kV}}}, "9031*7 9020 9031*6"},
    {"driver CONFIGFILEPATH", driver(kV, "54321", "sd"), "9031*7 9030 9031*6"},
    {"driver UID value", driver(kDriverConf, kV, "sd"), "9031*5 S 9031 S 9031*2 S*4"},
    {"driver SCANEXCLUDE value", driver(kDriverConf, "54321", kV), "9031*5 S 9031 S 9031*2 S*4"},
    {"path PATH", ownership(kV, kOwner + "," + kGroup + "," + kMode), "9031*7 9021 9031*6"},
    {"path USER", ownership(kTdb, "USER:" + kV + "," + kGroup + "," + kMode), "9031 N 9031*11 N"},
    {"path GROUP", ownership(kTdb, kOwner + ",GROUP:" + kV + "," + kMode), "9031 N 9031*11 N"},
    {"path PERMISSIONS", ownership(kTdb, kOwner + "," + kGroup + ",PERMISSIONS:" + kV), "9031*14"},
    {"registry path",
     {"TASKTDBINTEGRITY",
      {},
      kV + "|" + kOwner + "," + kGroup + "," + kMode,
      "",
      "",
      {},
      kV + "|USER:root(0)"},
     "9031*7 9021 9031*6"},
    {"daemon NAME", {"TASKDAEMONNOTRUNNING", {{"NAME", kV}}}, "9060*3 9031*2 9060*3 9031*4 9060*2"},
};

// Files under /etc the document's sane parts may change.
bool mayChange(const std::string& path) {
    for (const char* prefix :
         {"/etc/sysctl.conf", "/etc/security/limits.", "/etc/kelvaneqvr/", "/etc/systemd/",
          "/etc/sysconfig/network", "/etc/qhm/tdb.loc", "/etc/passwd", "/etc/group", "/etc/shadow",
          "/etc/gshadow", "/etc/subuid", "/etc/subgid", "/etc/.pwd.lock", "/etc/inittab"}) {
        if (path.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// The checks every node of the matrix passes: no canary file (every value
// creates its canary under /tmp when run), no line that a line break started,
// nothing else under /etc. Trace files are left out of the line check: a
// trace line may quote a value, breaks and all.
void expectNothingInjected(const NodeResult& r) {
    for (const std::string& path : r.changedFiles()) {
        EXPECT_NE(path.rfind("/tmp/" + kCanary, 0), 0u) << "a value ran: " << path;
        if (path.rfind("/etc/", 0) == 0) {
            EXPECT_TRUE(mayChange(path)) << "changed " << path;
        }
        if (path.find("/vexel_fixup_trace_", path.rfind('/')) != std::string::npos) continue;
        std::istringstream lines(r.fileContent(path).value_or(""));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_NE(line.rfind("touch /tmp/" + kCanary, 0), 0u)
                << "a line break added a line to " << path;
        }
    }
}

TEST(InjectionMatrixNodeTest, EveryDocumentFieldTimesEveryHostileValue) {
    VXL_REQUIRE_TEST_NODE();
    const std::vector<Field>& table = kFields;
    std::vector<DocInstance> instances;
    TestNode node;
    node.setTimeout(std::chrono::seconds(240));
    for (size_t f = 0; f < table.size(); ++f) {
        const std::vector<std::string> values =
            hostileValues("/tmp/" + kCanary + "-" + std::to_string(f));
        for (size_t v = 0; v < values.size(); ++v) {
            instances.push_back(withValue(table[f].instance, values[v]));
            const auto& data = table[f].instance.data;
            if (!data.empty() && data[0].second == kListingHome) {
                const std::string home = listingHome(values[v]);
                node.addFile(
                    home + "/bin/membview",
                    "#!/bin/sh\nprintf '%s\\n' " + vxl_test::word(values[v] + " 1 Unpinned") + "\n",
                    0755);
                node.addFakeTool(home + "/bin/qhmctl");
            }
        }
    }
    // What the sane parts of the instances find on the node.
    node.addFakeSysctl().set("fs.file-max", "65536").set("kernel.sem", "250 32000 100 128");
    node.addFakeTool("/bin/systemctl");
    // As a driver's init script does, it reads its settings as shell lines.
    node.addFile("/etc/init.d/kelvaneqvr", "#!/bin/sh\n. /etc/kelvaneqvr/kelvaneqvr.conf\n", 0755);
    node.addFakeTool("/sbin/service").addFakeTool("/sbin/chkconfig");
    node.addFile(kScripts + "/print-arg.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\"\n", 0755);
    node.addFile("/opt/qhm/bin/membview", "#!/bin/sh\necho 'node2 2 Unpinned'\n", 0755);
    node.addFakeTool("/opt/qhm/bin/qhmctl").addFakeTool("/opt/qhm/bin/rescmd");
    node.addFile("/etc/ssh/sshd_config", "UsePAM yes\n");
    node.addFile("/etc/sysctl.conf", "fs.file-max = 65536\n");
    node.addFile("/etc/security/limits.conf", "dbowner soft nofile 1024\n");
    node.addFile("/etc/inittab", "id:5:initdefault:\n");
    node.addFile("/etc/kelvaneqvr/kelvaneqvr.conf", "KELVANEQVR_UID=0\nKELVANEQVR_SCANEXCLUDE=\n");
    node.addFile("/etc/systemd/logind.conf", "[Login]\n");
    node.addFile("/etc/systemd/system.conf", "[Manager]\n");
    node.addFile("/etc/sysconfig/network", "NETWORKING=yes\n");
    node.addFile("/etc/qhm/tdb.loc", "x\n");
    node.addFile("/var/tmp/pkgs/pkg.rpm", "not a package\n");
    node.addDirectory(kWork, 0700);
    node.addFile("/var/tmp/doc.xml", vxl_test::fixupDocument(instances));
    const NodeResult r = node.run(
        "groupadd -g 54320 dbgrp && useradd -M -u 54321 -g dbgrp dbowner && cd /var/tmp && " +
        vxl_test::kCli + " run /var/tmp/doc.xml --node node1 --work-dir " + kWork +
        " --trace-level 0");
    ASSERT_TRUE(r.ran()) << r.setupError;
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    expectNothingInjected(r);

    // The outcome table: one row per instance, in document order.
    std::istringstream out(r.stdoutText);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(out, line);) {
        std::istringstream words(line);
        std::vector<std::string> row;
        for (std::string w; words >> w;) row.push_back(w);
        if (line.empty() || line[0] == ' ' || row.size() < 5 || row[0] == "TASK" ||
            row[0] == "output") {
            continue;
        }
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), instances.size()) << r.stdoutText.substr(0, 4000);
    std::vector<std::string> endings(table.size());
    const size_t values = hostileValues("").size();
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& status = rows[i][3];
        std::string ending = status == "SUCCESSFUL" ? "S" : status == "FAILED" ? "" : status;
        if (status != "SUCCESSFUL") {
            const std::string& first = rows[i].size() > 5 ? rows[i][5] : "";
            const size_t dash = first.find('-');
            ending += rows[i][4] == "NLS"       ? first.substr(dash + 1, first.find('(') - dash - 1)
                      : rows[i][4] == "native:" ? "N"
                                                : "?";
        }
        endings[i / values] += ending + " ";
    }
    for (size_t f = 0; f < table.size(); ++f) {
        EXPECT_EQ(endings[f], expand(table[f].endings)) << table[f].name;
        std::printf("[ matrix   ] %-26s %s\n", table[f].name, endings[f].c_str());
    }
    std::printf("[ matrix   ] %zu fields x %zu hostile values = %zu instances\n", table.size(),
                hostileValues("").size(), instances.size());
}

// SSH equivalence's inputs: the node name names key files and reaches
// ssh-keygen (GENERATE), the work directory holds the published key (REUSE),
// the import file and the file to update are paths (UPDATE). Each call ends
// S (success), R (refused with 9031) or F (another failure).
TEST(InjectionMatrixNodeTest, EverySshInputTimesEveryHostileValue) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.setEnv("HOME", "/home/tester").addDirectory("/home/tester", 0755);
    node.addDirectory("/home/tester/.ssh", 0700);
    node.addFile("/home/tester/.ssh/id_rsa.pub", "ssh-rsa A t@old\n");
    node.addDirectory(kWork, 0755).addFile("/var/tmp/keys.in", "ssh-rsa K x@y\n");
    node.setTimeout(std::chrono::seconds(120));
    const NodeResult r = node.runFunction([] {
        int unclear = 0;
        const std::vector<std::string> inputs = {"node name", "work directory", "import file",
                                                 "file to update"};
        for (size_t f = 0; f < inputs.size(); ++f) {
            const std::vector<std::string> values =
                hostileValues("/tmp/" + kCanary + "-ssh" + std::to_string(f));
            std::string endings;
            for (const std::string& v : values) {
                // A work directory must exist to be used: make the hostile one.
                const std::string work = f == 1 ? "/var/tmp/w" + v + "/" : kWork;
                if (f == 1) std::system(("mkdir -p " + vxl_test::word(work) + " 2>&-").c_str());
                const char* op = f == 0 ? "GENERATE" : f == 1 ? "REUSE" : "UPDATE";
                SshEquivalenceRequest request{work.c_str(),
                                              op,
                                              f == 2 ? v.c_str() : "/var/tmp/keys.in",
                                              f == 3 ? v.c_str() : "authorized_keys",
                                              f == 0 ? v.c_str() : "node1",
                                              nullptr,
                                              nullptr,
                                              0};
                const int rc = vxlSetupUserEquivalence(&request);
                const std::string text = request.resultText ? request.resultText : "";
                const std::string error = request.errorMessage ? request.errorMessage : "";
                const bool failed =
                    rc != 0 || text.empty() || text.find("<NLS_MSG>") != std::string::npos;
                if (text.empty() && error.empty()) ++unclear;
                endings += !failed                                           ? 'S'
                           : text.find("<ID>9031</ID>") != std::string::npos ? 'R'
                                                                             : 'F';
                vxlFixupMemFree(request.resultText);
                vxlFixupMemFree(request.errorMessage);
            }
            std::printf("[ matrix   ] SSH %-22s %s\n", inputs[f].c_str(), endings.c_str());
            std::fprintf(stderr, "SSH %s\n", endings.c_str());
        }
        return unclear;
    });
    EXPECT_EQ(r.exitCode, 0) << r.setupError;
    EXPECT_EQ(r.stderrText,
              "SSH RRRRRRRRFRRRRR\nSSH SSSSSSSSFSSSSS\nSSH FFFFFFFFFFFFRF\nSSH RRRRRRRRFRRRRS\n");
    std::fputs(r.stdoutText.c_str(), stdout);
    expectNothingInjected(r);
}

}  // namespace
}  // namespace vxl_fixup
