// Cost of one test node: build from a few fixtures, run a short command,
// tear down (result destroyed, folder removed). Needs root.
// Usage: node_bench [runs]

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "sandbox/TestNode.h"

using vxl_fixup::NodeResult;
using vxl_fixup::TestNode;

namespace {

// Runs body `runs` times and prints mean, median, p90 and max in ms.
bool measure(const char* what, int runs, const std::function<bool()>& body) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        if (!body()) return false;
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("%-58s runs=%d mean=%6.1f median=%6.1f p90=%6.1f max=%6.1f ms\n", what, runs,
                sum / runs, ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());
    return true;
}

// The same command without a node, for scale: process start-up dominates.
bool plainShell(const char* command) {
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
}

bool check(const NodeResult& r, size_t changes) {
    if (r.exitCode == 0 && r.changes().size() == changes) return true;
    std::fprintf(stderr, "node_bench: run failed: %s%s\n", r.setupError.c_str(),
                 r.stderrText.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    if (runs <= 0) runs = 50;
    std::string why;
    if (!TestNode::available(&why)) {
        std::fprintf(stderr, "node_bench: %s\n", why.c_str());
        return 2;
    }
    TestNode empty;
    TestNode node;
    node.addFile("/etc/sysctl.conf", "kernel.shmmax = 4096\n", 0644)
        .addFile("/etc/security/limits.d/99-bench.conf", "* soft nofile 1024\n")
        .addFakeTool("/usr/bin/vxl-bench-tool", "ok\n");
    node.addFakeSysctl().set("kernel.shmmax", "4096").set("kernel.sem", "250\t32000\t100\t128");
    const char* command = "sysctl -n kernel.shmmax >/dev/null && echo x >> /etc/sysctl.conf";

    bool ok =
        measure("no node: sh -c true", runs, [] { return plainShell("true"); }) &&
        measure("node, no fixtures: sh -c true", runs,
                [&] { return check(empty.run("true"), 0); }) &&
        measure("node, 4 fixtures: sh -c true", runs, [&] { return check(node.run("true"), 0); }) &&
        measure("node, 4 fixtures: fake sysctl + append, change scan", runs,
                [&] { return check(node.run(command), 1); });
    return ok ? 0 : 1;
}
