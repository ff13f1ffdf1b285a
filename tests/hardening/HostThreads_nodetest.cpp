// A host that calls from many threads at once: 8 threads make 100 calls
// each of a document holding an instance of every task family, half through
// vxlRunFixup and half through vxlRunAutoFixup, while 2 more publish the SSH
// key (REUSE) 25 times each, each thread in its own work directory. The
// calls wait for each other; none crashes, and every call's output document
// or published key is complete, whatever ran meanwhile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "hardening/HardeningSupport.h"
#include "sandbox/NodeTestSupport.h"
#include "util/FileIO.h"
#include "vxlfixup/vxlfixup.h"

namespace vxl_fixup {
namespace {

const int kThreads = 8, kSshThreads = 2, kSshCalls = 25;
const int kCallsPerThread = 100;

size_t count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

TEST(HostThreadsNodeTest, EightThreadsMakeAHundredCallsEachAndEveryOutputIsComplete) {
    VXL_REQUIRE_TEST_NODE();
    const std::vector<vxl_test::DocInstance> families = {
        {"TASKKERNELPARAM", {{"NAME", "file-max"}}, "CURR(1048576)CONF(1048576)"},
        {"TASKSHELLLIMITS", {{"USER", "dbowner"}, {"SOFT_FILES", "65536"}}},
        {"TASKGROUPEXISTENCE", {{"GROUP", "dbgrp"}, {"GID", "54320"}}},
        {"TASKPATHCHECK",
         {{"PATH", "/etc/qhm/tdb.loc"}},
         "USER:root(0),GROUP:root(0),PERMISSIONS:644"},
        {"TASKDAEMONNOTRUNNING", {{"NAME", "avahi-daemon"}}},
    };
    const std::string document = vxl_test::fixupDocument(families);
    TestNode node;
    node.setTimeout(std::chrono::seconds(280));
    node.addFakeSysctl().set("fs.file-max", "65536");
    node.addFile("/etc/sysctl.conf", "fs.file-max = 65536\n");
    node.addFile("/etc/ssh/sshd_config", "UsePAM yes\n");
    node.addFile("/etc/security/limits.conf", "dbowner soft nofile 1024\n");
    node.addFile("/etc/qhm/tdb.loc", "x\n", 0600);
    node.addFakeTool("/sbin/chkconfig");
    node.addFile("/var/tmp/doc.xml", document);
    node.setEnv("HOME", "/home/tester").addDirectory("/home/tester/.ssh", 0700);
    node.addFile("/home/tester/.ssh/id_rsa.pub", "ssh-rsa A t@old\n");
    const size_t instances = families.size();
    const NodeResult r = node.runFunction([&document, instances] {
        std::atomic<int> incomplete{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads + kSshThreads; ++t) {
            threads.emplace_back([t, &incomplete, &document, instances] {
                std::string work = "/var/tmp/thread" + std::to_string(t) + "/";
                ::mkdir(work.c_str(), 0700);
                for (int i = 0; t >= kThreads && i < kSshCalls; ++i) {
                    SshEquivalenceRequest ssh{work.c_str(), "REUSE", nullptr, nullptr,
                                              "node1",      nullptr, nullptr, 5};
                    std::string text;
                    int e = 0;
                    if (vxlSetupUserEquivalence(&ssh) != 0 || ssh.errorMessage != nullptr ||
                        !readWholeFile(work + "/node1.id_rsa.pub", text, e) ||
                        text != "ssh-rsa A t@old\n") {
                        if (incomplete++ == 0) {
                            std::fprintf(stderr, "thread %d call %d: %s\n", t, i,
                                         ssh.errorMessage ? ssh.errorMessage : "");
                        }
                    }
                    vxlFixupMemFree(ssh.resultText);
                    vxlFixupMemFree(ssh.errorMessage);
                }
                const std::string output = work + "fixup/vexelfixupoutput_node1.xml";
                for (int i = 0; t < kThreads && i < kCallsPerThread; ++i) {
                    std::string node = "node1", data = "/var/tmp/doc.xml";
                    vxlfixup record{&work[0], &data[0], &node[0], nullptr, nullptr, nullptr, 5};
                    const int rc =
                        t % 2 ? vxlRunAutoFixup(&record, &document) : vxlRunFixup(&record);
                    std::string text;
                    int e = 0;
                    const bool complete =
                        rc == 0 && record.errorMessage == nullptr && record.outputFile != nullptr &&
                        output == record.outputFile && readWholeFile(output, text, e) &&
                        count(text, "<STATUS>SUCCESSFUL</STATUS>") == instances &&
                        count(text, "<FIXUP_OUTPUT_DATA>") == instances && text.size() > 20 &&
                        text.substr(text.size() - 20) == "</VEXEL_FIXUP_ROOT>\n";
                    if (!complete) {
                        if (incomplete++ == 0) {
                            std::fprintf(stderr, "thread %d call %d: rc %d, %s\n%s", t, i, rc,
                                         record.errorMessage ? record.errorMessage : "",
                                         text.c_str());
                        }
                    }
                    vxlFixupMemFree(record.outputFile);
                    vxlFixupMemFree(record.errorMessage);
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        return incomplete.load();
    });
    EXPECT_EQ(r.exitCode, 0) << r.setupError << r.stderrText;
    EXPECT_FALSE(r.timedOut);
}

}  // namespace
}  // namespace vxl_fixup
