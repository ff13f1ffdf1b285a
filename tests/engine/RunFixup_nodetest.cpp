// Whole runs through the exported interface, loaded with dlopen as a host
// does, inside a test node with a fake sysctl and a real sysctl.conf copy.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

const std::string kHeader = "<?xml version = '1.0' encoding = 'UTF-8'?>\n";
const std::string kWork = "/var/tmp/vxlwork/";
const std::string kOutput = kWork + "fixup/vexelfixupoutput_node1.xml";

// A document with one TASKKERNELPARAM task; each instance is the NODE_LIST
// and DATA_LIST body given, in the serialiser's own form.
std::string kernelDocument(const std::vector<std::string>& instances,
                           const std::string& taskId = "TASKKERNELPARAM") {
    std::string doc = kHeader + "<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n    <TASK ID=\"" + taskId +
                      "\">\n      <FIXUP_DATA_LIST>\n";
    for (const std::string& body : instances) {
        doc += "        <FIXUP_DATA>\n" + body + "        </FIXUP_DATA>\n";
    }
    return doc + "      </FIXUP_DATA_LIST>\n    </TASK>\n  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

std::string instanceBody(const std::string& node, const std::string& expected,
                         const std::string& param, const std::string& result = "") {
    std::string nodeLine = "            <NODE NAME=\"" + node + "\" EXP_VAL=\"" + expected + "\"";
    nodeLine += result.empty() ? " />\n" : ">\n" + result + "            </NODE>\n";
    return "          <NODE_LIST>\n" + nodeLine + "          </NODE_LIST>\n" +
           "          <DATA_LIST>\n            <DATA NAME=\"NAME\" VAL=\"" + param +
           "\" />\n          </DATA_LIST>\n";
}

const std::string kSuccess =
    "              <FIXUP_OUTPUT_DATA>\n"
    "                <STATUS>SUCCESSFUL</STATUS>\n"
    "                <ERROR_DETAILS />\n"
    "              </FIXUP_OUTPUT_DATA>\n";

// What a host sees after one call, printed by the child and parsed back.
struct HostOutcome {
    int rc = -99;
    std::string outputFile;
    std::string errorMessage;
};

struct HostCall {
    std::string dataFile;      // vxlRunFixup: path of the document
    std::string documentText;  // vxlRunAutoFixup when inMemory
    bool inMemory = false;
    std::string node = "node1";
    std::string traceDir;
    int traceLevel = 0;
};

// Inside the node: loads the library and makes the calls in order, printing
// "rc|outputFile|errorMessage" per call.
int callLibrary(const std::vector<HostCall>& calls) {
    ::mkdir("/var/tmp/vxlwork", 0755);
    void* lib = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return 90;
    auto runFixup = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(lib, "vxlRunFixup"));
    auto runAuto = reinterpret_cast<int (*)(vxlfixup*, const std::string*)>(::dlsym(
        lib, "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE"));
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(lib, "vxlFixupMemFree"));
    if (!runFixup || !runAuto || !memFree) return 91;
    for (const HostCall& c : calls) {
        std::string work = kWork, data = c.dataFile, node = c.node, traces = c.traceDir;
        char untouched[] = "untouched";
        vxlfixup record{};
        record.workDir = &work[0];
        record.dataFile = &data[0];
        record.nodeName = &node[0];
        record.traceDir = traces.empty() ? nullptr : &traces[0];
        record.traceLevel = c.traceLevel;
        record.outputFile = untouched;
        record.errorMessage = untouched;
        const int rc = c.inMemory ? runAuto(&record, &c.documentText) : runFixup(&record);
        std::printf("%d|%s|%s\n", rc, record.outputFile, record.errorMessage);
        if (record.outputFile != untouched) memFree(record.outputFile);
        if (record.errorMessage != untouched) memFree(record.errorMessage);
    }
    std::fflush(stdout);
    return 0;
}

std::vector<HostOutcome> outcomes(const NodeResult& r) {
    std::vector<HostOutcome> list;
    size_t start = 0;
    while (start < r.stdoutText.size()) {
        size_t end = r.stdoutText.find('\n', start);
        const std::string line = r.stdoutText.substr(start, end - start);
        start = end == std::string::npos ? r.stdoutText.size() : end + 1;
        HostOutcome o;
        const size_t a = line.find('|'), b = line.find('|', a + 1);
        o.rc = std::stoi(line.substr(0, a));
        o.outputFile = line.substr(a + 1, b - a - 1);
        o.errorMessage = line.substr(b + 1);
        list.push_back(o);
    }
    return list;
}

class RunFixupNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        sysctl = &node.addFakeSysctl("/sbin/sysctl");
        node.addFile("/etc/sysctl.conf", "# tuned\nfs.file-max = 65536\n");
    }
    NodeResult runCalls(const std::vector<HostCall>& calls) {
        NodeResult r = node.runFunction([calls] { return callLibrary(calls); });
        EXPECT_TRUE(r.ran()) << r.setupError;
        EXPECT_EQ(r.exitCode, 0) << r.stderrText;
        return r;
    }
    HostCall fileCall(const std::string& document) {
        node.addFile("/var/tmp/doc.xml", document);
        HostCall c;
        c.dataFile = "/var/tmp/doc.xml";
        return c;
    }
    TestNode node;
    FakeSysctl* sysctl = nullptr;
};

TEST_F(RunFixupNodeTest, SuccessFixesTheKernelAndTheFileAndReportsIt) {
    sysctl->set("fs.file-max", "65536");
    const std::string doc =
        kernelDocument({instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max")});
    NodeResult r = runCalls({fileCall(doc)});
    ASSERT_EQ(outcomes(r).size(), 1u);
    EXPECT_EQ(outcomes(r)[0].rc, 0);
    EXPECT_EQ(outcomes(r)[0].outputFile, kOutput);
    EXPECT_EQ(outcomes(r)[0].errorMessage, "untouched");
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument(
                  {instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max", kSuccess)}));
    EXPECT_EQ(r.sysctlValue("fs.file-max").value_or(""), "1048576");
    EXPECT_EQ(r.commandLog(), (std::vector<std::string>{"/sbin/sysctl [-n] [fs.file-max]",
                                                        "/sbin/sysctl [-w] [fs.file-max=1048576]"}));
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 1048576\n");
    EXPECT_FALSE(r.exists(kWork + ".fix_scratch")) << "scratch directory removed";
}

TEST_F(RunFixupNodeTest, FailureCarriesNativeAndMessageErrorsEscaped) {
    sysctl->forceResult("", "sysctl: <fs.file-max> & \"denied\"\nsecond line\n", 3);
    const std::string doc =
        kernelDocument({instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max")});
    HostCall call = fileCall(doc);
    call.node = "Node1.Example.COM";  // recorded as "node1": file name and message argument
    NodeResult r = runCalls({call});
    ASSERT_EQ(outcomes(r).size(), 1u);
    EXPECT_EQ(outcomes(r)[0].rc, 0) << "a failed task does not fail vxlRunFixup";
    EXPECT_EQ(outcomes(r)[0].outputFile, kOutput);
    const std::string failure =
        "              <FIXUP_OUTPUT_DATA>\n"
        "                <STATUS>FAILED</STATUS>\n"
        "                <ERROR_DETAILS>\n"
        "                  <NATIVE_ERRORS>\n"
        "                    <ERROR>sysctl: &lt;fs.file-max&gt; &amp; \"denied\"second line</ERROR>\n"
        "                  </NATIVE_ERRORS>\n"
        "                  <NLS_ERRORS>\n"
        "                    <NLS_MSG FACILITY=\"Vxlg\" ID=\"9027\" DISPLAY_ID=\"true\">\n"
        "                      <MSG_ARG_LIST>\n"
        "                        <MSG_ARG>fs.file-max</MSG_ARG>\n"
        "                        <MSG_ARG>/sbin/sysctl</MSG_ARG>\n"
        "                        <MSG_ARG>node1</MSG_ARG>\n"
        "                      </MSG_ARG_LIST>\n"
        "                    </NLS_MSG>\n"
        "                  </NLS_ERRORS>\n"
        "                </ERROR_DETAILS>\n"
        "              </FIXUP_OUTPUT_DATA>\n";
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument(
                  {instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max", failure)}));
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n")
        << "the file is not touched after a failed read";
}

TEST_F(RunFixupNodeTest, TwoInstancesLandUnderTheirOwnNodes) {
    sysctl->set("fs.file-max", "65536").set("kernel.sem", "250\t32000\t100\t128");
    const std::string doc = kernelDocument(
        {instanceBody("NODE1.example.com", "CURR(1048576)", "file-max"),
         instanceBody("node2", "CURR(1)", "file-max"),
         instanceBody("node1", "CURR(64000)CONF(64000)", "semmns")});
    NodeResult r = runCalls({fileCall(doc)});
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument({instanceBody("NODE1.example.com", "CURR(1048576)", "file-max",
                                           kSuccess),
                              instanceBody("node2", "CURR(1)", "file-max"),
                              instanceBody("node1", "CURR(64000)CONF(64000)", "semmns",
                                           kSuccess)}));
    EXPECT_EQ(r.sysctlValue("kernel.sem").value_or(""), "250\t64000\t100\t128");
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""),
              "# tuned\nfs.file-max = 65536\n# Recommended value for kernel.sem\n"
              "kernel.sem = 250\t64000\t100\t128\n");
}

TEST_F(RunFixupNodeTest, AValueWithALineBreakNeverAddsALineToSysctlConf) {
    sysctl->set("fs.file-max", "65536");
    const std::string expected = "CURR(1)CONF(7000000&#10;kernel.core_pattern = |/tmp/evil)";
    NodeResult r = runCalls({fileCall(kernelDocument({instanceBody("node1", expected, "file-max")}))});
    const std::string out = r.fileContent(kOutput).value_or("<missing>");
    EXPECT_NE(out.find("<STATUS>FAILED</STATUS>"), std::string::npos) << out;
    EXPECT_NE(out.find("ID=\"9031\""), std::string::npos) << out;
    EXPECT_TRUE(r.commandLog().empty()) << "nothing read or set";
    EXPECT_EQ(r.fileContent("/etc/sysctl.conf").value_or(""), "# tuned\nfs.file-max = 65536\n");
}

TEST_F(RunFixupNodeTest, TraceLevelDecidesTheDetailLines) {
    sysctl->set("fs.file-max", "6815744");
    HostCall quiet = fileCall(kernelDocument({instanceBody("node1", "CURR(1048576)", "file-max")}));
    quiet.traceLevel = 5;
    NodeResult r = runCalls({quiet});
    const std::string trace = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_EQ(trace.find("BEGIN - Performing"), std::string::npos) << "detail line at level 5";
    EXPECT_NE(trace.find("FixupTask::fix - Fixing Total 1 instances of this task."),
              std::string::npos);
    HostCall loud = quiet;
    loud.traceLevel = 0;
    r = runCalls({loud});
    const std::string full = r.fileContent(kWork + "vexel_fixup_trace_0.log").value_or("");
    EXPECT_NE(full.find("Main::vxlRunFixup - BEGIN - Performing fix-up operations with following "
                        "input information \n node :node1 \n Work Directory :" +
                        kWork + "\n input data file path :/var/tmp/doc.xml \n TRACE_LEVEL :0\n"),
              std::string::npos);
    EXPECT_NE(full.find("sFixupUtil::runCommandInternal - Executing command (/sbin/sysctl  -n "
                        "fs.file-max)"),
              std::string::npos);
}

TEST_F(RunFixupNodeTest, AutoFixupTracesToItsDirectoryAndFailsWhenATaskFails) {
    sysctl->set("fs.file-max", "65536").setReadOnly("fs.file-max");
    node.addDirectory("/var/tmp/traces");
    HostCall call;
    call.inMemory = true;
    call.node = "Node1";  // recorded as given
    call.traceDir = "/var/tmp/traces/";
    call.traceLevel = 5;
    call.documentText = kernelDocument({instanceBody("node1", "CURR(1048576)", "file-max")});
    NodeResult r = runCalls({call});
    ASSERT_EQ(outcomes(r).size(), 1u);
    EXPECT_EQ(outcomes(r)[0].rc, 1);
    EXPECT_EQ(outcomes(r)[0].outputFile, kWork + "fixup/vexelfixupoutput_Node1.xml");
    const std::string trace = r.fileContent("/var/tmp/traces/vexel_fixup_trace_0.log").value_or("");
    EXPECT_NE(trace.find("Main::vxlRunAutomFixup - Task TASKKERNELPARAM fixup result false\n"),
              std::string::npos)
        << trace;
    EXPECT_FALSE(r.exists(kWork + "vexel_fixup_trace_0.log"));
    const std::string out = r.fileContent(kWork + "fixup/vexelfixupoutput_Node1.xml").value_or("");
    EXPECT_NE(out.find("<MSG_ARG>Node1</MSG_ARG>"), std::string::npos)
        << "9026 names the node as recorded";
}

TEST_F(RunFixupNodeTest, CallsOfBothRunFunctionsFromSeveralThreadsWaitForEachOther) {
    sysctl->set("fs.file-max", "65536");
    const std::string doc =
        kernelDocument({instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max")});
    node.addFile("/var/tmp/doc.xml", doc);
    NodeResult r = node.runFunction([doc] {
        ::mkdir("/var/tmp/vxlwork", 0755);
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&failures, &doc, t] {
                for (int i = 0; i < 5; ++i) {
                    std::string work = kWork, node = "node1", data = "/var/tmp/doc.xml";
                    vxlfixup record{};
                    record.workDir = &work[0];
                    record.nodeName = &node[0];
                    record.dataFile = &data[0];
                    const int rc = t % 2 ? vxlRunFixup(&record) : vxlRunAutoFixup(&record, &doc);
                    if (rc != 0 || record.errorMessage) ++failures;
                    vxlFixupMemFree(record.outputFile);
                    vxlFixupMemFree(record.errorMessage);
                }
            });
        }
        for (std::thread& t : threads) t.join();
        return failures.load();
    });
    EXPECT_EQ(r.exitCode, 0) << r.stderrText;
    EXPECT_EQ(r.fileContent(kOutput).value_or("<missing>"),
              kernelDocument(
                  {instanceBody("node1", "CURR(1048576)CONF(1048576)", "file-max", kSuccess)}));
}

}  // namespace
}  // namespace vxl_fixup
