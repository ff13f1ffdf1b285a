#include "OutcomeTable.h"

#include <algorithm>
#include <map>

#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "util/FileIO.h"
#include "xml/XmlNode.h"
#include "xml/XmlParser.h"

namespace vxl_cli {

using vxl_fixup::XmlNode;

namespace {

std::string attribute(const XmlNode* node, const std::string& name) {
    const std::string* value = node->getAttributeValue(name);
    return value ? *value : std::string();
}

std::string shortName(std::string name) {
    return vxl_fixup::lowerCaseCopy(name.substr(0, name.find('.')));
}

std::vector<XmlNode*> children(const XmlNode* node, const std::string& name) {
    return node->searchChildNodesByTagName(name);
}

Outcome outcomeOf(const std::string& task, int instance, const XmlNode* node,
                  const XmlNode* output) {
    Outcome o;
    o.task = task;
    o.instance = instance;
    o.node = attribute(node, vxl_fixup::ATTR_NAME);
    for (const XmlNode* status : children(output, vxl_fixup::TAG_STATUS)) {
        if (status->getNodeValue()) o.status = *status->getNodeValue();
    }
    for (const XmlNode* details : children(output, vxl_fixup::TAG_ERROR_DETAILS)) {
        for (const XmlNode* natives : children(details, vxl_fixup::TAG_NATIVE_ERRORS)) {
            for (const XmlNode* error : children(natives, vxl_fixup::TAG_ERROR)) {
                if (error->getNodeValue()) o.nativeErrors.push_back(*error->getNodeValue());
            }
        }
        for (const XmlNode* list : children(details, vxl_fixup::TAG_NLS_MSG_LIST)) {
            for (const XmlNode* message : children(list, vxl_fixup::TAG_NLS_MSG)) {
                std::string text = attribute(message, vxl_fixup::ATTR_FACILITY) + "-" +
                                   attribute(message, vxl_fixup::ATTR_ID);
                std::vector<std::string> args;
                for (const XmlNode* argList : children(message, vxl_fixup::TAG_NLS_MSG_ARG_LIST)) {
                    for (const XmlNode* arg : children(argList, vxl_fixup::TAG_NLS_MSG_ARG)) {
                        args.push_back(arg->getNodeValue() ? *arg->getNodeValue() : "");
                    }
                }
                if (!args.empty()) {
                    text += "(";
                    for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + args[i];
                    text += ")";
                }
                o.messages.push_back(text);
            }
        }
    }
    return o;
}

}  // namespace

bool readOutcomes(const std::string& outputDocument, std::vector<Outcome>& outcomes,
                  std::string& why) {
    std::string text;
    int errorNumber = 0;
    if (!vxl_fixup::readWholeFile(outputDocument, text, errorNumber)) {
        why = "cannot read " + outputDocument;
        return false;
    }
    return readOutcomesFromText(text, outputDocument, outcomes, why);
}

bool readOutcomesFromText(const std::string& text, const std::string& outputDocument,
                          std::vector<Outcome>& outcomes, std::string& why) {
    vxl_fixup::XmlParser::dispose();
    vxl_fixup::XmlParser* parser = vxl_fixup::XmlParser::getInstance();
    try {
        parser->parseFixupData(&text);
    } catch (const vxl_fixup::XmlParserException& e) {
        why = outputDocument + ": " + e.what();
        vxl_fixup::XmlParser::dispose();
        return false;
    }
    const XmlNode* root = parser->getRoot();
    if (root == nullptr) {
        why = outputDocument + ": no document root";
        vxl_fixup::XmlParser::dispose();
        return false;
    }
    // Instances count per task identifier and node (short name, any case),
    // across repeated tasks, as the run numbered them.
    std::map<std::pair<std::string, std::string>, int> counters;
    for (const XmlNode* taskList : children(root, vxl_fixup::TAG_TASK_LIST)) {
        for (const XmlNode* task : taskList->getChildNodes()) {
            const std::string id = attribute(task, vxl_fixup::ATTR_ID);
            for (const XmlNode* dataList : children(task, vxl_fixup::TAG_FIXUP_DATA_LIST)) {
                for (const XmlNode* data : dataList->getChildNodes()) {
                    for (const XmlNode* nodeList : children(data, vxl_fixup::TAG_NODELIST)) {
                        for (const XmlNode* node : children(nodeList, vxl_fixup::TAG_NODE)) {
                            for (const XmlNode* output :
                                 children(node, vxl_fixup::TAG_FIXUP_OUTPUT_DATA)) {
                                int& counter = counters[{
                                    id, shortName(attribute(node, vxl_fixup::ATTR_NAME))}];
                                outcomes.push_back(outcomeOf(id, counter++, node, output));
                            }
                        }
                    }
                }
            }
        }
    }
    vxl_fixup::XmlParser::dispose();
    return true;
}

void printOutcomeTable(const std::vector<Outcome>& outcomes, std::ostream& out) {
    const char* headers[] = {"TASK", "INSTANCE", "NODE", "STATUS", "ERRORS"};
    size_t widths[4] = {4, 8, 4, 6};
    for (const Outcome& o : outcomes) {
        widths[0] = std::max(widths[0], o.task.size());
        widths[2] = std::max(widths[2], o.node.size());
        widths[3] = std::max(widths[3], o.status.size());
    }
    auto pad = [](const std::string& s, size_t w) {
        return s + std::string(w - s.size() + 2, ' ');
    };
    out << pad(headers[0], widths[0]) << pad(headers[1], widths[1]) << pad(headers[2], widths[2])
        << pad(headers[3], widths[3]) << headers[4] << "\n";
    if (outcomes.empty()) out << "(no outcome recorded for any node)\n";
    for (const Outcome& o : outcomes) {
        std::vector<std::string> errors;
        for (const std::string& m : o.messages) errors.push_back("NLS " + m);
        for (const std::string& n : o.nativeErrors) errors.push_back("native: " + n);
        out << pad(o.task, widths[0]) << pad(std::to_string(o.instance), widths[1])
            << pad(o.node, widths[2]) << pad(o.status, widths[3])
            << (errors.empty() ? std::string("-") : errors[0]) << "\n";
        const size_t indent = widths[0] + widths[1] + widths[2] + widths[3] + 8;
        for (size_t i = 1; i < errors.size(); ++i)
            out << std::string(indent, ' ') << errors[i] << "\n";
    }
}

}  // namespace vxl_cli
