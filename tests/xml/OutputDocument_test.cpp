#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "XmlTestFixture.h"
#include "engine/HeaderConstants.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "util/FixupUtil.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;
using OutputDocumentTest = XmlTest;

// A FIXUP_DATA element whose node list names the given nodes.
std::string instance(std::initializer_list<const char*> nodes) {
    std::string text = "<FIXUP_DATA>\n<NODE_LIST>\n";
    for (const char* n : nodes) text += std::string("<NODE NAME=\"") + n + "\"/>\n";
    return text + "</NODE_LIST>\n</FIXUP_DATA>\n";
}

std::string task(const std::string& id, const std::string& instances) {
    return "<TASK ID=\"" + id + "\">\n<FIXUP_DATA_LIST>\n" + instances +
           "</FIXUP_DATA_LIST>\n</TASK>\n";
}

std::string document(const std::string& tasks) {
    return XML_BEGIN_HEADER + "\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" + tasks +
           "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

Result* resultWithStatus(_STATUS status) {
    auto* result = new Result();
    result->setStatus(status);
    return result;
}

// Which (task, instance) elements, in document order, received a result.
std::vector<std::string> placesWithResults(const XmlNode* root) {
    std::vector<std::string> places;
    const std::vector<XmlNode*> tasks = root->getFirstChildNode()->getChildNodes();
    for (std::size_t t = 0; t < tasks.size(); ++t) {
        const std::vector<XmlNode*> fds = tasks[t]->getFirstChildNode()->getChildNodes();
        for (std::size_t i = 0; i < fds.size(); ++i) {
            for (const XmlNode* node : fds[i]->getFirstChildNode()->getChildNodes()) {
                if (node->hasChildByName("FIXUP_OUTPUT_DATA")) {
                    places.push_back(std::to_string(t) + "/" + std::to_string(i) + " " +
                                     *node->getAttributeValue("NAME") + " " +
                                     *node->getFirstChildNode()->getFirstChildNode()->getNodeValue());
                }
            }
        }
    }
    return places;
}

TEST_F(OutputDocumentTest, ResultElementsCarryStatusAndErrors) {
    XmlParser* parser = XmlParser::getInstance();
    std::unique_ptr<Result> ok(resultWithStatus(SUCCESSFUL));
    std::unique_ptr<XmlNode> okNode(parser->createOutputDataXMLNode(ok.get()));
    EXPECT_EQ(okNode->toString(),
              "<FIXUP_OUTPUT_DATA>\n  <STATUS>SUCCESSFUL</STATUS>\n  <ERROR_DETAILS />\n"
              "</FIXUP_OUTPUT_DATA>");

    std::unique_ptr<Result> failed(resultWithStatus(FAILED));
    const std::string cmd = "/bin/false", boom = "boom <1>", none;
    failed->setNativeErrorDetails(&cmd, 1, &boom);
    failed->setNativeErrorDetails(&cmd, 1, &none);
    failed->addError(new NLSError(NLS_FACILITY_VXLF, true, 9028, 2, "a", ""));
    failed->addError(new NLSError(NLS_FACILITY_VXLE, false, 7));
    std::unique_ptr<XmlNode> failedNode(parser->createOutputDataXMLNode(failed.get()));
    EXPECT_EQ(failedNode->toString(),
              "<FIXUP_OUTPUT_DATA>\n"
              "  <STATUS>FAILED</STATUS>\n"
              "  <ERROR_DETAILS>\n"
              "    <NATIVE_ERRORS>\n"
              "      <ERROR>boom &lt;1&gt;</ERROR>\n"
              "    </NATIVE_ERRORS>\n"
              "    <NLS_ERRORS>\n"
              "      <NLS_MSG FACILITY=\"Vxlf\" ID=\"9028\" DISPLAY_ID=\"true\">\n"
              "        <MSG_ARG_LIST>\n"
              "          <MSG_ARG>a</MSG_ARG>\n"
              "        </MSG_ARG_LIST>\n"
              "      </NLS_MSG>\n"
              "      <NLS_MSG FACILITY=\"Vxle\" ID=\"7\" DISPLAY_ID=\"false\" />\n"
              "    </NLS_ERRORS>\n"
              "  </ERROR_DETAILS>\n"
              "</FIXUP_OUTPUT_DATA>");

    std::unique_ptr<Result> silent(resultWithStatus(ERROR));
    silent->setNativeErrorDetails(&cmd, 2, nullptr);
    std::unique_ptr<XmlNode> silentNode(parser->createOutputDataXMLNode(silent.get()));
    EXPECT_EQ(silentNode->toString(),
              "<FIXUP_OUTPUT_DATA>\n  <STATUS>ERROR</STATUS>\n  <ERROR_DETAILS>\n  "
              "</ERROR_DETAILS>\n</FIXUP_OUTPUT_DATA>");
}

TEST_F(OutputDocumentTest, InstanceIndexCountsLocalInstancesByShortNameAcrossSameIdTasks) {
    const std::string text = document(
        task("TASKKERNELPARAM", instance({"node2"}) + instance({"node2", "NODE1.example.com"})) +
        task("taskkernelparam", instance({"node1"})) + task("TASKUSEREXISTENCE", instance({"node1"})) +
        task("TASKKERNELPARAM", instance({"node1"}) + instance({"node1.other.org"})));
    XmlParser* parser = parseText(text);
    const std::vector<FixupData*> records = parser->getFixupDataFromXml();
    std::vector<FixupData*> kernel;
    for (FixupData* r : records) {
        if (*r->getTaskIDStr() == "TASKKERNELPARAM" && r->appliesToThisNode(&Constants::localNodeNameOrEmpty())) {
            kernel.push_back(r);
        }
    }
    ASSERT_EQ(kernel.size(), 3u);
    const _STATUS statuses[] = {SUCCESSFUL, WARNING, FAILED};
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<Result> result(resultWithStatus(statuses[i]));
        parser->updateOutPutXMLWithResult(kernel[static_cast<std::size_t>(i)], result.get(), i);
    }
    EXPECT_EQ(placesWithResults(parser->getRoot()),
              (std::vector<std::string>{"0/1 NODE1.example.com SUCCESSFUL", "3/0 node1 WARNING",
                                        "3/1 node1.other.org FAILED"}));
    const std::string trace = traceText();
    EXPECT_EQ(occurrences(trace, "Found node of interest but the instance number (1) does not "
                                 "match with (0) looking for next one\n"),
              1u);
    EXPECT_EQ(occurrences(trace, "Node does not match the local node, looking for next "
                                 "FIXUP_DATA element\n"),
              3u);

    // Nothing to place: only traces.
    const std::string unknownId = "TASKPACKAGE";
    FixupData missing(&unknownId);
    std::unique_ptr<Result> result(resultWithStatus(FAILED));
    parser->updateOutPutXMLWithResult(&missing, result.get(), 0);
    parser->updateOutPutXMLWithResult(kernel[0], result.get(), 3);
    EXPECT_EQ(placesWithResults(parser->getRoot()).size(), 3u);
    EXPECT_NE(traceText().find("No Childrens for - TASKPACKAGE\n"), std::string::npos);
}

