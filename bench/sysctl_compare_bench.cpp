// The same kernel parameter settings made by the library (through its
// command-line tool) and by ansible's sysctl module run locally, each in a
// fresh test node with the same simulated kernel: a compiled fake sysctl
// (fake_sysctl.cpp), so that the fake's own cost does not hide the tools'.
// ansible runs twice per round: as a first-time user would run it (defaults)
// and as a tuned user would (pipelining on, reload: false). The tools take
// turns within each round (library, ansible, tuned ansible, library, ...), so
// a change of load hits them alike. Prints, per tool, the median wall time
// and the median CPU time (user and system time of the tool and every process
// it waited for), the processes it starts per parameter, each ansible row's
// ratios to the library (CPU first) and the load average before and after.
// Needs root; the ansible rows need ansible-playbook
// (bench/compare_with_ansible.sh installs it).
//
// usage: sysctl_compare_bench [--runs N] [--library-only] [--cli PATH]
//   --runs N        timed runs per tool (default 5)
//   --library-only  skip ansible (CI runs this)
//   --cli PATH      the vxlfixup tool to time (default: the one of this build)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/TestNode.h"

extern char** environ;

using vxl_fixup::NodeResult;
using vxl_fixup::TestNode;

namespace {

const char* const kStateDir = "/var/lib/vxl-fake-sysctl/";
const char* const kBenchDir = "/var/tmp/vxl-compare";
constexpr int kSettings = 40;

struct Parameter {
    const char* shortName;  // as the fix-up document names it
    const char* key;
    long initial;
};

// The parameters the library raises as a whole value.
const Parameter kParameters[] = {
    {"file-max", "fs.file-max", 65536},
    {"shmmni", "kernel.shmmni", 4096},
    {"shmmax", "kernel.shmmax", 33554432},
    {"shmall", "kernel.shmall", 2097152},
    {"rmem_default", "net.core.rmem_default", 212992},
    {"rmem_max", "net.core.rmem_max", 212992},
    {"wmem_default", "net.core.wmem_default", 212992},
    {"wmem_max", "net.core.wmem_max", 212992},
    {"aio-max-nr", "fs.aio-max-nr", 65536},
    {"swappiness", "vm.swappiness", 60},
    {"panic_on_oops", "kernel.panic_on_oops", 0},
    {"kernel.panic", "kernel.panic", 0},
    {"vm.min_free_kbytes", "vm.min_free_kbytes", 67584},
};
constexpr int kParameterCount = sizeof kParameters / sizeof kParameters[0];

// Setting k raises parameter k mod 13 again in each round, so every one of
// the 40 settings reads, sets and records a new value.
const Parameter& parameterOf(int k) { return kParameters[k % kParameterCount]; }
long valueOf(int k) { return parameterOf(k).initial + (k / kParameterCount + 1) * 1000; }

std::string fixupDocument() {
    std::string text =
        "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n"
        "<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n";
    for (int k = 0; k < kSettings; ++k) {
        const std::string v = std::to_string(valueOf(k));
        text += "<FIXUP_DATA>\n<NODE_LIST>\n<NODE NAME=\"node1\" EXP_VAL=\"CURR(" + v + ")CONF(" +
                v + ")\"/>\n</NODE_LIST>\n<DATA_LIST>\n<DATA NAME=\"NAME\" VAL=\"" +
                parameterOf(k).shortName + "\"/>\n</DATA_LIST>\n</FIXUP_DATA>\n";
    }
    return text + "</FIXUP_DATA_LIST>\n</TASK>\n</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

// reload: true is the module's default; a tuned user turns it off, since the
// value is set (sysctl_set) already.
std::string playbook(bool reload) {
    std::string text = "- hosts: localhost\n  gather_facts: false\n  tasks:\n";
    for (int k = 0; k < kSettings; ++k) {
        text += "    - ansible.posix.sysctl:\n        name: " + std::string(parameterOf(k).key) +
                "\n        value: \"" + std::to_string(valueOf(k)) +
                "\"\n        sysctl_set: true\n        state: present\n        reload: " +
                (reload ? "true" : "false") + "\n";
    }
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

long lastPid() {
    std::ifstream in("/proc/sys/kernel/ns_last_pid");
    long pid = -1;
    in >> pid;
    return pid;
}

// Processes (not threads) an strace log shows being created.
long processesInTrace(const std::string& log) {
    std::istringstream lines(log);
    long count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("<...") != std::string::npos) continue;
        const bool creates = line.find("clone(") != std::string::npos ||
                             line.find("clone3(") != std::string::npos ||
                             line.find("fork(") != std::string::npos;
        if (creates && line.find("CLONE_THREAD") == std::string::npos) ++count;
    }
    return count;
}

double seconds(const struct timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double childrenCpuSeconds() {
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Inside the node: runs argv with extra environment settings (output to a
// log), prints "wall_seconds cpu_seconds pids exit". CPU is that of every
// process the tool waited for, its own included.
int timeCommand(const std::vector<std::string>& words, const std::vector<std::string>& extraEnv,
                const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    for (const std::string& e : extraEnv) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
    const long before = lastPid();
    const double cpuBefore = childrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int status = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) == 0) {
        ::waitpid(pid, &status, 0);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = childrenCpuSeconds() - cpuBefore;
    const long pids = lastPid() - before;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fd);
    std::printf("%.6f %.6f %ld %d\n", wall, cpu, pids,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

struct Tool {
    const char* name;
    std::vector<std::string> command;
    std::vector<std::string> env;  // added to the node's environment
    const char* failureText;       // in the tool's output when a setting failed
};

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long pids = 0;
    std::string values;  // the kernel values after the run
    std::string why;
};

TestNode& prepare(TestNode& node, const std::string& fake) {
    node.setTimeout(std::chrono::minutes(10));
    node.setEnv("LC_ALL", "C.UTF-8");
    node.setEnv("ANSIBLE_NOCOLOR", "1");
    node.addFile("/sbin/sysctl", fake, 0755);
    for (const Parameter& p : kParameters) {
        node.addFile(kStateDir + std::string(p.key), std::to_string(p.initial));
    }
    node.addFile("/etc/sysctl.conf", "# kernel settings\n");
    node.addDirectory(kBenchDir, 0755);
    node.addDirectory(std::string(kBenchDir) + "/work", 0700);
    node.addFile(std::string(kBenchDir) + "/fixup_data.xml", fixupDocument());
    node.addFile(std::string(kBenchDir) + "/playbook.yml", playbook(true));
    node.addFile(std::string(kBenchDir) + "/playbook_tuned.yml", playbook(false));
    return node;
}

Run runOnce(const TestNode& node, const Tool& tool, bool traced) {
    std::vector<std::string> command = tool.command;
    const std::string log = std::string(kBenchDir) + "/tool.log";
    const std::string traceLog = std::string(kBenchDir) + "/strace.log";
    if (traced) {
        command.insert(command.begin(), {"/usr/bin/strace", "-f", "-qq", "-o", traceLog, "-e",
                                         "trace=clone,clone3,fork,vfork"});
    }
    const NodeResult r = node.runFunction([&] { return timeCommand(command, tool.env, log); });
    Run run;
    const std::string output = r.fileContent(log).value_or("");
    int exitCode = -1;
    if (!r.ran() ||
        std::sscanf(r.stdoutText.c_str(), "%lf %lf %ld %d", &run.seconds, &run.cpuSeconds,
                    &run.pids, &exitCode) != 4) {
        run.why = r.setupError + r.stderrText;
        return run;
    }
    if (exitCode != 0 || output.find(tool.failureText) != std::string::npos) {
        run.why = "exit " + std::to_string(exitCode) + ":\n" + output;
        return run;
    }
    if (traced) run.pids = processesInTrace(r.fileContent(traceLog).value_or("")) + 1;
    for (const Parameter& p : kParameters) {
        run.values += std::string(p.key) + "=" +
                      r.fileContent(kStateDir + std::string(p.key)).value_or("?") + " ";
    }
    run.ok = true;
    return run;
}

std::string expectedValues() {
    std::string text;
    for (int i = 0; i < kParameterCount; ++i) {
        const int last = i + ((kSettings - 1 - i) / kParameterCount) * kParameterCount;
        text += std::string(kParameters[i].key) + "=" + std::to_string(valueOf(last)) + " ";
    }
    return text;
}

std::string directoryOfThisProgram() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

bool fileExists(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool libraryOnly = false;
    const std::string here = directoryOfThisProgram();
    std::string cli = here + "/../vxlfixup";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--library-only") {
            libraryOnly = true;
        } else if (a == "--cli" && i + 1 < argc) {
            cli = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: sysctl_compare_bench [--runs N] [--library-only] "
                         "[--cli PATH]\n");
            return 2;
        }
    }
    std::string why;
    if (!TestNode::available(&why)) {
        std::fprintf(stderr, "sysctl_compare_bench: cannot start a test node: %s\n", why.c_str());
        return 2;
    }
    const std::string fake = readFile(here + "/fake_sysctl");
    if (fake.empty() || !fileExists(cli)) {
        std::fprintf(stderr, "sysctl_compare_bench: needs %s/fake_sysctl and %s\n", here.c_str(),
                     cli.c_str());
        return 2;
    }
    const bool haveAnsible = fileExists("/usr/bin/ansible-playbook");
    if (!libraryOnly && !haveAnsible) {
        std::fprintf(stderr,
                     "sysctl_compare_bench: /usr/bin/ansible-playbook is missing "
                     "(bench/compare_with_ansible.sh installs it)\n");
        return 2;
    }
    const bool haveStrace = fileExists("/usr/bin/strace");

