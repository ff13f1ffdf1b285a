#include "xml/XmlParser.h"

#include <gtest/gtest.h>

#include <memory>

#include "XmlTestFixture.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;
using XmlParserTest = XmlTest;

TEST_F(XmlParserTest, SplitsTagsIntoNameAndAttributesHonouringQuotes) {
    XmlParser parser;
    EXPECT_EQ(messageOf([&] { parser.getTagData("<A B=\"1\"", ONLY_BEGIN); }),
              "incorrect format found at input line <A B=\"1\"");
    // FLAG and E= cannot be split at an equal sign and are left out.
    const std::vector<std::string> text = {
        "<A FLAG B=\"x y\"\tC=\"k=v\" D=\"&quot;&#9;\" E=> v &amp; w </A>"};
    std::size_t index = 0;
    std::unique_ptr<XmlNode> node(parser.createNode(text, index));
    ASSERT_EQ(node->getAttributes().size(), 3u);
    EXPECT_EQ(*node->getAttributeValue("B"), "x y");
    EXPECT_EQ(*node->getAttributeValue("C"), "k=v");
    EXPECT_EQ(*node->getAttributeValue("D"), "\"\t");
    EXPECT_EQ(*node->getNodeValue(), " v & w ");
}

TEST_F(XmlParserTest, StrayEndTagsAreKeptAndSameNameElementsCloseInnermostFirst) {
    XmlParser* parser = parseText(lines({"<VEXEL_FIXUP_ROOT>", "<A>", "</B>", "<A>", "<X/>", "</A>",
                                         "<Y/>", "</A>", "</VEXEL_FIXUP_ROOT>"}));
    const std::vector<XmlNode*> outer = parser->getRoot()->getFirstChildNode()->getChildNodes();
    ASSERT_EQ(outer.size(), 3u);
    EXPECT_EQ(*outer[0]->getNodeName(), "B");
    EXPECT_EQ(outer[0]->getNodeType(), ONLY_END);
    EXPECT_EQ(*outer[1]->getFirstChildNode()->getNodeName(), "X");
    EXPECT_EQ(*outer[2]->getNodeName(), "Y");
}

TEST_F(XmlParserTest, UnreadableLinesAreSkippedAndReadingResumesAtTopLevel) {
    XmlParser* parser =
        parseText(lines({XML_BEGIN_HEADER, "<PRE>", "junk", "</PRE>", "<VEXEL_FIXUP_ROOT>",
                         "<TASK_LIST/>", "</VEXEL_FIXUP_ROOT>"}));
    ASSERT_NE(parser->getRoot(), nullptr);
    EXPECT_TRUE(parser->getRoot()->hasChildByName("TASK_LIST"));
}

TEST_F(XmlParserTest, DocumentsThatCannotYieldARootEndInParserExceptions) {
    const std::pair<std::string, std::string> cases[] = {
        {lines({XML_BEGIN_HEADER}),
         "Failed to parse xml child VEXEL_FIXUP_ROOT not found Error is {Child nodes not found}"},
        {lines({"<A/>", "<B/>"}),
         "Failed to parse xml child VEXEL_FIXUP_ROOT not found among the 2 top-level elements; "
         "the first is <A> at input line (0)"},
        // The abandoned root leaves only its end tag at the top level.
        {lines({"<VEXEL_FIXUP_ROOT>", "junk", "</VEXEL_FIXUP_ROOT>"}),
         "Failed to parse xml child VEXEL_FIXUP_ROOT not found among the 1 top-level elements; "
         "the first is <VEXEL_FIXUP_ROOT> at input line (2)"},
        {lines({"<VEXEL_FIXUP_ROOT>", "<TASK_LIST>", "</VEXEL_FIXUP_ROOT>"}),
         "Failed to parse xml : element <TASK_LIST> opened at input line (1) is never closed"},
    };
    for (const auto& c : cases) {
        XmlParser parser;
        EXPECT_EQ(messageOf([&] { parser.parseFixupData(&c.first); }), c.second) << c.first;
        EXPECT_EQ(parser.getRoot(), nullptr);
    }
}

TEST_F(XmlParserTest, NestingIsBoundedAt256Levels) {
    const auto nested = [](int depth) {
        std::string text = "<VEXEL_FIXUP_ROOT>\n";
        for (int i = 1; i < depth; ++i) text += "<L>\n";
        for (int i = 1; i < depth; ++i) text += "</L>\n";
        return text + "</VEXEL_FIXUP_ROOT>\n";
    };
    Trace::setTraceLevel(5);  // a trace line per element would dominate the run time
    for (int depth : {256, 257, 100000}) {
        XmlParser parser;
        const std::string text = nested(depth);
        EXPECT_EQ(messageOf([&] { parser.parseFixupData(&text); }),
                  depth == 256 ? "(no XmlParserException)"
                               : "Failed to parse xml : nesting deeper than 256 levels");
        EXPECT_EQ(parser.getRoot() != nullptr, depth == 256) << depth;
    }
}

// The file is read in blocks; lines that straddle them (one of 100000
// bytes), leading blank lines, tabs, carriage returns and a missing final
// line feed read as the same text does. The singleton reads its file once.
TEST_F(XmlParserTest, FileReadInBlocksGivesTheTreeOfTheSameText) {
    Trace::setTraceLevel(5);
    std::string text = "  \n" + XML_BEGIN_HEADER + "\r\n\t<VEXEL_FIXUP_ROOT>  \n<V>" +
                       std::string(100000, 'v') + "</V>\n";
    for (int i = 0; text.size() < 400000; ++i) {
        text += std::string(static_cast<std::size_t>(i % 7), i % 2 ? ' ' : '\t') + "<E N=\"" +
                std::to_string(i) + "\">" + std::string(static_cast<std::size_t>(i % 97), 'v') +
                "</E>" + (i % 5 ? "\n" : "\r\n \t\n\n");
    }
    text += "</VEXEL_FIXUP_ROOT>";
    const std::string path = work.file("blocks.xml"), other = work.file("other.xml"), empty;
    TempDir::write(path, text);
    XmlParser fromText;
    fromText.parseFixupData(&text);
    XmlParser* fromFile = XmlParser::getInstance(&path);
    ASSERT_NE(fromFile->getRoot(), nullptr);
    ASSERT_NE(fromText.getRoot(), nullptr);
    EXPECT_GT(fromFile->getRoot()->getChildNodesCount(), 4000u);
    EXPECT_EQ(fromFile->getRoot()->toString(), fromText.getRoot()->toString());
    EXPECT_EQ(XmlParser::getInstance(&other), fromFile);
    XmlParser::dispose();

    EXPECT_EQ(messageOf([&] { XmlParser::getInstance(&empty); }),
              "invalid input xmlfile path exception");
    EXPECT_EQ(messageOf([] { XmlParser::getInstance(nullptr); }),
              "invalid input xmlfile path exception");
    EXPECT_EQ(messageOf([&] { XmlParser::getInstance(&other); }),
              "Failed to open input xml file " + other);
}

}  // namespace
}  // namespace vxl_fixup
