// Whole runs at scale: time per instance over growing documents, and the peak
// resident memory of a run over a document of a given size. Every instance
// names a kernel parameter the library does not know, so it fails validation
// and runs no command: what is measured is reading, dispatch, placing the
// results and writing the output document. Each run is a fresh process (this
// program again), so every peak is that run's own.
//
// usage: scale_bench [LARGEST] [--mb MB]
//   LARGEST  instances of the largest run (default 100000); the curve also
//            runs LARGEST/100 and LARGEST/10
//   --mb MB  peak memory over a document of about MB megabytes: read into
//            the tree, with the fix-up data records, and a whole run
//            (default 50; 0: none)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "model/RunObjects.h"
#include "util/FileIO.h"
#include "vxlfixup/vxlfixup.h"
#include "xml/XmlParser.h"

extern char** environ;

namespace {

// One instance: two participating nodes, one data item, as the verification
// tool writes them. About 330 bytes.
void writeInstance(std::ofstream& out, long n) {
    out << "        <FIXUP_DATA>\n"
           "          <NODE_LIST>\n"
           "            <NODE NAME=\"node1\" ACT_VAL=\"65536\" "
           "EXP_VAL=\"CURR(6815744)CONF(6815744)\"/>\n"
           "            <NODE NAME=\"node2\" ACT_VAL=\"65536\" "
           "EXP_VAL=\"CURR(6815744)CONF(6815744)\"/>\n"
           "          </NODE_LIST>\n"
           "          <DATA_LIST>\n"
           "            <DATA NAME=\"NAME\" VAL=\"no_such_param_"
        << n
        << "\"/>\n"
           "          </DATA_LIST>\n"
           "        </FIXUP_DATA>\n";
}

// Instances in tasks of a thousand; returns the file's size.
long writeDocument(const std::string& path, long instances) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n  <TASK_LIST>\n";
    for (long done = 0; done < instances;) {
        out << "    <TASK ID=\"TASKKERNELPARAM\">\n      <FIXUP_DATA_LIST>\n";
        for (int i = 0; i < 1000 && done < instances; ++i) writeInstance(out, done++);
        out << "      </FIXUP_DATA_LIST>\n    </TASK>\n";
    }
    out << "  </TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
    out.close();
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// The child: one run of the library over the document, as a host calls it.
int runOne(const char* document, const char* workDir) {
    std::string work = workDir;
    std::string data = document;
    std::string node = "node1";
    vxlfixup record{};
    record.workDir = &work[0];
    record.dataFile = &data[0];
    record.nodeName = &node[0];
    record.traceLevel = 5;
    const auto start = std::chrono::steady_clock::now();
    const int rc = vxlRunFixup(&record);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) {
        std::fprintf(stderr, "run failed: %s\n",
                     record.errorMessage ? record.errorMessage : "(no message)");
    }
    vxlFixupMemFree(record.outputFile);
    vxlFixupMemFree(record.errorMessage);
    std::printf("%.6f\n", seconds);
    return rc;
}

// The child, reading only: the document into the tree and the fix-up data
// records, as a run does before fixing anything.
int readOne(const char* document, bool withRecords) {
    vxl_fixup::Constants::setLocalNodeName("node1");
    const std::string path = document;
    const auto start = std::chrono::steady_clock::now();
    size_t records = 0;
    try {
        vxl_fixup::XmlParser parser(&path);
        if (withRecords) records = parser.getFixupDataFromXml().size();
    } catch (const vxl_fixup::XmlParserException& e) {
        std::fprintf(stderr, "read failed: %s\n", e.what().c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    vxl_fixup::RunObjects::releaseAll();
    std::printf("%.6f %zu\n", seconds, records);
    return 0;
}

struct Measured {
    bool ok = false;
    double seconds = 0;     // wall clock inside the child
    double cpuSeconds = 0;  // user and system time of the child
    long peakKiB = 0;       // its peak resident memory
};

// Runs this program in one of its child modes and collects time and memory.
Measured measure(const std::string& self, const std::vector<std::string>& mode) {
    Measured m;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return m;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv = {const_cast<char*>(self.c_str())};
    for (const std::string& word : mode) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return m;
    }
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) return m;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.seconds = std::atof(text.c_str());
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.peakKiB = usage.ru_maxrss;
    return m;
}

std::string selfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) return runOne(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--tree") == 0) return readOne(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--records") == 0) return readOne(argv[2], true);
    long largest = 100000;
    long megabytes = 50;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) {
            megabytes = std::atol(argv[++i]);
        } else {
            largest = std::atol(argv[i]);
        }
    }
    if (largest < 100 || megabytes < 0) {
        std::fprintf(stderr, "usage: scale_bench [LARGEST>=100] [--mb MB]\n");
        return 2;
    }
    char scratch[] = "/tmp/scale_bench.XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return 1;
    const std::string dir = scratch;
    const std::string self = selfPath();
    const std::string document = dir + "/fixup_data.xml";
    const std::string work = dir + "/work/";
    bool ok = true;
    int e = 0;

    std::printf("Whole runs (every instance fails validation, so no command runs):\n");
    std::printf("%10s %12s %9s %9s %12s %12s %10s\n", "instances", "bytes", "wall_s", "cpu_s",
                "wall_us/inst", "cpu_us/inst", "peak_KiB");
    long bytesPerInstance = 0;
    for (const long n : {largest / 100, largest / 10, largest}) {
        const long bytes = writeDocument(document, n);
        bytesPerInstance = bytes / n;
        ::mkdir(work.c_str(), 0700);
        const Measured m = measure(self, {"--run", document, work});
        vxl_fixup::removeTree(work, e);
        if (!m.ok) {
            std::fprintf(stderr, "scale_bench: the run over %ld instances failed\n", n);
            ok = false;
            break;
        }
        std::printf("%10ld %12ld %9.3f %9.3f %12.2f %12.2f %10ld\n", n, bytes, m.seconds,
                    m.cpuSeconds, m.seconds * 1e6 / n, m.cpuSeconds * 1e6 / n, m.peakKiB);
        std::fflush(stdout);
    }

    if (ok && megabytes > 0) {
        const long n = megabytes * 1000000L / bytesPerInstance;
        const long bytes = writeDocument(document, n);
        std::printf("\nPeak memory over a %.1f MB document (%ld instances):\n", bytes / 1e6, n);
        std::printf("%-36s %10s %12s\n", "", "peak_KiB", "x_document");
        const struct {
            const char* what;
            std::vector<std::string> mode;
        } steps[] = {
            {"read into the tree", {"--tree", document}},
            {"tree and fix-up data records", {"--records", document}},
            {"whole run (a result per instance)", {"--run", document, work}},
        };
        for (const auto& step : steps) {
            ::mkdir(work.c_str(), 0700);
            const Measured m = measure(self, step.mode);
            vxl_fixup::removeTree(work, e);
            if (!m.ok) {
                std::fprintf(stderr, "scale_bench: %s failed\n", step.what);
                ok = false;
                break;
            }
            std::printf("%-36s %10ld %12.2f\n", step.what, m.peakKiB,
                        m.peakKiB * 1024.0 / static_cast<double>(bytes));
        }
    }
    vxl_fixup::removeTree(dir, e);
    return ok ? 0 : 1;
}
