// Base of the task families: a task fixes each of its fix-up data instances
// through the family's fix(FixupData*), writes each instance's outcome into
// the output document and folds the outcomes into one overall result.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

class FixupData;
class Result;
class XmlParser;

class FixupTask {
public:
    explicit FixupTask(FixupData* data);
    virtual ~FixupTask();
    FixupTask(const FixupTask&) = delete;
    FixupTask& operator=(const FixupTask&) = delete;

    // Fixes one instance; a new Result the caller owns, never null.
    virtual Result* fix(FixupData* data) = 0;

    // Fixes every instance in order; true when the overall status ends
    // SUCCESSFUL or WARNING.
    bool fix();

    void addfixupData(FixupData* data);
    void addfixupDataList(std::vector<FixupData*> list);
    std::vector<FixupData*> getDataList() const { return m_dataList; }
    // The identifier text of the first instance.
    const std::string* getTaskID() const;
    // Owned by the task.
    Result* getResult() { return m_overallResult; }

protected:
    static XmlParser* _parser;

private:
    std::vector<FixupData*> m_dataList;  // instances belong to the run
    Result* m_overallResult;
};

// A task that does nothing; its fix returns an empty UNKNOWN Result.
class CommonTask : public FixupTask {
public:
    explicit CommonTask(FixupData* data) : FixupTask(data) {}
    Result* fix(FixupData* data) override;
    using FixupTask::fix;
};

}  // namespace vxl_fixup
