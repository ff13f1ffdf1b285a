#include "FakeTools.h"

#include "NodeTools.h"

namespace vxl_fixup::node_detail {

namespace {

// The test's kernel: one file per value under /.vxlnode/sysctl/values, kept
// byte for byte; read-only keys are marked in /.vxlnode/sysctl/readonly; a
// forced answer replaces all of it.
const char* const kFakeKernel = R"SH(v=/.vxlnode/sysctl
if [ -d "$v/forced" ]; then
  [ -s "$v/forced/stdout" ] && cat "$v/forced/stdout"
  [ -s "$v/forced/stderr" ] && cat "$v/forced/stderr" >&2
  read -r rc < "$v/forced/exit"
  exit "$rc"
fi
known() { [ -f "$v/values/$1" ]; }
current() { cat "$v/values/$1"; }
writable() { [ ! -e "$v/readonly/$1" ]; }
store() { printf '%s' "$2" > "$v/values/$1"; }
keys() {
  for f in "$v"/values/*; do [ -f "$f" ] && printf '%s\n' "${f##*/}"; done
}
)SH";

}  // namespace

std::string fakeToolScript(int id) {
    return toolScript(id, "Fake tool of the test node: logs the call, answers as the test asked.",
                      kLogCall + std::string("[ -s \"$d/stdout\" ] && cat \"$d/stdout\"\n"
                                             "[ -s \"$d/stderr\" ] && cat \"$d/stderr\" >&2\n"
                                             "read -r rc < \"$d/exit\"\n"
                                             "exit \"$rc\"\n"));
}

std::string fakeSysctlScript(int id) {
    return sysctlScript(id, "Fake sysctl of the test node.", kFakeKernel);
}

}  // namespace vxl_fixup::node_detail