    std::vector<Tool> tools = {
        {"library",
         {cli, "run", std::string(kBenchDir) + "/fixup_data.xml", "--node", "node1", "--work-dir",
          std::string(kBenchDir) + "/work"},
         {},
         "FAILED"},
    };
    if (!libraryOnly) {
        const std::vector<std::string> ansible = {"/usr/bin/ansible-playbook", "-i", "localhost,",
                                                  "-c", "local", "-e",
                                                  "ansible_python_interpreter=/usr/bin/python3"};
        Tool plain{"ansible", ansible, {}, "failed=1"};
        plain.command.push_back(std::string(kBenchDir) + "/playbook.yml");
        Tool tuned{"ansible, pipelining, reload: false", ansible, {"ANSIBLE_PIPELINING=1"},
                   "failed=1"};
        tuned.command.push_back(std::string(kBenchDir) + "/playbook_tuned.yml");
        tools.push_back(plain);
        tools.push_back(tuned);
    }

    TestNode node;
    prepare(node, fake);
    const std::string expected = expectedValues();
    std::printf(
        "%d kernel parameter settings (%d parameters, each raised %d to %d times), "
        "%d rounds, each round runs every tool once in turn, each run in a fresh node\n",
        kSettings, kParameterCount, kSettings / kParameterCount,
        (kSettings + kParameterCount - 1) / kParameterCount, runs);
    std::printf("load average before: %s\n", loadAverage().c_str());
    std::fflush(stdout);
    std::vector<std::vector<double>> wall(tools.size()), cpu(tools.size());
    for (int round = 0; round < runs; ++round) {
        for (std::size_t t = 0; t < tools.size(); ++t) {
            const Run run = runOnce(node, tools[t], false);
            if (!run.ok || run.values != expected) {
                std::fprintf(stderr, "sysctl_compare_bench: %s run failed: %s\nvalues: %s\n",
                             tools[t].name, run.why.c_str(), run.values.c_str());
                return 1;
            }
            wall[t].push_back(run.seconds);
            cpu[t].push_back(run.cpuSeconds);
        }
    }
    // Processes, not threads, when strace can tell them apart; otherwise
    // the process ids a run used (threads included).
    std::vector<long> pids(tools.size(), 0);
    for (std::size_t t = 0; t < tools.size(); ++t) {
        const Run traced = runOnce(node, tools[t], haveStrace);
        if (traced.ok) pids[t] = traced.pids;
    }
    std::printf("load average after: %s\n\n", loadAverage().c_str());
    std::printf("%-36s %6s %9s %9s %14s %14s\n", "tool", "runs", "wall_s", "cpu_s",
                "processes/run", "per_parameter");
    for (std::size_t t = 0; t < tools.size(); ++t) {
        std::printf("%-36s %6d %9.3f %9.3f %14ld %14.2f\n", tools[t].name, runs, median(wall[t]),
                    median(cpu[t]), pids[t], static_cast<double>(pids[t]) / kSettings);
    }
    std::printf("(medians; cpu_s is user and system time of the tool and its processes)\n");
    for (std::size_t t = 1; t < tools.size(); ++t) {
        std::printf("%s against the library: %.1f times the CPU, %.1f times the wall time\n",
                    tools[t].name, median(cpu[t]) / median(cpu[0]),
                    median(wall[t]) / median(wall[0]));
    }
    if (!haveStrace)
        std::printf("(no strace: processes counted as process ids, threads included)\n");
    return 0;
}
