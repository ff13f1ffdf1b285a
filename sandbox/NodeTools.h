#pragma once
// The node's bookkeeping and the scripts of its tools. A script carries no
// data: its declared path, texts and exit code live in files under
// toolDir(id), so no text ever needs quoting into shell code.

#include <string>
#include <utility>
#include <vector>

namespace vxl_fixup::node_detail {

// The node's bookkeeping directory (not reported as a change).
inline const char* const kStateDir = "/.vxlnode";
inline const char* const kCommandLog = "/.vxlnode/commands.log";
inline const char* const kSysctlDir = "/.vxlnode/sysctl";

std::string toolDir(int id);  // "/.vxlnode/tools/<id>": name, and what the tool needs

// Shell lines that log the call ("$d/name", then each argument in brackets)
// as one write, so calls from several processes never interleave in a line.
extern const char* const kLogCall;

// A tool's script: the shell line, the comment, d=toolDir(id), then body.
std::string toolScript(int id, const std::string& comment, const std::string& body);

// Logs its call and succeeds without output; a call whose first argument is
// a line of "$d/reads" runs the tool named in "$d/real" instead.
std::string recorderScript(int id);

// A sysctl (-n, -w, -p, -a, -e, -q and their long forms) over a kernel that
// `kernel` defines as shell functions, each given a dotted key:
//   known KEY      true when the kernel has the key
//   current KEY    prints its value without a newline
//   writable KEY   false for a read-only key
//   store KEY VAL  sets it
//   keys           prints every key, one a line
// `kernel` may also answer every call itself and exit.
std::string sysctlScript(int id, const std::string& comment, const std::string& kernel);

// The recording sysctl: kernel values from /proc/sys until written; writes go
// to kSysctlDir/values, the value before the first write to kSysctlDir/original.
// A key of the copy's own IPC and network namespaces reads as this machine
// had it, from kSysctlDir/machine.
std::string recordingSysctlScript(int id);

// This machine's values (trailing newlines dropped) of the keys a new IPC or
// network namespace holds at their defaults: read before the copy starts.
std::vector<std::pair<std::string, std::string>> namespacedKernelValues();

// Key as the node's sysctl stores it ("kernel/shmmax" -> "kernel.shmmax");
// empty when it cannot name a kernel value.
std::string sysctlKey(const std::string& key);

}  // namespace vxl_fixup::node_detail
