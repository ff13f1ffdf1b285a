// Turns the run's fix-up data instances into the tasks to run on this node:
// keeps the instances that apply to the node, creates a task of the family
// its identifier maps to, and merges instances of one identifier text into
// one task. The factory owns the tasks it creates; they live as long as it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vxl_fixup {

class FixupData;
class FixupTask;

class FixupTaskFactory {
public:
    explicit FixupTaskFactory(std::vector<FixupData*> dataList);
    ~FixupTaskFactory();
    FixupTaskFactory(const FixupTaskFactory&) = delete;
    FixupTaskFactory& operator=(const FixupTaskFactory&) = delete;

    // Builds the task list for the node and returns a copy of it.
    std::vector<FixupTask*> getTasksList(const std::string* nodeName);
    // Adds the task, or merges its instances into the task with the same
    // identifier text (exact) and releases it.
    void addTaskToList(FixupTask* task);

    // A task of the family the identifier number maps to, or null.
    static FixupTask* createTask(int taskNumber, FixupData* data);

private:
    std::vector<std::unique_ptr<FixupTask>> m_taskList;
    std::vector<FixupData*> m_dataList;
};

}  // namespace vxl_fixup
