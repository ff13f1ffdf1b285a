#include "xml/XmlNode.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "model/FixupData.h"
#include "xml/XmlValueSharing.h"

namespace vxl_fixup {
namespace {

TEST(XmlNodeTest, EachTypeHasItsWrittenForm) {
    const std::pair<XmlTagType, const char*> cases[] = {
        {BEGIN_AND_END, "<NAME A=\"1\" B=\"2\" />"},
        {BEGIN_WITH_END, "<NAME A=\"1\" B=\"2\"></NAME>"},
        {ONLY_BEGIN, "<NAME A=\"1\" B=\"2\">\n</NAME>"},
        {ONLY_END, "</NAME>"},
        {COMMENT_OR_HEADER, ""},
        {UNKNOWN_TAG, ""},
    };
    for (const auto& c : cases) {
        XmlNode node("NAME", c.first);
        if (c.first != ONLY_END) {
            node.addAttribute("A", "1");
            node.addAttribute(new NameValuePair("B", "2"));
        }
        EXPECT_EQ(node.toString(), c.second) << c.first;
    }
}

// Texts handed out stay where they are while the node grows, whether the
// name is shared with other nodes or too long to share, and a view's value
// is the attribute's own text.
TEST(XmlNodeTest, AttributeTextsAndPairsStayPutAsTheNodeGrows) {
    const std::string longName(100, 'n');
    XmlNode node(longName, BEGIN_AND_END);
    node.reserveAttributes(2);
    node.addAttribute("ID", "first");
    const std::string* first = node.getAttributeValue("ID");
    node.addAttribute(new NameValuePair(longName, "mine"));
    const std::vector<NameValuePair*> before = node.getAttributes();
    for (int i = 0; i < 100; ++i) node.addAttribute("K" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(node.getAttributeValue("ID"), first);
    EXPECT_EQ(*first, "first");
    const std::vector<NameValuePair*> after = node.getAttributes();
    ASSERT_EQ(after.size(), 102u);
    EXPECT_EQ(std::vector<NameValuePair*>(after.begin(), after.begin() + 2), before);
    EXPECT_EQ(node.getAttributeValues("ID"), std::vector<const std::string*>{first});
    *after[0]->value = "changed";
    EXPECT_EQ(
        node.toString().rfind("<" + longName + " ID=\"changed\" " + longName + "=\"mine\" K0=", 0),
        0u);
}

// Equal values read while sharing is on keep one text; changing one node's
// attribute through a view, or releasing a node, leaves the others' alone,
// whether the sharing ended before or not, and never writes a referred text.
TEST(XmlNodeTest, SharedAttributeValuesChangeOnlyTheirOwnNode) {
    using Change = std::function<void(std::unique_ptr<XmlNode>&)>;
    const struct {
        const char* what;
        bool sharingEndsFirst;
        Change change;
    } cases[] = {
        {"written through its views", false,
         [](std::unique_ptr<XmlNode>& node) {
             *node->getAttributes()[0]->value = "mine";
             *node->getAttributes()[2]->value = "mine";
         }},
        {"written through its views after sharing", true,
         [](std::unique_ptr<XmlNode>& node) {
             *node->getAttributes()[0]->value = "mine";
             *node->getAttributes()[2]->value = "mine";
         }},
        {"written through a searched view", true,
         [](std::unique_ptr<XmlNode>& node) {
             *node->searchAttributeInList("ID")->value = "mine";
             *node->searchAttributeInList("REF")->value = "mine";
         }},
        {"released", false, [](std::unique_ptr<XmlNode>& node) { node.reset(); }},
        {"released after sharing", true, [](std::unique_ptr<XmlNode>& node) { node.reset(); }},
    };
    for (const auto& c : cases) {
        const std::string referred = "r";
        std::unique_ptr<XmlNode> nodes[3];
        {
            auto sharing = std::make_unique<SharedAttributeValues>();
            for (auto& node : nodes) {
                node = std::make_unique<XmlNode>("N", BEGIN_AND_END);
                node->addAttribute("ID", std::string("node1"), *sharing);
                node->addAttribute("OWN", "x", *sharing);
                node->referAttribute("REF", &referred);
            }
            EXPECT_EQ(nodes[0]->getAttributeValue("ID"), nodes[2]->getAttributeValue("ID")) << c.what;
            if (c.sharingEndsFirst) sharing.reset();
            const std::string* before = nodes[2]->getAttributeValue("ID");
            c.change(nodes[1]);
            EXPECT_EQ(nodes[2]->getAttributeValue("ID"), before) << c.what;
        }
        for (const int i : {0, 2}) {
            EXPECT_EQ(nodes[i]->toString(), "<N ID=\"node1\" OWN=\"x\" REF=\"r\" />") << c.what;
            *nodes[i]->getAttributes()[1]->value = "y";
        }
        EXPECT_EQ(nodes[0]->toString(), "<N ID=\"node1\" OWN=\"y\" REF=\"r\" />") << c.what;
        if (nodes[1]) {
            EXPECT_EQ(nodes[1]->toString(), "<N ID=\"mine\" OWN=\"x\" REF=\"mine\" />") << c.what;
        }
        EXPECT_EQ(referred, "r") << c.what;
    }
}

// A long list of children is released and written without deep recursion,
// and written in pieces when asked to.
TEST(XmlNodeTest, ManyChildrenAreWrittenInPiecesAndReleased) {
    XmlNode list("LIST", ONLY_BEGIN);
    for (int i = 0; i < 200000; ++i) list.addChildNode(new XmlNode("I", BEGIN_AND_END));
    std::string pieces;
    int calls = 0;
    list.writeTo(
        [&](std::string& piece) {
            pieces += piece;
            ++calls;
        },
        4096);
    EXPECT_EQ(pieces, list.toString());
    EXPECT_GT(calls, 100);
}

// A value is copied or referred to; either way it is written alike, and a
// referred one is the caller's own text, left alone when the node goes.
TEST(XmlNodeTest, ValuesAreCopiedOrReferredTo) {
    const std::string text = "a < b";
    for (const bool refer : {false, true}) {
        {
            XmlNode node("V", BEGIN_AND_END);
            node.addAttribute("A", "1");
            if (refer) {
                node.referValue(&text);
                node.referValue(nullptr);
            } else {
                node.setValue(&text);
            }
            EXPECT_EQ(node.getNodeValue() == &text, refer);
            EXPECT_EQ(node.toString(), "<V A=\"1\">a &lt; b</V>") << refer;
            // Another value replaces it, whichever way each came.
            const std::string other = "c";
            refer ? node.setValue(&other) : node.referValue(&other);
            EXPECT_EQ(*node.getNodeValue(), "c");
        }
        EXPECT_EQ(text, "a < b");
    }
}

// Children come back in the order added, whatever the node's attributes and
// type, and each child's next sibling ends at the last.
TEST(XmlNodeTest, ChildrenKeepTheirOrder) {
    for (const std::size_t count : {0u, 1u, 2u, 5u}) {
        XmlNode parent("P", BEGIN_AND_END);
        parent.addAttribute("A", "1");
        std::vector<XmlNode*> added;
        for (std::size_t i = 0; i < count; ++i) {
            added.push_back(new XmlNode("C" + std::to_string(i), BEGIN_AND_END));
            parent.addChildNode(added.back());
        }
        std::vector<XmlNode*> walked;
        for (XmlNode* c = parent.firstChildNode(); c != nullptr; c = c->nextSiblingNode())
            walked.push_back(c);
        EXPECT_EQ(walked, added) << count;
        EXPECT_EQ(parent.getChildNodes(), added) << count;
        EXPECT_EQ(parent.getChildNodesCount(), count);
        EXPECT_EQ(parent.getNodeType(), count ? ONLY_BEGIN : BEGIN_AND_END);
        EXPECT_EQ(*parent.getAttributeValue("A"), "1");
        if (count > 0) {
            EXPECT_EQ(parent.findFirstChildByName("C" + std::to_string(count - 1)),
                      added.back());
        }
    }
}

}  // namespace
}  // namespace vxl_fixup
