#include "TestNode.h"

#include "FakeTools.h"
#include "NodeTools.h"

namespace vxl_fixup {

namespace {

std::string sysctlFile(const char* sub, const std::string& key) {
    return std::string(node_detail::kSysctlDir) + "/" + sub + "/" + key;
}

}  // namespace

// ---- FakeSysctl: its state is bookkeeping files of the node; a later file
// replaces an earlier one.

std::string FakeSysctl::keyOf(const std::string& key) {
    std::string k = node_detail::sysctlKey(key);
    if (k.empty()) node_->noteError("bad sysctl key '" + key + "'");
    return k;
}

FakeSysctl& FakeSysctl::set(const std::string& key, const std::string& value) {
    const std::string k = keyOf(key);
    if (!k.empty()) node_->addBookkeeping(sysctlFile("values", k), value);
    return *this;
}

FakeSysctl& FakeSysctl::setReadOnly(const std::string& key, bool readOnly) {
    const std::string k = keyOf(key);
    if (k.empty()) return *this;
    if (readOnly) {
        node_->addBookkeeping(sysctlFile("readonly", k), {});
    } else {
        node_->hideBookkeeping(sysctlFile("readonly", k));
    }
    return *this;
}

FakeSysctl& FakeSysctl::forceResult(const std::string& stdoutText, const std::string& stderrText,
                                    int exitCode) {
    if (exitCode < 0 || exitCode > 255) {
        node_->noteError("exit code out of range: " + std::to_string(exitCode));
        return *this;
    }
    node_->addBookkeeping(sysctlFile("forced", "stdout"), stdoutText);
    node_->addBookkeeping(sysctlFile("forced", "stderr"), stderrText);
    node_->addBookkeeping(sysctlFile("forced", "exit"), std::to_string(exitCode) + "\n");
    return *this;
}

// ---- TestNode

TestNode::TestNode() = default;
TestNode::~TestNode() = default;

TestNode& TestNode::addFakeTool(const std::string& path, const std::string& stdoutText,
                                const std::string& stderrText, int exitCode) {
    if (exitCode < 0 || exitCode > 255) {
        noteError("exit code out of range: " + std::to_string(exitCode));
        return *this;
    }
    if (!checkPath(path, "tool")) return *this;
    const std::string dir = addToolScript(path, node_detail::fakeToolScript);
    addBookkeeping(dir + "/stdout", stdoutText);
    addBookkeeping(dir + "/stderr", stderrText);
    addBookkeeping(dir + "/exit", std::to_string(exitCode) + "\n");
    return *this;
}

FakeSysctl& TestNode::addFakeSysctl(const std::string& path) {
    if (!sysctl_) sysctl_.reset(new FakeSysctl(this));
    if (checkPath(path, "tool")) {
        addSysctlState();
        addToolScript(path, node_detail::fakeSysctlScript);
    }
    return *sysctl_;
}

}  // namespace vxl_fixup
