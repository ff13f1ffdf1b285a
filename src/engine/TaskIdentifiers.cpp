#include "engine/TaskIdentifiers.h"

#include <vector>

#include "engine/TextConversions.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {
struct TaskEntry {
    const char* text;
    TaskFamily family;
};
using F = TaskFamily;
const TaskEntry kTasks[TASK_ID_COUNT] = {
    {"TASKSHELLLIMITS", F::SYSTEM_SETTINGS},               // 1
    {"TASKKERNELPARAM", F::SYSTEM_SETTINGS},               // 2
    {"TASKGROUPMEMBERSHIP", F::USER_GROUP},                // 3
    {"TASKGROUPEXISTENCE", F::USER_GROUP},                 // 4
    {"TASKPACKAGE", F::SYSTEM_SETTINGS},                   // 5
    {"TASKPINNODES", F::CLUSTER_SETTINGS},                 // 6
    {"TASKRUNLEVEL", F::SYSTEM_SETTINGS},                  // 7
    {"TASKUSEREXISTENCE", F::USER_GROUP},                  // 8
    {"TASKUSERMASK", F::NONE},                             // 9
    {"TASKUSERNOTINGROUP", F::NONE},                       // 10
    {"TASKDAEMONLIVELINESS", F::DAEMON_PROCESSES},         // 11
    {"TASKDAEMONNOTRUNNING", F::DAEMON_PROCESSES},         // 12
    {"TASKQVRLIBCHECKS", F::CLUSTER_SETTINGS},             // 13
    {"TASKCHECKRPMPACKAGEMANAGER", F::SYSTEM_SETTINGS},    // 14
    {"STASKDEVICEFILESETTINGS", F::SYSTEM_SETTINGS},       // 15
    {"STASKCHECKIPMPSETTINGS", F::SYSTEM_SETTINGS},        // 16
    {"TASKPATHCHECK", F::CLUSTER_SETTINGS},                // 17
    {"TASKTDBINTEGRITY", F::CLUSTER_SETTINGS},             // 18
    {"TASKQHMRESOURCEPARAMS", F::CLUSTER_SETTINGS},        // 19
    {"CHECK_ZEROCONF", F::SYSTEM_SETTINGS},                // 20
    {"CHECK_IOCP_STATUS", F::SYSTEM_SETTINGS},             // 21
    {"ENABLED_HUGE_PAGE", F::SYSTEM_SETTINGS},             // 22
    {"CHECK_HWT_RESOURCE", F::CLUSTER_SETTINGS},           // 23
    {"MAX_LOCKED_MEM", F::SYSTEM_SETTINGS},                // 24
    {"MEMLOCK_LIMIT", F::SYSTEM_SETTINGS},                 // 25
    {"CHECK_DAX_ACCESS", F::SYSTEM_SETTINGS},              // 26
    {"REVERSE_PATH_FILTER", F::SYSTEM_SETTINGS},           // 27
    {"CHECK_DEFAULTTASKSMAX", F::SYSTEM_SETTINGS},         // 28
    {"CHECK_ARP_PARAM_SETTINGS", F::SYSTEM_SETTINGS},      // 29
    {"CHECK_CURRENT_CLOCKSOURCE", F::SYSTEM_SETTINGS},     // 30
    {"CHECK_VM_MIN_FREE_KBYTES", F::SYSTEM_SETTINGS},      // 31
    {"CHECK_SYSTEMD_LOGIN_IPC_PARAM", F::SYSTEM_SETTINGS}, // 32
};

}  // namespace

const std::string& taskIdentifierText(int number) {
    static const std::string empty;
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> v;
        for (const TaskEntry& e : kTasks) v.emplace_back(e.text);
        return v;
    }();
    if (number < 1 || number > TASK_ID_COUNT) return empty;
    return texts[static_cast<size_t>(number - 1)];
}

TaskFamily taskFamilyOf(int number) {
    if (number < 1 || number > TASK_ID_COUNT) return TaskFamily::NONE;
    return kTasks[number - 1].family;
}

int FixupUtil::getTaskID(const std::string* text) {
    if (text == nullptr) return 0;
    const std::string upper = upperCaseCopy(*text);
    for (int i = 0; i < TASK_ID_COUNT; ++i) {
        if (upper == kTasks[i].text) return i + 1;
    }
    return 0;
}

}  // namespace vxl_fixup
