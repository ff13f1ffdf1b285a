// Traps planted where the library creates files under directories another
// user could write: the work directory (another user's, mode 0777), the
// trace directory, the output directory "fixup", the SSH directory and its
// files, and the published key. Each is refused, or replaced without being
// followed, and nothing is written through it; a link under /etc that an
// administrator made to another file under /etc is still followed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "hardening/HardeningSupport.h"
#include "sandbox/NodeTestSupport.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

const std::string kWork = "/var/tmp/shared/";
const std::string kTraces = "/var/tmp/traces/";
const std::string kHome = "/home/tester";
const std::string kSsh = kHome + "/.ssh/";
const std::string kSecret = "/root/secret.txt";
const std::string kTrace = kWork + "vexel_fixup_trace_0.log";
const std::string kFixupDir = kWork + "fixup";
const std::string kOutput = kFixupDir + "/vexelfixupoutput_node1.xml";
const std::string kPublished = kWork + "/node1.id_rsa.pub";

enum class Call { Run, AutoRun, Generate, Reuse, Update, Refresh };

// Inside the node: one call, printed as "rc<TAB>text<TAB>error" (text: the
// output path of a run, the result text of an SSH call; "NULL" when unset).
int callAndPrint(Call call) {
    std::string work = kWork, node = "node1", data = "/var/tmp/doc.xml", traces = kTraces;
    int rc = 0;
    char* text = nullptr;
    char* error = nullptr;
    if (call == Call::Run || call == Call::AutoRun) {
        vxlfixup record{&work[0], &data[0], &node[0], nullptr, nullptr, nullptr, 0};
        if (call == Call::Run) {
            rc = vxlRunFixup(&record);
        } else {
            record.traceDir = &traces[0];
            const std::string document = vxl_test::fixupDocument(
                {{"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)"}});
            rc = vxlRunAutoFixup(&record, &document);
        }
        text = record.outputFile;
        error = record.errorMessage;
    } else {
        const char* operations[] = {"GENERATE", "REUSE", "UPDATE", "REFRESH"};
        const char* op = operations[static_cast<int>(call) - static_cast<int>(Call::Generate)];
        SshEquivalenceRequest request{
            kWork.c_str(), op, "/var/tmp/keys.in", "authorized_keys", "node1", nullptr, nullptr, 0};
        rc = vxlSetupUserEquivalence(&request);
        text = request.resultText;
        error = request.errorMessage;
    }
    std::printf("%d\t%s\t%s\n", rc, text ? text : "NULL", error ? error : "NULL");
    vxlFixupMemFree(text);
    vxlFixupMemFree(error);
    return std::fflush(stdout);
}

std::string refusedRun(const std::string& what) {
    return "caught FixupException error is {Refused to use the " + what + "}";
}

struct Trap {
    const char* what;
    std::function<void(TestNode&)> fixtures;
    std::function<void()> plantInNode;  // for what fixtures cannot make
    Call call;
    int rc;
    std::string text;                         // the call's text starts so ("NULL": none)
    std::string errorMessage;                 // "NULL": none
    std::vector<std::string> mayChange = {};  // path prefixes the call may write
};

const std::string kLink = "Too many levels of symbolic links";
const std::string kNotOwner = "Operation not permitted";

std::string sshMessage(const std::string& op, const std::string& id,
                       const std::vector<std::string>& arguments) {
    std::string text = "<" + op + "><NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA>";
    for (const std::string& a : arguments) text += "<DATA>" + a + "</DATA>";
    return text + "</MSG_DATA><FACILITY>Vxlg</FACILITY><ID>" + id + "</ID></NLS_MSG></" + op + ">";
}

