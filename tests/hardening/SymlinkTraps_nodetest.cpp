// Traps planted where the library creates files under directories another
// user could write: the work directory (another user's, mode 0777), the
// trace directory, the output directory "fixup", the SSH directory and its
// files, and the published key. Each is refused, or replaced without being
// followed, and nothing is written through it; a link under /etc that an
// administrator made to another file under /etc is still followed. A
// process of the work directory's owner racing a whole run, swapping the
// scratch directory for a link to its own directory full of planted pads,
// changes nothing the run reads or writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <functional>
#include <string>
#include <vector>

#include "hardening/HardeningSupport.h"
#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"

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

// A run (vxlRunFixup; with AutoRun vxlRunAutoFixup, traces in kTraces) or an
// SSH operation.
enum class Call { Run, AutoRun, GENERATE, REUSE, UPDATE, REFRESH };

// Inside the node: one call in the work directory given, printed as
// "rc<TAB>text<TAB>error" (text: the output path of a run, the result text of
// an SSH call; "NULL" when unset).
void callAndPrint(Call call, const std::string& workDir = kWork) {
    if (call != Call::Run && call != Call::AutoRun) {
        const char* ops[] = {"GENERATE", "REUSE", "UPDATE", "REFRESH"};
        vxl_test::callSsh({ops[static_cast<int>(call) - 2], "node1", workDir.c_str(),
                           "/var/tmp/keys.in", "authorized_keys"});
        return;
    }
    std::string work = workDir, node = "node1", data = "/var/tmp/doc.xml", traces = kTraces;
    vxlfixup record{&work[0], &data[0], &node[0], nullptr, nullptr, nullptr, 0};
    int rc = 0;
    if (call == Call::Run) {
        rc = vxlRunFixup(&record);
    } else {
        record.traceDir = &traces[0];
        const std::string document =
            vxl_test::fixupDocument({{"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)"}});
        rc = vxlRunAutoFixup(&record, &document);
    }
    std::printf("%d\t%s\t%s\n", rc, record.outputFile ? record.outputFile : "NULL",
                record.errorMessage ? record.errorMessage : "NULL");
    vxlFixupMemFree(record.outputFile);
    vxlFixupMemFree(record.errorMessage);
    std::fflush(stdout);
}

std::string refusedRun(const std::string& what) {
    return "caught FixupException error is {Refused to use the " + what + "}";
}

template <class... Arguments>
std::string sshMessage(const std::string& op, const std::string& id, const Arguments&... args) {
    std::string text = "<" + op + "><NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA>";
    for (const std::string& a : {std::string(args)...}) text += "<DATA>" + a + "</DATA>";
    return text + "</MSG_DATA><FACILITY>Vxlg</FACILITY><ID>" + id + "</ID></NLS_MSG></" + op + ">";
}

struct Trap {
    const char* what;
    Call call;
    std::function<void(TestNode&)> plant;
    int rc;
    std::string text;                         // the call's text starts so ("NULL": none)
    std::string errorMessage;                 // "NULL": none
    std::vector<std::string> mayChange = {};  // path prefixes the call may write
    std::function<void()> plantInNode = {};   // for what plant cannot make
    std::string workDir = kWork;              // the work directory the call is given
    bool runsNothing = false;                 // no task may run a command first

    Trap& writes(const std::string& prefix) {
        mayChange.push_back(prefix);
        return *this;
    }
    Trap& inNode(std::function<void()> make) {
        plantInNode = std::move(make);
        return *this;
    }
    Trap& in(const std::string& dir) {
        workDir = dir;
        return *this;
    }
    Trap& beforeAnyCommand() {
        runsNothing = true;
        return *this;
    }
};

