// Resident memory across many runs in one process: a host that calls the
// library thousands of times must not grow. The runs happen inside a test
// node with a fake sysctl, so the machine is never changed.
//
// usage: run_memory_bench [RUNS]   (default 1000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sandbox/TestNode.h"
#include "vxlfixup/vxlfixup.h"

namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

const char* const kDocument =
    "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n"
    "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1\" EXP_VAL=\"CURR(1048576)CONF(1048576)\" />\n"
    "</NODE_LIST>\n<DATA_LIST>\n<DATA NAME=\"NAME\" VAL=\"file-max\" />\n</DATA_LIST>\n"
    "</FIXUP_DATA>\n"
    "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1.example.com\" EXP_VAL=\"CURR(64000)\" />\n"
    "</NODE_LIST>\n<DATA_LIST>\n<DATA NAME=\"NAME\" VAL=\"semmns\" />\n</DATA_LIST>\n"
    "</FIXUP_DATA>\n"
    "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1\" EXP_VAL=\"CURR(1)\" />\n"
    "</NODE_LIST>\n<DATA_LIST>\n<DATA NAME=\"NAME\" VAL=\"panic_on_oops\" />\n</DATA_LIST>\n"
    "</FIXUP_DATA>\n"
    "</FIXUP_DATA_LIST>\n</TASK>\n</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::string why;
    if (!vxl_fixup::TestNode::available(&why)) {
        std::fprintf(stderr, "cannot start a test node: %s\n", why.c_str());
        return 2;
    }
    vxl_fixup::TestNode node;
    node.setTimeout(std::chrono::minutes(10));
    node.addFile("/etc/sysctl.conf", "fs.file-max = 65536\n");
    node.addFile("/var/tmp/doc.xml", kDocument);
    node.addDirectory("/var/tmp/work", 0700);
    // The first run raises two values; every run reads them back and fails
    // on the read-only key, so both the success and the failure paths repeat.
    node.addFakeSysctl()
        .set("fs.file-max", "65536")
        .set("kernel.sem", "250\t32000\t100\t128")
        .set("kernel.panic_on_oops", "0")
        .setReadOnly("kernel.panic_on_oops");
    const vxl_fixup::NodeResult r = node.runFunction([runs] {
        long after10 = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 1; i <= runs; ++i) {
            char work[] = "/var/tmp/work/", data[] = "/var/tmp/doc.xml", name[] = "node1";
            vxlfixup record{};
            record.workDir = work;
            record.dataFile = data;
            record.nodeName = name;
            record.traceLevel = 0;
            const int rc = vxlRunFixup(&record);
            vxlFixupMemFree(record.outputFile);
            vxlFixupMemFree(record.errorMessage);
            if (rc != 0) return 3;
            if (i == 10) after10 = residentKiB();
            if (i == 10 || i == 100 || i % 250 == 0) {
                std::printf("after %5d runs: resident %ld KiB\n", i, residentKiB());
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("growth from run 10 to run %d: %ld KiB; %.2f ms per run\n", runs,
                    residentKiB() - after10, seconds * 1000 / runs);
        return 0;
    });
    std::fputs(r.stdoutText.c_str(), stdout);
    std::fputs(r.stderrText.c_str(), stderr);
    return r.exitCode;
}
