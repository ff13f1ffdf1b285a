#include "util/sFixupUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/Constants.h"
#include "model/FixupException.h"
#include "model/Result.h"
#include "support/ScratchFixture.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class RunnerTest : public vxl_test::ScratchFixture {
protected:
    int run(const std::string& command, bool discard = false) {
        return FixupUtil::runCommand(&command, &result, discard);
    }
    std::string output() const { return result.getOutput() ? *result.getOutput() : "<null>"; }
    Result result;
};

TEST_F(RunnerTest, NullOrEmptyCommandRunsNothing) {
    result.setStatus(WARNING);
    result.setOutput(new std::string("before"));
    const std::string empty;
    EXPECT_EQ(FixupUtil::runCommand(nullptr, &result, false), -1);
    EXPECT_EQ(FixupUtil::runCommand(&empty, &result, false), -1);
    EXPECT_EQ(FixupUtil::runExe(nullptr, {}, &result, false), -1);
    EXPECT_EQ(FixupUtil::runExe(&empty, {}, &result, false), -1);
    EXPECT_EQ(result.getStatus(), WARNING);
    EXPECT_EQ(output(), "before");
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);
}

TEST_F(RunnerTest, OutputExitCodeAndStatusTable) {
    struct Case {
        const char* command;
        int exitCode;
        _STATUS status;
        const char* output;
    } cases[] = {
        {"true", 0, SUCCESSFUL, ""},
        {"printf '\\n\\nA\\n\\nB\\n'", 0, SUCCESSFUL, "A\n\nB"},
        {"printf 'A\\n\\n'", 0, SUCCESSFUL, "A\n"},
        {"printf 'no newline'", 0, SUCCESSFUL, "no newline"},
        {"(echo partial; exit 3)", 3, FAILED, "partial"},
        {"no_such_command_vxl_test", 127, FAILED, ""},
        {"kill -9 $$", 9, FAILED, ""},  // the raw wait status of a killed shell
    };
    for (const Case& c : cases) {
        result.setStatus(c.status == SUCCESSFUL ? FAILED : SUCCESSFUL);  // overwritten
        EXPECT_EQ(run(c.command), c.exitCode) << c.command;
        EXPECT_EQ(result.getStatus(), c.status) << c.command;
        EXPECT_EQ(output(), c.output) << c.command;
        EXPECT_FALSE(TempDir::exists(padPath())) << "scratch pad is consumed";
    }
}

TEST_F(RunnerTest, ErrorPadLinesAreJoinedWithoutSeparator) {
    const std::string command = "(printf 'x\\ny\\n' >&2; exit 1)";
    EXPECT_EQ(run(command), 1);
    ASSERT_EQ(result.getNativeErrorList().size(), 1u);
    const NativeError* e = result.getNativeErrorList()[0];
    EXPECT_EQ(*e->command, command);  // without the redirections
    EXPECT_EQ(*e->details, "xy");
    EXPECT_EQ(e->exitCode, 1);
    EXPECT_FALSE(TempDir::exists(errorPadPath()));
}

TEST_F(RunnerTest, EmptyErrorPadFallsBackToStandardOutput) {
    EXPECT_EQ(run("(echo out; exit 2)"), 2);
    ASSERT_EQ(result.getNativeErrorList().size(), 1u);
    EXPECT_EQ(*result.getNativeErrorList()[0]->details, "out");
    EXPECT_NE(traceText().find("sFixupUtil::readErrorPad - Error pad has no failure details. Set "
                               "the output from scratch pad as native error\n"),
              std::string::npos);
}

TEST_F(RunnerTest, DiscardedStandardErrorWritesNoErrorPad) {
    EXPECT_EQ(run("(echo err >&2; exit 1)", true), 1);
    EXPECT_FALSE(result.hasNativeErrors());
    EXPECT_FALSE(TempDir::exists(errorPadPath()));
    const std::string trace = traceText();
    EXPECT_NE(
        trace.find("Executing command (echo err >&2; exit 1) >" + padPath() + " 2>/dev/null\n"),
        std::string::npos);
    EXPECT_NE(trace.find("Failed to open scratch pad file " + errorPadPath()), std::string::npos);
}

