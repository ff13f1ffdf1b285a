// The document tree: element name, written form, at most one text value,
// attributes as name/value pairs and child elements, all in insertion order.
// A node owns its value text (unless it refers to one, see referValue), its
// attributes and its children: destroying a node destroys its whole subtree.
// Lookups return pointers into the node's own storage, valid while the node
// lives; adding attributes or children never moves what earlier lookups
// returned.
//
// A node is five words: names are shared between nodes (see XmlNames.h),
// children are linked in a ring through their last one rather than listed,
// the written form and flags ride in the low bits of the pointers, and
// attributes are stored in blocks inside the node rather than as separate
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
class SharedAttributeValues;

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
    // The same without a copy: the node keeps the pointer and never releases
    // it, so the text must outlive the node (a constant, or a record the run
    // releases after its tree).
    void referValue(const std::string* value);
    // Takes ownership of the child (null ignored) and makes the element
    // ONLY_BEGIN. A child belongs to exactly one parent.
    void addChildNode(XmlNode* child);
    void addAttribute(const std::string& name, const std::string& value);
    // The same, the value's text shared with the attributes added through
    // values before that have an equal value (see XmlValueSharing.h).
    void addAttribute(const std::string& name, const std::string& value,
                      SharedAttributeValues& values);
    // The same without a copy: the attribute keeps the pointer and never
    // releases it, so the text must outlive the node (as for referValue). A
    // null value adds nothing.
    void referAttribute(const std::string& name, const std::string* value);
    // Takes ownership of the pair (null ignored); a pair belongs to one node.
    // The node keeps the pair's name and value and the pair stays its view:
    // searchAttributeInList returns it.
    void addAttribute(NameValuePair* pair);
    // Room for count more attributes in one allocation (the reader knows the
    // number of a line's attributes before adding them).
    void reserveAttributes(std::size_t count);

    const std::string* getNodeName() const {
        return reinterpret_cast<const std::string*>(m_name & ~kPointerFlags);
    }
    XmlTagType getNodeType() const { return static_cast<XmlTagType>(m_attributes & kTypeBits); }
    const std::string* getNodeValue() const { return value(); }
    bool hasNodeValue() const { return value() != nullptr && !value()->empty(); }

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

    bool hasChildNodes() const { return m_lastChild != nullptr; }
    std::vector<XmlNode*> getChildNodes() const;
    // Counted by walking the children.
    std::size_t getChildNodesCount() const;
    // Walking the children without copying their list: first child, then each
    // child's next sibling, null after the last.
    XmlNode* firstChildNode() const { return m_lastChild ? m_lastChild->ringNext() : nullptr; }
    XmlNode* nextSiblingNode() const {
        return (m_next & kLastChild) != 0 ? nullptr : ringNext();
    }
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

    // Storage of the attributes and of their values (a value may be shared
    // between attributes, see XmlValueSharing.h), defined with the node's code.
    struct AttributeBlock;
    struct AttributeText;

private:
    struct Flush {
        const std::function<void(std::string&)>* sink;
        std::size_t chunkBytes;
    };
    void appendTo(std::string& out, const Flush* flush) const;
    AttributeBlock* blockWithRoom();
    // Takes over text (an AttributeText holder, or a caller's std::string
    // tagged kReferredText), also when it throws.
    void appendAttribute(const std::string& name, std::uintptr_t text);

    // Flags in the low bits of pointers: every pointer here is at least
    // 8-aligned, attribute blocks (from operator new) 16-aligned.
    static constexpr std::uintptr_t kPointerFlags = 7;
    static constexpr std::uintptr_t kOwnsName = 1;    // in m_name: not a shared name
    static constexpr std::uintptr_t kRefersValue = 1; // in m_value: not owned
    static constexpr std::uintptr_t kLastChild = 1;   // in m_next: the ring closes here
    static constexpr std::uintptr_t kTypeBits = 7;    // in m_attributes: the XmlTagType
    static constexpr std::uintptr_t kHasViews = 8;    // in m_attributes: views handed out
    static constexpr std::uintptr_t kBlockFlags = 15;

    std::string* value() const { return reinterpret_cast<std::string*>(m_value & ~kPointerFlags); }
    XmlNode* ringNext() const { return reinterpret_cast<XmlNode*>(m_next & ~kPointerFlags); }
    AttributeBlock* attributes() const {
        return reinterpret_cast<AttributeBlock*>(m_attributes & ~kBlockFlags);
    }
    void setAttributes(AttributeBlock* block) {
        m_attributes = reinterpret_cast<std::uintptr_t>(block) | (m_attributes & kBlockFlags);
    }
    void setType(XmlTagType type) {
        m_attributes = (m_attributes & ~kTypeBits) | static_cast<std::uintptr_t>(type);
    }
    void releaseValue();

    std::uintptr_t m_name;        // const std::string*, shared unless kOwnsName
    std::uintptr_t m_value = 0;   // std::string*, owned unless kRefersValue
    XmlNode* m_lastChild = nullptr;
    std::uintptr_t m_next = 0;    // XmlNode*: next in the parent's ring of children
    mutable std::uintptr_t m_attributes = 0;  // AttributeBlock*, type and kHasViews

    // Depth of the serialisation under way; process-wide, back at 0 after any
    // toString call, also one that ends in an exception.
    static int s_indentLevel;
};

}  // namespace vxl_fixup
