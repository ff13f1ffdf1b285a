// For node tests of a task family: one instance fixed by a fresh task inside
// a node, its outcome printed as text, and fake tools that log their calls and
// answer by their first argument.
#pragma once

#include <sys/stat.h>

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
    std::vector<std::pair<std::string, std::string>> data;
    std::optional<std::string> expected, actual;
};

// The status, then "Vxlg 9066 [arg]..." per message error, "native [command]
// [exit code] [details]" per failed command and "output [text]" when any.
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
    const std::string* output = result.getOutput();
    return text + (output && !output->empty() ? "output [" + *output + "]\n" : "");
}

// In a fresh node: runs setup (a non-zero return ends the node with it), then
// fixes the instance as node1 with every trace line in kNodeWorkDir and
// prints describe() of the Result.
template <class Task>
vxl_fixup::NodeResult fixInFreshNode(const vxl_fixup::TestNode& node, const TaskInstance& in,
                                     const std::function<int()>& setup = nullptr) {
    return node.runFunction([&] {
        using namespace vxl_fixup;
        if (setup && setup() != 0) return 91;
        ::mkdir(kNodeWorkDir.c_str(), 0755);
        Constants::setWorkDirPath(kNodeWorkDir);
        Constants::setLocalNodeName("node1");
        Trace::setTraceLevel(0);
        FixupUtil::initScratchPad();
        FixupData* data = new FixupData(&in.taskId);
        RunObjects::adopt(data);
        for (const auto& item : in.data) data->addData(&item.first, &item.second);
        if (in.expected) data->setExpectedValue(&*in.expected);
        if (in.actual) data->setActualValue(&*in.actual);
        Task task(data);
        std::fputs(describe(*std::unique_ptr<Result>(task.fix(data))).c_str(), stdout);
        XmlParser::dispose();
        FixupUtil::disposeScratchPad();
        return std::fflush(stdout);
    });
}

// A fake tool at path: logs "<path> [arg]..." to kToolCallLog and answers
// as setAnswer gave for its first argument, or else for "".
inline void addAnsweringTool(vxl_fixup::TestNode& node, const std::string& path) {
    node.addFile(
        path,
        "#!/bin/sh\nline=$0\nfor a in \"$@\"; do line=\"$line [$a]\"; done\n"
        "printf '%s\\n' \"$line\" >> " +
            kToolCallLog +
            "\n"
            "d=\"$0.answers/default\"\n"
            "case $1 in ''|*/*) ;; *) [ -d \"$0.answers/by-$1\" ] && d=\"$0.answers/by-$1\";; "
            "esac\n"
            "[ -f \"$d/out\" ] && cat \"$d/out\"\n[ -f \"$d/err\" ] && cat \"$d/err\" >&2\n"
            "rc=0\n[ -f \"$d/rc\" ] && read -r rc < \"$d/rc\"\nexit \"$rc\"\n",
        0755);
}

inline void setAnswer(vxl_fixup::TestNode& node, const std::string& path,
                      const std::string& firstArg, const std::string& out,
                      const std::string& err = "", int exitCode = 0) {
    const std::string dir = path + ".answers/" + (firstArg.empty() ? "default" : "by-" + firstArg);
    node.addFile(dir + "/out", out).addFile(dir + "/err", err);
    node.addFile(dir + "/rc", std::to_string(exitCode) + "\n");
}

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