TEST_F(RunnerTest, RunExeChecksPathsButNotBareNames) {
    const std::string missing = work.file("no/such/exe");
    EXPECT_EQ(FixupUtil::runExe(&missing, {}, &result, false), 1);
    EXPECT_EQ(result.getStatus(), FAILED);
    ASSERT_EQ(result.getErrorList().size(), 1u);
    const NLSError* e = result.getErrorList()[0];
    EXPECT_EQ(*e->facility, "Vxlg");
    EXPECT_EQ(*e->messageNumber, "9020");
    ASSERT_EQ(e->arguments.size(), 2u);
    EXPECT_EQ(*e->arguments[0], missing);
    EXPECT_EQ(*e->arguments[1], "node1");
    EXPECT_EQ(traceText().find("Executing command"), std::string::npos);

    const std::string bare = "no_such_program_vxl_test";
    EXPECT_EQ(FixupUtil::runExe(&bare, {}, &result, false), 127);
}

TEST_F(RunnerTest, RunExeComposesParenthesisedLine) {
    const std::string id = "/usr/bin/id";
    const std::string u = "-u", x = "x";
    FixupUtil::runExe(&id, {&u, &x}, &result, false);
    const std::string bin = "/bin/echo";
    EXPECT_EQ(FixupUtil::runExe(&bin, {}, &result, false), 0);
    const std::string trace = traceText();
    EXPECT_NE(trace.find("Executing command (/usr/bin/id  -u x) >" + padPath() + " 2>" +
                         errorPadPath() + "\n"),
              std::string::npos);
    EXPECT_NE(trace.find("Calling runCommandInternal for (/bin/echo )\n"), std::string::npos);
}

TEST_F(RunnerTest, RunExeQuotesTheExecutablePath) {
    const std::string dir = work.file("it's a $(dir)");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string exe = dir + "/tool";
    TempDir::write(exe, "#!/bin/sh\necho ran \"$1\"\n");
    ASSERT_EQ(::chmod(exe.c_str(), 0700), 0);
    const std::string arg = "'one arg'";  // quoted by the caller
    EXPECT_EQ(FixupUtil::runExe(&exe, {&arg}, &result, false), 0);
    EXPECT_EQ(output(), "ran one arg");
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
    EXPECT_NE(traceText().find("Successfully set the environment variable " + two),
              std::string::npos);
    ::unsetenv("VXL_RUNNER_TEST");
}

TEST_F(RunnerTest, ExecLogIsCopiedIntoTraceAndConsumed) {
    const std::string command = "(printf 'first\\n\\nsecond\\n' > " + execLogPath() + ")";
    EXPECT_EQ(run(command), 0);
    EXPECT_FALSE(TempDir::exists(execLogPath()));
    const std::string trace = traceText();
    EXPECT_NE(trace.find("Adding trace from execution of script " + command + "\n" + command +
                         " - first\n" + command + " - second\n"),
              std::string::npos);
}

