#pragma once
// The test node: a node copy (NodeCopy.h) with the tests' fake tools, which
// answer as a test declares. Test-only.
//
// Needs root and a kernel with overlayfs; call TestNode::available() (or use
// VXL_REQUIRE_TEST_NODE() from NodeTestSupport.h) before running a node.

#include <string>

#include "NodeCopy.h"

namespace vxl_fixup {

class TestNode;

// State behind the node's fake sysctl: one value per key, kept byte for byte
// (tabs and blanks included). Calls:
//   sysctl [-n] KEY...        prints "KEY = VALUE" (or VALUE with -n);
//                             unknown key: message on stderr, exit 255
//   sysctl [-w] KEY=VALUE...  stores and prints "KEY = VALUE" (-q: silent);
//                             unknown or read-only key: message, exit 255
//   sysctl -p [FILE...]       loads "key = value" lines (default
//                             /etc/sysctl.conf), prints each setting
//   sysctl -a                 prints every key
// -e ignores unknown keys. forceResult() overrides all of this.
class FakeSysctl {
public:
    FakeSysctl& set(const std::string& key, const std::string& value);
    FakeSysctl& setReadOnly(const std::string& key, bool readOnly = true);
    // Every call (still logged) prints these texts and exits with exitCode.
    FakeSysctl& forceResult(const std::string& stdoutText, const std::string& stderrText,
                            int exitCode);

private:
    friend class TestNode;
    explicit FakeSysctl(TestNode* node) : node_(node) {}
    std::string keyOf(const std::string& key);
    TestNode* node_;
};

class TestNode : public NodeCopy {
public:
    TestNode();
    ~TestNode();

    // NodeCopy's builders, answering the test node so that the test's own
    // builders chain with them.
    TestNode& addFile(const std::string& path, const std::string& content, mode_t mode = 0644,
                      uid_t uid = 0, gid_t gid = 0) {
        NodeCopy::addFile(path, content, mode, uid, gid);
        return *this;
    }
    TestNode& addDirectory(const std::string& path, mode_t mode = 0755, uid_t uid = 0,
                           gid_t gid = 0) {
        NodeCopy::addDirectory(path, mode, uid, gid);
        return *this;
    }
    TestNode& addSymlink(const std::string& path, const std::string& target) {
        NodeCopy::addSymlink(path, target);
        return *this;
    }
    TestNode& hidePath(const std::string& path) {
        NodeCopy::hidePath(path);
        return *this;
    }
    TestNode& addTmpfs(const std::string& path, std::size_t bytes) {
        NodeCopy::addTmpfs(path, bytes);
        return *this;
    }
    TestNode& setHostname(const std::string& name) {
        NodeCopy::setHostname(name);
        return *this;
    }
    TestNode& setEnv(const std::string& name, const std::string& value) {
        NodeCopy::setEnv(name, value);
        return *this;
    }
    TestNode& setTimeout(std::chrono::milliseconds limit) {
        NodeCopy::setTimeout(limit);
        return *this;
    }

    // A shell script at path that logs its call (see commandLog()), prints the
    // texts and exits with exitCode.
    TestNode& addFakeTool(const std::string& path, const std::string& stdoutText = {},
                          const std::string& stderrText = {}, int exitCode = 0);
    // Installs the fake sysctl at path (again for a second path); one state is
    // shared by all of them and lives as long as this TestNode.
    FakeSysctl& addFakeSysctl(const std::string& path = "/sbin/sysctl");

private:
    friend class FakeSysctl;
    std::unique_ptr<FakeSysctl> sysctl_;
};

}  // namespace vxl_fixup
