// For node tests of the task families: instances fixed one after the other
// by fresh tasks of one family inside a node, as a run fixes them, each
// outcome printed as one line of text; calls of the SSH equivalence entry
// point told the same way; and fake tools that log their calls and answer by
// their first argument.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <deque>
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
#include "model/Script.h"
#include "sandbox/TestNode.h"
#include "util/FixupUtil.h"
#include "vxlfixup/vxlfixup.h"
#include "xml/XmlParser.h"

namespace vxl_test {

inline const std::string kNodeWorkDir = "/var/tmp/vxlwork/";
inline const std::string kToolCallLog = "/var/tmp/fake-tool-calls.log";

struct TaskInstance {
    using Data = std::vector<std::pair<std::string, std::string>>;
    std::string taskId;
    Data data = {};
    std::optional<std::string> expected = {}, actual = {};
    std::string script = {};  // the path of a SHELL fix-up script, when any
};

// The status, then " Vxlg 9066 [arg]..." per message error, " native
// [command] [exit code] [details]" per failed command and " output [text]"
// when any. One line: a line break inside a text shows as "\n".
inline std::string describe(const vxl_fixup::Result& result) {
    std::string text = vxl_fixup::statusToString(result.getStatus());
    for (const vxl_fixup::NLSError* e : result.getErrorList()) {
        text += " " + *e->facility + " " + *e->messageNumber;
        for (const std::string* a : e->arguments) text += " [" + *a + "]";
    }
    for (const vxl_fixup::NativeError* e : result.getNativeErrorList()) {
        text += " native [" + (e->command ? *e->command : "") + "] [" +
                std::to_string(e->exitCode) + "] [" + (e->details ? *e->details : "") + "]";
    }
    const std::string* output = result.getOutput();
    if (output && !output->empty()) text += " output [" + *output + "]";
    for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "\\n");
    return text;
}

// What fixInNode left: the node, one describe() line per instance, the trace
// (and in kToolCallLog the answering tools' calls).
struct Fixed : vxl_fixup::NodeResult {
    std::vector<std::string> lines;

    std::string trace() const {
        return fileContent(kNodeWorkDir + "vexel_fixup_trace_0.log").value_or("");
    }
    // The command lines the library ran, as its trace gives them.
    std::vector<std::string> commands() const {
        const std::string text = trace(), mark = "Executing command ";
        std::vector<std::string> list;
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
            at += mark.size();
            list.push_back(text.substr(at, text.find(" >" + kNodeWorkDir, at) - at));
        }
        return list;
    }
};

// In a fresh copy of node: setup (a non-zero return ends the node with it),
// then each instance fixed in order by its own Task as node1, every trace
// line in kNodeWorkDir.
template <class Task>
Fixed fixInNode(const vxl_fixup::TestNode& node, const std::vector<TaskInstance>& instances,
                const std::function<int()>& setup = nullptr) {
    Fixed f;
    static_cast<vxl_fixup::NodeResult&>(f) = node.runFunction([&] {
        using namespace vxl_fixup;
        if (setup && setup() != 0) return 91;
        ::mkdir(kNodeWorkDir.c_str(), 0755);
        Constants::setWorkDirPath(kNodeWorkDir);
        Constants::setLocalNodeName("node1");
        Trace::setTraceLevel(0);
        FixupUtil::initScratchPad();
        std::deque<std::string> scriptNames;  // a script keeps pointers to them
        for (const TaskInstance& in : instances) {
            FixupData* data = new FixupData(&in.taskId);
            RunObjects::adopt(data);
            for (const auto& item : in.data) data->addData(&item.first, &item.second);
            if (in.expected) data->setExpectedValue(&*in.expected);
            if (in.actual) data->setActualValue(&*in.actual);
            if (!in.script.empty()) {
                const size_t slash = in.script.rfind('/');
                scriptNames.push_back(in.script.substr(0, slash));
                scriptNames.push_back(in.script.substr(slash + 1));
                data->addScript(Script::createScript(SCRIPT_TYPE_SHELL, &scriptNames.back(),
                                                     &scriptNames[scriptNames.size() - 2]));
            }
            Task task(data);
            std::printf("%s\n", describe(*std::unique_ptr<Result>(task.fix(data))).c_str());
        }
        XmlParser::dispose();
        FixupUtil::disposeScratchPad();
        RunObjects::releaseAll();
        return std::fflush(stdout);
    });
    EXPECT_EQ(f.exitCode, 0) << f.setupError << f.stderrText;
    std::istringstream out(f.stdoutText);
    for (std::string line; std::getline(out, line);) f.lines.push_back(line);
    EXPECT_EQ(f.lines.size(), instances.size()) << f.stdoutText;
    return f;
}

// One call of vxlSetupUserEquivalence and what the host got back ("NULL" for
// a text left unset).
struct SshCall {
    const char* operation;
    const char* node = "node1";
    const char* work = kNodeWorkDir.c_str();
    const char* input = nullptr;
    const char* file = nullptr;
};
struct SshReply {
    int rc = -99;
    std::string resultText = "NULL", errorMessage = "NULL";
};

// Inside a node: makes the call and prints its reply as one line,
// "rc<TAB>resultText<TAB>errorMessage".
inline SshReply callSsh(const SshCall& c) {
    SshEquivalenceRequest request{c.work, c.operation, c.input, c.file,
                                  c.node, nullptr,     nullptr, 0};
    SshReply reply;
    reply.rc = vxlSetupUserEquivalence(&request);
    if (request.resultText) reply.resultText = request.resultText;
    if (request.errorMessage) reply.errorMessage = request.errorMessage;
    vxlFixupMemFree(request.resultText);
    vxlFixupMemFree(request.errorMessage);
    std::printf("%d\t%s\t%s\n", reply.rc, reply.resultText.c_str(), reply.errorMessage.c_str());
    std::fflush(stdout);
    return reply;
}

// The replies callSsh printed in a node.
inline std::vector<SshReply> sshReplies(const vxl_fixup::NodeResult& r) {
    std::vector<SshReply> list;
    std::istringstream in(r.stdoutText);
    for (std::string line; std::getline(in, line);) {
        const size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (b == std::string::npos) continue;
        list.push_back({std::stoi(line), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return list;
}

// A fake tool at path: logs "<path> [arg]..." to kToolCallLog and answers
// as setAnswer gave for its first argument, or else for "".
inline void addAnsweringTool(vxl_fixup::TestNode& node, const std::string& path) {
    node.addFile(
        path,
        "#!/bin/sh\nline=$0\nfor a in \"$@\"; do line=\"$line [$a]\"; done\n"
        "printf '%s\\n' \"$line\" >> " +
            kToolCallLog +
            "\nd=\"$0.answers/default\"\n"
            "case $1 in ''|*/*) ;; *) [ -d \"$0.answers/by-$1\" ] && "
            "d=\"$0.answers/by-$1\";; esac\n"
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

// An executable shell script at path: "#!/bin/sh", then body.
inline void addScript(vxl_fixup::TestNode& node, const std::string& path, const std::string& body,
                      mode_t mode = 0755) {
    node.addFile(path, "#!/bin/sh\n" + body + "\n", mode);
}

}  // namespace vxl_test
