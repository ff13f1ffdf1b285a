// The tasks that drive the cluster stack's own tools under <QHMHOME>/bin:
// pinning the unpinned nodes (membview, qhmctl), enabling resource use
// (qhmctl), disabling and stopping the nys.hwt resource (rescmd), and the
// node-local registry's paths, which go through the path-ownership fix.
#include <memory>
#include <string>
#include <vector>

#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string kHwtResource = "nys.hwt";

}  // namespace

Result* sTaskClusterSettings::fixTaskPinNodes(FixupData* data) {
    static const std::string source = "sTaskClusterSettings::fixTaskPinNodes";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string home = clusterHomeOf(data);
    if (home.empty()) {
        Trace::trace(source, "qhmhome not provided for pinning the nodes, returning the failure",
                     TRACE_DETAIL);
        return FixupUtil::refuseInput(result.release());
    }
    const std::string membview = clusterTool(home, "membview");
    const std::string allNodes = "-t", withNumbers = "-n";
    const std::vector<const std::string*> args{&allNodes, &withNumbers};
    if (!FixupUtil::runExeSucceeded(&membview, args, result.get())) {
        Trace::trace(source, "Failed to get the unpinned nodes with the membview command)",
                     TRACE_DETAIL);
        addToolError(result.get(), NLS_FACILITY_VXLG, 9065, FixupUtil::commandText(membview, args));
        return result.release();
    }
    Trace::trace(source, "Successfully got the pinning status of all the cluster nodes",
                 TRACE_DETAIL);
    std::string unpinned;
    const std::string output = result->getOutput() ? *result->getOutput() : std::string();
    if (!output.empty()) {
        Trace::trace(
            source,
            "Parse the command output (" + output + ") to get the required nodes to be pinned",
            TRACE_DETAIL);
        for (const std::string& line : FixupUtil::splitStringByDelim(output, "\n")) {
            const std::vector<std::string> fields = FixupUtil::splitStringBySpaces(line, false);
            // A line needs a name and a state; one of four or more fields is
            // not a node line.
            if (fields.size() < 2 || fields.size() > 3) continue;
            const std::string& name = fields.front();
            const std::string& state = fields.back();
            Trace::trace(source, "Node name : " + name + " Node status : " + state, TRACE_DETAIL);
            if (state != "Unpinned") continue;
            if (!unpinned.empty()) unpinned += " ";
            unpinned += name;
        }
    }
    return pinNodes(&unpinned, &home);
}

Result* sTaskClusterSettings::pinNodes(std::string* nodes, const std::string* clusterHome) {
    static const std::string source = "sTaskClusterSettings::pinNodes";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    // Each node name is one word on the command line, whatever the listing
    // printed.
    std::string quotedNodes;
    if (nodes != nullptr) {
        for (const std::string& name : FixupUtil::splitStringBySpaces(*nodes, false)) {
            if (name.empty()) continue;
            if (!FixupUtil::acceptArgumentWords(source, {&name}, result.get())) {
                return result.release();
            }
            if (!quotedNodes.empty()) quotedNodes += " ";
            quotedNodes += shellQuote(name);
        }
    }
    if (quotedNodes.empty() || clusterHome == nullptr || clusterHome->empty() ||
        (*clusterHome)[0] != '/') {
        Trace::trace(source,
                     "node information or qhmhome not provided for pinning the nodes, returning "
                     "the failure",
                     TRACE_DETAIL);
        return FixupUtil::refuseInput(result.release());
    }
    Trace::trace(source,
                 "(Pinning the nodes with hbeat are ( " + *nodes + " ) from the hostweave home ( " +
                     *clusterHome + " ))",
                 TRACE_DETAIL);
    const std::string qhmctl = clusterTool(*clusterHome, "qhmctl");
    const std::string pin = "pin", hbeat = "hbeat", option = "-n";
    const std::vector<const std::string*> args{&pin, &hbeat, &option, &quotedNodes};
    if (FixupUtil::runExeSucceeded(&qhmctl, args, result.get())) {
        Trace::trace(source, "Successfully pinned the nodes " + *nodes + " with the qhmctl command",
                     TRACE_DETAIL);
        return result.release();
    }
    Trace::trace(source, "Failed to pin the nodes (" + *nodes + ") with the qhmctl command)",
                 TRACE_DETAIL);
    addToolError(result.get(), NLS_FACILITY_VXLG, 9066, FixupUtil::commandText(qhmctl, args),
                 nodes);
    return result.release();
}

