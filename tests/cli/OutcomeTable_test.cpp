// The outcome table's one-pass reader against the document reader: for every
// document, the outcomes (or the refusal) must be those a walk of the tree
// the document reader builds gives, from a text and from a file alike.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/OutcomeTable.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "support/TempDir.h"
#include "xml/XmlParser.h"

namespace {

using vxl_cli::MessageError;
using vxl_cli::Outcome;
using vxl_fixup::XmlNode;

std::string attribute(const XmlNode* node, const std::string& name) {
    const std::string* value = node->getAttributeValue(name);
    return value ? *value : std::string();
}

std::vector<XmlNode*> children(const XmlNode* node, const std::string& name) {
    return node->searchChildNodesByTagName(name);
}

std::string text(const Outcome& o) {
    std::string t = o.task + "|" + std::to_string(o.instance) + "|" + o.node + "|" + o.status;
    for (const MessageError& m : o.messages) t += "|NLS " + messageText(m);
    for (const std::string& n : o.nativeErrors) t += "|native " + n;
    return t;
}

// The outcomes as the tree walk finds them, one line each, or the reader's
// refusal.
std::string byTheTree(const std::string& document) {
    using namespace vxl_fixup;
    XmlParser parser;
    try {
        parser.parseFixupData(&document);
    } catch (const XmlParserException& e) {
        return "refused: " + e.what();
    }
    if (parser.getRoot() == nullptr) return "refused: no document root";
    std::string lines;
    std::map<std::pair<std::string, std::string>, int> counters;
    for (const XmlNode* taskList : children(parser.getRoot(), TAG_TASK_LIST))
        for (const XmlNode* task : taskList->getChildNodes())
            for (const XmlNode* dataList : children(task, TAG_FIXUP_DATA_LIST))
                for (const XmlNode* data : dataList->getChildNodes())
                    for (const XmlNode* nodeList : children(data, TAG_NODELIST))
                        for (const XmlNode* node : children(nodeList, TAG_NODE))
                            for (const XmlNode* output : children(node, TAG_FIXUP_OUTPUT_DATA)) {
                                Outcome o;
                                o.task = attribute(task, ATTR_ID);
                                o.node = attribute(node, ATTR_NAME);
                                const std::string name = o.node.substr(0, o.node.find('.'));
                                o.instance = counters[{o.task, lowerCaseCopy(name)}]++;
                                for (const XmlNode* s : children(output, TAG_STATUS))
                                    if (s->getNodeValue()) o.status = *s->getNodeValue();
                                for (const XmlNode* d : children(output, TAG_ERROR_DETAILS)) {
                                    for (const XmlNode* l : children(d, TAG_NATIVE_ERRORS))
                                        for (const XmlNode* e : children(l, TAG_ERROR))
                                            if (e->getNodeValue())
                                                o.nativeErrors.push_back(*e->getNodeValue());
                                    for (const XmlNode* l : children(d, TAG_NLS_MSG_LIST))
                                        for (const XmlNode* m : children(l, TAG_NLS_MSG)) {
                                            MessageError e{attribute(m, ATTR_FACILITY),
                                                           attribute(m, ATTR_ID), {}};
                                            for (const XmlNode* al :
                                                 children(m, TAG_NLS_MSG_ARG_LIST))
                                                for (const XmlNode* a :
                                                     children(al, TAG_NLS_MSG_ARG))
                                                    e.arguments.push_back(a->getNodeValue()
                                                                              ? *a->getNodeValue()
                                                                              : "");
                                            o.messages.push_back(e);
                                        }
                                }
                                lines += text(o) + "\n";
                            }
    return lines;
}

std::string byTheTable(bool ok, const std::vector<Outcome>& outcomes, const std::string& why,
                       const std::string& name) {
    if (!ok) return "refused: " + why.substr(why.rfind(name + ": ", 0) == 0 ? name.size() + 2 : 0);
    std::string lines;
    for (const Outcome& o : outcomes) lines += text(o) + "\n";
    return lines;
}

std::string output(const std::string& node, const std::string& inside) {
    return "<NODE " + node + ">\n<FIXUP_OUTPUT_DATA>\n" + inside + "</FIXUP_OUTPUT_DATA>\n</NODE>\n";
}

std::string instance(const std::string& nodes) {
    return "<FIXUP_DATA>\n<NODE_LIST>\n" + nodes + "</NODE_LIST>\n</FIXUP_DATA>\n";
}

std::string task(const std::string& id, const std::string& instances) {
    return "<TASK " + id + ">\n<FIXUP_DATA_LIST>\n" + instances + "</FIXUP_DATA_LIST>\n</TASK>\n";
}

std::string root(const std::string& tasks) {
    return "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" + tasks + "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

const std::string kFailed =
    "<STATUS>FAILED</STATUS>\n<ERROR_DETAILS>\n<NATIVE_ERRORS>\n<ERROR>a &amp; b</ERROR>\n"
    "<ERROR></ERROR>\n</NATIVE_ERRORS>\n<NLS_ERRORS>\n"
    "<NLS_MSG FACILITY=\"Vxlg\" ID=\"9026\" DISPLAY_ID=\"true\">\n<MSG_ARG_LIST>\n"
    "<MSG_ARG>x y</MSG_ARG>\n<MSG_ARG></MSG_ARG>\n<MSG_ARG>&lt;z&gt;</MSG_ARG>\n"
    "</MSG_ARG_LIST>\n</NLS_MSG>\n<NLS_MSG FACILITY=\"Vxlh\" ID=\"1\"/>\n"
    "<NLS_MSG FACILITY=\"Vxlh\" ID=\"2\">\n<MSG_ARG_LIST>\n</MSG_ARG_LIST>\n</NLS_MSG>\n"
    "</NLS_ERRORS>\n</ERROR_DETAILS>\n";
const std::string kOk = "<STATUS>SUCCESSFUL</STATUS>\n<ERROR_DETAILS />\n";

TEST(OutcomeTableTest, ReadsWhatTheTreeWalkFindsInOnePass) {
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<E>\n";
    // clang-format off
    const struct {
        const char* what;
        std::string document;
    } cases[] = {
        {"statuses, native errors, messages with and without arguments",
         root(task("ID=\"T1\"", instance(output("NAME=\"node1\"", kFailed) +
                                         output("NAME=\"node2\"", kOk))))},
        {"instances counted per task and short node name across tasks",
         root(task("ID=\"T1\"", instance(output("NAME=\"n1.a.b\"", kOk)) +
                                    instance(output("NAME=\"N1\"", kOk))) +
              task("ID=\"T2\"", instance(output("NAME=\"n1\"", kOk))) +
              task("ID=\"T1\"", instance(output("NAME=\"n1\"", kOk))))},
        {"attributes: quoted blanks, entities, no value, the first of two, unquoted",
         root(task("NAME=\"x\" ID=\"a b&quot;c\" ID=\"second\"",
                   instance(output("NAME= ID=\"1\" NAME=\"&amp;n\"", kOk) +
                            output("NAME=bare", kOk))))},
        {"an empty status keeps the last one with a value",
         root(task("ID=\"T\"", instance(output("NAME=\"n\"",
              "<STATUS>WARNING</STATUS>\n<STATUS></STATUS>\n<STATUS/>\n"))))},
        {"a line the reader cannot read costs its root; the next root counts",
         "<?xml version = '1.0'?>\n" +
         root(task("ID=\"lost\"", instance(output("NAME=\"n\"", kOk + "oops\n")))) +
         root(task("ID=\"kept\"", instance(output("NAME=\"n\"", kOk)))) +
         root(task("ID=\"second root\"", instance(output("NAME=\"n\"", kOk))))},
        {"an unreadable line right before the next root",
         "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n<TASK ID=\"lost\">\n<FIXUP_DATA_LIST>\n" +
         instance(output("NAME=\"n\"", kOk)) + "oops\n" +
         root(task("ID=\"kept\"", instance(output("NAME=\"n\"", kOk))))},
        {"bare and foreign end tags are elements of their own",
         "</VEXEL_FIXUP_ROOT>\n<OTHER>\n" + output("NAME=\"outside\"", kOk) + "</OTHER>\n" +
         root("</TASK>\n" + task("ID=\"T\"", instance("</NODE>\n" + output("NAME=\"n\"",
              "</FIXUP_OUTPUT_DATA_X>\n" + kOk)) + "<FIXUP_DATA/>\n") +
              "<TASK ID=\"leaf\"/>\n")},
        {"an element named on a line with a quote", root(task("ID=\"T\"",
         instance("<NODE\"x y\" NAME=\"n\">\n</NODE\"x y\">\n" + output("NAME=\"m\"", kOk))))},
        {"blank lines, blanks and tabs around lines",
         "\n  \t<VEXEL_FIXUP_ROOT>\t\n\n<TASK_LIST>\n" + task("ID=\"T\"",
         instance(output("NAME=\"n\"", kOk))) + "   </TASK_LIST>\n</VEXEL_FIXUP_ROOT>"},
        {"an empty root", "<VEXEL_FIXUP_ROOT/>\n" + root(task("ID=\"T\"",
         instance(output("NAME=\"n\"", kOk))))},
        {"never closed", root(task("ID=\"T\"", instance(output("NAME=\"n\"", kOk)))) +
         "<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n"},
        {"nested too deep", "<VEXEL_FIXUP_ROOT>\n" + deep},
        {"no root among the elements", "<?xml?>\n<A/>\n<B>\n</B>\n"},
        {"no element at all", "<?xml?>\njunk\n"},
        {"nothing", " \n\t\n"},
    };
    // clang-format on
    vxl_test::TempDir dir;
    for (const auto& c : cases) {
        const std::string expected = byTheTree(c.document);
        std::vector<Outcome> outcomes;
        std::string why;
        bool ok = vxl_cli::readOutcomesFromText(c.document, "doc", outcomes, why);
        EXPECT_EQ(byTheTable(ok, outcomes, why, "doc"), expected) << c.what;

        const std::string file = dir.file("out.xml");
        vxl_test::TempDir::write(file, c.document);
        outcomes.clear();
        ok = vxl_cli::readOutcomes(file, outcomes, why);
        EXPECT_EQ(byTheTable(ok, outcomes, why, file), expected) << c.what << " (file)";
    }
}

// Lines that straddle the blocks a file is read in, and a last line without
// its line feed.
TEST(OutcomeTableTest, AFileReadsAsItsText) {
    std::string instances;
    for (int i = 0; i < 3000; ++i) {
        instances += instance(output("NAME=\"node" + std::to_string(i % 7) + "\"",
                                     i % 2 ? kOk : kFailed));
    }
    std::string document = root(task("ID=\"T\"", instances));
    document.pop_back();
    ASSERT_GT(document.size(), 3u << 16);
    vxl_test::TempDir dir;
    vxl_test::TempDir::write(dir.file("out.xml"), document);
    std::vector<Outcome> outcomes;
    std::string why;
    ASSERT_TRUE(vxl_cli::readOutcomes(dir.file("out.xml"), outcomes, why)) << why;
    EXPECT_EQ(outcomes.size(), 3000u);
    EXPECT_EQ(byTheTable(true, outcomes, why, ""), byTheTree(document));
    EXPECT_FALSE(vxl_cli::readOutcomes(dir.path(), outcomes, why));
    EXPECT_EQ(why, "cannot read " + dir.path());
}

}  // namespace
