#include "xml/XmlParser.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "XmlTestFixture.h"
#include "model/FixupData.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;
using XmlParserTest = XmlTest;

const std::string HEADER = "<?xml version = '1.0' encoding = 'UTF-8'?>";

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const XmlParserException& e) {
        return e.what();
    }
    return "(no XmlParserException)";
}

TEST_F(XmlParserTest, ClassifiesLinesByTheirDelimiters) {
    XmlParser parser;
    const std::pair<const char*, XmlTagType> cases[] = {
        {"<?xml version = '1.0' encoding = 'UTF-8'?>", COMMENT_OR_HEADER},
        {"<A/>", BEGIN_AND_END},
        {"<A B=\"1\" />", BEGIN_AND_END},
        {"</A>", ONLY_END},
        {"<A>x</A>", BEGIN_WITH_END},
        {"<A></A>", BEGIN_WITH_END},
        {"<A>", ONLY_BEGIN},
        {"<A B=\"1\">", ONLY_BEGIN},
        {"plain text", UNKNOWN_TAG},
        {"<!-- note -->", ONLY_BEGIN},
        {"<A B=\"x&gt;/&gt;\">", ONLY_BEGIN},
        {"<A>a&lt;/b&gt;</A>", BEGIN_WITH_END},
    };
    for (const auto& c : cases) EXPECT_EQ(parser.getTagType(c.first), c.second) << c.first;
    EXPECT_NE(traceText().find("XmlParser::getTagType() - Tag type for line <A> is ONLY_BEGIN "
                               "<XYZ>\n"),
              std::string::npos);
}

TEST_F(XmlParserTest, SplitsTagsIntoNameAndAttributesHonouringQuotes) {
    XmlParser parser;
    EXPECT_EQ(parser.getTagData("<A B=\"x y\"\tC=\"2\">1</A>", BEGIN_WITH_END),
              (std::vector<std::string>{"A", "B=\"x y\"", "C=\"2\""}));
    EXPECT_EQ(parser.getTagData("</A>", ONLY_END), std::vector<std::string>{"A"});
    EXPECT_EQ(parser.getTagValue("A", "<A B=\"1\"> v &amp; w </A>"), " v & w ");
    EXPECT_EQ(parser.getTagValue("A", "<A></A>"), "");
    EXPECT_EQ(messageOf([&] { parser.getTagData("<A B=\"1\"", ONLY_BEGIN); }),
              "incorrect format found at input line <A B=\"1\"");

    const std::vector<std::string> text = {"<A FLAG B=\"x y\" C=\"k=v\" D=\"&quot;&#9;\" E=>1</A>"};
    std::size_t index = 0;
    std::unique_ptr<XmlNode> node(parser.createNode(text, index));
    ASSERT_EQ(node->getAttributes().size(), 3u);
    EXPECT_EQ(*node->getAttributeValue("B"), "x y");
    EXPECT_EQ(*node->getAttributeValue("C"), "k=v");
    EXPECT_EQ(*node->getAttributeValue("D"), "\"\t");
    EXPECT_EQ(*node->getNodeValue(), "1");
    const std::string trace = traceText();
    EXPECT_NE(trace.find("\nXmlParser::createNode() - Create node for line (0) with content<A "),
              std::string::npos);
    EXPECT_NE(trace.find("XmlParser::createNode() - Adding Attribute Name:B Value:x y\n"),
              std::string::npos);
    EXPECT_NE(trace.find("XmlParser::createNode() - Failed to add attribute, failed to split the "
                         "attribute string with equal sign\n"),
              std::string::npos);
}

TEST_F(XmlParserTest, StrayEndTagsAreKeptAndSameNameElementsCloseInnermostFirst) {
    XmlParser* parser = parseText(lines({"<VEXEL_FIXUP_ROOT>", "<A>", "</B>", "<A>", "<X/>",
                                         "</A>", "<Y/>", "</A>", "</VEXEL_FIXUP_ROOT>"}));
    const XmlNode* outer = parser->getRoot()->getFirstChildNode();
    ASSERT_EQ(outer->getChildNodesCount(), 3u);
    EXPECT_EQ(*outer->getChildNodes()[0]->getNodeName(), "B");
    EXPECT_EQ(outer->getChildNodes()[0]->getNodeType(), ONLY_END);
    EXPECT_EQ(*outer->getChildNodes()[1]->getFirstChildNode()->getNodeName(), "X");
    EXPECT_EQ(*outer->getChildNodes()[2]->getNodeName(), "Y");
    EXPECT_NE(traceText().find("XmlParser::createNode() - For Parent =>A Adding child node by "
                               "Name => B\n"),
              std::string::npos);
}

