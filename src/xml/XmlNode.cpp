#include "xml/XmlNode.h"

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "model/FixupData.h"
#include "xml/XmlNames.h"
#include "xml/XmlText.h"
#include "xml/XmlValueSharing.h"

namespace vxl_fixup {

int XmlNode::s_indentLevel = 0;

// An attribute's value, held by every attribute that shares it; the last
// holder releases it. Holders may sit in trees on different threads.
struct XmlNode::AttributeText {
    explicit AttributeText(std::string value) : text(std::move(value)) {}
    std::string text;
    std::atomic<std::uint32_t> holders{1};
};

namespace {

using AttributeText = XmlNode::AttributeText;

void releaseText(AttributeText* text) {
    if (text->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete text;
}

// An attribute's value word: an AttributeText it holds, or with this bit a
// caller's text it only refers to.
constexpr std::uintptr_t kReferredText = 1;

std::uintptr_t heldWord(AttributeText* text) { return reinterpret_cast<std::uintptr_t>(text); }

std::string* textOf(std::uintptr_t word) {
    if ((word & kReferredText) != 0) return reinterpret_cast<std::string*>(word & ~kReferredText);
    return &reinterpret_cast<AttributeText*>(word)->text;
}

void releaseWord(std::uintptr_t word) {
    if ((word & kReferredText) == 0) releaseText(reinterpret_cast<AttributeText*>(word));
}

// True when the text may be written for this attribute alone.
bool ownsAlone(std::uintptr_t word) {
    return (word & kReferredText) == 0 &&
           reinterpret_cast<AttributeText*>(word)->holders.load(std::memory_order_acquire) == 1;
}

}  // namespace

// The values of the attributes added through a SharedAttributeValues so far;
// it holds each of them once itself.
struct SharedAttributeValues::Table {
    std::unordered_map<std::string_view, AttributeText*> texts;
    ~Table() {
        for (auto& entry : texts) releaseText(entry.second);
    }
};

namespace {
// A text stops being handed out again long before its count could overflow.
constexpr std::uint32_t kMaxHolders = 1u << 30;

// A holder of a text equal to value: the table's, else new.
AttributeText* textFor(const std::string& value, SharedAttributeValues::Table* table) {
    if (table == nullptr) return new AttributeText(value);
    auto found = table->texts.find(std::string_view(value));
    if (found != table->texts.end() &&
        found->second->holders.load(std::memory_order_relaxed) < kMaxHolders) {
        found->second->holders.fetch_add(1, std::memory_order_relaxed);
        return found->second;
    }
    auto* text = new AttributeText(value);
    text->holders.store(2, std::memory_order_relaxed);  // the caller and the table
    try {
        if (found != table->texts.end()) {
            AttributeText* full = found->second;
            table->texts.erase(found);
            releaseText(full);
        }
        table->texts.emplace(std::string_view(text->text), text);
    } catch (...) {
        delete text;
        throw;
    }
    return text;
}

}  // namespace

SharedAttributeValues::SharedAttributeValues() : m_table(new Table) {}

SharedAttributeValues::~SharedAttributeValues() { delete m_table; }

// Attributes live in blocks allocated with their entries in one piece: the
// reader makes one block of the exact size per line, later additions chain
// further blocks, so an entry never moves once added.
struct XmlNode::AttributeBlock {
    struct Entry {
        const std::string* name;  // shared unless the block's ownedNames bit is set
        std::uintptr_t value;     // see heldWord and kReferredText
    };
    static constexpr std::size_t MAX_ENTRIES = 32;  // bits of ownedNames

    AttributeBlock* next = nullptr;
    std::uint16_t count = 0;
    std::uint16_t capacity = 0;
    std::uint32_t ownedNames = 0;

    Entry* entries() { return reinterpret_cast<Entry*>(this + 1); }
    const Entry* entries() const { return reinterpret_cast<const Entry*>(this + 1); }

