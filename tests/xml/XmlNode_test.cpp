#include "xml/XmlNode.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "model/FixupData.h"

namespace vxl_fixup {
namespace {

TEST(XmlNodeTest, EachTypeHasItsWrittenForm) {
    XmlNode empty("NAME", BEGIN_AND_END);
    empty.addAttribute("A", "1");
    empty.addAttribute(new NameValuePair("B", "2"));
    EXPECT_EQ(empty.toString(), "<NAME A=\"1\" B=\"2\" />");
    EXPECT_EQ(XmlNode("NAME", BEGIN_WITH_END).toString(), "<NAME></NAME>");
    EXPECT_EQ(XmlNode("NAME", ONLY_END).toString(), "</NAME>");
    EXPECT_EQ(XmlNode("NAME", ONLY_BEGIN).toString(), "<NAME>\n</NAME>");
    EXPECT_EQ(XmlNode("NAME", COMMENT_OR_HEADER).toString(), "");
    EXPECT_EQ(XmlNode("NAME", UNKNOWN_TAG).toString(), "");
    XmlNode nameless("", ONLY_BEGIN);
    nameless.addChildNode(new XmlNode("CHILD", BEGIN_AND_END));
    EXPECT_EQ(nameless.toString(), "");
}

TEST(XmlNodeTest, NestedElementsIndentTwoBlanksPerLevelAndRepeatIdentically) {
    XmlNode root("ROOT", ONLY_BEGIN);
    auto* task = new XmlNode("TASK", BEGIN_AND_END);
    task->addAttribute("ID", "T1");
    auto* val = new XmlNode("VAL", BEGIN_AND_END);
    const std::string v = "42";
    val->setValue(&v);
    task->addChildNode(val);
    root.addChildNode(task);
    const std::string expected = "<ROOT>\n  <TASK ID=\"T1\">\n    <VAL>42</VAL>\n  </TASK>\n</ROOT>";
    EXPECT_EQ(root.toString(), expected);
    EXPECT_EQ(root.toString(), expected);
    EXPECT_EQ(task->toString(), "<TASK ID=\"T1\">\n  <VAL>42</VAL>\n</TASK>");
    EXPECT_EQ(XmlNode::getIndent(0), "\n");
    EXPECT_EQ(XmlNode::getIndent(-3), "\n");
    EXPECT_EQ(XmlNode::getIndent(2), "\n    ");
}

TEST(XmlNodeTest, TypeFollowsTheLastContentChange) {
    XmlNode node("N", BEGIN_AND_END);
    const std::string blank;
    node.setValue(&blank);
    node.setValue(nullptr);
    node.addChildNode(nullptr);
    EXPECT_EQ(node.getNodeType(), BEGIN_AND_END);
    EXPECT_EQ(node.getNodeValue(), nullptr);
    node.addChildNode(new XmlNode("C", BEGIN_AND_END));
    EXPECT_EQ(node.getNodeType(), ONLY_BEGIN);
    const std::string value = "x";
    node.setValue(&value);
    EXPECT_EQ(node.getNodeType(), BEGIN_WITH_END);
    EXPECT_TRUE(node.hasNodeValue());
}

TEST(XmlNodeTest, LookupsReturnFirstMatchAndReportAbsence) {
    XmlNode node("N", ONLY_BEGIN);
    EXPECT_THROW(node.getFirstChildNode(), ChildNotFoundException);
    EXPECT_THROW(node.getFirstChildNodeByName("ARG"), ChildNotFoundException);
    EXPECT_THROW(node.getChildNodeByTagNameAtIndex("ARG", 0), ChildNotFoundException);
    EXPECT_STREQ(ChildNotFoundException().what(), "Child nodes not found");
    EXPECT_FALSE(node.hasChildByName("ARG"));

    auto* first = new XmlNode("ARG", BEGIN_AND_END);
    first->addAttribute("K", "1");
    first->addAttribute("K", "2");
    auto* second = new XmlNode("ARG", BEGIN_AND_END);
    second->addAttribute("K", "2");
    node.addChildNode(new XmlNode("OTHER", BEGIN_AND_END));
    node.addChildNode(first);
    node.addChildNode(second);

    EXPECT_EQ(node.getFirstChildNodeByName("ARG"), first);
    EXPECT_THROW(node.getFirstChildNodeByName("MISSING"), std::out_of_range);
    EXPECT_EQ(node.getChildNodeByTagNameAtIndex("ARG", 1), second);
    EXPECT_EQ(node.getChildNodeByTagNameAtIndex("ARG", 2), nullptr);
    EXPECT_EQ(node.searchChildNodesByTagName("ARG").size(), 2u);
    EXPECT_EQ(*first->getAttributeValue("K"), "1");
    EXPECT_EQ(first->getAttributeValue("k"), nullptr);
    EXPECT_EQ(node.searchChildNodeByAttributeNameValue("K", "2"), first);
    NameValuePair pair("K", "3");
    EXPECT_EQ(node.searchChildNodeByAttributeNameValue(&pair), nullptr);
    EXPECT_FALSE(first->hasAttributeNameWithValue(nullptr));
    EXPECT_EQ(first->toString(), "<ARG K=\"1\" K=\"2\" />");
}

TEST(XmlNodeTest, ValuesAndAttributesAreEscaped) {
    XmlNode node("V", BEGIN_AND_END);
    node.addAttribute("A", "x\"y\tz\n<&>");
    const std::string value = "a<b&c>\"d\te\r\n";
    node.setValue(&value);
    EXPECT_EQ(node.toString(),
              "<V A=\"x&quot;y&#9;z&#10;&lt;&amp;&gt;\">a&lt;b&amp;c&gt;\"d\te&#13;&#10;</V>");
}

}  // namespace
}  // namespace vxl_fixup
