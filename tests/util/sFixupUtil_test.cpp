#include "util/sFixupUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "engine/Constants.h"
#include "model/FixupException.h"
#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "support/Shell.h"
#include "util/DirectStart.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {
namespace {

using vxl_test::onlyError;
using vxl_test::TempDir;

// What a run records of one command.
std::string outcome(int exitCode, const Result& r) {
    std::string text = std::to_string(exitCode) + "|" + statusToString(r.getStatus()) + "|" +
                       (r.getOutput() ? *r.getOutput() : "<null>");
    for (const NativeError* e : r.getNativeErrorList()) {
        text += "|" + std::to_string(e->exitCode) + ":" + (e->details ? *e->details : "<null>");
    }
    return text;
}

class RunnerTest : public vxl_test::ScratchFixture {
protected:
    int run(const std::string& command, bool discard = false) {
        return FixupUtil::runCommand(&command, &result, discard);
    }
    std::string output() const { return result.getOutput() ? *result.getOutput() : "<null>"; }
    Result result;
};

TEST_F(RunnerTest, BadArgumentsRunNothingAndLeaveTheResult) {
    result.setStatus(WARNING);
    result.setOutput(new std::string("before"));
    const std::string empty;
    EXPECT_EQ(FixupUtil::runCommand(nullptr, &result, false), -1);
    EXPECT_EQ(FixupUtil::runCommand(&empty, &result, false), -1);
    EXPECT_EQ(FixupUtil::runExe(nullptr, {}, &result, false), -1);
    EXPECT_EQ(FixupUtil::runExe(&empty, {}, &result, false), -1);
    EXPECT_EQ(result.getStatus(), WARNING);
    EXPECT_EQ(output(), "before");
    // Without a caller's result the runner uses a private one.
    const std::string command = "(echo e >&2; exit 4)", exe = "/bin/echo";
    EXPECT_EQ(FixupUtil::runCommand(&command, nullptr, false), 4);
    EXPECT_EQ(FixupUtil::runExe(&exe, {}, nullptr, false), 0);
}

// Exit code, status, output and native error as the scratch and error pads
// deliver them, the same when the program starts directly and through
// /bin/sh (a second pair of parentheses is shell syntax, which the runner
// never starts directly). Texts the shell words itself are compared only.
// The host ignores SIGINT and SIGQUIT meanwhile: as with system(), commands
// then ignore them too.
TEST_F(RunnerTest, OutcomesAreTheSameStartedDirectlyOrThroughTheShell) {
    const std::string tools = work.file("tools it's");
    ASSERT_EQ(::mkdir(tools.c_str(), 0700), 0);
    TempDir::write(tools + "/noexec", "echo never\n");
    TempDir::write(tools + "/script", "echo script \"$#\" \"$1\" \"$PWD\"\n");  // no #! line
    ASSERT_EQ(::chmod((tools + "/script").c_str(), 0755), 0);
    const auto sh = [](const std::string& script) {
        return "(/bin/sh  -c " + shellQuote(script) + ")";
    };
    const struct {
        std::string command;
        bool discardStdErr;
        const char* outcome;           // null: as the shell has it
        const char* throughShell = {};  // null: the same as started directly
    } cases[] = {
        {sh("true"), false, "0|SUCCESSFUL|"},
        {sh("printf '\\n\\nA\\n\\nB\\n'"), false, "0|SUCCESSFUL|A\n\nB"},
        {sh("printf 'A\\n\\n'"), false, "0|SUCCESSFUL|A\n"},
        {sh("printf 'no newline'"), false, "0|SUCCESSFUL|no newline"},
        {sh("printf 'x\\ny\\n' >&2; exit 1"), false, "1|FAILED||1:xy"},     // lines joined
        {sh("echo partial; exit 3"), false, "3|FAILED|partial|3:partial"},  // empty error pad
        {sh("echo err >&2; exit 1"), true, "1|FAILED|"},
        {sh("echo out; echo err >&2; exit 3"), false, "3|FAILED|out|3:err"},
        // A direct start sees the signal; through the shell it is 128+N, and
        // the shell's own word for it lands in the error pad too.
        {sh("kill -9 $$"), false, "137|FAILED||137:killed by signal 9", "137|FAILED||137:Killed"},
        {sh("echo said >&2; kill -TERM $$"), false, "143|FAILED||143:said (killed by signal 15)",
         "143|FAILED||143:saidTerminated"},
        {sh("kill -INT $$; echo survived"), false, "0|SUCCESSFUL|survived"},
        {sh("kill -QUIT $$; echo survived"), false, "0|SUCCESSFUL|survived"},
        {"/bin/sh -c 'exit 200'", false, "200|FAILED||200:"},
        {"(/bin/echo  plain 'it'\\''s' '' \"a \\$b \\\"c\\\" \\\\d\")", false,
         "0|SUCCESSFUL|plain it's  a $b \"c\" \\d"},
        {"(" + shellQuote(tools + "/missing") + "  -x)", false, nullptr},
        {"(" + shellQuote(tools + "/noexec") + " )", false, nullptr},
        {"(" + shellQuote(tools) + " )", false, nullptr},
        {"(" + shellQuote(tools + "/script") + "  'one arg')", false, nullptr},
    };
    struct sigaction ignore {}, oldInt{}, oldQuit{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &oldInt), 0);
    ASSERT_EQ(::sigaction(SIGQUIT, &ignore, &oldQuit), 0);
    for (const auto& c : cases) {
        std::vector<std::string> words;
        ASSERT_TRUE(directStartWords(c.command, words)) << c.command;
        const std::string commands[] = {c.command, "(" + c.command + ")"};
        std::string outcomes[2];
        for (int i = 0; i < 2; ++i) {
            const std::string& command = commands[i];
            // An error pad left by an earlier command would be reported by a
            // failure whose error goes nowhere: each starts without one.
            FixupUtil::deleteFileIfExists(&errorPadPath());
            Result r;
            r.setStatus(WARNING);  // overwritten
            const int exitCode = FixupUtil::runCommand(&command, &r, c.discardStdErr);
            outcomes[i] = outcome(exitCode, r);
            EXPECT_FALSE(TempDir::exists(padPath())) << "output pad consumed";
            EXPECT_FALSE(exitCode != 0 && TempDir::exists(errorPadPath())) << "error pad consumed";
            for (const NativeError* e : r.getNativeErrorList()) {
                EXPECT_EQ(*e->command, command) << "without the redirections";
            }
        }
        EXPECT_EQ(outcomes[0], c.outcome ? c.outcome : outcomes[1]) << c.command;
        EXPECT_EQ(outcomes[1], c.throughShell ? c.throughShell : outcomes[0]) << c.command;
    }
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGQUIT, &oldQuit, nullptr);
}