// A work directory that is another user's link to /etc.
const std::string kLinkedWork = "/var/tmp/linked/";
void plantForeignWorkLink() {
    ::symlink("/etc", "/var/tmp/linked");
    ::lchown("/var/tmp/linked", 1000, 1000);
}
const std::string kForeignLink =
    "directory (" + kLinkedWork + "): /var/tmp/linked is a symbolic link of another user.";

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
    const std::string notKeys =
        "Refused to update the authorized_keys file at location " + keys + ": it is ";
    const std::string link40 = "Too many levels of symbolic links";
    const std::string notOwner = "Operation not permitted";
    const std::string autoRefused = "caught FixupException. error is {Refused to use the ";
    const std::string ssh = kHome + "/.ssh";
    const std::vector<Trap> traps = {
        Trap{"trace log linked to a root file", Call::Run, link(kTrace, kSecret), 1, "NULL",
             refusedRun("trace file (" + kTrace + "): it is a symbolic link.")},
        Trap{"trace log linked, SSH call", Call::GENERATE, link(kTrace, kSecret), 1, "NULL",
             "Refused to use the trace file (" + kTrace + "): it is a symbolic link."},
        Trap{"trace directory's log linked", Call::AutoRun,
             link(kTraces + "vexel_fixup_trace_0.log", kSecret), 1, "NULL",
             autoRefused + "trace file (" + kTraces +
                 "vexel_fixup_trace_0.log): it is a symbolic link.}"},
        Trap{"trace log a FIFO", Call::Run, nothing, 1, "NULL",
             refusedRun("trace file (" + kTrace + "): it is not a regular file.")}
            .inNode([] { ::mkfifo(kTrace.c_str(), 0666); }),
        Trap{"trace log a hard link to a root file", Call::Run, nothing, 1, "NULL",
             refusedRun("trace file (" + kTrace + "): it has more than one name.")}
            .inNode([] { ::link(kSecret.c_str(), kTrace.c_str()); })
            .writes(kSecret),
        Trap{"output directory linked to /etc", Call::Run, link(kFixupDir, "/etc"), 1, "NULL",
             refusedRun("output directory (" + kFixupDir + "): it is a symbolic link.")}
            .writes(kTrace),
        Trap{"output directory a file", Call::AutoRun,
             [](TestNode& n) { n.addFile(kFixupDir, "x\n", 0666, 1000); }, 1, "NULL",
             autoRefused + "output directory (" + kFixupDir + "): it is not a directory.}"}
            .writes(kTraces),
        Trap{
            "output document linked to a root file", Call::Run,
            [](TestNode& n) { n.addDirectory(kFixupDir, 0777, 1000).addSymlink(kOutput, kSecret); },
            0, kOutput, "NULL"}
            .writes(kWork),
        Trap{"scratch directory linked to /etc", Call::Run, link(kWork + ".fix_scratch", "/etc"), 1,
             "NULL", scratchRefused}
            .writes(kWork),
        Trap{"scratch directory of another user", Call::Run,
             [](TestNode& n) { n.addDirectory(kWork + ".fix_scratch", 0700, 1000); }, 1, "NULL",
             scratchRefused}
            .writes(kWork),
        Trap{"work directory another user's link to /etc", Call::Run, nothing, 1, "NULL",
             refusedRun("work " + kForeignLink)}
            .inNode(plantForeignWorkLink)
            .in(kLinkedWork),
        Trap{"work directory another user's link, in memory", Call::AutoRun, nothing, 1, "NULL",
             autoRefused + "work " + kForeignLink + "}"}
            .inNode(plantForeignWorkLink)
            .in(kLinkedWork)
            .writes(kTraces),  // the reason, in the trace directory given
        Trap{"work directory another user's link, SSH call", Call::GENERATE, nothing, 1, "NULL",
             "Refused to use the work " + kForeignLink}
            .inNode(plantForeignWorkLink)
            .in(kLinkedWork),
        Trap{"output document's place taken by a directory", Call::Run,
             [](TestNode& n) {
                 n.addDirectory(kFixupDir, 0777, 1000).addDirectory(kOutput, 0755, 1000);
             },
             1, "NULL",
             "caught XmlParserException error is {failed to open a file at location " + kOutput +
                 ": Is a directory}"}
            .writes(kWork)
            .beforeAnyCommand(),
        Trap{"published key linked to a root file", Call::GENERATE, link(kPublished, kSecret), 0,
             "<GENERATE><PUB_KEY_PUB_LOC>", "NULL"}
            .writes(kWork)
            .writes(kHome),
        Trap{"published key linked, reuse", Call::REUSE,
             [](TestNode& n) {
                 n.addDirectory(kSsh, 0700).addFile(kSsh + "id_rsa.pub", "ssh-rsa A t@old\n");
                 n.addSymlink(kPublished, kSecret);
             },
             0, "<REUSE><PUB_KEY_PUB_LOC>", "NULL"}
            .writes(kWork),
        Trap{"SSH directory linked", Call::UPDATE, link(ssh, "/etc"), 1,
             sshMessage("UPDATE", "9077", ssh, "node1", link40), badDir + "it is a symbolic link."}
            .writes(kWork),
        Trap{"SSH directory of another user", Call::GENERATE,
             [&](TestNode& n) { n.addDirectory(ssh, 0700, 1000, 1000); }, 1,
             sshMessage("GENERATE", "9077", ssh, "node1", notOwner),
             badDir + "it is not owned by the current user."}
            .writes(kWork),
        Trap{"SSH directory writable by all", Call::UPDATE,
             [&](TestNode& n) { n.addDirectory(ssh, 0777); }, 1,
             sshMessage("UPDATE", "9077", ssh, "node1", notOwner),
             badDir + "other users can write to it."}
            .writes(kWork),
        Trap{"key list linked", Call::UPDATE,
             [&](TestNode& n) { n.addDirectory(kSsh, 0700).addSymlink(keys, kSecret); }, 1,
             sshMessage("UPDATE", "9081", keys, "node1", link40), notKeys + "a symbolic link."}
            .writes(kWork),
        Trap{"key list of another user", Call::UPDATE,
             [&](TestNode& n) { n.addDirectory(kSsh, 0700).addFile(keys, "x\n", 0600, 1000); }, 1,
             sshMessage("UPDATE", "9081", keys, "node1", notOwner),
             notKeys + "not owned by the current user."}
            .writes(kWork),
        Trap{"node key linked", Call::REFRESH,
             [](TestNode& n) {
                 n.addDirectory(kSsh, 0700).addSymlink(kSsh + "node1.id_rsa", kSecret);
             },
             1,
             sshMessage("REFRESH", "9087", kSsh + "node1.id_rsa", kSsh + "id_rsa", "node1", link40),
             "Refused to use the key file " + kSsh + "node1.id_rsa: it is a symbolic link."}
            .writes(kWork),
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
        trap.plant(node);
        const std::function<void()> plant = trap.plantInNode;
        const Call call = trap.call;
        const std::string workDir = trap.workDir;
        const NodeResult r = node.runFunction([plant, call, workDir] {
            if (plant) plant();
            callAndPrint(call, workDir);
            return 0;
        });
        ASSERT_EQ(r.exitCode, 0) << trap.what << r.setupError << r.stderrText;
        const std::vector<vxl_test::SshReply> replies = vxl_test::sshReplies(r);
        ASSERT_EQ(replies.size(), 1u) << trap.what << ": " << r.stdoutText;
        EXPECT_EQ(replies[0].rc, trap.rc) << trap.what;
        EXPECT_EQ(replies[0].errorMessage, trap.errorMessage) << trap.what;
        EXPECT_EQ(replies[0].resultText.rfind(trap.text, 0), 0u)
            << trap.what << ": " << replies[0].resultText;
        EXPECT_EQ(r.fileContent(kSecret).value_or(""), "secret\n") << trap.what;
        if (trap.runsNothing) {
            EXPECT_TRUE(r.commandLog().empty()) << trap.what << ": a task ran";
        }
        const auto secret = r.file(kSecret);
        EXPECT_TRUE(secret && secret->mode == 0600) << trap.what;
        for (const std::string& path : r.changedFiles()) {
            // what plantInNode made
            bool allowed = plant && (path == kTrace || path == "/var/tmp/linked");
            for (const std::string& prefix : trap.mayChange) {
                allowed = allowed || path.rfind(prefix, 0) == 0;
            }
            EXPECT_TRUE(allowed) << trap.what << ": wrote " << path;
        }
        if (trap.rc == 0 && (call == Call::Run || call == Call::GENERATE || call == Call::REUSE)) {
            const std::string written = call == Call::Run ? kOutput : kPublished;
            const auto f = r.file(written);
            EXPECT_TRUE(f && f->type == NodeFile::Type::Regular) << trap.what << ": " << written;
        }
    }
}

