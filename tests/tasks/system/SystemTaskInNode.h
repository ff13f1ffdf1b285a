// Runs system-settings task instances inside a test node, one after the
// other as a run does, and gives each outcome as one line of text.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Constants.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "model/Script.h"
#include "sandbox/NodeTestSupport.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"

namespace vxl_test {

struct SettingsInstance {
    using Items = std::vector<std::pair<std::string, std::string>>;
    SettingsInstance(std::string id, Items dataItems, const char* expectedValue = nullptr)
        : taskId(std::move(id)), items(std::move(dataItems)), expected(expectedValue) {}
    std::string taskId;
    Items items;
    const char* expected;               // null: no expected value
    std::string scriptDir, scriptName;  // a shell script when scriptName is set
};

// "STATUS Facility/Number(arg|arg)... native[details]..."
inline std::string outcomeText(const vxl_fixup::Result& result) {
    std::string text = vxl_fixup::statusToString(result.getStatus());
    for (const vxl_fixup::NLSError* e : result.getErrorList()) {
        text += " " + *e->facility + "/" + *e->messageNumber + "(";
        for (size_t i = 0; i < e->arguments.size(); ++i) {
            text += (i ? "|" : "") + *e->arguments[i];
        }
        text += ")";
    }
    for (const vxl_fixup::NativeError* n : result.getNativeErrorList()) {
        text += " native[" + (n->details ? *n->details : std::string()) + "]";
    }
    return text;
}

// In the node: prepare (when given), then each instance fixed for node1, one
// outcome line each on standard output.
inline int fixInNode(const std::vector<SettingsInstance>& instances,
                     const std::function<void()>& prepare) {
    using namespace vxl_fixup;
    if (prepare) prepare();
    ::mkdir("/var/tmp/vxlwork", 0700);
    Constants::setWorkDirPath("/var/tmp/vxlwork/");
    Constants::setLocalNodeName("node1");
    FixupUtil::initScratchPad();
    for (const SettingsInstance& instance : instances) {
        auto* data = new FixupData(&instance.taskId);
        RunObjects::adopt(data);
        for (const auto& item : instance.items) data->addData(&item.first, &item.second);
        const std::string expected = instance.expected ? instance.expected : "";
        if (instance.expected) data->setExpectedValue(&expected);
        if (!instance.scriptName.empty()) {
            data->addScript(
                Script::createScript(SCRIPT_TYPE_SHELL, &instance.scriptName, &instance.scriptDir));
        }
        sTaskSystemSettings task(data);
        std::unique_ptr<Result> result(task.fix(data));
        std::printf("%s\n", outcomeText(*result).c_str());
    }
    FixupUtil::disposeScratchPad();
    RunObjects::releaseAll();
    return std::fflush(stdout);
}

struct NodeOutcome {
    vxl_fixup::NodeResult node;
    std::vector<std::string> lines;  // one per instance
};

inline NodeOutcome runInNode(const vxl_fixup::TestNode& node,
                             const std::vector<SettingsInstance>& instances,
                             const std::function<void()>& prepare = {}) {
    NodeOutcome o{node.runFunction([&] { return fixInNode(instances, prepare); }), {}};
    EXPECT_EQ(o.node.exitCode, 0) << o.node.setupError << o.node.stderrText;
    const std::string& out = o.node.stdoutText;
    for (size_t start = 0, end; start < out.size(); start = end + 1) {
        end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        o.lines.push_back(out.substr(start, end - start));
    }
    return o;
}

}  // namespace vxl_test