void countSignal(int) {}

// A host that handles SIGINT or SIGQUIT leaves commands the default: the
// signal ends them, started directly or through the shell.
TEST_F(RunnerTest, CommandsOfAHostThatHandlesInterruptsTakeTheDefault) {
    for (const int signal : {SIGINT, SIGQUIT}) {
        struct sigaction handle {}, old{};
        handle.sa_handler = countSignal;
        ASSERT_EQ(::sigaction(signal, &handle, &old), 0);
        const std::string name = signal == SIGINT ? "INT" : "QUIT";
        const std::string direct = "(/bin/sh  -c " + shellQuote("kill -" + name + " $$; echo survived") + ")";
        const std::string code = std::to_string(128 + signal);
        for (const std::string& command : {direct, "(" + direct + ")"}) {
            Result r;
            const std::string got = outcome(FixupUtil::runCommand(&command, &r, false), r);
            EXPECT_EQ(got.substr(0, code.size() + 8), code + "|FAILED|") << command;
        }
        ::sigaction(signal, &old, nullptr);
    }
    // What only a shell line can do: a bare name it cannot find, and the
    // raw wait status of the shell itself killed.
    for (const auto& [command, expected] :
         {std::pair{"no_such_command_vxl_test", "127|FAILED||127:"},
          {"kill -9 $$", "9|FAILED||9:killed by signal 9"}}) {
        const std::string line = command;
        Result r;
        const std::string got = outcome(FixupUtil::runCommand(&line, &r, false), r);
        EXPECT_EQ(got.substr(0, std::string(expected).size()), expected) << got;
    }
}

// Each failed command reports its own error, never a pad an earlier one left.
TEST_F(RunnerTest, FailuresReportTheirOwnErrorNeverALeftover) {
    EXPECT_EQ(run("(echo leftover >&2; echo 65536)"), 0);  // its error pad stays unread
    EXPECT_EQ(run("(echo mine >&2; exit 2)", true), 2);
    EXPECT_TRUE(result.getNativeErrorList().empty()) << "the discarded error is not the leftover";
    // A line no shell can take: the start failure itself is the error.
    const std::string exe = "/bin/echo", huge(25u << 20, 'x');
    Result& big = result;
    EXPECT_EQ(FixupUtil::runExe(&exe, {&huge}, &big, false), -1);
    EXPECT_EQ(output(), "") << "no output of an earlier command";
    EXPECT_TRUE(big.isFailed());
    ASSERT_EQ(big.getNativeErrorList().size(), 1u);
    EXPECT_EQ(*big.getNativeErrorList()[0]->details,
              "/bin/sh: cannot start the command: Argument list too long");
}

