// The document tree: element name, written form, at most one text value,
// attributes as name/value pairs and child elements, all in insertion order.
// A node owns its name and value texts, its attribute pairs and its children:
// destroying a node destroys its whole subtree. Lookups return pointers into
// the node's own storage, valid while the node lives.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

namespace vxl_fixup {

class NameValuePair;

// The written form of an element; the reader and the serialiser compare these
// numbers, so they are fixed.
enum XmlTagType {
    ONLY_BEGIN = 0,         // start tag, indented children, end tag on its own line
    ONLY_END = 1,           // a bare end tag </NAME>
    BEGIN_WITH_END = 2,     // <NAME>value</NAME> on one line
    BEGIN_AND_END = 3,      // empty element <NAME ... />
    COMMENT_OR_HEADER = 4,  // never written
    UNKNOWN_TAG = 5         // never written
};

// Thrown by the first-child lookups on a node without any child.
class ChildNotFoundException : public std::exception {
public:
    const char* what() const noexcept override { return "Child nodes not found"; }
};

class XmlNode {
public:
    XmlNode(const std::string& name, XmlTagType type);
    ~XmlNode();
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // A null or empty value changes nothing; otherwise stores a copy and makes
    // the element BEGIN_WITH_END.
    void setValue(const std::string* value);
    // Takes ownership of the child (null ignored) and makes the element
    // ONLY_BEGIN. A child belongs to exactly one parent.
    void addChildNode(XmlNode* child);
    void addAttribute(const std::string& name, const std::string& value);
    // Takes ownership of the pair (null ignored); a pair belongs to one node.
    void addAttribute(NameValuePair* pair);

    const std::string* getNodeName() const { return &m_name; }
    XmlTagType getNodeType() const { return m_type; }
    const std::string* getNodeValue() const { return m_value; }
    bool hasNodeValue() const { return m_value != nullptr && !m_value->empty(); }

    bool hasAttributes() const { return !m_attributes.empty(); }
    std::vector<NameValuePair*> getAttributes() const { return m_attributes; }
    // Lookups by name return the first match, exact byte comparison.
    NameValuePair* searchAttributeInList(const std::string& name) const;
    bool hasAttribute(const std::string& name) const;
    const std::string* getAttributeValue(const std::string& name) const;
    bool hasAttributeNameWithValue(const NameValuePair* pair) const;
    bool hasAttributeNameWithValue(const std::string& name, const std::string& value) const;

    bool hasChildNodes() const { return !m_children.empty(); }
    std::vector<XmlNode*> getChildNodes() const { return m_children; }
    std::size_t getChildNodesCount() const { return m_children.size(); }
    std::vector<XmlNode*> searchChildNodesByTagName(const std::string& name) const;
    bool hasChildByName(const std::string& name) const;
    // ChildNotFoundException without any child.
    XmlNode* getFirstChildNode() const;
    // ChildNotFoundException without any child; std::out_of_range when there
    // are children but none of that name (test with hasChildByName first).
    XmlNode* getFirstChildNodeByName(const std::string& name) const;
    // ChildNotFoundException without any child; null when fewer than index+1
    // children carry the name.
    XmlNode* getChildNodeByTagNameAtIndex(const std::string& name, std::size_t index) const;
    XmlNode* searchChildNodeByAttributeNameValue(const NameValuePair* pair) const;
    XmlNode* searchChildNodeByAttributeNameValue(const std::string& name,
                                                 const std::string& value) const;

    // The element and its subtree in written form, children indented two
    // blanks per level below this element, no leading or trailing line feed.
    // Element values and attribute values are escaped (XmlText.h) so that the
    // text is well-formed and reads back to the same tree.
    std::string toString() const;
    // A line feed and two blanks per level (none below 1).
    static std::string getIndent(int level);

private:
    void appendTo(std::string& out) const;

    std::string m_name;
    XmlTagType m_type;
    std::string* m_value = nullptr;
    std::vector<XmlNode*> m_children;
    std::vector<NameValuePair*> m_attributes;

    // Depth of the serialisation under way; process-wide, back at 0 after any
    // toString call, also one that ends in an exception.
    static int s_indentLevel;
};

}  // namespace vxl_fixup
