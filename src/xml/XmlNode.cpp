#include "xml/XmlNode.h"

#include <stdexcept>

#include "model/FixupData.h"
#include "xml/XmlText.h"

namespace vxl_fixup {

int XmlNode::s_indentLevel = 0;

namespace {
// Keeps the indentation counter balanced whichever way a child's
// serialisation ends.
class IndentStep {
public:
    explicit IndentStep(int& level) : m_level(level) { ++m_level; }
    ~IndentStep() { --m_level; }
    IndentStep(const IndentStep&) = delete;
    IndentStep& operator=(const IndentStep&) = delete;

private:
    int& m_level;
};
}  // namespace

XmlNode::XmlNode(const std::string& name, XmlTagType type) : m_name(name), m_type(type) {}

XmlNode::~XmlNode() {
    delete m_value;
    for (XmlNode* child : m_children) delete child;
    for (NameValuePair* pair : m_attributes) delete pair;
}

void XmlNode::setValue(const std::string* value) {
    if (value == nullptr || value->empty()) return;
    std::string* copy = new std::string(*value);
    delete m_value;
    m_value = copy;
    m_type = BEGIN_WITH_END;
}

void XmlNode::addChildNode(XmlNode* child) {
    if (child == nullptr) return;
    m_children.push_back(child);
    m_type = ONLY_BEGIN;
}

void XmlNode::addAttribute(const std::string& name, const std::string& value) {
    m_attributes.push_back(new NameValuePair(name, value));
}

void XmlNode::addAttribute(NameValuePair* pair) {
    if (pair != nullptr) m_attributes.push_back(pair);
}

NameValuePair* XmlNode::searchAttributeInList(const std::string& name) const {
    for (NameValuePair* pair : m_attributes) {
        if (*pair->name == name) return pair;
    }
    return nullptr;
}

bool XmlNode::hasAttribute(const std::string& name) const {
    return searchAttributeInList(name) != nullptr;
}

const std::string* XmlNode::getAttributeValue(const std::string& name) const {
    const NameValuePair* pair = searchAttributeInList(name);
    return pair ? pair->value : nullptr;
}

bool XmlNode::hasAttributeNameWithValue(const NameValuePair* pair) const {
    return pair != nullptr && hasAttributeNameWithValue(*pair->name, *pair->value);
}

bool XmlNode::hasAttributeNameWithValue(const std::string& name,
                                        const std::string& value) const {
    for (const NameValuePair* pair : m_attributes) {
        if (*pair->name == name && *pair->value == value) return true;
    }
    return false;
}

std::vector<XmlNode*> XmlNode::searchChildNodesByTagName(const std::string& name) const {
    std::vector<XmlNode*> found;
    for (XmlNode* child : m_children) {
        if (child->m_name == name) found.push_back(child);
    }
    return found;
}

bool XmlNode::hasChildByName(const std::string& name) const {
    for (const XmlNode* child : m_children) {
        if (child->m_name == name) return true;
    }
    return false;
}

XmlNode* XmlNode::getFirstChildNode() const {
    if (m_children.empty()) throw ChildNotFoundException();
    return m_children.front();
}

XmlNode* XmlNode::getFirstChildNodeByName(const std::string& name) const {
    if (m_children.empty()) throw ChildNotFoundException();
    for (XmlNode* child : m_children) {
        if (child->m_name == name) return child;
    }
    throw std::out_of_range("no child element named " + name);
}

XmlNode* XmlNode::getChildNodeByTagNameAtIndex(const std::string& name,
                                               std::size_t index) const {
    if (m_children.empty()) throw ChildNotFoundException();
    for (XmlNode* child : m_children) {
        if (child->m_name != name) continue;
        if (index == 0) return child;
        --index;
    }
    return nullptr;
}

XmlNode* XmlNode::searchChildNodeByAttributeNameValue(const NameValuePair* pair) const {
    for (XmlNode* child : m_children) {
        if (child->hasAttributeNameWithValue(pair)) return child;
    }
    return nullptr;
}

XmlNode* XmlNode::searchChildNodeByAttributeNameValue(const std::string& name,
                                                      const std::string& value) const {
    for (XmlNode* child : m_children) {
        if (child->hasAttributeNameWithValue(name, value)) return child;
    }
    return nullptr;
}

std::string XmlNode::getIndent(int level) {
    std::string indent = "\n";
    if (level > 0) indent.append(static_cast<std::size_t>(level) * 2, ' ');
    return indent;
}

std::string XmlNode::toString() const {
    std::string out;
    appendTo(out);
    return out;
}

// One buffer for the whole subtree keeps serialisation linear in the size of
// the document whatever its depth.
void XmlNode::appendTo(std::string& out) const {
    if (m_name.empty() || m_type == COMMENT_OR_HEADER || m_type == UNKNOWN_TAG) return;
    out += m_type == ONLY_END ? "</" : "<";
    out += m_name;
    for (const NameValuePair* pair : m_attributes) {
        out += ' ';
        out += *pair->name;
        out += "=\"";
        out += escapeXmlAttribute(*pair->value);
        out += '"';
    }
    out += m_type == BEGIN_AND_END ? " />" : ">";
    if (m_type == BEGIN_WITH_END) {
        if (m_value != nullptr) out += escapeXmlText(*m_value);
        out += "</";
        out += m_name;
        out += '>';
    }
    if (!m_children.empty()) {
        IndentStep step(s_indentLevel);
        for (const XmlNode* child : m_children) {
            out += getIndent(s_indentLevel);
            child->appendTo(out);
        }
    }
    if (m_type == ONLY_BEGIN) {
        out += getIndent(s_indentLevel);
        out += "</";
        out += m_name;
        out += '>';
    }
}

}  // namespace vxl_fixup