// Without its scratch pad a command does not run, and says so.
TEST_F(RunnerTest, WithoutTheScratchPadNothingRunsAndTheReasonIsRecorded) {
    const std::string marker = work.file("ran"), command = "(/usr/bin/touch " + marker + ")";
    FixupUtil::disposeScratchPad();
    EXPECT_EQ(outcome(FixupUtil::runCommand(&command, &result, false), result),
              "-1|FAILED|<null>|-1:the scratch pad is not set up");
    EXPECT_FALSE(TempDir::exists(marker));
    FixupUtil::initScratchPad();
}

TEST_F(RunnerTest, RunExeChecksPathsButNotBareNames) {
    const std::string missing = work.file("no/such/exe"), bare = "no_such_program_vxl_test";
    EXPECT_EQ(FixupUtil::runExe(&missing, {}, &result, false), 1);
    EXPECT_EQ(result.getStatus(), FAILED);
    EXPECT_EQ(onlyError(result), "Vxlg|9020|" + missing + "|node1");
    EXPECT_EQ(FixupUtil::runExe(&bare, {}, &result, false), 127);
}

TEST_F(RunnerTest, EnvironmentEntriesStaySetAndReuseTheirBuffer) {
    const std::string command = "printenv VXL_RUNNER_TEST";
    const std::string one = "VXL_RUNNER_TEST=one", two = "VXL_RUNNER_TEST=two", empty;
    EXPECT_EQ(FixupUtil::runCommand(&command, {nullptr, &empty, &one}, &result, false), 0);
    EXPECT_EQ(output(), "one");
    const char* first = std::getenv("VXL_RUNNER_TEST");
    FixupUtil::runCommand(&command, {&one}, &result, false);
    EXPECT_EQ(std::getenv("VXL_RUNNER_TEST"), first) << "same entry, same buffer";
    FixupUtil::runCommand(&command, {&two}, &result, false);
    EXPECT_EQ(output(), "two");
    EXPECT_STREQ(std::getenv("VXL_RUNNER_TEST"), "two");
    ::unsetenv("VXL_RUNNER_TEST");
}

TEST_F(RunnerTest, ExecLogIsCopiedIntoTraceAndConsumed) {
    const std::string command = "(printf 'first\\n\\nsecond\\n' > " + execLogPath() + ")";
    EXPECT_EQ(run(command), 0);
    EXPECT_FALSE(TempDir::exists(execLogPath()));
    EXPECT_NE(traceText().find("Adding trace from execution of script " + command + "\n" + command +
                               " - first\n" + command + " - second\n"),
              std::string::npos);
}

