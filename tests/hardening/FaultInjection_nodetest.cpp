// Every configuration-file rewrite of every family, with one system call
// failing inside the command-line tool (the fault injector preloaded): the
// instance fails with the family's error, the file keeps every byte, no
// temporary file stays beside it, and the next run without the fault
// succeeds. One node runs the whole table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardening/HardeningSupport.h"
#include "sandbox/NodeTestSupport.h"

namespace vxl_fixup {
namespace {

using vxl_test::DocInstance;
using vxl_test::word;

const std::string kWork = "/var/tmp/vxlwork";
const std::string kOut = "/var/tmp/faults/";
const std::string kScripts = "/var/tmp/scripts";
const std::string kKeys = "/root/.ssh/authorized_keys";

// A file a family rewrites, what it holds before, and the instance whose
// fix rewrites it (none: the SSH key list, which "ssh-equiv update" adds to).
struct Rewrite {
    std::string file, original;
    DocInstance instance;
};

DocInstance printing(const std::string& task, const std::string& line) {
    return {task, {}, "", "print-arg.sh", kScripts, {line}};
}

const DocInstance kLimits{"TASKSHELLLIMITS", {{"USER", "dbowner"}, {"SOFT_FILES", "65536"}}};

const std::vector<Rewrite> kRewrites = {
    {"/etc/sysctl.conf",
     "# kernel\nfs.file-max = 65536\n",
     {"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)CONF(1048576)"}},
    {"/etc/security/limits.conf", "dbowner soft nofile 1024\n", kLimits},
    {"/etc/security/limits.d/90-dbowner.conf", "dbowner soft nofile 2048\n", kLimits},
    {"/etc/inittab", "id:5:initdefault:\n", {"TASKRUNLEVEL", {}, "3"}},
    {"/etc/kelvaneqvr/kelvaneqvr.conf",
     "KELVANEQVR_UID=0\n",
     {"TASKQVRLIBCHECKS",
      {{"CONFIGFILEPATH", "/etc/kelvaneqvr/kelvaneqvr.conf"}, {"KELVANEQVR_UID", "54321"}}}},
    {"/etc/systemd/logind.conf", "[Login]\n#RemoveIPC=yes\n",
     printing("CHECK_SYSTEMD_LOGIN_IPC_PARAM", "RemoveIPC,/etc/systemd/logind.conf")},
    {"/etc/systemd/system.conf",
     "[Manager]\n#DefaultTasksMax=15%\n",
     {"CHECK_DEFAULTTASKSMAX", {{"EXPECTED", "65535"}}}},
    {"/etc/sysconfig/network", "NETWORKING=yes\n",
     printing("CHECK_ZEROCONF", "NOZEROCONF,/etc/sysconfig/network")},
    {kKeys, "ssh-rsa OLD root@old\n", {}},
};

// The tool's command line (after "vxlfixup") for rewrite i; the documents
// lie beside the outcomes as <i>.xml.
std::string commandOf(size_t i) {
    if (kRewrites[i].instance.task.empty()) {
        return "ssh-equiv update --input /var/tmp/keys.in --node node1 --work-dir " + kWork;
    }
    return "run " + kOut + std::to_string(i) + ".xml --node node1 --work-dir " + kWork;
}

struct Fault {
    size_t rewrite;
    std::string call, text;  // the injector's VXL_FAULT
    std::string error;       // as the tool prints the family's message
};

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }
std::string dirName(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::vector<Fault> faults() {
    std::vector<Fault> list;
    for (size_t i = 0; i < kRewrites.size(); ++i) {
        const std::string& file = kRewrites[i].file;
        for (const char* call : {"open", "mkstemp", "write", "fchown", "fsync", "rename"}) {
            std::string error = "Vxlg-9030(" + file + ", node1)";
            if (file == kKeys) {
                error = std::string("Vxlg-") + (call == std::string("open") ? "9080" : "9081") +
                        "(" + file + ", node1, Input/output error)";
            }
            list.push_back({i, call, baseName(file), error});
        }
    }
    // limits.d cannot be listed: a file there may still override the limit.
    list.push_back({2, "opendir", "limits.d", "Vxlg-9030(/etc/security/limits.d, node1)"});
    return list;
}

TEST(FaultInjectionNodeTest, EveryRewriteFailsCleanlyAndTheNextRunSucceeds) {
    VXL_REQUIRE_TEST_NODE();
    const std::vector<Fault> table = faults();
    TestNode node;
    node.setTimeout(std::chrono::seconds(240));
    node.addFakeSysctl().set("fs.file-max", "65536");
    node.addFakeTool("/bin/systemctl").addFakeTool("/etc/init.d/kelvaneqvr");
    node.addFile("/etc/ssh/sshd_config", "UsePAM yes\n");
    node.addFile(kScripts + "/print-arg.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\"\n", 0755);
    node.addDirectory(kWork, 0700).addDirectory("/root/.ssh", 0700);
    node.addFile("/var/tmp/keys.in", "ssh-rsa NEW x@y\n");
    std::string saved = "/var/tmp/keys.in";
    for (size_t i = 0; i < kRewrites.size(); ++i) {
        const Rewrite& r = kRewrites[i];
        // Another group than the tool's, so the rewrite must hand it over.
        node.addFile(r.file, r.original, 0640, 0, 42);
        saved += " " + r.file;
        if (!r.instance.task.empty()) {
            node.addFile(kOut + std::to_string(i) + ".xml", vxl_test::fixupDocument({r.instance}));
        }
    }
    // Each fault starts from the original files: faulted run, what it left,
    // then a run without the fault.
    std::string script = "tar -cpPf /var/tmp/saved.tar " + saved + "\n";
    for (size_t k = 0; k < table.size(); ++k) {
        const Fault& f = table[k];
        const Rewrite& r = kRewrites[f.rewrite];
        const std::string out = kOut + std::to_string(k);
        script += "tar -xpPf /var/tmp/saved.tar\nls -A " + dirName(r.file) + " > " + out +
                  ".before\n" + "LD_PRELOAD=" + VXL_FAULT_SHIM_PATH +
                  " VXL_FAULT_PROGRAM=vxlfixup ASAN_OPTIONS=verify_asan_link_order=0 VXL_FAULT=" +
                  word(f.call + ":" + f.text) + " " + vxl_test::kCli + " " + commandOf(f.rewrite) +
                  " > " + out + ".faulted 2>&1\ncp " + r.file + " " + out + ".kept\nls -A " +
                  dirName(r.file) + " > " + out + ".after\n" + vxl_test::kCli + " " +
                  commandOf(f.rewrite) + " > " + out + ".next 2>&1; echo \"exit $?\" >> " + out +
                  ".next\ncp " + r.file + " " + out + ".rewritten\n";
    }
    const NodeResult result = node.run(script);
    ASSERT_EQ(result.exitCode, 0) << result.setupError << result.stderrText;
    for (size_t k = 0; k < table.size(); ++k) {
        const Fault& f = table[k];
        const Rewrite& r = kRewrites[f.rewrite];
        const std::string out = kOut + std::to_string(k);
        const std::string what = f.call + " fails on " + f.text + " (" + r.file + ")";
        const std::string faulted = result.fileContent(out + ".faulted").value_or("");
        EXPECT_NE(faulted.find(f.error), std::string::npos) << what << "\n" << faulted;
        if (r.file != kKeys) {
            EXPECT_NE(faulted.find("  FAILED  "), std::string::npos) << what << "\n" << faulted;
        }
        EXPECT_EQ(result.fileContent(out + ".kept").value_or("<missing>"), r.original) << what;
        EXPECT_EQ(result.fileContent(out + ".after"), result.fileContent(out + ".before"))
            << what << ": something was left beside the file";
        const std::string next = result.fileContent(out + ".next").value_or("");
        EXPECT_EQ(next.find("Vxlg-"), std::string::npos) << what << "\n" << next;
        EXPECT_NE(next.find("exit 0\n"), std::string::npos) << what << "\n" << next;
        EXPECT_NE(result.fileContent(out + ".rewritten").value_or(r.original), r.original)
            << what << ": the next run did not rewrite it";
    }
    std::printf("[ faults   ] %zu faults injected into %zu rewrites\n", table.size(),
                kRewrites.size());
}

// The output document is made before the first task: a work directory that
// cannot take it stops the run before anything on the node changes, and a
// failure names the system's reason, also when only the final write fails.
TEST(FaultInjectionNodeTest, TheOutputDocumentsPlaceIsProvedFirstAndFailuresSayWhy) {
    VXL_REQUIRE_TEST_NODE();
    const std::string doc = kOut + "doc.xml", conf = "fs.file-max = 65536\n";
    const std::string at = "failed to open a file at location " + kWork +
                           "/fixup/vexelfixupoutput_node1.xml: ";
    const struct {
        const char* fault;  // "none": the work directory is a full small disk instead
        std::string error;
        bool tasksRan;
    } rows[] = {
        {"none", at + "No space left on device", false},
        {"open:vexelfixupoutput:13", at + "Permission denied", false},
        {"write:vexelfixupoutput:28", at + "No space left on device", false},
        {"fsync:vexelfixupoutput:28",
         "failed to write a file at location " + kWork +
             "/fixup/vexelfixupoutput_node1.xml: No space left on device",
         true},
    };
    for (const auto& row : rows) {
        TestNode node;
        node.addFakeSysctl().set("fs.file-max", "65536");
        node.addFile("/etc/sysctl.conf", conf).addDirectory(kWork, 0700);
        const bool full = std::string(row.fault) == "none";
        if (full) node.addTmpfs(kWork, 256 * 1024);
        node.addFile(doc, vxl_test::fixupDocument({{"TASKKERNELPARAM",
                                                    {{"NAME", "file-max"}},
                                                    "CURR(1048576)CONF(1048576)"}}));
        const std::string fill =
            full ? "dd if=/dev/zero of=" + kWork + "/fill bs=4k 2>/dev/null; " : "";
        const NodeResult r = node.run(fill + "LD_PRELOAD=" + VXL_FAULT_SHIM_PATH +
                                      " VXL_FAULT_PROGRAM=vxlfixup "
                                      "ASAN_OPTIONS=verify_asan_link_order=0 VXL_FAULT=" +
                                      row.fault + " " + vxl_test::kCli + " run " + doc +
                                      " --node node1 --work-dir " + kWork + "; echo \"exit $?\"");
        ASSERT_TRUE(r.setupError.empty()) << r.setupError;
        EXPECT_NE(r.stderrText.find(row.error), std::string::npos) << row.fault << "\n" << r.stderrText;
        EXPECT_NE(r.stdoutText.find("exit 1"), std::string::npos) << row.fault << "\n" << r.stdoutText;
        EXPECT_FALSE(r.fileContent(kWork + "/fixup/vexelfixupoutput_node1.xml").has_value())
            << row.fault << ": a document that was never written whole stays";
        if (!row.tasksRan) {
            EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), conf) << row.fault;
            EXPECT_TRUE(r.commandLog().empty()) << row.fault << ": a task ran first";
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
