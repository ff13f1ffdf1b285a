// One instance of fix-up data: the task identifier text, expected and actual
// values, data items, participating nodes and scripts. The record keeps its
// own copies of texts and owns its data items and the scripts handed to it.
// Records created by the document reader are adopted by the run owner.
#pragma once

#include <string>
#include <vector>

#include "model/RunObjects.h"

namespace vxl_fixup {

class Script;

class NameValuePair {
public:
    NameValuePair(const std::string& n, const std::string& v)
        : name(new std::string(n)), value(new std::string(v)) {}
    virtual ~NameValuePair() {
        delete name;
        delete value;
    }
    NameValuePair(const NameValuePair&) = delete;
    NameValuePair& operator=(const NameValuePair&) = delete;

    std::string* name;
    std::string* value;
};

class FixupData : public RunOwned {
public:
    explicit FixupData(const std::string* taskIdText);
    ~FixupData() override;
    FixupData(const FixupData&) = delete;
    FixupData& operator=(const FixupData&) = delete;

    // Null arguments are ignored by every adder and setter.
    void addData(const std::string* name, const std::string* value);
    void addNode(const std::string* node);
    void addScript(Script* script);
    void setExpectedValue(const std::string* v);
    void setActualValue(const std::string* v);

    const std::string* getTaskIDStr() const { return m_taskId; }
    int getTaskID() const;
    const std::string* getExpectedValue() const { return m_expected; }
    const std::string* getActualValue() const { return m_actual; }
    std::vector<NameValuePair*> getDataSet() const { return m_dataSet; }
    std::vector<Script*> getScriptList() const { return m_scripts; }
    std::vector<std::string*> getParticipatingNodes() const { return m_nodes; }

    // True when a participating node matches nodeName on its short name,
    // ignoring letter case; an empty node list applies to no node.
    bool appliesToThisNode(const std::string* nodeName) const;

private:
    std::string* m_taskId;
    std::string* m_expected = nullptr;
    std::string* m_actual = nullptr;
    std::vector<Script*> m_scripts;
    std::vector<NameValuePair*> m_dataSet;
    std::vector<std::string*> m_nodes;
};

}  // namespace vxl_fixup