TEST(SymlinkTrapsNodeTest, AdministratorsLinksUnderEtcAreFollowedAndTheOutputDirectoryIsSticky) {
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
        callAndPrint(Call::Run);
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    EXPECT_EQ(r.stdoutText, "0\t" + kOutput + "\tNULL\n");
    EXPECT_EQ(r.fileContent("/etc/sysctl.d/99-sysctl.conf").value_or(""),
              "fs.file-max = 1048576\n");
    const auto link = r.file("/etc/sysctl.conf");
    EXPECT_TRUE(link && link->type == NodeFile::Type::Symlink) << "the link stays a link";
    const auto dir = r.file(kFixupDir);
    EXPECT_TRUE(dir && dir->mode == 01777)
        << "hosts read the output as another user; nobody else may replace it";
}

const std::string kRaceSecret = "/root/race-secret";
const std::string kAttacker = "/var/tmp/attacker/";
constexpr int kRaceInstances = 60;

// The work directory's owner, as fast as it can until stop appears (at
// most 30 s): moves the scratch directory aside, puts a link to its own
// directory in its place and keeps the pad names there as links to a root
// file. Prints how many times it swapped the directory.
void raceScratchDirectory(pid_t runner, const std::string& stop) {
    if (::setgid(1000) != 0 || ::setuid(1000) != 0) ::_exit(2);

    const std::string scratch = kWork + ".fix_scratch", pid = std::to_string(runner);
    const std::string pads[] = {"fixup_scratch" + pid, "fixup_errpad" + pid, "exec_log" + pid};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    long swaps = 0;
    while (::access(stop.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline) {
        // Only the run's own directory is moved aside: a link there before
        // the run starts would only make the run refuse it.
        struct stat st {};
        if (::lstat(scratch.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            ::rename(scratch.c_str(), (scratch + ".moved" + std::to_string(swaps)).c_str()) == 0) {
            ++swaps;
            ::symlink(kAttacker.c_str(), scratch.c_str());
        }
        for (const std::string& pad : pads) ::symlink(kRaceSecret.c_str(), (kAttacker + pad).c_str());
        std::this_thread::yield();
    }
    std::printf("swaps %ld\n", swaps);
    std::fflush(stdout);
    ::_exit(0);
}

TEST(SymlinkTrapsNodeTest, ARaceForTheScratchDirectoryChangesNothingTheRunReadsOrWrites) {
    VXL_REQUIRE_TEST_NODE();
    TestNode node;
    node.setTimeout(std::chrono::seconds(120));
    node.addDirectory(kWork, 0777, 1000, 1000).addDirectory(kAttacker, 0755, 1000, 1000);
    std::string secret;
    for (int i = 0; i < 50; ++i) secret += "race-secret-line " + std::to_string(i) + "\n";
    node.addFile(kRaceSecret, secret, 0600);
    node.addFakeSysctl().set("fs.file-max", "65536");
    const std::vector<vxl_test::DocInstance> instances(
        kRaceInstances, {"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)"});
    node.addFile("/var/tmp/doc.xml", vxl_test::fixupDocument(instances));
    const NodeResult r = node.runFunction([] {
        const std::string stop = "/var/tmp/race.stop";
        const pid_t runner = ::getpid();
        ::chmod("/", 0755);  // the node's root is private to root; other users pass it on a host
        std::fflush(stdout);
        const pid_t racer = ::fork();
        if (racer == 0) raceScratchDirectory(runner, stop);
        // Gives the racer a head start, so the first commands race it too.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        callAndPrint(Call::Run);
        ::close(::open(stop.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        int status = 0;
        ::waitpid(racer, &status, 0);
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    EXPECT_NE(r.stdoutText.find("0\t" + kOutput + "\tNULL\n"), std::string::npos) << r.stdoutText;
    const std::size_t at = r.stdoutText.find("swaps ");
    ASSERT_NE(at, std::string::npos) << r.stdoutText;
    EXPECT_GT(std::atol(r.stdoutText.c_str() + at + 6), 0L) << "the racer never swapped\n" << r.stdoutText;
    EXPECT_EQ(r.fileContent(kRaceSecret).value_or(""), secret) << "root wrote through a planted pad";
    const std::string trace = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_EQ(trace.find("race-secret-line"), std::string::npos) << "root read a planted pad";
    const std::string output = r.fileContent(kOutput).value_or("");
    std::size_t successes = 0;
    for (std::size_t p = output.find(">SUCCESSFUL<"); p != std::string::npos;
         p = output.find(">SUCCESSFUL<", p + 1)) {
        ++successes;
    }
    EXPECT_EQ(successes, static_cast<std::size_t>(kRaceInstances)) << output;
    std::printf("[ race     ] %d instances raced by %s", kRaceInstances, r.stdoutText.c_str() + at);
}

}  // namespace
}  // namespace vxl_fixup