    static AttributeBlock* create(std::size_t capacity) {
        if (capacity > MAX_ENTRIES) capacity = MAX_ENTRIES;
        if (capacity == 0) capacity = 1;
        void* memory = ::operator new(sizeof(AttributeBlock) + capacity * sizeof(Entry));
        auto* block = new (memory) AttributeBlock();
        block->capacity = static_cast<std::uint16_t>(capacity);
        return block;
    }
    // Destroys this block and every block chained after it.
    static void destroyChain(AttributeBlock* block) {
        while (block != nullptr) {
            AttributeBlock* next = block->next;
            for (std::uint16_t i = 0; i < block->count; ++i) {
                Entry& entry = block->entries()[i];
                if ((block->ownedNames >> i) & 1u) delete entry.name;
                releaseWord(entry.value);
                entry.~Entry();
            }
            block->~AttributeBlock();
            ::operator delete(block);
            block = next;
        }
    }
};
static_assert(sizeof(XmlNode::AttributeBlock) % alignof(XmlNode::AttributeBlock::Entry) == 0,
              "entry alignment");
// The node keeps its written form and a flag in an attribute block pointer's
// low bits, and three flags in those of its other pointers.
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 16, "attribute block alignment");
static_assert(alignof(std::string) >= 8 && alignof(XmlNode) >= 8, "pointer alignment");
static_assert(sizeof(XmlNode) == 5 * sizeof(void*), "a node is five words");

namespace {

using Entry = XmlNode::AttributeBlock::Entry;

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

// The NameValuePair views handed out per node, index-aligned with its
// attributes (null where none was asked for yet). Views are rare (diagnostics
// and tests), so they live here rather than in every node.
class AttributeViews {
public:
    static std::vector<NameValuePair*>& of(const XmlNode* node) {
        std::lock_guard<std::mutex> guard(lock());
        return table()[node];
    }
    static void release(const XmlNode* node) {
        std::vector<NameValuePair*> views;
        {
            std::lock_guard<std::mutex> guard(lock());
            auto found = table().find(node);
            if (found == table().end()) return;
            views.swap(found->second);
            table().erase(found);
        }
        for (NameValuePair* view : views) {
            if (view == nullptr) continue;
            view->value = nullptr;  // the attribute's text, released by the node
            delete view;
        }
    }

private:
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::unordered_map<const XmlNode*, std::vector<NameValuePair*>>& table() {
        static std::unordered_map<const XmlNode*, std::vector<NameValuePair*>> views;
        return views;
    }
};

template <typename Visit>
void forEachEntry(XmlNode::AttributeBlock* block, Visit&& visit) {
    std::size_t index = 0;
    for (; block != nullptr; block = block->next) {
        for (std::uint16_t i = 0; i < block->count; ++i) {
            if (!visit(block->entries()[i], index++)) return;
        }
    }
}

}  // namespace

XmlNode::XmlNode(const std::string& name, XmlTagType type)
    : m_name(reinterpret_cast<std::uintptr_t>(sharedXmlName(name))) {
    setType(type);
    if (m_name == 0) m_name = reinterpret_cast<std::uintptr_t>(new std::string(name)) | kOwnsName;
}

XmlNode::~XmlNode() {
    if ((m_attributes & kHasViews) != 0) AttributeViews::release(this);
    // Siblings are released in a loop, so a long list of children costs no stack.
    for (XmlNode* child = firstChildNode(); child != nullptr;) {
        XmlNode* next = child->nextSiblingNode();
        delete child;
        child = next;
    }
    AttributeBlock::destroyChain(attributes());
    releaseValue();
    if ((m_name & kOwnsName) != 0) delete getNodeName();
}

void XmlNode::releaseValue() {
    if ((m_value & kRefersValue) == 0) delete value();
    m_value = 0;
}

void XmlNode::setValue(const std::string* value) {
    if (value == nullptr || value->empty()) return;
    std::string* copy = new std::string(*value);
    releaseValue();
    m_value = reinterpret_cast<std::uintptr_t>(copy);
    setType(BEGIN_WITH_END);
}

void XmlNode::referValue(const std::string* value) {
    if (value == nullptr || value->empty()) return;
    releaseValue();
    m_value = reinterpret_cast<std::uintptr_t>(value) | kRefersValue;
    setType(BEGIN_WITH_END);
}

void XmlNode::addChildNode(XmlNode* child) {
    if (child == nullptr) return;
    // The children form a ring through the last one, whose next is the first.
    if (m_lastChild == nullptr) {
        child->m_next = reinterpret_cast<std::uintptr_t>(child) | kLastChild;
    } else {
        child->m_next = reinterpret_cast<std::uintptr_t>(m_lastChild->ringNext()) | kLastChild;
        m_lastChild->m_next = reinterpret_cast<std::uintptr_t>(child);
    }
    m_lastChild = child;
    setType(ONLY_BEGIN);
}

std::size_t XmlNode::getChildNodesCount() const {
    std::size_t count = 0;
    for (const XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode())
        ++count;
    return count;
}

XmlNode::AttributeBlock* XmlNode::blockWithRoom() {
    AttributeBlock* last = attributes();
    while (last != nullptr && last->next != nullptr) last = last->next;
    if (last != nullptr && last->count < last->capacity) return last;
    AttributeBlock* block = AttributeBlock::create(last == nullptr ? 1 : last->capacity * 2u);
    if (last == nullptr) {
        setAttributes(block);
    } else {
        last->next = block;
    }
    return block;
}

void XmlNode::reserveAttributes(std::size_t count) {
    if (count == 0) return;
    AttributeBlock* last = attributes();
    while (last != nullptr && last->next != nullptr) last = last->next;
    if (last != nullptr && static_cast<std::size_t>(last->capacity - last->count) >= count) return;
    AttributeBlock* block = AttributeBlock::create(count);
    if (last == nullptr) {
        setAttributes(block);
    } else if (last->count == 0) {
        // Only an empty block can be at the end without entries; replace it.
        AttributeBlock* before = attributes();
        if (before == last) {
            setAttributes(block);
        } else {
            while (before->next != last) before = before->next;
            before->next = block;
        }
        AttributeBlock::destroyChain(last);
    } else {
        last->next = block;
    }
}

void XmlNode::appendAttribute(const std::string& name, std::uintptr_t held) {
    AttributeBlock* block = nullptr;
    const std::string* shared = nullptr;
    std::string* ownName = nullptr;
    try {
        block = blockWithRoom();
        shared = sharedXmlName(name);
        if (shared == nullptr) ownName = new std::string(name);
    } catch (...) {
        releaseWord(held);
        throw;
    }
    const std::uint16_t i = block->count;
    new (&block->entries()[i]) Entry{shared != nullptr ? shared : ownName, held};
    if (shared == nullptr) block->ownedNames |= 1u << i;
    block->count = static_cast<std::uint16_t>(i + 1);
}

void XmlNode::addAttribute(const std::string& name, const std::string& value) {
    appendAttribute(name, heldWord(textFor(value, nullptr)));
}

void XmlNode::addAttribute(const std::string& name, const std::string& value,
                           SharedAttributeValues& values) {
    appendAttribute(name, heldWord(textFor(value, &values.table())));
}

void XmlNode::referAttribute(const std::string& name, const std::string* value) {
    if (value == nullptr) return;
    appendAttribute(name, reinterpret_cast<std::uintptr_t>(value) | kReferredText);
}

void XmlNode::addAttribute(NameValuePair* pair) {
    if (pair == nullptr) return;
    // The pair stays a writable view, so its text is never shared.
    const std::string name = pair->name ? *pair->name : std::string();
    auto* own = new AttributeText(std::string());
    appendAttribute(name, heldWord(own));
    std::string* text = &own->text;
    if (pair->value != nullptr) text->swap(*pair->value);
    delete pair->value;
    pair->value = text;
    std::vector<NameValuePair*>& views = AttributeViews::of(this);
    m_attributes |= kHasViews;
    std::size_t count = 0;
    forEachEntry(attributes(), [&count](const Entry&, std::size_t) { return ++count, true; });
    views.resize(count, nullptr);
    views.back() = pair;
}

bool XmlNode::hasAttributes() const { return attributes() != nullptr && attributes()->count > 0; }

std::vector<NameValuePair*> XmlNode::getAttributes() const {
    std::vector<NameValuePair*> pairs;
    if (attributes() == nullptr) return pairs;
    std::vector<NameValuePair*>& views = AttributeViews::of(this);
    m_attributes |= kHasViews;
    forEachEntry(attributes(), [&](Entry& entry, std::size_t index) {
        if (index >= views.size()) views.resize(index + 1, nullptr);
        if (views[index] == nullptr) {
            auto* view = new NameValuePair(*entry.name, std::string());
            if (!ownsAlone(entry.value)) {
                // A view may be written through: the attribute takes a copy of
                // its own first so no other attribute, nor a referred text,
                // changes with it.
                AttributeText* own = nullptr;
                try {
                    own = new AttributeText(*textOf(entry.value));
                } catch (...) {
                    delete view;
                    throw;
                }
                releaseWord(entry.value);
                entry.value = heldWord(own);
            }
            delete view->value;
            view->value = textOf(entry.value);
            views[index] = view;
        }
        pairs.push_back(views[index]);
        return true;
    });
    return pairs;
}

NameValuePair* XmlNode::searchAttributeInList(const std::string& name) const {
    std::size_t wanted = 0;
    bool found = false;
    forEachEntry(attributes(), [&](const Entry& entry, std::size_t index) {
        if (*entry.name != name) return true;
        wanted = index;
        found = true;
        return false;
    });
    return found ? getAttributes()[wanted] : nullptr;
}

bool XmlNode::hasAttribute(const std::string& name) const {
    return getAttributeValue(name) != nullptr;
}

const std::string* XmlNode::getAttributeValue(const std::string& name) const {
    const std::string* value = nullptr;
    forEachEntry(attributes(), [&](const Entry& entry, std::size_t) {
        if (*entry.name != name) return true;
        value = textOf(entry.value);
        return false;
    });
    return value;
}

std::vector<const std::string*> XmlNode::getAttributeValues(const std::string& name) const {
    std::vector<const std::string*> values;
    forEachEntry(attributes(), [&](const Entry& entry, std::size_t) {
        if (*entry.name == name) values.push_back(textOf(entry.value));
        return true;
    });
    return values;
}

bool XmlNode::hasAttributeNameWithValue(const NameValuePair* pair) const {
    return pair != nullptr && pair->name != nullptr && pair->value != nullptr &&
           hasAttributeNameWithValue(*pair->name, *pair->value);
}

bool XmlNode::hasAttributeNameWithValue(const std::string& name, const std::string& value) const {
    bool found = false;
    forEachEntry(attributes(), [&](const Entry& entry, std::size_t) {
        found = *entry.name == name && *textOf(entry.value) == value;
        return !found;
    });
    return found;
}

std::vector<XmlNode*> XmlNode::getChildNodes() const {
    std::vector<XmlNode*> children;
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        children.push_back(child);
    }
    return children;
}

