// What every exported entry point shares: one process-wide lock that
// serialises calls (the run constants, trace log and scratch pad are
// process-wide), the copy of a text into a host-owned buffer and the node
// name as the host interface records it.
#pragma once

#include <mutex>
#include <string>

namespace vxl_fixup {

// Held for the whole of every exported call.
std::mutex& runLock();

// A NUL-terminated copy from the library's allocator, which vxlFixupMemFree
// releases; null when out of memory.
char* copyForHost(const std::string& text);

// The lower-cased text before the first "." of a NUL-terminated name, of any
// length ("Node1.example.com" gives "node1").
std::string shortLowerNodeName(const char* name);

// The work or trace directory of the recorded run constants when it is, or
// passes through, a link of another user (runDirectoryRefusal), or the trace
// file when something other users could have planted is in its place (a
// link, not a regular file, another name of a file): the text that ends the
// call, else empty. Checked before the first line, so nothing is ever
// written through it.
std::string traceFileRefusal();

// The text that ends the call when the work or trace directory is, or passes
// through, a symbolic link neither root nor the caller owns; else empty.
std::string runDirectoryRefusal();

}  // namespace vxl_fixup
