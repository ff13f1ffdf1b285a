// Attribute values shared between the elements of a tree. A document repeats
// the same few values (node names, expected values, NAME) on every instance;
// attributes added through one SharedAttributeValues (XmlNode::addAttribute)
// with equal values keep one copy of the text between them, also after it is
// gone. A node still reads and serialises its values as before; an attribute
// gets a copy of its own when a writable view of it is handed out
// (getAttributes), so writing through a view never changes another node.
#pragma once

namespace vxl_fixup {

class SharedAttributeValues {
public:
    SharedAttributeValues();
    ~SharedAttributeValues();
    SharedAttributeValues(const SharedAttributeValues&) = delete;
    SharedAttributeValues& operator=(const SharedAttributeValues&) = delete;

    // The table itself, defined with the node's code.
    struct Table;

    Table& table() { return *m_table; }

private:
    Table* m_table;
};

}  // namespace vxl_fixup