TEST(SymlinkTrapsNodeTest, PlantedLinksAndFilesAreRefusedOrReplacedNeverFollowed) {
    VXL_REQUIRE_TEST_NODE();
    const auto link = [](const std::string& path, const std::string& target) {
        return [=](TestNode& n) { n.addSymlink(path, target); };
    };
    const auto nothing = [](TestNode&) {};
    const std::string badDir = "Refused to use the directory (" + kHome + "/.ssh): ";
    const std::string scratchRefused =
        "caught FixupException error is {initScratchPad() - Failed to initialize, scratch "
        "directory could not be created}";
    const std::string keys = kSsh + "authorized_keys";
    const std::string ran = kOutput, generated = "<GENERATE><PUB_KEY_PUB_LOC>";
    const std::vector<Trap> traps = {
        {"trace log linked to a root file", link(kTrace, kSecret), nullptr, Call::Run, 1, "NULL",
         refusedRun("trace file (" + kTrace + "): it is a symbolic link.")},
        {"trace log linked, SSH call", link(kTrace, kSecret), nullptr, Call::Generate, 1, "NULL",
         "Refused to use the trace file (" + kTrace + "): it is a symbolic link."},
        {"trace directory's log linked", link(kTraces + "vexel_fixup_trace_0.log", kSecret),
         nullptr, Call::AutoRun, 1, "NULL",
         "caught FixupException. error is {Refused to use the trace file (" + kTraces +
             "vexel_fixup_trace_0.log): it is a symbolic link.}"},
        {"trace log a FIFO", nothing, [] { ::mkfifo(kTrace.c_str(), 0666); }, Call::Run, 1, "NULL",
         refusedRun("trace file (" + kTrace + "): it is not a regular file.")},
        {"trace log a hard link to a root file",
         nothing,
         [] { ::link(kSecret.c_str(), kTrace.c_str()); },
         Call::Run,
         1,
         "NULL",
         refusedRun("trace file (" + kTrace + "): it has more than one name."),
         {kSecret}},
        {"output directory linked to /etc",
         link(kFixupDir, "/etc"),
         nullptr,
         Call::Run,
         1,
         "NULL",
         refusedRun("output directory (" + kFixupDir + "): it is a symbolic link."),
         {kTrace}},
        {"output directory a file",
         [](TestNode& n) { n.addFile(kFixupDir, "x\n", 0666, 1000); },
         nullptr,
         Call::AutoRun,
         1,
         "NULL",
         "caught FixupException. error is {Refused to use the output directory (" + kFixupDir +
             "): it is not a directory.}",
         {kTraces}},
        {"output document linked to a root file",
         [](TestNode& n) { n.addDirectory(kFixupDir, 0777, 1000).addSymlink(kOutput, kSecret); },
         nullptr,
         Call::Run,
         0,
         ran,
         "NULL",
         {kWork}},
        {"scratch directory linked to /etc",
         link(kWork + ".fix_scratch", "/etc"),
         nullptr,
         Call::Run,
         1,
         "NULL",
         scratchRefused,
         {kWork}},
        {"scratch directory of another user",
         [](TestNode& n) { n.addDirectory(kWork + ".fix_scratch", 0700, 1000); },
         nullptr,
         Call::Run,
         1,
         "NULL",
         scratchRefused,
         {kWork}},
        {"published key linked to a root file",
         link(kPublished, kSecret),
         nullptr,
         Call::Generate,
         0,
         generated,
         "NULL",
         {kWork, kHome}},
        {"published key linked, reuse",
         [](TestNode& n) {
             n.addDirectory(kSsh, 0700).addFile(kSsh + "id_rsa.pub", "ssh-rsa A t@old\n");
             n.addSymlink(kPublished, kSecret);
         },
         nullptr,
         Call::Reuse,
         0,
         "<REUSE><PUB_KEY_PUB_LOC>",
         "NULL",
         {kWork}},
        {"SSH directory linked",
         [](TestNode& n) { n.addSymlink(kHome + "/.ssh", "/etc"); },
         nullptr,
         Call::Update,
         1,
         sshMessage("UPDATE", "9077", {kHome + "/.ssh", "node1", kLink}),
         badDir + "it is a symbolic link.",
         {kWork}},
        {"SSH directory of another user",
         [](TestNode& n) { n.addDirectory(kHome + "/.ssh", 0700, 1000, 1000); },
         nullptr,
         Call::Generate,
         1,
         sshMessage("GENERATE", "9077", {kHome + "/.ssh", "node1", kNotOwner}),
         badDir + "it is not owned by the current user.",
         {kWork}},
        {"SSH directory writable by all",
         [](TestNode& n) { n.addDirectory(kHome + "/.ssh", 0777); },
         nullptr,
         Call::Update,
         1,
         sshMessage("UPDATE", "9077", {kHome + "/.ssh", "node1", kNotOwner}),
         badDir + "other users can write to it.",
         {kWork}},
        {"key list linked",
         [&](TestNode& n) { n.addDirectory(kSsh, 0700).addSymlink(keys, kSecret); },
         nullptr,
         Call::Update,
         1,
         sshMessage("UPDATE", "9081", {keys, "node1", kLink}),
         "Refused to update the authorized_keys file at location " + keys +
             ": it is a symbolic link.",
         {kWork}},
        {"key list of another user",
         [&](TestNode& n) { n.addDirectory(kSsh, 0700).addFile(keys, "x\n", 0600, 1000); },
         nullptr,
         Call::Update,
         1,
         sshMessage("UPDATE", "9081", {keys, "node1", kNotOwner}),
         "Refused to update the authorized_keys file at location " + keys +
             ": it is not owned by the current user.",
         {kWork}},
        {"node key linked",
         [](TestNode& n) { n.addDirectory(kSsh, 0700).addSymlink(kSsh + "node1.id_rsa", kSecret); },
         nullptr,
         Call::Refresh,
         1,
         sshMessage("REFRESH", "9087", {kSsh + "node1.id_rsa", kSsh + "id_rsa", "node1", kLink}),
         "Refused to use the key file " + kSsh + "node1.id_rsa: it is a symbolic link.",
         {kWork}},
    };
    for (const Trap& trap : traps) {
        TestNode node;
        node.setEnv("HOME", kHome).addDirectory(kHome, 0755);
        node.addDirectory(kWork, 0777, 1000, 1000).addDirectory(kTraces, 0777, 1000, 1000);
        node.addFile(kSecret, "secret\n", 0600).addFile("/var/tmp/keys.in", "ssh-rsa K x@y\n");
        node.addFile("/var/tmp/doc.xml",
                     vxl_test::fixupDocument(
                         {{"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)"}}));
        node.addFakeSysctl().set("fs.file-max", "65536");
        trap.fixtures(node);
        const std::function<void()> plant = trap.plantInNode;
        const Call call = trap.call;
        const NodeResult r = node.runFunction([plant, call] {
            if (plant) plant();
            return callAndPrint(call);
        });
        ASSERT_EQ(r.exitCode, 0) << trap.what << r.setupError << r.stderrText;
        const std::string line = r.stdoutText.substr(0, r.stdoutText.find('\n'));
        const size_t a = line.find('\t'), b = line.find('\t', a + 1);
        ASSERT_NE(b, std::string::npos) << trap.what << ": " << r.stdoutText;
        EXPECT_EQ(std::stoi(line), trap.rc) << trap.what;
        EXPECT_EQ(line.substr(b + 1), trap.errorMessage) << trap.what;
        EXPECT_EQ(line.substr(a + 1, b - a - 1).rfind(trap.text, 0), 0u)
            << trap.what << ": " << line.substr(a + 1, b - a - 1);
        EXPECT_EQ(r.fileContent(kSecret).value_or(""), "secret\n") << trap.what;
        const auto secret = r.file(kSecret);
        EXPECT_TRUE(secret && secret->mode == 0600) << trap.what;
        for (const std::string& path : r.changedFiles()) {
            bool allowed = plant && path == kTrace;  // what plantInNode made
            for (const std::string& prefix : trap.mayChange) {
                allowed = allowed || path.rfind(prefix, 0) == 0;
            }
            EXPECT_TRUE(allowed) << trap.what << ": wrote " << path;
        }
        if (trap.rc == 0 && (call == Call::Run || call == Call::Generate || call == Call::Reuse)) {
            const std::string written = call == Call::Run ? kOutput : kPublished;
            const auto f = r.file(written);
            EXPECT_TRUE(f && f->type == NodeFile::Type::Regular) << trap.what << ": " << written;
        }
    }
}

