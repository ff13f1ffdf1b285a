// For node tests of a task family: one instance fixed by a fresh task inside
// the node, its outcome printed as text, and fake tools that log each call and
// answer by their first argument.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/NativeError.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "sandbox/TestNode.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"

namespace vxl_test {

inline const std::string kNodeWorkDir = "/var/tmp/vxlwork/";
inline const std::string kToolCallLog = "/var/tmp/fake-tool-calls.log";

struct TaskInstance {
    std::string taskId;
    std::vector<std::pair<std::string, std::string>> data;  // items in order
    std::optional<std::string> expected, actual;
};

// A Result as lines: the status; each message error as "Vxlg 9066 [arg]...";
// each failed command as "native [command] [exit code] [details]"; the
// output as "output [text]" when there is one.
inline std::string describe(const vxl_fixup::Result& result) {
    std::string text = vxl_fixup::statusToString(result.getStatus()) + "\n";
    for (const vxl_fixup::NLSError* e : result.getErrorList()) {
        text += *e->facility + " " + *e->messageNumber;
        for (const std::string* a : e->arguments) text += " [" + *a + "]";
        text += "\n";
    }
    for (const vxl_fixup::NativeError* e : result.getNativeErrorList()) {
        text += "native [" + (e->command ? *e->command : "") + "] [" + std::to_string(e->exitCode) +
                "] [" + (e->details ? *e->details : "") + "]\n";
    }
    if (result.getOutput() && !result.getOutput()->empty()) {
        text += "output [" + *result.getOutput() + "]\n";
    }
    return text;
}

// Runs inside the node: sets up a run for node1 with every trace line in
// kNodeWorkDir, fixes the instance with a new Task and prints describe().
template <class Task>
int fixInNode(const TaskInstance& instance) {
    using namespace vxl_fixup;
    if (::mkdir(kNodeWorkDir.c_str(), 0755) != 0 && errno != EEXIST) return 90;
    Constants::setWorkDirPath(kNodeWorkDir);
    Constants::setLocalNodeName("node1");
    Trace::setTraceLevel(0);
    FixupUtil::initScratchPad();
    FixupData* data = new FixupData(&instance.taskId);
    RunObjects::adopt(data);
    for (const auto& item : instance.data) data->addData(&item.first, &item.second);
    if (instance.expected) data->setExpectedValue(&*instance.expected);
    if (instance.actual) data->setActualValue(&*instance.actual);
    std::string text;
    {
        Task task(data);
        std::unique_ptr<Result> result(task.fix(data));
        text = describe(*result);
    }
    XmlParser::dispose();
    FixupUtil::disposeScratchPad();
    Trace::close();
    RunObjects::releaseAll();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return 0;
}

// Runs setup (when given; a non-zero return ends the node with it) and then
// fixInNode<Task> in a fresh node built from node's fixtures.
template <class Task>
vxl_fixup::NodeResult fixInFreshNode(const vxl_fixup::TestNode& node, const TaskInstance& instance,
                                     std::function<int()> setup = nullptr) {
    return node.runFunction([&instance, &setup] {
        if (setup) {
            const int rc = setup();
            if (rc != 0) return rc;
        }
        return fixInNode<Task>(instance);
    });
}

// A fake tool at path: logs "<path> [arg]..." to kToolCallLog and answers
// with what setAnswer gave for its first argument, or else for "".
inline void addAnsweringTool(vxl_fixup::TestNode& node, const std::string& path) {
    node.addFile(path,
                 "#!/bin/sh\n"
                 "line=$0\n"
                 "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
                 "printf '%s\\n' \"$line\" >> " +
                     kToolCallLog +
                     "\n"
                     "d=\"$0.answers/default\"\n"
                     "case $1 in ''|*/*) ;; *) [ -d \"$0.answers/by-$1\" ] && "
                     "d=\"$0.answers/by-$1\" ;; esac\n"
                     "[ -f \"$d/out\" ] && cat \"$d/out\"\n"
                     "[ -f \"$d/err\" ] && cat \"$d/err\" >&2\n"
                     "rc=0\n"
                     "[ -f \"$d/rc\" ] && read -r rc < \"$d/rc\"\n"
                     "exit \"$rc\"\n",
                 0755);
}

inline void setAnswer(vxl_fixup::TestNode& node, const std::string& path,
                      const std::string& firstArg, const std::string& out,
                      const std::string& err = "", int exitCode = 0) {
    const std::string dir = path + ".answers/" + (firstArg.empty() ? "default" : "by-" + firstArg);
    node.addFile(dir + "/out", out).addFile(dir + "/err", err);
    node.addFile(dir + "/rc", std::to_string(exitCode) + "\n");
}

// The answering tools' calls in order.
inline std::vector<std::string> toolCalls(const vxl_fixup::NodeResult& r) {
    std::vector<std::string> calls;
    std::istringstream in(r.fileContent(kToolCallLog).value_or(""));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
}

inline std::string traceText(const vxl_fixup::NodeResult& r) {
    return r.fileContent(kNodeWorkDir + "vexel_fixup_trace_0.log").value_or("");
}

}  // namespace vxl_test
