// One instance of fix-up data: the task identifier text, expected and actual
// values, data items, participating nodes and scripts. A record made to copy
// keeps its own copies of the texts handed to it; one made to refer (the
// document reader's records) points at texts that outlive it, the document
// tree's, and copies nothing. Either way the record owns its data items and
// the scripts handed to it. Records created by the document reader are
// adopted by the run owner.
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
    // A view of texts that outlive the pair: they are neither copied nor
    // released. Nothing writes through a view's pointers.
    static NameValuePair* view(const std::string* n, const std::string* v) {
        return new NameValuePair(n, v);
    }
    virtual ~NameValuePair() {
        if (m_borrowed) return;
        delete name;
        delete value;
    }
    NameValuePair(const NameValuePair&) = delete;
    NameValuePair& operator=(const NameValuePair&) = delete;

    std::string* name;
    std::string* value;

private:
    NameValuePair(const std::string* n, const std::string* v)
        : name(const_cast<std::string*>(n)), value(const_cast<std::string*>(v)), m_borrowed(true) {}
    bool m_borrowed = false;
};

class FixupData : public RunOwned {
public:
    // COPY: every text handed in is copied. REFER: texts are kept as the
    // pointers given, which must outlive the record (a run's records point
    // into its document tree, released after them).
    enum TextOwnership { COPY, REFER };

    explicit FixupData(const std::string* taskIdText, TextOwnership texts = COPY);
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
    // Read-only texts, whatever the pointer type says.
    std::vector<std::string*> getParticipatingNodes() const { return m_nodes; }

    // True when a participating node matches nodeName on its short name,
    // ignoring letter case; an empty node list applies to no node.
    bool appliesToThisNode(const std::string* nodeName) const;

private:
    // The text to keep for v: v itself or a copy, as the record was made.
    const std::string* keep(const std::string* v) const;
    void release(const std::string* v) const;

    const std::string* m_taskId;
    const std::string* m_expected = nullptr;
    const std::string* m_actual = nullptr;
    std::vector<Script*> m_scripts;
    std::vector<NameValuePair*> m_dataSet;
    std::vector<std::string*> m_nodes;
    bool m_refers;
};

}  // namespace vxl_fixup
