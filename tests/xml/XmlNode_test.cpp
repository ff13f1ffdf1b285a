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

}  // namespace
}  // namespace vxl_fixup
