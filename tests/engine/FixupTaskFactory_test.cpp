#include "engine/FixupTaskFactory.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/FixupTask.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"
#include "tasks/cluster/sTaskClusterSettings.h"
#include "tasks/daemon/sTaskDaemonProcesses.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class FactoryTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
    }
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

TEST_F(FactoryTest, GroupsInstancesOfOneTextInFirstAppearanceOrder) {
    FixupData* a = instance("TASKKERNELPARAM", {"node1"});
    FixupData* b = instance("TASKSHELLLIMITS", {"NODE1.example.com"});
    FixupData* c = instance("TASKKERNELPARAM", {"node2", "node1"});
    FixupTaskFactory factory({a, b, c});
    const std::string node = "node1";
    const std::vector<FixupTask*> tasks = factory.getTasksList(&node);
    ASSERT_EQ(idsOf(tasks), (std::vector<std::string>{"TASKKERNELPARAM", "TASKSHELLLIMITS"}));
    EXPECT_EQ(tasks[0]->getDataList(), (std::vector<FixupData*>{a, c}));
    EXPECT_EQ(tasks[1]->getDataList(), (std::vector<FixupData*>{b}));
}

TEST_F(FactoryTest, LetterCaseMakesSeparateTasksOfOneFamily) {
    FixupTaskFactory factory(
        {instance("taskkernelparam", {"node1"}), instance("TASKKERNELPARAM", {"node1"})});
    const std::string node = "node1";
    EXPECT_EQ(idsOf(factory.getTasksList(&node)),
              (std::vector<std::string>{"taskkernelparam", "TASKKERNELPARAM"}));
}

TEST_F(FactoryTest, SkipsInstancesWithoutFamilyOrNotForThisNode) {
    FixupTaskFactory factory({
        instance("TASKKERNELPARAM", {}),           // no node list: applies nowhere
        instance("TASKKERNELPARAM", {"node10"}),   // another node
        instance("TASKUSERMASK", {"node1"}),       // no family
        instance("TASKUSERNOTINGROUP", {"node1"}), // no family
        instance("NOT_A_TASK", {"node1"}),         // unknown
    });
    const std::string node = "node1";
    EXPECT_TRUE(factory.getTasksList(&node).empty());
}

TEST_F(FactoryTest, ClusterAndDaemonIdentifiersMakeTasksOfTheirFamilies) {
    const std::string node = "node1";
    for (const std::string id : {"TASKPINNODES", "TASKQVRLIBCHECKS", "TASKPATHCHECK",
                                 "TASKTDBINTEGRITY", "TASKQHMRESOURCEPARAMS", "CHECK_HWT_RESOURCE",
                                 "TASKDAEMONLIVELINESS", "TASKDAEMONNOTRUNNING"}) {
        FixupTaskFactory factory({instance(id, {"node1"})});
        const std::vector<FixupTask*> tasks = factory.getTasksList(&node);
        ASSERT_EQ(tasks.size(), 1u) << id;
        const bool daemon = id.find("DAEMON") != std::string::npos;
        EXPECT_EQ(dynamic_cast<sTaskDaemonProcesses*>(tasks[0]) != nullptr, daemon) << id;
        EXPECT_EQ(dynamic_cast<sTaskClusterSettings*>(tasks[0]) != nullptr, !daemon) << id;
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
        {{WARNING, FAILED}, FAILED, false},
        {{SUCCESSFUL, WARNING}, WARNING, true},
        {{UNKNOWN, SUCCESSFUL}, SUCCESSFUL, true},
        {{UNKNOWN}, UNKNOWN, false},
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
