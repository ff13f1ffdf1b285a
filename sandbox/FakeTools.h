#pragma once
// Scripts of the test node's fake tools (test-only): they answer as the test
// declared, from files under toolDir(id) and /.vxlnode/sysctl.

#include <string>

namespace vxl_fixup::node_detail {

std::string fakeToolScript(int id);
std::string fakeSysctlScript(int id);

}  // namespace vxl_fixup::node_detail
