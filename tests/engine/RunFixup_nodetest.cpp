// Whole runs through the exported interface, loaded with dlopen as a host
// does, inside a test node with a fake sysctl and a real sysctl.conf copy.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

const std::string kWork = "/var/tmp/vxlwork/";
const std::string kOutput = kWork + "fixup/vexelfixupoutput_node1.xml";

// Documents in the serialiser's own form: TASK elements, each holding
// instances given as their NODE_LIST and DATA_LIST body.
std::string taskElement(const std::string& taskId, const std::vector<std::string>& instances) {
    std::string task = "    <TASK ID=\"" + taskId + "\">\n      <FIXUP_DATA_LIST>\n";
    for (const std::string& body : instances) {
        task += "        <FIXUP_DATA>\n" + body + "        </FIXUP_DATA>\n";
    }
    return task + "      </FIXUP_DATA_LIST>\n    </TASK>\n";
}

std::string document(const std::vector<std::string>& tasks) {
    std::string doc =
        "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n";
    for (const std::string& task : tasks) doc += task;
    return doc + "  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

// moreData: further DATA elements after the NAME item, in serialised form.
std::string instanceBody(const std::string& node, const std::string& expected,
                         const std::string& param, const std::string& result = "",
                         const std::string& moreData = "") {
    std::string nodeLine = "            <NODE NAME=\"" + node + "\" EXP_VAL=\"" + expected + "\"";
    nodeLine += result.empty() ? " />\n" : ">\n" + result + "            </NODE>\n";
    return "          <NODE_LIST>\n" + nodeLine + "          </NODE_LIST>\n" +
           "          <DATA_LIST>\n            <DATA NAME=\"NAME\" VAL=\"" + param + "\" />\n" +
           moreData + "          </DATA_LIST>\n";
}

struct HostCall {
    bool inMemory = false;  // vxlRunAutoFixup with the document's text, else vxlRunFixup
    std::string node;
    int traceLevel = 0;
    std::string traceDir;
};

// Inside the node: loads the library and makes the calls in order on
// /var/tmp/doc.xml, printing what the host sees, "rc|outputFile|errorMessage".
int callLibrary(const std::vector<HostCall>& calls, const std::string& documentText) {
    ::mkdir("/var/tmp/vxlwork", 0755);
    void* lib = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return 90;
    auto runFixup = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(lib, "vxlRunFixup"));
    auto runAuto = reinterpret_cast<int (*)(vxlfixup*, const std::string*)>(::dlsym(
        lib,
        "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"));
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(lib, "vxlFixupMemFree"));
    if (!runFixup || !runAuto || !memFree) return 91;
    for (const HostCall& c : calls) {
        std::string work = kWork, data = "/var/tmp/doc.xml", node = c.node, traces = c.traceDir;
        char untouched[] = "untouched";
        vxlfixup record{&work[0],    &data[0],  &node[0],
                        untouched,   untouched, traces.empty() ? nullptr : &traces[0],
                        c.traceLevel};
        const int rc = c.inMemory ? runAuto(&record, &documentText) : runFixup(&record);
        std::printf("%d|%s|%s\n", rc, record.outputFile, record.errorMessage);
        if (record.outputFile != untouched) memFree(record.outputFile);
        if (record.errorMessage != untouched) memFree(record.errorMessage);
    }
    return std::fflush(stdout);
}

class RunFixupNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        sysctl = &node.addFakeSysctl("/sbin/sysctl");
        node.addFile("/etc/sysctl.conf", "# tuned\nfs.file-max = 65536\n");
    }
    NodeResult runCalls(const std::string& doc, const std::vector<HostCall>& calls) {
        node.addFile("/var/tmp/doc.xml", doc);
        NodeResult r = node.runFunction([&] { return callLibrary(calls, doc); });
        EXPECT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.exitCode, 0) << r.stderrText;
        return r;
    }
    TestNode node;
    FakeSysctl* sysctl = nullptr;
};

