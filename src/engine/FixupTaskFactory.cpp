#include "engine/FixupTaskFactory.h"

#include "engine/FixupTask.h"
#include "engine/TaskIdentifiers.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"

namespace vxl_fixup {

FixupTaskFactory::FixupTaskFactory(std::vector<FixupData*> dataList)
    : m_dataList(std::move(dataList)) {}

FixupTaskFactory::~FixupTaskFactory() = default;

FixupTask* FixupTaskFactory::createTask(int taskNumber, FixupData* data) {
    switch (taskFamilyOf(taskNumber)) {
        case TaskFamily::SYSTEM_SETTINGS:
            return new sTaskSystemSettings(data);
        case TaskFamily::USER_GROUP:
            return new sTaskUserGroupFixup(data);
        case TaskFamily::CLUSTER_SETTINGS:
            return new sTaskClusterSettings(data);
        case TaskFamily::DAEMON_PROCESSES:
            return new sTaskDaemonProcesses(data);
        case TaskFamily::NONE:
            return nullptr;
    }
    return nullptr;
}

std::vector<FixupTask*> FixupTaskFactory::getTasksList(const std::string* nodeName) {
    static const std::string source = "FixupTaskFactory::getTasksList";
    const std::string node = nodeName ? *nodeName : std::string();
    Trace::trace(source, "Getting taskList for node " + node, TRACE_FLOW);
    Trace::trace(source,
                 "Total tasks in taskList are " +
                     integerToString(static_cast<int>(m_dataList.size())),
                 TRACE_FLOW);
    for (FixupData* data : m_dataList) {
        if (data == nullptr) continue;
        const int number = data->getTaskID();
        const std::string text = *data->getTaskIDStr();
        Trace::trace(source, "Checking if task " + text + " applies to this node " + node,
                     TRACE_DETAIL);
        if (data->appliesToThisNode(nodeName)) {
            Trace::trace(source, "Task " + text + " needs to be fixed on this node " + node,
                         TRACE_DETAIL);
            if (taskFamilyOf(number) != TaskFamily::NONE) {
                FixupTask* task = createTask(number, data);
                if (task != nullptr) {
                    Trace::trace(source,
                                 "ADDING TO Task list as Task " + text +
                                     " needs to be fixed on this node " + node,
                                 TRACE_DETAIL);
                    addTaskToList(task);
                }
            }
        } else {
            Trace::trace(source, "Skipping fixup task " + text + " as it does not apply to this node.",
                         TRACE_FLOW);
        }
    }
    std::vector<FixupTask*> tasks;
    for (const auto& t : m_taskList) tasks.push_back(t.get());
    return tasks;
}

void FixupTaskFactory::addTaskToList(FixupTask* task) {
    static const std::string source = "FixupTaskFactory::addTaskToList";
    if (task == nullptr) return;
    std::unique_ptr<FixupTask> owned(task);
    const std::string* id = task->getTaskID();
    const std::string text = id ? *id : std::string();
    Trace::trace(source,
                 "Searching for fixup task " + text + " inside the current existing task list.",
                 TRACE_FLOW);
    for (const auto& existing : m_taskList) {
        const std::string* existingId = existing->getTaskID();
        if (existingId != nullptr && *existingId == text) {
            Trace::trace(source,
                         "Found existing instance for fixup task " + text +
                             " inside the current existing task list, adding only fixupData to "
                             "this instance.",
                         TRACE_FLOW);
            existing->addfixupDataList(task->getDataList());
            return;  // the merged task object is released here
        }
    }
    Trace::trace(source,
                 "Did not find matching instance for fixup task " + text +
                     " inside the current existing task list, adding new one.",
                 TRACE_FLOW);
    m_taskList.push_back(std::move(owned));
}

}  // namespace vxl_fixup
