// For the hardening node tests: fix-up data documents built from a list of
// instances (every value escaped as the document format wants it), the
// command-line tool's path and a shell word for any text.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "util/ShellQuote.h"
#include "xml/XmlText.h"

namespace vxl_test {

inline const std::string kCli = VXL_CLI_PATH;

// One FIXUP_DATA for node1, written as its own TASK element.
struct DocInstance {
    std::string task;
    std::vector<std::pair<std::string, std::string>> data = {};
    std::string expected = {};                     // EXP_VAL, left out when empty
    std::string scriptName = {}, scriptPath = {};  // a SHELL script when scriptName is set
    std::vector<std::string> scriptArgs = {};
    std::string actual = {};  // ACT_VAL, left out when empty
};

inline std::string fixupDocument(const std::vector<DocInstance>& instances) {
    using vxl_fixup::escapeXmlAttribute;
    std::string doc =
        "<?xml version = '1.0' encoding = 'UTF-8'?>\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n";
    for (const DocInstance& in : instances) {
        doc += "<TASK ID=\"" + in.task + "\">\n<FIXUP_DATA_LIST>\n<FIXUP_DATA>\n<NODE_LIST>\n";
        doc += "<NODE NAME=\"node1\"";
        if (!in.actual.empty()) doc += " ACT_VAL=\"" + escapeXmlAttribute(in.actual) + "\"";
        if (!in.expected.empty()) doc += " EXP_VAL=\"" + escapeXmlAttribute(in.expected) + "\"";
        doc += "/>\n</NODE_LIST>\n<DATA_LIST>\n";
        for (const auto& item : in.data) {
            doc += "<DATA NAME=\"" + item.first + "\" VAL=\"" + escapeXmlAttribute(item.second) +
                   "\"/>\n";
        }
        doc += "</DATA_LIST>\n";
        if (!in.scriptName.empty()) {
            doc += "<FIXUP_SCRIPTS>\n<SCRIPT NAME=\"" + escapeXmlAttribute(in.scriptName) +
                   "\" TYPE=\"SHELL\" PATH=\"" + escapeXmlAttribute(in.scriptPath) +
                   "\">\n<ARG_LIST>\n";
            for (const std::string& arg : in.scriptArgs) {
                doc += "<ARG>" + vxl_fixup::escapeXmlText(arg) + "</ARG>\n";
            }
            doc += "</ARG_LIST>\n</SCRIPT>\n</FIXUP_SCRIPTS>\n";
        }
        doc += "</FIXUP_DATA>\n</FIXUP_DATA_LIST>\n</TASK>\n";
    }
    return doc + "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

inline std::string word(const std::string& text) { return vxl_fixup::shellQuote(text); }

}  // namespace vxl_test
