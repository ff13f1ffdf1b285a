#include "model/FixupData.h"

#include "model/Script.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

FixupData::FixupData(const std::string* taskIdText)
    : m_taskId(new std::string(taskIdText ? *taskIdText : std::string())) {}

FixupData::~FixupData() {
    delete m_taskId;
    delete m_expected;
    delete m_actual;
    for (Script* s : m_scripts) delete s;
    for (NameValuePair* p : m_dataSet) delete p;
    for (std::string* n : m_nodes) delete n;
}

void FixupData::addData(const std::string* name, const std::string* value) {
    if (name == nullptr || value == nullptr) return;
    m_dataSet.push_back(new NameValuePair(*name, *value));
}

void FixupData::addNode(const std::string* node) {
    if (node != nullptr) m_nodes.push_back(new std::string(*node));
}

void FixupData::addScript(Script* script) {
    if (script != nullptr) m_scripts.push_back(script);
}

void FixupData::setExpectedValue(const std::string* v) {
    if (v == nullptr) return;
    std::string* copy = new std::string(*v);
    delete m_expected;
    m_expected = copy;
}

void FixupData::setActualValue(const std::string* v) {
    if (v == nullptr) return;
    std::string* copy = new std::string(*v);
    delete m_actual;
    m_actual = copy;
}

int FixupData::getTaskID() const { return FixupUtil::getTaskID(m_taskId); }

bool FixupData::appliesToThisNode(const std::string* nodeName) const {
    if (nodeName == nullptr) return false;
    for (const std::string* node : m_nodes) {
        if (FixupUtil::hostNamesMatch(*node, *nodeName)) return true;
    }
    return false;
}

}  // namespace vxl_fixup