TEST_F(RunnerTest, PrivateResultWhenCallerPassesNone) {
    const std::string command = "(echo e >&2; exit 4)";
    EXPECT_EQ(FixupUtil::runCommand(&command, nullptr, false), 4);
    const std::string exe = "/bin/echo";
    EXPECT_EQ(FixupUtil::runExe(&exe, {}, nullptr, false), 0);
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
    EXPECT_EQ(run("ls -l /proc/$$/fd"), 0);
    EXPECT_EQ(output().find("vexel_fixup_trace"), std::string::npos) << output();

    // Control: a descriptor opened without close-on-exec does show up.
    const int leaked = ::open(plainOut.c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    EXPECT_EQ(run(list), 0);
    EXPECT_EQ(std::atoi(output().c_str()), plainCount + 1);
    ::close(leaked);
}

TEST_F(RunnerTest, WorkDirectoryWithBlanksAndQuotes) {
    FixupUtil::disposeScratchPad();
    const std::string spaced = work.file("work dir 'q' $(x)");
    ASSERT_EQ(::mkdir(spaced.c_str(), 0700), 0);
    Constants::setWorkDirPath(spaced + "/");
    FixupUtil::initScratchPad();
    EXPECT_EQ(run("echo hi"), 0);
    EXPECT_EQ(output(), "hi");
    EXPECT_EQ(run("(echo bad >&2; exit 5)"), 5);
    ASSERT_EQ(result.getNativeErrorList().size(), 1u);
    EXPECT_EQ(*result.getNativeErrorList()[0]->details, "bad");
    EXPECT_TRUE(TempDir::exists(spaced + "/.fix_scratch"));
    FixupUtil::disposeScratchPad();
    EXPECT_FALSE(TempDir::exists(spaced + "/.fix_scratch"));
    FixupUtil::initScratchPad();  // for TearDown
}

class ScratchPadTest : public vxl_test::ScratchFixture {
protected:
    std::string scratch() const { return work.file(".fix_scratch"); }
};

TEST_F(ScratchPadTest, PathsAndPrivateDirectory) {
    const std::string pid = std::to_string(::getpid());
    EXPECT_EQ(padPath(), scratch() + "/fixup_scratch" + pid);
    EXPECT_EQ(errorPadPath(), scratch() + "/fixup_errpad" + pid);
    EXPECT_EQ(execLogPath(), scratch() + "/exec_log" + pid);
    EXPECT_EQ(*Constants::CURRENT_PROCESS_ID, pid);
    struct stat st {};
    ASSERT_EQ(::lstat(scratch().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    FixupUtil::initScratchPad();  // reused
    EXPECT_EQ(padPath(), scratch() + "/fixup_scratch" + pid);
}

TEST_F(ScratchPadTest, RefusesDirectoriesItCannotTrust) {
    const std::string other = work.file("elsewhere");
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    struct Case {
        const char* name;
        void (*prepare)(const std::string& scratch, const std::string& other);
    } cases[] = {
        {"symlink", [](const std::string& s,
                       const std::string& o) { ASSERT_EQ(::symlink(o.c_str(), s.c_str()), 0); }},
        {"group writable",
         [](const std::string& s, const std::string&) {
             ASSERT_EQ(::mkdir(s.c_str(), 0700), 0);
             ASSERT_EQ(::chmod(s.c_str(), 0770), 0);
         }},
        {"foreign owner",
         [](const std::string& s, const std::string&) {
             ASSERT_EQ(::mkdir(s.c_str(), 0700), 0);
             ASSERT_EQ(::chown(s.c_str(), 12345, 12345), 0);
         }},
        {"plain file", [](const std::string& s, const std::string&) { TempDir::write(s, "x"); }},
    };
    for (const Case& c : cases) {
        FixupUtil::disposeScratchPad();
        c.prepare(scratch(), other);
        try {
            FixupUtil::initScratchPad();
            ADD_FAILURE() << c.name << " accepted";
        } catch (const FixupException& e) {
            EXPECT_EQ(e.what(),
                      "initScratchPad() - Failed to initialize, scratch directory could not be "
                      "created")
                << c.name;
        }
        ASSERT_EQ(::unlink(scratch().c_str()) == 0 || ::rmdir(scratch().c_str()) == 0, true);
    }
    EXPECT_TRUE(TempDir::exists(other));
    FixupUtil::initScratchPad();
}

TEST_F(ScratchPadTest, MissingParentThrows) {
    FixupUtil::disposeScratchPad();
    Constants::setWorkDirPath(work.file("missing/"));
    EXPECT_THROW(FixupUtil::initScratchPad(), FixupException);
    Constants::setWorkDirPath(work.dir());
    FixupUtil::initScratchPad();
}

TEST_F(ScratchPadTest, DisposeRemovesTreeWithoutFollowingLinks) {
    TempDir outside;
    TempDir::write(outside.file("keep"), "k");
    ASSERT_EQ(::mkdir((scratch() + "/sub").c_str(), 0700), 0);
    TempDir::write(scratch() + "/sub/file", "f");
    ASSERT_EQ(::symlink(outside.path().c_str(), (scratch() + "/link").c_str()), 0);
    FixupUtil::disposeScratchPad();
    EXPECT_FALSE(TempDir::exists(scratch()));
    EXPECT_TRUE(TempDir::exists(outside.file("keep")));
    EXPECT_EQ(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr);
    EXPECT_EQ(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, nullptr);
    EXPECT_EQ(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH, nullptr);
    FixupUtil::disposeScratchPad();  // already gone: fine
    FixupUtil::initScratchPad();
}

}  // namespace
}  // namespace vxl_fixup
