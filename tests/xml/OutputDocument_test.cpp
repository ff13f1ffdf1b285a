#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <random>

#include "XmlTestFixture.h"
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

std::unique_ptr<Result> resultWithStatus(_STATUS status) {
    auto result = std::make_unique<Result>();
    result->setStatus(status);
    return result;
}

// "NODE-NAME STATUS" for every NODE element that received a result, in
// document order.
void collectPlaces(const XmlNode* node, std::vector<std::string>& places) {
    if (node->hasChildByName("FIXUP_OUTPUT_DATA")) {
        places.push_back(*node->getAttributeValue("NAME") + " " +
                         *node->getFirstChildNode()->getFirstChildNode()->getNodeValue());
    }
    for (const XmlNode* child : node->getChildNodes()) collectPlaces(child, places);
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(OutputDocumentTest, ResultElementsCarryStatusAndOnlyNonEmptyErrors) {
    const auto written = [](Result* result) {
        return std::unique_ptr<XmlNode>(XmlParser::getInstance()->createOutputDataXMLNode(result))
            ->toString();
    };
    EXPECT_EQ(written(resultWithStatus(SUCCESSFUL).get()),
              "<FIXUP_OUTPUT_DATA>\n  <STATUS>SUCCESSFUL</STATUS>\n  <ERROR_DETAILS />\n"
              "</FIXUP_OUTPUT_DATA>");

    const std::string cmd = "/bin/false", boom = "boom <1>", none;
    std::unique_ptr<Result> failed = resultWithStatus(FAILED);
    failed->setNativeErrorDetails(&cmd, 1, &boom);
    failed->setNativeErrorDetails(&cmd, 1, &none);
    failed->setNativeErrorDetails(&cmd, 2, nullptr);
    failed->addError(new NLSError(NLS_FACILITY_VXLF, true, 9028, 2, "a", ""));
    failed->addError(new NLSError(NLS_FACILITY_VXLE, false, 7));
    EXPECT_EQ(
        written(failed.get()),
        "<FIXUP_OUTPUT_DATA>\n  <STATUS>FAILED</STATUS>\n  <ERROR_DETAILS>\n"
        "    <NATIVE_ERRORS>\n      <ERROR>boom &lt;1&gt;</ERROR>\n    </NATIVE_ERRORS>\n"
        "    <NLS_ERRORS>\n      <NLS_MSG FACILITY=\"Vxlf\" ID=\"9028\" DISPLAY_ID=\"true\">\n"
        "        <MSG_ARG_LIST>\n          <MSG_ARG>a</MSG_ARG>\n        </MSG_ARG_LIST>\n"
        "      </NLS_MSG>\n      <NLS_MSG FACILITY=\"Vxle\" ID=\"7\" DISPLAY_ID=\"false\" />\n"
        "    </NLS_ERRORS>\n  </ERROR_DETAILS>\n</FIXUP_OUTPUT_DATA>");
}

// A result lands under the NODE naming this node (short name, any letter
// case) of the instance whose index it carries, counting this node's
// instances in every TASK with the identifier (in its letter case), whatever
// the order of the calls. A repeated index adds a second result; an index
// past the last has no place. A TASK naming one identifier twice counts once.
TEST_F(OutputDocumentTest, ResultsLandAtTheirInstanceInAnyCallOrder) {
    const std::string text = document(
        task("A", instance({"node2"}) + instance({"node2", "NODE1.example.com"}) +
                      "<FIXUP_DATA/>\n<FIXUP_DATA>\n<DATA_LIST/>\n</FIXUP_DATA>\n") +
        task("a", instance({"node1"})) + "<TASK ID=\"A\" ID=\"B\" ID=\"A\">\n<FIXUP_DATA_LIST>\n" +
        instance({"node1.a"}) + "</FIXUP_DATA_LIST>\n</TASK>\n" +
        task("A", instance({"node1.other.org"})) + task("B", instance({"NODE2.x"})));
    const std::string a = "A", b = "B";
    FixupData taskA(&a), taskB(&b);
    XmlParser* parser = parseText(text);
    const _STATUS statuses[] = {SUCCESSFUL, WARNING, FAILED, ERROR};
    for (int i : {2, 0, 1, 0, 3}) {
        parser->updateOutPutXMLWithResult(&taskA, resultWithStatus(statuses[i]).get(), i);
    }
    Constants::setLocalNodeName("node2");
    parser->updateOutPutXMLWithResult(&taskB, resultWithStatus(WARNING).get(), 0);
    parser->updateOutPutXMLWithResult(&taskB, resultWithStatus(ERROR).get(), 1);
    std::vector<std::string> places;
    collectPlaces(parser->getRoot(), places);
    EXPECT_EQ(places, (std::vector<std::string>{"NODE1.example.com SUCCESSFUL", "node1.a WARNING",
                                                "node1.other.org FAILED", "NODE2.x WARNING"}));
    EXPECT_EQ(countOf(parser->getRoot()->toString(), "<FIXUP_OUTPUT_DATA>"), 5u);

    // A new tree brings new places.
    parser->parseFixupData(&text);
    parser->updateOutPutXMLWithResult(&taskB, resultWithStatus(FAILED).get(), 0);
    places.clear();
    collectPlaces(parser->getRoot(), places);
    EXPECT_EQ(places, (std::vector<std::string>{"NODE2.x FAILED"}));
}

TEST_F(OutputDocumentTest, OutputDocumentReadsBackToTheSameTreeWhateverTheBytes) {
    XmlParser* parser = parseText(document(task("TASKKERNELPARAM", instance({"node1"}))));
    std::mt19937 random(7);
    std::unique_ptr<Result> result = resultWithStatus(FAILED);
    const std::string cmd = "cmd";
    for (int k = 0; k < 40; ++k) {
        std::string noise;
        for (int i = 0; i < 1 + k * 3; ++i) noise += static_cast<char>(random() & 0xFF);
        result->setNativeErrorDetails(&cmd, 1, &noise);
    }
    parser->updateOutPutXMLWithResult(parser->getFixupDataFromXml()[0], result.get(), 0);
    const std::string raw("q\"<>&\t\r\n\0\xff/>=", 14);
    parser->getRoot()->addAttribute("RAW", raw);

    const std::string path = work.file("fixup/out.xml");
    parser->saveXmlToFile(&path);
    const std::string written = TempDir::read(path);
    const std::string expected = parser->getRoot()->toString();
    XmlParser reread(&path);
    ASSERT_NE(reread.getRoot(), nullptr);
    EXPECT_EQ(reread.getRoot()->toString(), expected);
    EXPECT_EQ(*reread.getRoot()->getAttributeValue("RAW"), raw);
    // One tag per line (header and final line feed added): no value breaks a line.
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'),
              std::count(expected.begin(), expected.end(), '\n') + 2);
}

