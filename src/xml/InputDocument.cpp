// The fix-up data input document: from the tree to FixupData records.
#include <memory>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/RunObjects.h"
#include "model/Script.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

namespace {

void detail(const std::string& source, const std::string& message) {
    Trace::trace(source, message, TRACE_DETAIL);
}

std::string number(std::size_t n) { return integerToString(static_cast<int>(n)); }

// The first child of that name, or null.
const XmlNode* firstChild(const XmlNode* node, const std::string& name) {
    return node->findFirstChildByName(name);
}

}  // namespace

void XmlParser::parseFixupData(const std::string* text) {
    if (text == nullptr) return;
    std::unique_ptr<DocumentLines> lines = documentTextLines(*text);
    readTree(*lines, "XmlParser::parseFixupData()");
}

std::vector<FixupData*> XmlParser::getFixupDataFromXml() const {
    static const std::string source = "XmlParser::getFixupDataFromXml";
    std::vector<FixupData*> records;
    if (m_root == nullptr) {
        detail(source, "No fixup data document has been read");
        return records;
    }
    const XmlNode* taskList = firstChild(m_root, TAG_TASK_LIST);
    if (taskList == nullptr) {
        throw XmlParserException("Failed to read fixup data : element " + TAG_VEXEL_FIXUP_ROOT +
                                 " has no child " + TAG_TASK_LIST);
    }
    detail(source, "getting children of " + *taskList->getNodeName());
    detail(source, "Creating the FixupData for each participating task in fixupdatafile");
    for (const XmlNode* task : taskList->getChildNodes()) {
        const std::vector<FixupData*> taskRecords = getFixupDataListFromXmlTask(task);
        records.insert(records.end(), taskRecords.begin(), taskRecords.end());
    }
    return records;
}

std::vector<FixupData*> XmlParser::getFixupDataListFromXmlTask(const XmlNode* task) const {
    static const std::string source = "XmlParser::getFixupDataListFromXmlTask";
    std::vector<FixupData*> records;
    if (task == nullptr) return records;
    const std::string* id = task->getAttributeValue(ATTR_ID);
    if (id == nullptr) {
        detail(source,
               "Skipping task element " + *task->getNodeName() + " without attribute " + ATTR_ID);
        return records;
    }
    detail(source, "Retrieving the Fix-up data for task " + *id);
    const XmlNode* list = firstChild(task, TAG_FIXUP_DATA_LIST);
    if (list == nullptr) return records;
    const bool traced = Trace::writes(TRACE_DETAIL);
    const std::vector<XmlNode*> instances = list->getChildNodes();
    detail(source, "task " + *id + " has " + number(instances.size()) + " instances of fixup data");
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const int instanceNumber = static_cast<int>(i) + 1;
        records.push_back(getFixupDataFromXmlTaskFixupData(id, instanceNumber, instances[i]));
        if (traced)
            detail(source, "Added fixup data instance number " + integerToString(instanceNumber) +
                               " for task " + *id);
    }
    return records;
}

FixupData* XmlParser::getFixupDataFromXmlTaskFixupData(const std::string* taskId,
                                                       const int& instanceNumber,
                                                       const XmlNode* element) const {
    static const std::string source = "XmlParser::getFixupDataFromXmlTaskFixupData";
    const bool traced = Trace::writes(TRACE_DETAIL);
    // The record points into the tree, which the run releases after it.
    auto* data = new FixupData(taskId, FixupData::REFER);
    RunObjects::adopt(data);
    if (element == nullptr) return data;
    const std::string id = taskId ? *taskId : std::string();
    const std::string& localNode = Constants::localNodeNameOrEmpty();

    if (const XmlNode* nodeList = firstChild(element, TAG_NODELIST)) {
        const std::vector<XmlNode*> nodes = nodeList->getChildNodes();
        if (traced)
            detail(source, "task " + id + " with instance index " +
                               integerToString(instanceNumber) + "  has " + number(nodes.size()) +
                               " participating nodes");
        for (const XmlNode* node : nodes) {
            const std::string* name = node->getAttributeValue(ATTR_NAME);
            if (name == nullptr) {
                if (traced)
                    detail(source, "Skipping node element " + *node->getNodeName() +
                                       " without attribute " + ATTR_NAME);
                continue;
            }
            if (traced) detail(source, "Participating Node = " + *name);
            if (name->empty()) continue;
            data->addNode(name);
            if (FixupUtil::hostNamesMatch(localNode, *name)) {
                data->setActualValue(node->getAttributeValue(ATTR_ACTUAL_VALUE));
                data->setExpectedValue(node->getAttributeValue(ATTR_EXPECTED_VALUE));
            }
        }
    }

    if (const XmlNode* dataList = firstChild(element, TAG_DATA_LIST)) {
        for (const XmlNode* item : dataList->getChildNodes()) {
            const std::string* name = item->getAttributeValue(ATTR_NAME);
            const std::string* value = item->getAttributeValue(ATTR_VAL);
            if (name == nullptr || value == nullptr) {
                if (traced)
                    detail(source, "Skipping data element " + *item->getNodeName() +
                                       " without attribute " + ATTR_NAME + " or " + ATTR_VAL);
                continue;
            }
            if (traced)
                detail(source, "Adding Key-Value Data Name = " + *name + " Value = " + *value);
            if (!name->empty() && !value->empty()) data->addData(name, value);
        }
    }

    if (const XmlNode* scripts = firstChild(element, TAG_FIXUP_SCRIPTS)) {
        for (const XmlNode* scriptElement : scripts->getChildNodes()) {
            const std::string* name = scriptElement->getAttributeValue(ATTR_NAME);
            const std::string* typeText = scriptElement->getAttributeValue(ATTR_TYPE);
            if (name == nullptr || typeText == nullptr || name->empty() || typeText->empty()) {
                continue;
            }
            if (traced) detail(source, "Adding " + *typeText + " Script (" + *name + ")");
            const _SCRIPT_TYPE type = FixupUtil::getScriptType(typeText);
            if (type == SCRIPT_TYPE_UNKNOWN) continue;
            // An absent PATH leaves the script without location.
            std::unique_ptr<Script> script(
                Script::createScript(type, name, scriptElement->getAttributeValue(ATTR_PATH)));
            if (!script) continue;
            if (const XmlNode* argList = firstChild(scriptElement, TAG_ARG_LIST)) {
                std::vector<const std::string*> arguments;
                for (const XmlNode* arg : argList->getChildNodes()) {
                    if (!arg->hasNodeValue()) continue;
                    if (traced) detail(source, "Adding argument (" + *arg->getNodeValue() + ")");
                    arguments.push_back(arg->getNodeValue());
                }
                script->setArgumentList(arguments);
            }
            if (traced)
                detail(source, "Added " + *typeText + " Script (" + *name + ") with (" +
                                   number(script->getArguments().size()) + ") arguments.");
            data->addScript(script.release());
        }
    }
    return data;
}

}  // namespace vxl_fixup
