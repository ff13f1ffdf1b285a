#include "xml/XmlNode.h"

#include <gtest/gtest.h>

#include "model/FixupData.h"

namespace vxl_fixup {
namespace {

TEST(XmlNodeTest, EachTypeHasItsWrittenForm) {
    const std::pair<XmlTagType, const char*> cases[] = {
        {BEGIN_AND_END, "<NAME />"},     {BEGIN_WITH_END, "<NAME></NAME>"}, {ONLY_END, "</NAME>"},
        {ONLY_BEGIN, "<NAME>\n</NAME>"}, {COMMENT_OR_HEADER, ""},           {UNKNOWN_TAG, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(XmlNode("NAME", c.first).toString(), c.second) << c.first;
    XmlNode empty("NAME", BEGIN_AND_END);
    empty.addAttribute("A", "1");
    empty.addAttribute(new NameValuePair("B", "2"));
    EXPECT_EQ(empty.toString(), "<NAME A=\"1\" B=\"2\" />");
}

// Empty content changes nothing; a value or a child changes the written form.
TEST(XmlNodeTest, NestedElementsIndentTwoBlanksPerLevelAndRepeatIdentically) {
    XmlNode root("ROOT", ONLY_BEGIN);
    auto* task = new XmlNode("TASK", BEGIN_AND_END);
    task->addAttribute("ID", "T1");
    auto* val = new XmlNode("VAL", BEGIN_AND_END);
    const std::string blank, v = "42";
    val->setValue(&blank);
    val->addChildNode(nullptr);
    EXPECT_EQ(val->toString(), "<VAL />");
    val->setValue(&v);
    task->addChildNode(val);
    root.addChildNode(task);
    const std::string expected =
        "<ROOT>\n  <TASK ID=\"T1\">\n    <VAL>42</VAL>\n  </TASK>\n</ROOT>";
    EXPECT_EQ(root.toString(), expected);
    EXPECT_EQ(root.toString(), expected);
    EXPECT_EQ(task->toString(), "<TASK ID=\"T1\">\n  <VAL>42</VAL>\n</TASK>");
}

// Texts handed out stay where they are while the node grows, whether the
// name is shared with other nodes or too long to share.
TEST(XmlNodeTest, AttributeTextsAndPairsStayPutAsTheNodeGrows) {
    const std::string longName(100, 'n');
    XmlNode node(longName, BEGIN_AND_END);
    node.reserveAttributes(2);
    node.addAttribute("ID", "first");
    const std::string* first = node.getAttributeValue("ID");
    NameValuePair* own = new NameValuePair(longName, "mine");
    node.addAttribute(own);
    const std::vector<NameValuePair*> before = node.getAttributes();
    for (int i = 0; i < 100; ++i) node.addAttribute("K" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(node.getAttributeValue("ID"), first);
    EXPECT_EQ(*first, "first");
    EXPECT_EQ(node.searchAttributeInList(longName), own);
    EXPECT_EQ(*own->value, "mine");
    const std::vector<NameValuePair*> after = node.getAttributes();
    ASSERT_EQ(after.size(), 102u);
    EXPECT_EQ(std::vector<NameValuePair*>(after.begin(), after.begin() + 2), before);
    EXPECT_EQ(*after[101]->name, "K99");
    EXPECT_EQ(node.getAttributeValues("ID"), std::vector<const std::string*>{first});
    // A view's value is the attribute's own text.
    *after[0]->value = "changed";
    EXPECT_EQ(
        node.toString().rfind("<" + longName + " ID=\"changed\" " + longName + "=\"mine\" K0=", 0),
        0u);
    EXPECT_EQ(*node.getNodeName(), longName);
    EXPECT_FALSE(XmlNode("E", BEGIN_AND_END).hasAttributes());
}

// A long list of children is released and written without deep recursion,
// and written in pieces when asked to.
TEST(XmlNodeTest, ManyChildrenAreWrittenInPiecesAndReleased) {
    XmlNode list("LIST", ONLY_BEGIN);
    for (int i = 0; i < 200000; ++i) list.addChildNode(new XmlNode("I", BEGIN_AND_END));
    EXPECT_EQ(list.getChildNodesCount(), 200000u);
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

}  // namespace
}  // namespace vxl_fixup