TEST_F(OutputDocumentTest, OutputDocumentReadsBackToTheSameTreeWhateverTheBytes) {
    XmlParser* parser = parseText(document(task("TASKKERNELPARAM", instance({"node1"}))));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::unique_ptr<Result> result(resultWithStatus(FAILED));
    const std::string cmd = "cmd";
    auto* error = new NLSError(NLS_FACILITY_VXLF, true, 9028);
    for (int k = 0; k < 40; ++k) {
        std::string noise;
        for (int i = 0; i < 1 + k * 3; ++i) noise += static_cast<char>(byte(random));
        if (k % 2 == 0) {
            result->setNativeErrorDetails(&cmd, 1, &noise);
        } else {
            error->addArgument(noise);
        }
    }
    result->addError(error);
    parser->updateOutPutXMLWithResult(parser->getFixupDataFromXml()[0], result.get(), 0);
    parser->getRoot()->addAttribute("RAW", std::string("q\"<>&\t\r\n\0\xff/>=", 14));

    const std::string path = work.file("fixup/out.xml");
    parser->saveXmlToFile(&path);
    const std::string written = TempDir::read(path);
    const std::string expected = parser->getRoot()->toString();
    XmlParser reread(&path);
    ASSERT_NE(reread.getRoot(), nullptr);
    EXPECT_EQ(reread.getRoot()->toString(), expected);
    EXPECT_EQ(*reread.getRoot()->getAttributeValue("RAW"), std::string("q\"<>&\t\r\n\0\xff/>=", 14));
    // One tag per line: no value can break a line.
    EXPECT_EQ(occurrences(written, "\n"), occurrences(expected, "\n") + 2);
}

