// The document tree: element name, written form, at most one text value,
// attributes as name/value pairs and child elements, all in insertion order.
// A node owns its value text, its attributes and its children: destroying a
// node destroys its whole subtree. Lookups return pointers into the node's
// own storage, valid while the node lives; adding attributes or children never
// moves what earlier lookups returned.
//
// A document of N bytes becomes a tree of about 2.5 N bytes: names are shared
// between nodes (see XmlNames.h), children are linked rather than listed,
// and attributes are stored in blocks inside the node rather than as separate
// pairs. The NameValuePair views that getAttributes() and
// searchAttributeInList() hand out are made on first request and kept, owned
// by the node, until it is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
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
    // The node keeps the pair's name and value and the pair stays its view:
    // searchAttributeInList returns it.
    void addAttribute(NameValuePair* pair);
    // Room for count more attributes in one allocation (the reader knows the
    // number of a line's attributes before adding them).
    void reserveAttributes(std::size_t count);

    const std::string* getNodeName() const { return m_name; }
    XmlTagType getNodeType() const { return static_cast<XmlTagType>(m_type); }
    const std::string* getNodeValue() const { return m_value; }
    bool hasNodeValue() const { return m_value != nullptr && !m_value->empty(); }

    bool hasAttributes() const;
    // Views of the attributes (owned by the node): a pair's value is the
    // attribute's own text, its name a copy.
    std::vector<NameValuePair*> getAttributes() const;
    // Lookups by name return the first match, exact byte comparison.
    NameValuePair* searchAttributeInList(const std::string& name) const;
    bool hasAttribute(const std::string& name) const;
    const std::string* getAttributeValue(const std::string& name) const;
    // The values of every attribute of that name, in order.
    std::vector<const std::string*> getAttributeValues(const std::string& name) const;
    bool hasAttributeNameWithValue(const NameValuePair* pair) const;
    bool hasAttributeNameWithValue(const std::string& name, const std::string& value) const;

    bool hasChildNodes() const { return m_firstChild != nullptr; }
    std::vector<XmlNode*> getChildNodes() const;
    std::size_t getChildNodesCount() const { return m_childCount; }
    // Walking the children without copying their list: first child, then each
    // child's next sibling, null after the last.
    XmlNode* firstChildNode() const { return m_firstChild; }
    XmlNode* nextSiblingNode() const { return m_nextSibling; }
    std::vector<XmlNode*> searchChildNodesByTagName(const std::string& name) const;
    bool hasChildByName(const std::string& name) const;
    // ChildNotFoundException without any child.
    XmlNode* getFirstChildNode() const;
    // ChildNotFoundException without any child; std::out_of_range when there
    // are children but none of that name (test with hasChildByName first).
    XmlNode* getFirstChildNodeByName(const std::string& name) const;
    // The first child of that name, or null (never throws).
    XmlNode* findFirstChildByName(const std::string& name) const;
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
    // The same text, handed to sink in pieces of about chunkBytes as it is
    // made (each piece is cleared after the call), so a large tree is written
    // without ever holding its whole text.
    void writeTo(const std::function<void(std::string&)>& sink,
                 std::size_t chunkBytes = 1 << 16) const;
    // A line feed and two blanks per level (none below 1).
    static std::string getIndent(int level);

    // Storage of the attributes, defined with the node's code.
    struct AttributeBlock;

private:
    struct Flush {
        const std::function<void(std::string&)>* sink;
        std::size_t chunkBytes;
    };
    void appendTo(std::string& out, const Flush* flush) const;
    AttributeBlock* blockWithRoom();
    std::string* appendAttribute(const std::string& name);

    const std::string* m_name;  // shared (XmlNames) unless m_ownsName
    std::string* m_value = nullptr;
    XmlNode* m_firstChild = nullptr;
    XmlNode* m_lastChild = nullptr;
    XmlNode* m_nextSibling = nullptr;
    AttributeBlock* m_attributes = nullptr;
    std::uint32_t m_childCount = 0;
    std::uint8_t m_type;
    bool m_ownsName = false;
    mutable bool m_hasViews = false;  // NameValuePair views were handed out

    // Depth of the serialisation under way; process-wide, back at 0 after any
    // toString call, also one that ends in an exception.
    static int s_indentLevel;
};

}  // namespace vxl_fixup