std::vector<XmlNode*> XmlNode::searchChildNodesByTagName(const std::string& name) const {
    std::vector<XmlNode*> found;
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        if (*child->getNodeName() == name) found.push_back(child);
    }
    return found;
}

XmlNode* XmlNode::findFirstChildByName(const std::string& name) const {
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        if (*child->getNodeName() == name) return child;
    }
    return nullptr;
}

bool XmlNode::hasChildByName(const std::string& name) const {
    return findFirstChildByName(name) != nullptr;
}

XmlNode* XmlNode::getFirstChildNode() const {
    if (m_lastChild == nullptr) throw ChildNotFoundException();
    return firstChildNode();
}

XmlNode* XmlNode::getFirstChildNodeByName(const std::string& name) const {
    if (m_lastChild == nullptr) throw ChildNotFoundException();
    XmlNode* found = findFirstChildByName(name);
    if (found == nullptr) throw std::out_of_range("no child element named " + name);
    return found;
}

XmlNode* XmlNode::getChildNodeByTagNameAtIndex(const std::string& name, std::size_t index) const {
    if (m_lastChild == nullptr) throw ChildNotFoundException();
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        if (*child->getNodeName() != name) continue;
        if (index == 0) return child;
        --index;
    }
    return nullptr;
}

XmlNode* XmlNode::searchChildNodeByAttributeNameValue(const NameValuePair* pair) const {
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        if (child->hasAttributeNameWithValue(pair)) return child;
    }
    return nullptr;
}