Result* sTaskClusterSettings::fixTaskTDBConfig(FixupData* data) {
    static const std::string source = "sTaskClusterSettings::fixTaskTDBConfig";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string* expected = data->getExpectedValue();
    if (expected == nullptr) return result.release();
    Trace::trace(source, "Expected value is " + *expected, TRACE_DETAIL);
    const std::string* actual = data->getActualValue();
    const std::vector<std::string> expectedEntries = FixupUtil::splitStringByDelim(*expected, ";");
    const std::vector<std::string> actualEntries =
        actual ? FixupUtil::splitStringByDelim(*actual, ";") : std::vector<std::string>();
    for (size_t i = 0; i < expectedEntries.size(); ++i) {
        const std::string& entry = expectedEntries[i];
        if (FixupUtil::trimWhiteSpaces(entry).empty()) continue;
        const std::vector<std::string> parts = FixupUtil::splitStringByDelim(entry, "|");
        // An entry that names no value is not acted on; the rest still are.
        if (parts.size() < 2) {
            Trace::trace(source, "Registry entry (" + entry + ") is not of the form path|value",
                         TRACE_DETAIL);
            continue;
        }
        // The expected value alone says what the path must be: with no actual
        // entry every part differs, so all of it is applied.
        const std::vector<std::string> actualParts =
            i < actualEntries.size() ? FixupUtil::splitStringByDelim(actualEntries[i], "|")
                                     : std::vector<std::string>();
        Trace::trace(source, "Path : " + parts[0] + " , Expected value : " + parts[1],
                     TRACE_DETAIL);
        // Each path is fixed from a record of its own, so the instance keeps
        // the values the document gave it.
        FixupData entryData(data->getTaskIDStr());
        const std::string pathItem = "PATH";
        const std::string actualValue = actualParts.size() >= 2 ? actualParts[1] : std::string();
        entryData.addData(&pathItem, &parts[0]);
        entryData.setExpectedValue(&parts[1]);
        entryData.setActualValue(&actualValue);
        const std::unique_ptr<Result> pathResult(fixPathOwnershipPermissions(&entryData));
        for (NLSError* e : pathResult->getErrorList()) result->addError(e);
        for (NativeError* e : pathResult->getNativeErrorList()) result->addNativeError(e);
        result->updateStatus(pathResult->getStatus());
    }
    return result.release();
}

Result* sTaskClusterSettings::fixTaskEnableResourceUse(FixupData* data) {
    static const std::string source = "sTaskClusterSettings::fixTaskEnableResourceUse";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string home = clusterHomeOf(data);
    if (home.empty()) {
        Trace::trace(source, "qhmhome is null, returning the failure", TRACE_DETAIL);
        return FixupUtil::refuseInput(result.release());
    }
    Trace::trace(source,
                 "(Enabling the resource use in the cluster from qhm home ( " + home + " ))",
                 TRACE_DETAIL);
    const std::string qhmctl = clusterTool(home, "qhmctl");
    const std::string set = "set", resource = "resource", use = "use", one = "1";
    const std::vector<const std::string*> args{&set, &resource, &use, &one};
    if (FixupUtil::runExeSucceeded(&qhmctl, args, result.get())) {
        Trace::trace(source,
                     "Successfully enabled the resource use in the cluster with the qhmctl command",
                     TRACE_DETAIL);
        return result.release();
    }
    Trace::trace(source,
                 "Failed to enable the resource use in the cluster with the qhmctl command)",
                 TRACE_DETAIL);
    addToolError(result.get(), NLS_FACILITY_VXLF, 5718, FixupUtil::commandText(qhmctl, args));
    return result.release();
}

Result* sTaskClusterSettings::fixTaskHWTResource(FixupData* data) {
    static const std::string source = "sTaskClusterSettings::fixTaskHWTResource";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const std::string home = clusterHomeOf(data);
    if (home.empty()) {
        Trace::trace(source,
                     "qhmhome not provided for stopping the nys.hwt resource, returning the "
                     "failure",
                     TRACE_DETAIL);
        return FixupUtil::refuseInput(result.release());
    }
    Trace::trace(source, "(Stopping the nys.hwt resource from the hostweave home ( " + home + " ))",
                 TRACE_DETAIL);
    const std::string rescmd = clusterTool(home, "rescmd");
    const std::string hostsvcs = "hostsvcs", global = "-g";
    auto addResourceError = [&](int number, const std::string& command) {
        addToolError(result.get(), NLS_FACILITY_VXLG, number, command, &kHwtResource);
    };

    const std::string disable = "disable";
    const std::vector<const std::string*> disableArgs{&disable, &hostsvcs, &global};
    const bool disabled = FixupUtil::runExeSucceeded(&rescmd, disableArgs, result.get());
    if (disabled) {
        Trace::trace(source, "Successfully disabled the nys.hwt resource with the rescmd command",
                     TRACE_DETAIL);
    } else {
        Trace::trace(source, "Failed to disable the nys.hwt resource with the rescmd command)",
                     TRACE_DETAIL);
        addResourceError(9072, FixupUtil::commandText(rescmd, disableArgs));
    }

    // The runner sets the status at every command: a failed disable must
    // still decide the outcome after the status and stop commands succeed.
    auto finish = [&]() {
        if (!disabled) result->setStatus(FAILED);
        return result.release();
    };

    const std::string status = "status";
    const std::string runningFilter = "| /bin/grep HWT | /bin/grep running";
    if (!FixupUtil::runExeSucceeded(&rescmd, {&status, &hostsvcs, &runningFilter}, result.get())) {
        Trace::trace(source,
                     "Failed to get the running status of nys.hwt resource with the rescmd "
                     "command)",
                     TRACE_DETAIL);
        addResourceError(9074, rescmd + " status hostsvcs");
        return finish();
    }
    const std::string report =
        FixupUtil::trimWhiteSpaces(result->getOutput() ? *result->getOutput() : std::string());
    if (report.rfind("HWT is running", 0) != 0) return finish();

    const std::string stop = "stop";
    const std::vector<const std::string*> stopArgs{&stop, &hostsvcs, &global};
    if (FixupUtil::runExeSucceeded(&rescmd, stopArgs, result.get())) {
        Trace::trace(source, "Successfully stopped the nys.hwt resource with the rescmd command",
                     TRACE_DETAIL);
    } else {
        Trace::trace(source, "Failed to stop the nys.hwt resource with the rescmd command)",
                     TRACE_DETAIL);
        addResourceError(9073, FixupUtil::commandText(rescmd, stopArgs));
    }
    return finish();
}

}  // namespace vxl_fixup
