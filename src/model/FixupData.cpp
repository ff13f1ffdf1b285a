#include "model/FixupData.h"

#include "model/Script.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {

namespace {
const std::string& emptyText() {
    static const std::string empty;
    return empty;
}
}  // namespace

FixupData::FixupData(const std::string* taskIdText, TextOwnership texts)
    : m_taskId(nullptr), m_refers(texts == REFER) {
    m_taskId = keep(taskIdText ? taskIdText : &emptyText());
}

FixupData::~FixupData() {
    release(m_taskId);
    release(m_expected);
    release(m_actual);
    for (Script* s : m_scripts) delete s;
    for (NameValuePair* p : m_dataSet) delete p;
    for (std::string* n : m_nodes) release(n);
}

const std::string* FixupData::keep(const std::string* v) const {
    return m_refers ? v : new std::string(*v);
}

void FixupData::release(const std::string* v) const {
    if (!m_refers) delete v;
}

void FixupData::addData(const std::string* name, const std::string* value) {
    if (name == nullptr || value == nullptr) return;
    m_dataSet.push_back(m_refers ? NameValuePair::view(name, value)
                                 : new NameValuePair(*name, *value));
}

void FixupData::addNode(const std::string* node) {
    // Nothing writes through a participating node's text.
    if (node != nullptr) m_nodes.push_back(const_cast<std::string*>(keep(node)));
}

void FixupData::addScript(Script* script) {
    if (script != nullptr) m_scripts.push_back(script);
}

void FixupData::setExpectedValue(const std::string* v) {
    if (v == nullptr) return;
    const std::string* kept = keep(v);
    release(m_expected);
    m_expected = kept;
}

void FixupData::setActualValue(const std::string* v) {
    if (v == nullptr) return;
    const std::string* kept = keep(v);
    release(m_actual);
    m_actual = kept;
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
