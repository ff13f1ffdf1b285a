// The shared library exports exactly the host interface and loads without any
// symbol from its host; a run that fails part-way leaves nothing behind.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "engine/Constants.h"
#include "model/RunObjects.h"
#include "support/TempDir.h"
#include "vxlfixup/vxlfixup.h"

namespace {

using vxl_fixup::Constants;
using vxl_test::TempDir;

std::set<std::string> definedDynamicSymbols(const std::string& library) {
    std::set<std::string> symbols;
    const std::string cmd = "nm -D --defined-only " + library + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "re");
    if (pipe == nullptr) return symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3) {
            const std::string t = type;
            if (t == "T" || t == "W" || t == "D" || t == "B" || t == "V" || t == "i") {
                symbols.insert(name);
            }
        }
    }
    ::pclose(pipe);
    return symbols;
}

TEST(ExportedInterfaceTest, OnlyTheHostInterfaceIsExported) {
    const std::set<std::string> expected = {
        "vxlRunFixup", "vxlFixupMemFree",
        "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"};
    EXPECT_EQ(definedDynamicSymbols(VXL_SHARED_LIBRARY_PATH), expected);
}

TEST(ExportedInterfaceTest, LoadsWithNoHostSymbolAndFreesNull) {
    void* handle = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(handle, "vxlFixupMemFree"));
    ASSERT_NE(memFree, nullptr);
    memFree(nullptr);
    auto run = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(handle, "vxlRunFixup"));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run(nullptr), 1);
    // Each input vxlRunFixup reads, null in turn: refused before anything runs.
    char text[] = "/nonexistent/";
    for (int nullField = 0; nullField < 3; ++nullField) {
        vxlfixup record{};
        record.workDir = nullField == 0 ? nullptr : text;
        record.dataFile = nullField == 1 ? nullptr : text;
        record.nodeName = nullField == 2 ? nullptr : text;
        EXPECT_EQ(run(&record), 1);
        ASSERT_NE(record.errorMessage, nullptr);
        EXPECT_EQ(std::string(record.errorMessage),
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
        if (::readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1) > 0) {
            count += std::string(target).find("vexel_fixup_trace") != std::string::npos;
        }
    }
    return count;
}

// Each failure strikes after the scratch directory, the parser (and for
// vxlRunFixup the run driver) and the run records exist. The run must release
// them all, or the next vxlRunFixup would read the old document instead of
// its own. Every document names other nodes only, so no command runs.
TEST(ExportedInterfaceTest, AFailedRunLeavesNothingBehindAndTheNextRunReadsItsOwnDocument) {
    TempDir work;
    const auto document = [](const std::string& node) {
        return "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"TASKKERNELPARAM\">\n"
               "<FIXUP_DATA_LIST>\n<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"" +
               node +
               "\"/>\n</NODE_LIST>\n</FIXUP_DATA>\n</FIXUP_DATA_LIST>\n</TASK>\n"
               "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
    };
    const std::string noTaskList = "<VEXEL_FIXUP_ROOT>\n<OTHER/>\n</VEXEL_FIXUP_ROOT>\n";
    const std::string failing = document("failing-run"), next = document("next-run");
    TempDir::write(work.file("failing.xml"), failing);
    TempDir::write(work.file("next.xml"), next);
    TempDir::write(work.file("no-task-list.xml"), noTaskList);
    TempDir::write(work.file("no-root.xml"), "<A/>\n");
    const std::string fileError = "caught XmlParserException error is {";
    const std::string memoryError = "caught XmlParserException. error is {";
    const struct {
        const char* what;
        std::string dataFile;  // empty: vxlRunAutoFixup with documentText
        std::string documentText;
        bool outputBlocked;  // a plain file named "fixup" where the output goes
        std::string error;
    } cases[] = {
        {"missing file", work.file("missing.xml"), "", false, fileError},
        {"no root", work.file("no-root.xml"), "", false, fileError},
        {"no task list", work.file("no-task-list.xml"), "", false, fileError},
        {"output blocked", work.file("failing.xml"), "", true, fileError},
        {"no task list in memory", "", noTaskList, false, memoryError},
        {"output blocked in memory", "", failing, true, memoryError},
    };
    for (const auto& c : cases) {
        if (c.outputBlocked) TempDir::write(work.file("fixup"), "");
        std::string workDir = work.dir(), node = "node1", data = c.dataFile;
        char untouched[] = "untouched";
        vxlfixup record{};
        record.workDir = &workDir[0];
        record.nodeName = &node[0];
        record.dataFile = &data[0];
        record.outputFile = untouched;
        const int rc =
            data.empty() ? vxlRunAutoFixup(&record, &c.documentText) : vxlRunFixup(&record);
        EXPECT_EQ(rc, 1) << c.what;
        EXPECT_EQ(record.outputFile, untouched) << c.what;
        ASSERT_NE(record.errorMessage, nullptr) << c.what;
        const std::string error = record.errorMessage;
        vxlFixupMemFree(record.errorMessage);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        const std::string source = data.empty() ? "Main::vxlRunAutoFixup" : "Main::vxlRunFixup";
        EXPECT_NE(TempDir::read(work.file("vexel_fixup_trace_0.log")).find(source + " - " + error),
                  std::string::npos)
            << error;

        EXPECT_FALSE(TempDir::exists(work.file(".fix_scratch"))) << c.what;
        EXPECT_EQ(Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH, nullptr) << c.what;
        EXPECT_EQ(Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH, nullptr) << c.what;
        EXPECT_EQ(Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH, nullptr) << c.what;
        EXPECT_EQ(vxl_fixup::RunObjects::count(), 0u) << c.what;
        EXPECT_EQ(openTraceFiles(), 0) << c.what;

        ::unlink(work.file("fixup").c_str());
        data = work.file("next.xml");
        record = vxlfixup{};
        record.workDir = &workDir[0];
        record.nodeName = &node[0];
        record.dataFile = &data[0];
        EXPECT_EQ(vxlRunFixup(&record), 0) << c.what;
        EXPECT_EQ(record.errorMessage, nullptr) << record.errorMessage;
        ASSERT_NE(record.outputFile, nullptr) << c.what;
        EXPECT_NE(TempDir::read(record.outputFile).find("next-run"), std::string::npos) << c.what;
        vxlFixupMemFree(record.outputFile);
        ::unlink(work.file("fixup/vexelfixupoutput_node1.xml").c_str());
        ::rmdir(work.file("fixup").c_str());
    }
}

}  // namespace