// The library's own descriptors (the trace file here) must not reach commands.
TEST_F(RunnerTest, CommandsInheritNoLibraryDescriptor) {
    const std::string list = "(ls -l /proc/$$/fd | grep -c -- '->')";
    const std::string plainOut = work.file("plain");
    Trace::close();
    ASSERT_EQ(std::system((list + " >" + plainOut).c_str()), 0);
    const int plainCount = std::atoi(TempDir::read(plainOut).c_str());

    FixupUtil::trace("test", "trace file is open now");
    EXPECT_EQ(run(list), 0);
    EXPECT_EQ(std::atoi(output().c_str()), plainCount);

    // Control: a descriptor opened without close-on-exec does show up.
    const int leaked = ::open(plainOut.c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    EXPECT_EQ(run(list), 0);
    EXPECT_EQ(std::atoi(output().c_str()), plainCount + 1);
    ::close(leaked);
}

// The environment the program sees is the one the shell would pass on, also
// with names the shell sets itself or cannot take (set in a child).
int sameEnvironmentBothWays(void*) {
    const auto sortedEnv = [](const std::string& command) {
        Result r;
        FixupUtil::runCommand(&command, &r, false);
        std::vector<std::string> lines = FixupUtil::splitStringByDelim(*r.getOutput(), "\n");
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    for (const auto& [name, value] : {std::pair{"PWD", "relative"},
                                      {"IFS", "x"},
                                      {"OPTIND", "7"},
                                      {"PPID", "1"},
                                      {"VXL-DASHED", "no"},
                                      {"VXL_PLAIN", "a b\nc"}}) {
        ::setenv(name, value, 1);
    }
    return sortedEnv("(/usr/bin/env )") == sortedEnv("((/usr/bin/env ))") ? 0 : 1;
}

TEST_F(RunnerTest, DirectStartPassesTheShellsEnvironment) {
    EXPECT_EQ(vxl_test::runInChild(sameEnvironmentBothWays, nullptr), 0);
}

// One process per command: the program is a child of this process, with no
// shell in between, unless the line needs the shell.
TEST_F(RunnerTest, PlainCommandsStartWithoutAShell) {
    const std::string exe = "/bin/sh", option = "-c", script = shellQuote("echo $PPID");
    EXPECT_EQ(FixupUtil::runExe(&exe, {&option, &script}, &result, false), 0);
    EXPECT_EQ(output(), std::to_string(::getpid()));
    EXPECT_EQ(run("(/bin/sh  -c 'echo $PPID') | /bin/cat"), 0);
    EXPECT_NE(output(), std::to_string(::getpid()));
}

// The pads' and the program's paths go on shell lines: a directory with
// blanks, quotes and a substitution holds them all the same, for the shell
// and a direct start, and nothing is written beside the pads.
TEST_F(RunnerTest, PadsWorkInAWorkDirectoryWithBlanksQuotesAndASubstitution) {
    const std::string dir = work.file("work dir 'q' $(x)");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    FixupUtil::disposeScratchPad();
    Constants::setWorkDirPath(dir + "/");
    FixupUtil::initScratchPad();
    const std::string script = "echo out; echo first >&2; echo second >&2; exit 3";
    for (const std::string& command :
         {"(" + script + ")", "(/bin/sh  -c " + shellQuote(script) + ")"}) {
        Result r;
        EXPECT_EQ(outcome(FixupUtil::runCommand(&command, &r, false), r),
                  "3|FAILED|out|3:firstsecond")
            << command;
    }
    const std::string exe = dir + "/tool", arg = "'one arg'";  // quoted by the caller
    TempDir::write(exe, "#!/bin/sh\necho ran \"$1\"\n");
    ASSERT_EQ(::chmod(exe.c_str(), 0700), 0);
    EXPECT_EQ(FixupUtil::runExe(&exe, {&arg}, &result, false), 0);
    EXPECT_EQ(output(), "ran one arg");
    FixupUtil::disposeScratchPad();
    EXPECT_EQ(TempDir::list(dir), std::vector<std::string>{"tool"});
    EXPECT_EQ(TempDir::list(work.path()),
              (std::vector<std::string>{"vexel_fixup_trace_0.log", "work dir 'q' $(x)"}));
}

class ScratchPadTest : public vxl_test::ScratchFixture {
protected:
    std::string scratch() const { return work.file(".fix_scratch"); }
};

TEST_F(ScratchPadTest, RefusesDirectoriesItCannotTrust) {
    const std::string other = work.file("elsewhere"), s = scratch();
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    for (const std::string kind : {"symlink", "group writable", "foreign owner", "plain file"}) {
        FixupUtil::disposeScratchPad();
        if (kind == "symlink") {
            ASSERT_EQ(::symlink(other.c_str(), s.c_str()), 0);
        } else if (kind == "plain file") {
            TempDir::write(s, "x");
        } else {
            ASSERT_EQ(::mkdir(s.c_str(), 0700), 0);
            const bool groupWritable = kind == "group writable";
            ASSERT_EQ(groupWritable ? ::chmod(s.c_str(), 0770) : ::chown(s.c_str(), 12345, 12345),
                      0);
        }
        EXPECT_THROW(FixupUtil::initScratchPad(), FixupException) << kind;
        ASSERT_TRUE(::unlink(s.c_str()) == 0 || ::rmdir(s.c_str()) == 0) << kind;
    }
    EXPECT_TRUE(TempDir::exists(other));
    Constants::setWorkDirPath(work.file("missing/"));
    EXPECT_THROW(FixupUtil::initScratchPad(), FixupException) << "missing parent";
    Constants::setWorkDirPath(work.dir());
    FixupUtil::initScratchPad();
}

TEST_F(ScratchPadTest, PrivatePerProcessDirectoryIsReusedThenDisposed) {
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(padPath(), scratch() + "/fixup_scratch" + pid);
    struct stat st {};
    ASSERT_EQ(::lstat(scratch().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    FixupUtil::initScratchPad();  // reused
    TempDir::write(padPath(), "left over");
    FixupUtil::disposeScratchPad();
    EXPECT_FALSE(TempDir::exists(scratch()));
    FixupUtil::disposeScratchPad();  // already gone: fine
    FixupUtil::initScratchPad();
}

}  // namespace
}  // namespace vxl_fixup