TEST_F(XmlParserTest, UnreadableLinesAreSkippedAndReadingResumesAtTopLevel) {
    XmlParser* parser = parseText(lines({HEADER, "<PRE>", "junk", "</PRE>", "<VEXEL_FIXUP_ROOT>",
                                         "<TASK_LIST/>", "</VEXEL_FIXUP_ROOT>"}));
    ASSERT_NE(parser->getRoot(), nullptr);
    EXPECT_TRUE(parser->getRoot()->hasChildByName("TASK_LIST"));
    const std::string trace = traceText();
    EXPECT_EQ(occurrences(trace, "Caught XmlParserException"), 2u);
    EXPECT_NE(trace.find("\nXmlParser::createTree() - Caught XmlParserException - Skipping line " +
                         HEADER + " exception message is {unknown type for input line (0) with "
                         "content" + HEADER + "}\n"),
              std::string::npos);
    EXPECT_NE(trace.find("Skipping line <PRE> exception message is {unknown type for input line "
                         "(2) with contentjunk}"),
              std::string::npos);
    EXPECT_NE(trace.find("XmlParser::createTree() - DOM creation successful"), std::string::npos);
}

TEST_F(XmlParserTest, DocumentsThatCannotYieldARootEndInParserExceptions) {
    const std::pair<std::string, std::string> cases[] = {
        {lines({HEADER}),
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
    Trace::setTraceLevel(5);
    XmlParser deepest;
    const std::string ok = nested(256);
    deepest.parseFixupData(&ok);
    EXPECT_NE(deepest.getRoot(), nullptr);
    for (int depth : {257, 100000}) {
        XmlParser parser;
        const std::string text = nested(depth);
        EXPECT_EQ(messageOf([&] { parser.parseFixupData(&text); }),
                  "Failed to parse xml : nesting deeper than 256 levels");
    }
}

TEST_F(XmlParserTest, SingletonReadsItsFileOnceAndReportsBadPaths) {
    const std::string path = work.file("data.xml");
    const std::string longValue(100000, 'v');
    TempDir::write(path, "  \n" + HEADER + "\r\n\t<VEXEL_FIXUP_ROOT>  \n<V>" + longValue +
                             "</V>\n</VEXEL_FIXUP_ROOT>");
    XmlParser* parser = XmlParser::getInstance(&path);
    ASSERT_NE(parser->getRoot(), nullptr);
    EXPECT_EQ(*parser->getRoot()->getFirstChildNode()->getNodeValue(), longValue);
    const std::string other = work.file("other.xml");
    EXPECT_EQ(XmlParser::getInstance(&other), parser);
    EXPECT_EQ(XmlParser::getInstance(), parser);
    XmlParser::dispose();

    const std::string blank = work.file("blank.xml");
    TempDir::write(blank, " \n\t\n");
    EXPECT_EQ(XmlParser::getInstance(&blank)->getRoot(), nullptr);
    XmlParser::dispose();

    const std::string empty;
    EXPECT_EQ(messageOf([&] { XmlParser::getInstance(&empty); }),
              "invalid input xmlfile path exception");
    EXPECT_EQ(messageOf([] { XmlParser::getInstance(nullptr); }),
              "invalid input xmlfile path exception");
    EXPECT_EQ(messageOf([&] { XmlParser::getInstance(&other); }),
              "Failed to open input xml file " + other);
    const std::string trace = traceText();
    EXPECT_NE(trace.find("XmlParser::getInstance() - Xml Parser Instance does not exists creating "
                         "one\n"),
              std::string::npos);
    EXPECT_NE(trace.find("XmlParser::~dispose() - Disposing XmlParser\nXmlParser::~XmlParser() - "
                         "Destroying XmlParser object\n"),
              std::string::npos);
}

}  // namespace
}  // namespace vxl_fixup
