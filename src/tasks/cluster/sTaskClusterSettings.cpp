#include "tasks/cluster/sTaskClusterSettings.h"

#include <memory>

#include "engine/Constants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"

namespace vxl_fixup {

sTaskClusterSettings::sTaskClusterSettings(FixupData* data)
    : FixupTask(data), m_qvrLibInitScript(new std::string("/etc/init.d/kelvaneqvr")) {}

sTaskClusterSettings::~sTaskClusterSettings() {
    delete m_qvrLibInitScript;
    m_qvrLibInitScript = nullptr;
}

Result* sTaskClusterSettings::fix(FixupData* data) {
    const std::string* id = getTaskID();
    Trace::trace("sTaskClusterSettings::fix", "Fixing " + (id ? *id : std::string()), TRACE_DETAIL);
    if (data == nullptr) return new Result();
    switch (data->getTaskID()) {
        case 6:
            return fixTaskPinNodes(data);
        case 13:
            return fixTaskQVRLibConfigParams(data);
        case 17:
            return fixPathOwnershipPermissions(data);
        case 18:
            return fixTaskTDBConfig(data);
        case 19:
            return fixTaskEnableResourceUse(data);
        case 23:
            return fixTaskHWTResource(data);
        default:
            return new Result();
    }
}

std::string sTaskClusterSettings::clusterHomeOf(FixupData* data) {
    std::string home;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "QHMHOME") home = *item->value;
    }
    // The tools run as root: a home relative to the host's working directory
    // (or an empty one, which would name /bin) could run anything.
    if (!home.empty() && home[0] != '/') {
        Trace::trace("sTaskClusterSettings::clusterHomeOf",
                     "Cluster home " + home + " is not an absolute path", TRACE_DETAIL);
        home.clear();
    }
    return home;
}

std::string sTaskClusterSettings::clusterTool(const std::string& home, const char* tool) {
    return home + getFilePathSeparator() + "bin" + getFilePathSeparator() + tool;
}

void sTaskClusterSettings::addToolError(Result* result, const std::string& facility, int number,
                                        const std::string& command, const std::string* leading) {
    const std::string errors = result->nativeErrorText();
    NLSError* error = new NLSError(facility, true, number);
    if (leading != nullptr) error->addArgument(*leading);
    error->addArgument(command);
    error->addArgument(Constants::localNodeNameOrEmpty());
    error->addArgument(errors);
    result->addError(error);
    result->setStatus(FAILED);
}

}  // namespace vxl_fixup
