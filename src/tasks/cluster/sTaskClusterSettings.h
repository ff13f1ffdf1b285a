// The cluster settings task family: the storage library's driver
// configuration, pinning the cluster nodes, the node-local registry's paths,
// resource use in the cluster, the HWT resource, and the owner, group and mode
// of a path. One object per task; fix(FixupData*) dispatches on the task
// identifier number.
//
// The cluster tools are run as <QHMHOME>/bin/<tool>. Every fix returns a new
// Result the caller owns and never throws; a failed step ends the instance
// FAILED with its message-catalogue error, and no later successful step
// hides it. Every text from the document or a tool's output reaches a
// command line only through shellQuote.
#pragma once

#include <string>
#include <vector>

#include "engine/FixupTask.h"

namespace vxl_fixup {

class FixupData;
class NameValuePair;
class Result;

class sTaskClusterSettings : public FixupTask {
public:
    explicit sTaskClusterSettings(FixupData* data);
    ~sTaskClusterSettings() override;

    // Identifiers without a fix method here give an empty UNKNOWN Result.
    Result* fix(FixupData* data) override;
    using FixupTask::fix;

    // Storage library driver configuration ("TASKQVRLIBCHECKS"): rewrites the
    // values of the known keys in CONFIGFILEPATH, then restarts the driver
    // through its init script, also when no byte had to change. FAILED with
    // Vxlg 9031 when no key or no path is given or a value holds a line
    // break or NUL (nothing written, nothing run), Vxlg 9030 (path, node)
    // when the file cannot be read or rewritten (left as it was, driver not
    // restarted), Vxlg 9064 (command, node, native errors) when the restart
    // fails (the rewritten file stays).
    Result* fixTaskQVRLibConfigParams(FixupData* data);
    Result* fixQVRLibConfigParams(const std::string* configFile,
                                  std::vector<NameValuePair*> params);

    // Pins the nodes membview lists as "Unpinned" ("TASKPINNODES"). FAILED
    // with Vxlg 9031 when QHMHOME is missing or no node is unpinned, Vxlg
    // 9065 when the listing fails, Vxlg 9066 when pinning fails.
    Result* fixTaskPinNodes(FixupData* data);
    // nodes: node names separated by blanks, each passed to qhmctl as one
    // word.
    Result* pinNodes(std::string* nodes, const std::string* clusterHome);

    // The node-local registry's paths ("TASKTDBINTEGRITY"): expected value
    // path|ownership;path|ownership;... paired by position with the actual
    // value. Each path goes through the path-ownership fix; the outcome folds
    // every path's errors and the worst status. An entry without "|" or
    // without an actual counterpart is not acted on and adds Vxlg 9031 and
    // FAILED. No expected value: UNKNOWN.
    Result* fixTaskTDBConfig(FixupData* data);

    // Sets the cluster attribute "resource use" to 1
    // ("TASKQHMRESOURCEPARAMS"). FAILED with Vxlg 9031 when QHMHOME is
    // missing, Vxlf 5718 when qhmctl fails.
    Result* fixTaskEnableResourceUse(FixupData* data);

    // Disables the nys.hwt resource and stops it when the status report says
    // "HWT is running" ("CHECK_HWT_RESOURCE"). FAILED with Vxlg 9031 (no
    // QHMHOME), 9072 (disable failed; the task goes on and stays FAILED),
    // 9074 (status could not be read), 9073 (stop failed).
    Result* fixTaskHWTResource(FixupData* data);

    // Gives the last "PATH" item's file the owner, group and mode of the
    // expected value (USER:name(id),GROUP:name(id),PERMISSIONS:mode);
    // ownership first, then mode ("TASKPATHCHECK"). The actual value is only
    // traced. No path or no expected value: UNKNOWN, nothing done. A
    // relative path, an owner or group that is not a plain account name or
    // a mode that is not octal: FAILED with Vxlg 9031, nothing run. A
    // missing path: Vxlg 9021 from the file utilities. A failed step keeps
    // the Result FAILED even when the next one succeeds.
    Result* fixPathOwnershipPermissions(FixupData* data);

private:
    // The cluster home named by the last "QHMHOME" item; empty when there is
    // none or it is not an absolute path.
    static std::string clusterHomeOf(FixupData* data);
    static std::string clusterTool(const std::string& home, const char* tool);
    // Adds message number of facility with the arguments leading (when
    // given), command, the local node name and result's native error
    // messages, and sets FAILED.
    static void addToolError(Result* result, const std::string& facility, int number,
                             const std::string& command, const std::string* leading = nullptr);

    std::string* m_qvrLibInitScript;
};

}  // namespace vxl_fixup
