#include "engine/NativeHandler.h"

#include <memory>

#include "engine/Constants.h"
#include "engine/FixupTask.h"
#include "engine/FixupTaskFactory.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

NativeHandler* NativeHandler::m_handlerObj = nullptr;

namespace {
std::string orEmpty(const std::string* s) { return s ? *s : std::string(); }
}  // namespace

NativeHandler::NativeHandler()
    : m_parser(XmlParser::getInstance(Constants::getFixupDataFilePath())) {}

NativeHandler::~NativeHandler() { m_parser = nullptr; }

NativeHandler* NativeHandler::getInstance() {
    static const std::string source = "NativeHandler::getInstance()";
    if (m_handlerObj == nullptr) {
        Trace::trace(source, "Instance does not exists creating one", TRACE_DETAIL);
        m_handlerObj = new NativeHandler();
    }
    Trace::trace(source,
                 "Returning Instance on node " + orEmpty(Constants::getLocalNodeName()) +
                     " for input data file at path " + orEmpty(Constants::getFixupDataFilePath()),
                 TRACE_DETAIL);
    return m_handlerObj;
}

int NativeHandler::performFixup() {
    static const std::string source = "NativeHandler::performFixup()";
    Trace::trace(source,
                 "Perform Fix-up Called for fix-up Data file " +
                     orEmpty(Constants::getFixupDataFilePath()),
                 TRACE_DETAIL);
    FixupTaskFactory factory(m_parser->getFixupDataFromXml());
    Trace::trace(source, "Generating Fixup Task list using FixupTaskFactory", TRACE_DETAIL);
    const std::vector<FixupTask*> tasks = factory.getTasksList(Constants::getLocalNodeName());
    Trace::trace(source,
                 "Generated " + integerToString(static_cast<int>(tasks.size())) +
                     " fixup Tasks using FixupTaskFactory",
                 TRACE_DETAIL);
    // The output document's place is proved before any task changes the
    // node: a work directory that cannot take it stops the run here.
    std::unique_ptr<std::string> outputPath(Constants::getfixupOutputFilePath());
    XmlParser::createOutputFile(outputPath.get());
    int result = 1;
    for (FixupTask* task : tasks) {
        Trace::trace(source, "Fixing " + orEmpty(task->getTaskID()), TRACE_DETAIL);
        if (!task->fix()) result = 0;
    }
    Trace::trace(source, "Saving to an XML output file at path " + *outputPath, TRACE_DETAIL);
    m_parser->saveXmlToFile(outputPath.get());
    return result;
}

void NativeHandler::dispose() {
    Trace::trace("NativeHandler::~dispose()", "Destructing NativeHandler", TRACE_DETAIL);
    XmlParser::dispose();
    delete m_handlerObj;
    m_handlerObj = nullptr;
}

}  // namespace vxl_fixup
