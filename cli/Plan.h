// "vxlfixup plan": runs a fix-up document with the real library inside a
// copy of this machine (NodeCopy, in the machine's view) and reports what a
// run would change: outcomes, commands, files, kernel values and the calls
// that act on services and the cluster, which the copy records instead of
// making.
#pragma once

#include <string>
#include <vector>

namespace vxl_cli {

// args: DOCUMENT.xml and the options after "plan". Returns the exit code of
// a run of the document, or 2 when the plan could not be made (one line on
// standard error says why).
int plan(const std::vector<std::string>& args);

}  // namespace vxl_cli