// The node name is recorded lower-cased up to its first dot. Each instance
// for this node gets its result under its own NODE element, byte for byte
// as the serialiser writes; the instance for node2 is left alone.
TEST_F(RunFixupNodeTest, SuccessFixesKernelAndFilesAndPlacesEachResult) {
    sysctl->set("fs.file-max", "65536").set("kernel.sem", "250\t32000\t100\t128");
    sysctl->set("kernel.shmmni", "4096");
    node.addFile("/etc/sysctl.d/90-vxl.conf", "");
    // Blanks around a name are trimmed; the last NAME item wins and PATH
    // names the file to edit; an empty CONF() asks for no file change.
    const std::string semData =
        "            <DATA NAME=\"NAME\" VAL=\"semmns\" />\n"
        "            <DATA NAME=\"PATH\" VAL=\"/etc/sysctl.d/90-vxl.conf\" />\n";
    const auto doc = [&semData](const std::string& result) {
        return document({taskElement(
            "TASKKERNELPARAM",
            {instanceBody("NODE1.example.com", "CURR(1048576)CONF(1048576)", " file-max ", result),
             instanceBody("node2", "CURR(1)", "file-max"),
             instanceBody("node1", "CURR(64000)CONF(64000)", "file-max", result, semData),
             instanceBody("node1", "CURR(8192)CONF()", "shmmni", result)})});
    };
    HostCall call;
    call.node = "Node1.Example.COM";
    call.traceLevel = 5;
    NodeResult r = runCalls(doc(""), {call});
    EXPECT_EQ(r.stdoutText, "0|" + kOutput + "|untouched\n");
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              doc("              <FIXUP_OUTPUT_DATA>\n"
                  "                <STATUS>SUCCESSFUL</STATUS>\n"
                  "                <ERROR_DETAILS />\n"
                  "              </FIXUP_OUTPUT_DATA>\n"));
    EXPECT_EQ(
        r.commandLog(),
        (std::vector<std::string>{
            "/sbin/sysctl [-n] [fs.file-max]", "/sbin/sysctl [-w] [fs.file-max=1048576]",
            "/sbin/sysctl [-n] [kernel.sem]", "/sbin/sysctl [-w] [kernel.sem=250\t64000\t100\t128]",
            "/sbin/sysctl [-n] [kernel.shmmni]", "/sbin/sysctl [-w] [kernel.shmmni=8192]"}));
    EXPECT_EQ(r.sysctlValue("fs.file-max").value_or(""), "1048576");
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 1048576\n");
    EXPECT_EQ(r.fileContent("/etc/sysctl.d/90-vxl.conf").value_or(""),
              "# Recommended value for kernel.sem\nkernel.sem = 250\t64000\t100\t128\n");
    EXPECT_FALSE(r.exists(kWork + ".fix_scratch")) << "scratch directory removed";
    // Level 5 leaves the detail lines out.
    const std::string trace = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_EQ(trace.find("Executing command"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Fixing Total 3 instances"), std::string::npos) << trace;
}

// The first task fails: a key that cannot be set (9026), one that cannot be
// read (9027, and sysctl.conf is left alone), a line break refused before
// anything runs (9031); shell syntax reaches sysctl as one literal argument.
// A task whose identifier differs in letter case is a task of its own and
// runs all the same. Only vxlRunAutoFixup reports the failure.
TEST_F(RunFixupNodeTest, AFailedTaskStopsNoOtherTaskAndFailsOnlyAutoFixup) {
    sysctl->set("fs.file-max", "65536").setReadOnly("fs.file-max");
    sysctl->set("kernel.shmmni", "4096").set("kernel.shmall", "8192");
    node.addDirectory("/var/tmp/traces");
    const std::string shell = "\\n`touch /tmp/p1`$HOME\"q\"";
    const std::string doc = document(
        {taskElement("TASKKERNELPARAM",
                     {instanceBody("node1", "CURR(1048576)", "file-max"),
                      instanceBody("node1", "CURR(7)CONF(7)", "shmmax"),
                      instanceBody("node1", "CURR(\\n`touch /tmp/p1`$HOME&quot;q&quot;)", "shmall"),
                      instanceBody("node1", "CURR(1)CONF(7&#10;kernel.core_pattern = |/tmp/evil)",
                                   "aio-max-nr")}),
         taskElement("taskkernelparam", {instanceBody("node1", "CURR(8192)", "shmmni")})});
    HostCall run, inMemory, withoutTraceDir;
    run.node = "Node1.Example.COM";
    inMemory.inMemory = true;
    inMemory.node = "Node1";  // recorded as given
    inMemory.traceDir = "/var/tmp/traces/";
    inMemory.traceLevel = 5;
    withoutTraceDir = inMemory;  // traces into the work directory again
    withoutTraceDir.traceDir.clear();
    NodeResult r = runCalls(doc, {run, inMemory, withoutTraceDir});
    const std::string autoOutput = kWork + "fixup/vexelfixupoutput_Node1.xml";
    EXPECT_EQ(r.stdoutText, "0|" + kOutput + "|untouched\n1|" + autoOutput + "|untouched\n1|" +
                                autoOutput + "|untouched\n");
    EXPECT_EQ(r.sysctlValue("kernel.shmmni").value_or(""), "8192");
    EXPECT_EQ(r.sysctlValue("kernel.shmall").value_or(""), shell);
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n");
    EXPECT_FALSE(r.exists("/tmp/p1"));
    const std::vector<std::string> log = r.commandLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "/sbin/sysctl [-w] [kernel.shmall=" + shell + "]"),
              log.end());
    for (const std::string& call : log)
        EXPECT_EQ(call.find("aio-max-nr"), std::string::npos) << call;
    for (const auto& [output, node] : {std::pair{kOutput, "node1"}, {autoOutput, "Node1"}}) {
        const std::string out = r.fileContent(output).value_or("");
        EXPECT_NE(out.find("<STATUS>SUCCESSFUL</STATUS>"), std::string::npos) << out;
        EXPECT_NE(out.find("ID=\"9031\""), std::string::npos) << out;
        for (const auto& [id, key] :
             {std::pair{"9026", "fs.file-max"}, {"9027", "kernel.shmmax"}}) {
            EXPECT_NE(out.find(std::string("ID=\"") + id + "\" DISPLAY_ID=\"true\">\n" +
                               "                      <MSG_ARG_LIST>\n" +
                               "                        <MSG_ARG>" + key + "</MSG_ARG>\n" +
                               "                        <MSG_ARG>/sbin/sysctl</MSG_ARG>\n" +
                               "                        <MSG_ARG>" + node + "</MSG_ARG>\n"),
                      std::string::npos)
                << id << "\n"
                << out;
        }
    }
    // Level 0 writes the detail lines; each run traces where its record says.
    const std::string begin = "Main::vxlRunAutoFixup - BEGIN";
    const std::string work = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    const std::string traces =
        r.fileContent("/var/tmp/traces/vexel_fixup_trace_0.log").value_or("");
    EXPECT_NE(work.find("Executing command (/sbin/sysctl  -n kernel.shmmax)"), std::string::npos);
    EXPECT_NE(work.find(begin), std::string::npos);
    EXPECT_NE(traces.find(begin), std::string::npos);
    EXPECT_EQ(traces.find(begin, traces.find(begin) + 1), std::string::npos) << traces;
}

}  // namespace
}  // namespace vxl_fixup