TEST(SymlinkTrapsNodeTest, AdministratorsLinksUnderEtcAreFollowedAndTheOutputDirectoryIs0777) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.addDirectory(kWork, 0777, 1000, 1000).addFakeSysctl().set("fs.file-max", "65536");
    node.addFile("/etc/sysctl.d/99-sysctl.conf", "fs.file-max = 65536\n");
    node.addSymlink("/etc/sysctl.conf", "sysctl.d/99-sysctl.conf");
    node.addFile("/var/tmp/doc.xml",
                 vxl_test::fixupDocument(
                     {{"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)CONF(1048576)"}}));
    const NodeResult r = node.runFunction([] {
        ::umask(022);
        return callAndPrint(Call::Run);
    });
    ASSERT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    EXPECT_EQ(r.stdoutText, "0\t" + kOutput + "\tNULL\n");
    EXPECT_EQ(r.fileContent("/etc/sysctl.d/99-sysctl.conf").value_or(""),
              "fs.file-max = 1048576\n");
    const auto link = r.file("/etc/sysctl.conf");
    EXPECT_TRUE(link && link->type == NodeFile::Type::Symlink) << "the link stays a link";
    const auto dir = r.file(kFixupDir);
    EXPECT_TRUE(dir && dir->mode == 0777) << "hosts read the output as another user";
}

}  // namespace
}  // namespace vxl_fixup
