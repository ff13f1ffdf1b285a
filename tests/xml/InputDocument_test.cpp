#include <gtest/gtest.h>

#include "XmlTestFixture.h"
#include "model/FixupData.h"
#include "model/Script.h"

namespace vxl_fixup {
namespace {

using InputDocumentTest = XmlTest;

std::string document(const std::string& tasks) {
    return "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" + tasks +
           "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

TEST_F(InputDocumentTest, BuildsOneRecordPerInstanceWithNodesDataAndScripts) {
    const std::string text = document(lines({
        "<TASK ID=\"TASKKERNELPARAM\">", "<FIXUP_DATA_LIST>", "<FIXUP_DATA>",
        "<FIXUP_SCRIPTS>",
        "<SCRIPT NAME=\"fix.sh\" TYPE=\"shell\" PATH=\"/opt/s\">",
        "<ARG_LIST>", "<ARG>first arg</ARG>", "<ARG></ARG>", "</ARG_LIST>", "</SCRIPT>",
        "<SCRIPT NAME=\"fix.pl\" TYPE=\"PERL\"/>", "<SCRIPT NAME=\"bare.sh\" TYPE=\"SHELL\"/>",
        "<SCRIPT TYPE=\"SHELL\"/>", "</FIXUP_SCRIPTS>",
        "<DATA_LIST>", "<DATA NAME=\"kernel.sem\" VAL=\"250 32000\"/>",
        "<DATA NAME=\"empty\" VAL=\"\"/>", "<DATA NAME=\"noval\"/>", "</DATA_LIST>",
        "<NODE_LIST>", "<NODE NAME=\"NODE1.example.com\"/>", "<NODE ACT_VAL=\"x\"/>",
        "<NODE NAME=\"node2\" ACT_VAL=\"9\" EXP_VAL=\"9\"/>",
        "<NODE NAME=\"node1\" ACT_VAL=\"1\" EXP_VAL=\"2\"/>", "</NODE_LIST>",
        "</FIXUP_DATA>", "<FIXUP_DATA>", "<NODE_LIST>", "<NODE NAME=\"node2\"/>", "</NODE_LIST>",
        "</FIXUP_DATA>", "</FIXUP_DATA_LIST>", "</TASK>", "<TASK>", "</TASK>"}));
    const std::size_t ownedBefore = RunObjects::count();
    const std::vector<FixupData*> records = parseText(text)->getFixupDataFromXml();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(RunObjects::count(), ownedBefore + 2);

    const FixupData& first = *records[0];
    EXPECT_EQ(*first.getTaskIDStr(), "TASKKERNELPARAM");
    ASSERT_EQ(first.getParticipatingNodes().size(), 3u);
    EXPECT_EQ(*first.getParticipatingNodes()[0], "NODE1.example.com");
    EXPECT_EQ(*first.getActualValue(), "1");
    EXPECT_EQ(*first.getExpectedValue(), "2");
    ASSERT_EQ(first.getDataSet().size(), 1u);
    EXPECT_EQ(*first.getDataSet()[0]->value, "250 32000");
    const std::vector<Script*> scripts = first.getScriptList();
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(scripts[0]->getScriptFilePath(), "/opt/s/fix.sh");
    ASSERT_EQ(scripts[0]->getArguments().size(), 1u);
    EXPECT_EQ(*scripts[0]->getArguments()[0], "first arg");
    EXPECT_EQ(scripts[1]->getScriptFilePath(), work.dir() + "bare.sh");

    EXPECT_EQ(records[1]->getActualValue(), nullptr);
    EXPECT_TRUE(records[1]->getScriptList().empty());

    const std::string trace = traceText();
    for (const char* expected : {
             "XmlParser::getFixupDataFromXml - getting children of TASK_LIST\n",
             "XmlParser::getFixupDataListFromXmlTask - task TASKKERNELPARAM has 2 instances of "
             "fixup data\n",
             "XmlParser::getFixupDataListFromXmlTask - Added fixup data instance number 2 for "
             "task TASKKERNELPARAM\n",
             "XmlParser::getFixupDataFromXmlTaskFixupData - task TASKKERNELPARAM with instance "
             "index 1  has 4 participating nodes\n",
             "XmlParser::getFixupDataFromXmlTaskFixupData - Adding Key-Value Data Name = empty "
             "Value = \n",
             "XmlParser::getFixupDataFromXmlTaskFixupData - Added shell Script (fix.sh) with (1) "
             "arguments.\n",
             "XmlParser::getFixupDataFromXmlTaskFixupData - Skipping node element NODE without "
             "attribute NAME\n",
             "XmlParser::getFixupDataFromXmlTaskFixupData - Skipping data element DATA without "
             "attribute NAME or VAL\n",
             "XmlParser::getFixupDataListFromXmlTask - Skipping task element TASK without "
             "attribute ID\n"}) {
        EXPECT_NE(trace.find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(trace.find("Adding PERL Script (fix.pl)\n") != std::string::npos, true);
    EXPECT_EQ(trace.find("Added PERL Script"), std::string::npos);
}

TEST_F(InputDocumentTest, DocumentsWithoutTasksGiveNoRecordsOrAParserException) {
    EXPECT_TRUE(XmlParser::getInstance()->getFixupDataFromXml().empty());
    const std::string blank = " \n\n";
    XmlParser::getInstance()->parseFixupData(&blank);
    XmlParser::getInstance()->parseFixupData(nullptr);
    EXPECT_EQ(XmlParser::getInstance()->getRoot(), nullptr);

    const std::string noTaskList = lines({"<VEXEL_FIXUP_ROOT>", "<OTHER/>", "</VEXEL_FIXUP_ROOT>"});
    XmlParser* parser = parseText(noTaskList);
    try {
        parser->getFixupDataFromXml();
        FAIL() << "no exception";
    } catch (const XmlParserException& e) {
        EXPECT_EQ(e.what(), "Failed to read fixup data : element VEXEL_FIXUP_ROOT has no child "
                            "TASK_LIST");
    }
    EXPECT_TRUE(parseText(document("<TASK ID=\"T\">\n</TASK>\n"))->getFixupDataFromXml().empty());
}

}  // namespace
}  // namespace vxl_fixup
