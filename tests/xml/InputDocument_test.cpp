#include <gtest/gtest.h>

#include "XmlTestFixture.h"
#include "model/FixupData.h"
#include "model/Script.h"

namespace vxl_fixup {
namespace {

using InputDocumentTest = XmlTest;

// Elements missing a required attribute or value are left out (the NODE
// without NAME, DATA without VAL or with an empty one, the empty ARG, the
// SCRIPT without NAME, the TASK without ID), and so is the PERL script. The
// values come from the last NODE naming the local node, not from a later one.
TEST_F(InputDocumentTest, BuildsOneRecordPerInstanceWithNodesDataAndScripts) {
    // clang-format off
    const std::string text = document(lines({
        "<TASK ID=\"TASKKERNELPARAM\">", "<FIXUP_DATA_LIST>", "<FIXUP_DATA>", "<FIXUP_SCRIPTS>",
        "<SCRIPT NAME=\"fix.sh\" TYPE=\"shell\" PATH=\"/opt/s\">", "<ARG_LIST>",
        "<ARG>first arg</ARG>", "<ARG></ARG>", "</ARG_LIST>", "</SCRIPT>",
        "<SCRIPT NAME=\"fix.pl\" TYPE=\"PERL\"/>", "<SCRIPT NAME=\"bare.sh\" TYPE=\"SHELL\"/>",
        "<SCRIPT TYPE=\"SHELL\"/>", "</FIXUP_SCRIPTS>", "<DATA_LIST>",
        "<DATA NAME=\"kernel.sem\" VAL=\"250 32000\"/>", "<DATA NAME=\"empty\" VAL=\"\"/>",
        "<DATA NAME=\"noval\"/>", "</DATA_LIST>", "<NODE_LIST>",
        "<NODE NAME=\"NODE1.example.com\" EXP_VAL=\"0\"/>", "<NODE ACT_VAL=\"x\"/>",
        "<NODE NAME=\"node1\" ACT_VAL=\"1\" EXP_VAL=\"2\"/>",
        "<NODE NAME=\"node2\" ACT_VAL=\"9\" EXP_VAL=\"9\"/>", "</NODE_LIST>", "</FIXUP_DATA>",
        "<FIXUP_DATA>", "<NODE_LIST>", "<NODE NAME=\"node2\"/>", "</NODE_LIST>", "</FIXUP_DATA>",
        "</FIXUP_DATA_LIST>", "</TASK>", "<TASK>", "</TASK>"}));
    // clang-format on
    const std::vector<FixupData*> records = parseText(text)->getFixupDataFromXml();
    ASSERT_EQ(records.size(), 2u);

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
}

// A record points at the tree's own texts: nothing of an instance is copied.
TEST_F(InputDocumentTest, RecordsReferToTheTreesTexts) {
    XmlParser* parser = parseText(document(lines(
        {"<TASK ID=\"T\">", "<FIXUP_DATA_LIST>", "<FIXUP_DATA>", "<DATA_LIST>",
         "<DATA NAME=\"NAME\" VAL=\"kernel.sem\"/>", "</DATA_LIST>", "<NODE_LIST>",
         "<NODE NAME=\"node1\" ACT_VAL=\"1\" EXP_VAL=\"2\"/>", "</NODE_LIST>", "</FIXUP_DATA>",
         "</FIXUP_DATA_LIST>", "</TASK>"})));
    const std::vector<FixupData*> records = parser->getFixupDataFromXml();
    ASSERT_EQ(records.size(), 1u);
    const FixupData& record = *records[0];
    const XmlNode* task = parser->getRoot()->findFirstChildByName(TAG_TASK_LIST)->firstChildNode();
    const XmlNode* instance =
        task->findFirstChildByName(TAG_FIXUP_DATA_LIST)->firstChildNode();
    const XmlNode* node = instance->findFirstChildByName(TAG_NODELIST)->firstChildNode();
    const XmlNode* data = instance->findFirstChildByName(TAG_DATA_LIST)->firstChildNode();
    ASSERT_EQ(record.getDataSet().size(), 1u);
    const struct {
        const char* what;
        const std::string* inRecord;
        const std::string* inTree;
    } cases[] = {
        {"task", record.getTaskIDStr(), task->getAttributeValue(ATTR_ID)},
        {"node", record.getParticipatingNodes().at(0), node->getAttributeValue(ATTR_NAME)},
        {"actual", record.getActualValue(), node->getAttributeValue(ATTR_ACTUAL_VALUE)},
        {"expected", record.getExpectedValue(), node->getAttributeValue(ATTR_EXPECTED_VALUE)},
        {"data name", record.getDataSet()[0]->name, data->getAttributeValue(ATTR_NAME)},
        {"data value", record.getDataSet()[0]->value, data->getAttributeValue(ATTR_VAL)},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.inTree, nullptr) << c.what;
        EXPECT_EQ(c.inRecord, c.inTree) << c.what;
    }
}

TEST_F(InputDocumentTest, DocumentsWithoutTasksGiveNoRecordsOrAParserException) {
    EXPECT_TRUE(XmlParser::getInstance()->getFixupDataFromXml().empty());
    const std::string blank = " \n\n";
    XmlParser::getInstance()->parseFixupData(&blank);
    XmlParser::getInstance()->parseFixupData(nullptr);
    EXPECT_EQ(XmlParser::getInstance()->getRoot(), nullptr);

    XmlParser* parser = parseText(lines({"<VEXEL_FIXUP_ROOT>", "<OTHER/>", "</VEXEL_FIXUP_ROOT>"}));
    EXPECT_EQ(messageOf([&] { parser->getFixupDataFromXml(); }),
              "Failed to read fixup data : element VEXEL_FIXUP_ROOT has no child TASK_LIST");
    EXPECT_TRUE(parseText(document("<TASK ID=\"T\">\n</TASK>\n"))->getFixupDataFromXml().empty());
}

}  // namespace
}  // namespace vxl_fixup
