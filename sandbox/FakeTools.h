#pragma once
// Scripts of the node's fake tools. A script carries no test data: its
// declared path, texts and exit code live in files under toolDir(id), so no
// text ever needs quoting into shell code.

#include <string>

namespace vxl_fixup::node_detail {

// The node's bookkeeping directory (not reported as a change).
inline const char* const kStateDir = "/.vxlnode";
inline const char* const kCommandLog = "/.vxlnode/commands.log";
inline const char* const kSysctlDir = "/.vxlnode/sysctl";

std::string toolDir(int id);  // "/.vxlnode/tools/<id>": name, stdout, stderr, exit
std::string fakeToolScript(int id);
std::string fakeSysctlScript(int id);

// Key as the fake sysctl stores it ("kernel/shmmax" -> "kernel.shmmax");
// empty when it cannot name a kernel value.
std::string sysctlKey(const std::string& key);

}  // namespace vxl_fixup::node_detail