// The file a run makes before its first task: the header proves the place,
// the save goes through the descriptor (a name swapped meanwhile is not
// written), an unsaved one is removed, and a place that cannot take it says
// why.
TEST_F(OutputDocumentTest, TheOutputFileIsMadeFirstAndSavedThroughItsDescriptor) {
    XmlParser* parser = parseText(document(task("T", instance({"node1"}))));
    const std::string path = work.file("fixup/out.xml"), decoy = work.file("decoy");
    const std::string content = XML_BEGIN_HEADER + "\n" + parser->getRoot()->toString() + "\n";
    XmlParser::createOutputFile(&path);
    EXPECT_EQ(TempDir::read(path), XML_BEGIN_HEADER + "\n");
    const std::string moved = work.file("fixup/moved.xml");
    ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
    TempDir::write(decoy, "decoy\n");
    ASSERT_EQ(::symlink(decoy.c_str(), path.c_str()), 0);
    parser->saveXmlToFile(&path);
    EXPECT_EQ(TempDir::read(moved), content) << "written through the file made first";
    EXPECT_EQ(TempDir::read(decoy), "decoy\n");
    ASSERT_EQ(::unlink(path.c_str()), 0);

    XmlParser::createOutputFile(&path);
    XmlParser::abandonOutputFile();
    EXPECT_FALSE(TempDir::exists(path)) << "an unsaved document does not stay";

    const std::string inDir = work.file("fixup/dir.xml");
    ASSERT_EQ(::mkdir(inDir.c_str(), 0700), 0);
    const std::string nested = work.file("a/b/out.xml");
    for (const auto& [target, message] :
         {std::pair{inDir, "failed to open a file at location " + inDir + ": Is a directory"},
          {nested, "Failed to create the directory (" + work.file("a/b") + ")"}}) {
        EXPECT_EQ(messageOf([&] { XmlParser::createOutputFile(&target); }), message);
    }
}

TEST_F(OutputDocumentTest, SaveCreatesTheDirectoryReplacesTheFileAndReportsFailures) {
    XmlParser* parser = parseText(document(task("T", instance({"node1"}))));
    const std::string dir = work.file("fixup");
    const std::string path = dir + "/out.xml";
    parser->saveXmlToFile(&path);
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u) << "others read it; only its owner replaces it";
    const std::string content = XML_BEGIN_HEADER + "\n" + parser->getRoot()->toString() + "\n";
    EXPECT_EQ(TempDir::read(path), content);

    TempDir::write(path, std::string(4 * content.size(), 'o'));
    parser->saveXmlToFile(&path);
    EXPECT_EQ(TempDir::read(path), content);

    const std::string nested = work.file("a/b/out.xml");
    EXPECT_EQ(messageOf([&] { parser->saveXmlToFile(&nested); }),
              "Failed to create the directory (" + work.file("a/b") + ")");
    EXPECT_EQ(messageOf([&] { parser->saveXmlToFile(&dir); }),
              "failed to open a file at location " + dir + ": Is a directory");
    XmlParser empty;
    EXPECT_EQ(messageOf([&] { empty.saveXmlToFile(&path); }),
              "XML Parser : root is null, Nothing to save");
    EXPECT_EQ(TempDir::read(path), "");
}

TEST_F(OutputDocumentTest, CompactMessageTextEscapesItsArguments) {
    NLSError plain(NLS_FACILITY_VXLF, false, 9028);
    NLSError withArgs(NLS_FACILITY_VXLG, true, 1, 2, "a<b&c", "line\n");
    EXPECT_EQ(FixupUtil::nlsErrorsToString({&plain, nullptr, &withArgs}),
              "<NLS_MSG><DISP_FACILITY>false</DISP_FACILITY><MSG_DATA></MSG_DATA>"
              "<FACILITY>Vxlf</FACILITY><ID>9028</ID></NLS_MSG>"
              "<NLS_MSG><DISP_FACILITY>true</DISP_FACILITY><MSG_DATA><DATA>a&lt;b&amp;c</DATA>"
              "<DATA>line&#10;</DATA></MSG_DATA><FACILITY>Vxlg</FACILITY><ID>1</ID></NLS_MSG>");
}

}  // namespace
}  // namespace vxl_fixup
