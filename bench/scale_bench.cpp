// Whole runs at scale: time per instance over growing documents, and the peak
// resident memory of a run over a document of a given size. Every instance
// names a kernel parameter the library does not know, so it fails validation
// and runs no command: what is measured is reading, dispatch, placing the
// results and writing the output document. Each run is a fresh process (this
// program again, or the command-line tool), so every peak is that run's own.
// Sizes are in MiB (2^20 bytes), the document's too.
//
// usage: scale_bench [LARGEST] [--mb MB] [--cli PATH]
//   LARGEST    instances of the largest run (default 100000); the curve also
//              runs LARGEST/100 and LARGEST/10. The tool (vxlfixup run, its
//              table included) and the library alone then run the largest
//              document three times each, interleaved: medians and ratios.
//   --mb MB    peak memory over a document of about MB MiB: read into the
//              tree, with the fix-up data records, and a whole run
//              (default 48; 0: none)
//   --cli PATH the vxlfixup tool to time (default: the one of this build)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
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
    double seconds = 0;     // wall clock
    double cpuSeconds = 0;  // user and system time of the child
    long peakKiB = 0;       // its peak resident memory
};

// Runs argv[0] with argv and collects time and memory. The child's standard
// output is its wall time when timesItself, else discarded (the parent
// times it).
Measured measure(const std::vector<std::string>& args, bool timesItself) {
    Measured m;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return m;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (timesItself) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    std::vector<char*> argv;
    for (const std::string& word : args) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
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
    m.seconds = timesItself
                    ? std::atof(text.c_str())
                    : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.peakKiB = usage.ru_maxrss;
    return m;
}

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string selfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) return runOne(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--tree") == 0) return readOne(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--records") == 0) return readOne(argv[2], true);
    const std::string self = selfPath();
    long largest = 100000;
    long mebibytes = 48;
    std::string cli = self.substr(0, self.rfind('/')) + "/../vxlfixup";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) {
            mebibytes = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--cli") == 0 && i + 1 < argc) {
            cli = argv[++i];
        } else {
            largest = std::atol(argv[i]);
        }
    }
    if (largest < 100 || mebibytes < 0) {
        std::fprintf(stderr, "usage: scale_bench [LARGEST>=100] [--mb MB] [--cli PATH]\n");
        return 2;
    }
    char scratch[] = "/tmp/scale_bench.XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return 1;
    const std::string dir = scratch;
    const std::string document = dir + "/fixup_data.xml";
    const std::string work = dir + "/work/";
    bool ok = true;
    int e = 0;

    std::printf("load average before: %s\n", loadAverage().c_str());
    std::printf("Whole runs (every instance fails validation, so no command runs):\n");
    std::printf("%10s %12s %9s %9s %12s %12s %10s\n", "instances", "document_MiB", "wall_s",
                "cpu_s", "wall_us/inst", "cpu_us/inst", "peak_MiB");
    long bytesPerInstance = 0;
    long bytes = 0;
    for (const long n : {largest / 100, largest / 10, largest}) {
        bytes = writeDocument(document, n);
        bytesPerInstance = bytes / n;
        ::mkdir(work.c_str(), 0700);
        const Measured m = measure({self, "--run", document, work}, true);
        vxl_fixup::removeTree(work, e);
        if (!m.ok) {
            std::fprintf(stderr, "scale_bench: the run over %ld instances failed\n", n);
            ok = false;
            break;
        }
        std::printf("%10ld %12.2f %9.3f %9.3f %12.2f %12.2f %10.1f\n", n, mib(bytes), m.seconds,
                    m.cpuSeconds, m.seconds * 1e6 / n, m.cpuSeconds * 1e6 / n,
                    m.peakKiB / 1024.0);
        std::fflush(stdout);
    }

    // The largest document is still in place: the tool over it, against the
    // library alone, in turns so that both see the same load.
    if (ok && ::access(cli.c_str(), X_OK) == 0) {
        constexpr int kRounds = 3;
        std::vector<double> cpu[2], wall[2], peak[2];
        for (int round = 0; round < kRounds && ok; ++round) {
            for (int tool = 0; tool < 2 && ok; ++tool) {
                ::mkdir(work.c_str(), 0700);
                const Measured m =
                    tool == 0 ? measure({self, "--run", document, work}, true)
                              : measure({cli, "run", document, "--node", "node1", "--work-dir", work},
                                        false);
                vxl_fixup::removeTree(work, e);
                ok = m.ok;
                cpu[tool].push_back(m.cpuSeconds);
                wall[tool].push_back(m.seconds);
                peak[tool].push_back(m.peakKiB / 1024.0);
            }
        }
        if (!ok) {
            std::fprintf(stderr, "scale_bench: the tool's run over %ld instances failed\n",
                         largest);
        } else {
            std::printf("\nThe tool (vxlfixup run, table to /dev/null) against the library alone, "
                        "%ld instances, median of %d interleaved runs:\n",
                        largest, kRounds);
            std::printf("%-10s %9s %9s %10s\n", "", "wall_s", "cpu_s", "peak_MiB");
            const char* names[] = {"library", "tool"};
            for (int tool = 0; tool < 2; ++tool) {
                std::printf("%-10s %9.3f %9.3f %10.1f\n", names[tool], median(wall[tool]),
                            median(cpu[tool]), median(peak[tool]));
            }
            std::printf("tool/library: CPU %.3f, peak memory %.3f\n",
                        median(cpu[1]) / median(cpu[0]), median(peak[1]) / median(peak[0]));
        }
        std::fflush(stdout);
    } else if (ok) {
        std::printf("\n(no tool at %s: the tool's row left out)\n", cli.c_str());
    }

    if (ok && mebibytes > 0) {
        const long n = mebibytes * 1024L * 1024L / bytesPerInstance;
        bytes = writeDocument(document, n);
        std::printf("\nPeak memory over a %.1f MiB document (%ld instances):\n", mib(bytes), n);
        std::printf("%-36s %10s %12s\n", "", "peak_MiB", "x_document");
        const struct {
            const char* what;
            std::vector<std::string> mode;
        } steps[] = {
            {"read into the tree", {self, "--tree", document}},
            {"tree and fix-up data records", {self, "--records", document}},
            {"whole run (a result per instance)", {self, "--run", document, work}},
        };
        for (const auto& step : steps) {
            ::mkdir(work.c_str(), 0700);
            const Measured m = measure(step.mode, true);
            vxl_fixup::removeTree(work, e);
            if (!m.ok) {
                std::fprintf(stderr, "scale_bench: %s failed\n", step.what);
                ok = false;
                break;
            }
            std::printf("%-36s %10.1f %12.2f\n", step.what, m.peakKiB / 1024.0,
                        m.peakKiB * 1024.0 / static_cast<double>(bytes));
        }
    }
    std::printf("load average after: %s\n", loadAverage().c_str());
    vxl_fixup::removeTree(dir, e);
    return ok ? 0 : 1;
}