TEST_F(OutputDocumentTest, SaveCreatesTheDirectoryAndReplacesTheFile) {
    XmlParser* parser = parseText(document(task("T", instance({"node1"}))));
    const std::string dir = work.file("fixup");
    const std::string path = dir + "/out.xml";
    parser->saveXmlToFile(nullptr);
    parser->saveXmlToFile(&path);
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
    EXPECT_EQ(TempDir::read(path), XML_BEGIN_HEADER + "\n" + parser->getRoot()->toString() + "\n");

    TempDir::write(path, "old content that is longer than the document ...................."
                         "...............................................................");
    parser->saveXmlToFile(&path);
    EXPECT_EQ(TempDir::read(path).compare(0, XML_BEGIN_HEADER.size(), XML_BEGIN_HEADER), 0);

    const std::pair<std::string, std::string> failures[] = {
        {work.file("a/b/out.xml"), "Failed to create the directory (" + work.file("a/b") + ")"},
        {dir, "failed to open a file at location " + dir},
    };
    for (const auto& f : failures) {
        try {
            parser->saveXmlToFile(&f.first);
            ADD_FAILURE() << f.first;
        } catch (const XmlParserException& e) {
            EXPECT_EQ(e.what(), f.second);
        }
    }
    XmlParser empty;
    try {
        empty.saveXmlToFile(&path);
        ADD_FAILURE() << "no exception";
    } catch (const XmlParserException& e) {
        EXPECT_EQ(e.what(), "XML Parser : root is null, Nothing to save");
    }
    EXPECT_EQ(TempDir::read(path), "");
}

TEST_F(OutputDocumentTest, CompactMessageTextEscapesItsArguments) {
    NLSError plain(NLS_FACILITY_VXLF, false, 9028);
    EXPECT_EQ(FixupUtil::nlsErrorToString(&plain),
              "<NLS_MSG><DISP_FACILITY>false</DISP_FACILITY><MSG_DATA></MSG_DATA>"
              "<FACILITY>Vxlf</FACILITY><ID>9028</ID></NLS_MSG>");
    NLSError withArgs(NLS_FACILITY_VXLG, true, 1, 2, "a<b&c", "line\n");
    const std::string second =
        "<NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA><DATA>a&lt;b&amp;c</DATA>"
        "<DATA>line&#10;</DATA></MSG_DATA><FACILITY>Vxlg</FACILITY><ID>1</ID></NLS_MSG>";
    EXPECT_EQ(FixupUtil::nlsErrorToString(&withArgs), second);
    EXPECT_EQ(FixupUtil::nlsErrorsToString({&withArgs, nullptr, &withArgs}), second + second);
    EXPECT_EQ(FixupUtil::nlsErrorsToString({}), "");
    EXPECT_EQ(FixupUtil::nlsErrorToString(nullptr), "");

    XmlNode node("N", BEGIN_AND_END);
    node.addAttribute("A", "1");
    FixupUtil::dumpXmlDom(&node);
    EXPECT_NE(traceText().find("FixupUtil::dumpXmlDom - NodeName : N\nFixupUtil::dumpXmlDom - "
                               "NodeValue : \nFixupUtil::dumpXmlDom - = Attribute List = \n"
                               "FixupUtil::dumpXmlDom - A = 1\n"),
              std::string::npos);
}

}  // namespace
}  // namespace vxl_fixup
