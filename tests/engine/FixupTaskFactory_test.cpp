#include "engine/FixupTaskFactory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/FixupTask.h"
#include "engine/TaskIdentifiers.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "tasks/usergroup/sTaskUserGroupFixup.h"

namespace vxl_fixup {
namespace {

class FactoryTest : public vxl_test::ScratchFixture {
protected:
    // An instance of the task text for the given participating nodes.
    FixupData* instance(const std::string& id, std::vector<std::string> nodes) {
        FixupData* data = new FixupData(&id);
        for (const std::string& n : nodes) data->addNode(&n);
        RunObjects::adopt(data);
        return data;
    }
};

std::vector<std::string> idsOf(const std::vector<FixupTask*>& tasks) {
    std::vector<std::string> ids;
    for (const FixupTask* t : tasks) ids.push_back(*t->getTaskID());
    return ids;
}

// Instances of one identifier text make one task; a text differing only in
// letter case makes a task of its own.
TEST_F(FactoryTest, GroupsInstancesOfOneTextInFirstAppearanceOrder) {
    FixupData* a = instance("TASKKERNELPARAM", {"node1"});
    FixupData* b = instance("TASKSHELLLIMITS", {"NODE1.example.com"});
    FixupData* c = instance("taskkernelparam", {"node1"});
    FixupData* d = instance("TASKKERNELPARAM", {"node2", "node1"});
    FixupTaskFactory factory({a, b, c, d});
    const std::string node = "node1";
    const std::vector<FixupTask*> tasks = factory.getTasksList(&node);
    ASSERT_EQ(idsOf(tasks),
              (std::vector<std::string>{"TASKKERNELPARAM", "TASKSHELLLIMITS", "taskkernelparam"}));
    EXPECT_EQ(tasks[0]->getDataList(), (std::vector<FixupData*>{a, d}));
    EXPECT_EQ(tasks[1]->getDataList(), (std::vector<FixupData*>{b}));
    EXPECT_EQ(tasks[2]->getDataList(), (std::vector<FixupData*>{c}));
}

TEST_F(FactoryTest, SkipsInstancesNotForThisNodeOrOfNoTask) {
    FixupTaskFactory factory({
        instance("TASKKERNELPARAM", {}),          // no node list: applies nowhere
        instance("TASKKERNELPARAM", {"node10"}),  // another node
        instance("NOT_A_TASK", {"node1"}),        // unknown
    });
    const std::string node = "node1";
    EXPECT_TRUE(factory.getTasksList(&node).empty());
}

// Every identifier, written in lower case, makes a task of its family.
TEST_F(FactoryTest, EveryIdentifierMakesATaskOfItsFamily) {
    const std::map<std::string, std::string> notSystem = {
        {"TASKGROUPMEMBERSHIP", "user"},    {"TASKGROUPEXISTENCE", "user"},
        {"TASKUSEREXISTENCE", "user"},      {"TASKUSERMASK", "none"},
        {"TASKUSERNOTINGROUP", "none"},     {"TASKDAEMONLIVELINESS", "daemon"},
        {"TASKDAEMONNOTRUNNING", "daemon"}, {"TASKPINNODES", "cluster"},
        {"TASKQVRLIBCHECKS", "cluster"},    {"TASKPATHCHECK", "cluster"},
        {"TASKTDBINTEGRITY", "cluster"},    {"TASKQHMRESOURCEPARAMS", "cluster"},
        {"CHECK_HWT_RESOURCE", "cluster"}};
    const std::string node = "node1";
    for (int n = 1; n <= TASK_ID_COUNT; ++n) {
        const std::string text = taskIdentifierText(n);
        std::string lower = text;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        FixupTaskFactory factory({instance(lower, {"node1"})});
        const std::vector<FixupTask*> tasks = factory.getTasksList(&node);
        const FixupTask* t = tasks.empty() ? nullptr : tasks[0];
        const char* made = !t                                             ? "none"
                           : dynamic_cast<const sTaskSystemSettings*>(t)  ? "system"
                           : dynamic_cast<const sTaskUserGroupFixup*>(t)  ? "user"
                           : dynamic_cast<const sTaskClusterSettings*>(t) ? "cluster"
                           : dynamic_cast<const sTaskDaemonProcesses*>(t) ? "daemon"
                                                                          : "?";
        EXPECT_EQ(made, notSystem.count(text) ? notSystem.at(text) : "system") << text;
    }
}

// A task whose instances end with the statuses it was given.
class ScriptedTask : public FixupTask {
public:
    ScriptedTask(FixupData* data, std::vector<_STATUS> statuses)
        : FixupTask(data), m_statuses(std::move(statuses)) {}
    Result* fix(FixupData*) override {
        Result* r = new Result();
        r->setStatus(m_statuses.at(m_next++));
        r->addError(new NLSError("Vxlg", true, 9000 + static_cast<int>(m_next)));
        r->setNativeErrorDetails(nullptr, static_cast<int>(m_next), nullptr);
        return r;
    }
    using FixupTask::fix;

private:
    std::vector<_STATUS> m_statuses;
    size_t m_next = 0;
};

TEST_F(FactoryTest, FixFoldsInstanceOutcomesIntoTheOverallResult) {
    struct Case {
        std::vector<_STATUS> statuses;
        _STATUS overall;
        bool fixed;
    } cases[] = {
        {{WARNING, FAILED}, FAILED, false},        {{SUCCESSFUL, WARNING}, WARNING, true},
        {{UNKNOWN, SUCCESSFUL}, SUCCESSFUL, true}, {{UNKNOWN}, UNKNOWN, false},
        {{FAILED, SUCCESSFUL}, FAILED, false},
    };
    for (const Case& c : cases) {
        FixupData* first = instance("TASKKERNELPARAM", {"node1"});
        ScriptedTask task(first, c.statuses);
        for (size_t i = 1; i < c.statuses.size(); ++i) {
            task.addfixupData(instance("TASKKERNELPARAM", {"node1"}));
        }
        EXPECT_EQ(task.fix(), c.fixed);
        EXPECT_EQ(task.getResult()->getStatus(), c.overall);
        EXPECT_EQ(task.getResult()->getErrorList().size(), c.statuses.size())
            << "every instance's errors are kept";
        EXPECT_EQ(task.getResult()->getNativeErrorList().size(), c.statuses.size());
    }
}

}  // namespace
}  // namespace vxl_fixup
