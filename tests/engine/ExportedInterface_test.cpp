// The shared library exports exactly the host interface and loads without any
// symbol from its host; a run that fails part-way leaves nothing behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "engine/Constants.h"
#include "model/RunObjects.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "vxlfixup/vxlfixup.h"

namespace {

using vxl_fixup::Constants;
using vxl_test::TempDir;

// Defined dynamic symbols of the library: exactly the host interface. It
// loads with every symbol bound (nothing wanted from a host), its texts are
// pointers to their texts, and it refuses a missing input before anything runs.
TEST(ExportedInterfaceTest, OnlyTheHostInterfaceIsExportedAndLoadsOnItsOwn) {
    const vxl_test::ShellRun nm =
        vxl_test::runShell(std::string("nm -D --defined-only ") + VXL_SHARED_LIBRARY_PATH);
    ASSERT_EQ(nm.exitCode, 0) << nm.output;
    std::set<std::string> symbols;
    std::istringstream lines(nm.output);
    for (std::string address, type, name; lines >> address >> type >> name;) {
        if (std::string("TWDBVi").find(type) != std::string::npos) symbols.insert(name);
    }
    EXPECT_EQ(symbols, (std::set<std::string>{
                           "vxlRunFixup", "vxlFixupMemFree",
                           "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_"
                           "traitsIcESaIcEEE",
                           "vxlSetupUserEquivalence", "RSA_KEY_FILE_NAME", "SSH_KEYGEN_CMD",
                           "SSH_AGENT_CMD", "SSH_ADD_CMD"}));

    void* handle = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const std::pair<const char*, const char*> texts[] = {{"RSA_KEY_FILE_NAME", "id_rsa"},
                                                         {"SSH_KEYGEN_CMD", "/usr/bin/ssh-keygen"},
                                                         {"SSH_AGENT_CMD", "/usr/bin/ssh-agent"},
                                                         {"SSH_ADD_CMD", "/usr/bin/ssh-add"}};
    for (const auto& [name, text] : texts) {
        auto* symbol = static_cast<const char* const*>(::dlsym(handle, name));
        ASSERT_NE(symbol, nullptr) << name;
        EXPECT_STREQ(*symbol, text) << name;
    }
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(handle, "vxlFixupMemFree"));
    auto run = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(handle, "vxlRunFixup"));
    ASSERT_TRUE(memFree && run);
    memFree(nullptr);
    EXPECT_EQ(run(nullptr), 1);
    // Each input vxlRunFixup reads, null in turn.
    char text[] = "/nonexistent/";
    for (int nullField = 0; nullField < 3; ++nullField) {
        vxlfixup record{};
        record.workDir = nullField == 0 ? nullptr : text;
        record.dataFile = nullField == 1 ? nullptr : text;
        record.nodeName = nullField == 2 ? nullptr : text;
        EXPECT_EQ(run(&record), 1);
        ASSERT_NE(record.errorMessage, nullptr);
        EXPECT_STREQ(record.errorMessage,
                     "caught FixupException error is {vxlRunFixup() - a required input of the "
                     "fix-up record is null}");
        memFree(record.errorMessage);
        EXPECT_EQ(record.outputFile, nullptr);
    }
    ::dlclose(handle);
}

// Descriptors of this process open on a trace file.
int openTraceFiles() {
    int count = 0;
    for (const std::string& fd : TempDir::list("/proc/self/fd")) {
        char target[4096] = {};
        ::readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1);
        count += std::strstr(target, "vexel_fixup_trace") != nullptr;
    }
    return count;
}

// A failure strikes after the scratch directory, the parser (for vxlRunFixup
// also the run driver) and the run records exist: the run releases them all
// and closes its trace, or the next vxlRunFixup would read the old document
// instead of its own. The documents name other nodes only: no command runs.
TEST(ExportedInterfaceTest, AFailedRunLeavesNothingBehindAndTheNextRunReadsItsOwnDocument) {
    const auto document = [](const std::string& node) {
        return "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n"
               "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"" +
               node +
               "\"/>\n</NODE_LIST>\n</FIXUP_DATA>\n</FIXUP_DATA_LIST>\n</TASK>\n</TASK_LIST>\n"
               "</VEXEL_FIXUP_ROOT>\n";
    };
    const std::string noTaskList = "<VEXEL_FIXUP_ROOT>\n<OTHER/>\n</VEXEL_FIXUP_ROOT>\n";
    const struct {
        const char* file;  // vxlRunFixup reads it; null: vxlRunAutoFixup is given text
        std::string text;
        bool outputBlocked;  // a directory where the output document goes
    } cases[] = {
        {"missing.xml", "", false},     {"doc.xml", "<A/>\n", false},  // no root
        {"doc.xml", noTaskList, false}, {"doc.xml", document("failing-run"), true},
        {nullptr, noTaskList, false},   {nullptr, document("failing-run"), true},
    };
    for (const auto& c : cases) {
        TempDir work;
        std::string workDir = work.dir(), node = "node1", data = work.file(c.file ? c.file : "");
        if (c.file && !c.text.empty()) TempDir::write(data, c.text);
        const std::string blocker = work.file("fixup/vexelfixupoutput_node1.xml");
        if (c.outputBlocked) {
            ::mkdir(work.file("fixup").c_str(), 0755);
            ::mkdir(blocker.c_str(), 0755);
        }
        char untouched[] = "untouched";
        vxlfixup record{&workDir[0], &data[0], &node[0], untouched, nullptr, nullptr, 0};
        const int rc = c.file ? vxlRunFixup(&record) : vxlRunAutoFixup(&record, &c.text);
        const std::string what = c.text.substr(0, 40);
        EXPECT_EQ(rc, 1) << what;
        EXPECT_EQ(record.outputFile, untouched) << what;
        ASSERT_NE(record.errorMessage, nullptr) << what;
        const std::string error = record.errorMessage;
        vxlFixupMemFree(record.errorMessage);
        EXPECT_EQ(error.rfind(c.file ? "caught XmlParserException error is {"
                                     : "caught XmlParserException. error is {",
                              0),
                  0u)
            << error;
        const std::string source = c.file ? "Main::vxlRunFixup - " : "Main::vxlRunAutoFixup - ";
        EXPECT_NE(TempDir::read(work.file("vexel_fixup_trace_0.log")).find(source + error),
                  std::string::npos);
        EXPECT_FALSE(TempDir::exists(work.file(".fix_scratch"))) << what;
        EXPECT_EQ(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr) << what;
        EXPECT_EQ(vxl_fixup::RunObjects::count(), 0u) << what;
        EXPECT_EQ(openTraceFiles(), 0) << what;

        ::rmdir(blocker.c_str());
        data = work.file("next.xml");
        TempDir::write(data, document("next-run"));
        record = vxlfixup{&workDir[0], &data[0], &node[0], nullptr, nullptr, nullptr, 0};
        EXPECT_EQ(vxlRunFixup(&record), 0) << what;
        ASSERT_NE(record.outputFile, nullptr) << what;
        EXPECT_NE(TempDir::read(record.outputFile).find("next-run"), std::string::npos) << what;
        vxlFixupMemFree(record.outputFile);
        vxlFixupMemFree(record.errorMessage);
    }
}

}  // namespace