XmlNode* XmlNode::searchChildNodeByAttributeNameValue(const std::string& name,
                                                      const std::string& value) const {
    for (XmlNode* child = firstChildNode(); child != nullptr; child = child->nextSiblingNode()) {
        if (child->hasAttributeNameWithValue(name, value)) return child;
    }
    return nullptr;
}

namespace {
void appendIndent(std::string& out, int level) {
    out += '\n';
    if (level > 0) out.append(static_cast<std::size_t>(level) * 2, ' ');
}
}  // namespace

std::string XmlNode::getIndent(int level) {
    std::string indent;
    appendIndent(indent, level);
    return indent;
}

std::string XmlNode::toString() const {
    std::string out;
    appendTo(out, nullptr);
    return out;
}

void XmlNode::writeTo(const std::function<void(std::string&)>& sink, std::size_t chunkBytes) const {
    std::string out;
    const Flush flush{&sink, chunkBytes};
    appendTo(out, &flush);
    if (!out.empty()) sink(out);
}

// One buffer for the whole subtree keeps serialisation linear in the size of
// the document whatever its depth.
void XmlNode::appendTo(std::string& out, const Flush* flush) const {
    const std::string& name = *getNodeName();
    const XmlTagType type = getNodeType();
    if (name.empty() || type == COMMENT_OR_HEADER || type == UNKNOWN_TAG) return;
    out += type == ONLY_END ? "</" : "<";
    out += name;
    forEachEntry(attributes(), [&out](const Entry& entry, std::size_t) {
        out += ' ';
        out += *entry.name;
        out += "=\"";
        appendEscapedXmlAttribute(out, *textOf(entry.value));
        out += '"';
        return true;
    });
    out += type == BEGIN_AND_END ? " />" : ">";
    if (type == BEGIN_WITH_END) {
        if (value() != nullptr) appendEscapedXmlText(out, *value());
        out += "</";
        out += name;
        out += '>';
    }
    if (m_lastChild != nullptr) {
        IndentStep step(s_indentLevel);
        for (const XmlNode* child = firstChildNode(); child != nullptr;
             child = child->nextSiblingNode()) {
            appendIndent(out, s_indentLevel);
            child->appendTo(out, flush);
            if (flush != nullptr && out.size() >= flush->chunkBytes) {
                (*flush->sink)(out);
                out.clear();
            }
        }
    }
    if (type == ONLY_BEGIN) {
        appendIndent(out, s_indentLevel);
        out += "</";
        out += name;
        out += '>';
    }
}

}  // namespace vxl_fixup
