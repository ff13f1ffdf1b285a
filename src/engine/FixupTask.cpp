#include "engine/FixupTask.h"

#include <memory>

#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

XmlParser* FixupTask::_parser = nullptr;

FixupTask::FixupTask(FixupData* data) : m_overallResult(new Result()) {
    m_dataList.push_back(data);
    _parser = XmlParser::getInstance();
}

FixupTask::~FixupTask() { delete m_overallResult; }

void FixupTask::addfixupData(FixupData* data) { m_dataList.push_back(data); }

void FixupTask::addfixupDataList(std::vector<FixupData*> list) {
    m_dataList.insert(m_dataList.end(), list.begin(), list.end());
}

const std::string* FixupTask::getTaskID() const {
    return m_dataList.empty() || m_dataList.front() == nullptr ? nullptr
                                                               : m_dataList.front()->getTaskIDStr();
}

bool FixupTask::fix() {
    static const std::string source = "FixupTask::fix";
    const std::string* id = getTaskID();
    const std::string text = id ? *id : std::string();
    Trace::trace(source,
                 "Fixing Total " + integerToString(static_cast<int>(m_dataList.size())) +
                     " instances of this task.");
    for (size_t index = 0; index < m_dataList.size(); ++index) {
        const int i = static_cast<int>(index);
        FixupData* instance = m_dataList[index];
        Trace::trace(source, "Fixing Task " + text + " instance number (" + integerToString(i) + ")");
        std::unique_ptr<Result> result(fix(instance));
        if (!result) result.reset(new Result());  // a family must not return null
        Trace::trace(source, "Complete fixup operations for Task " + text + " instance number (" +
                                 integerToString(i) + "), Now uploading output to xml.");
        if (_parser != nullptr) _parser->updateOutPutXMLWithResult(instance, result.get(), i);
        Trace::trace(source, "Fixing Task " + text + " instance number (" + integerToString(i) +
                                 ") fixed and output uploaded");
        for (NLSError* e : result->getErrorList()) m_overallResult->addError(e);
        for (NativeError* e : result->getNativeErrorList()) m_overallResult->addNativeError(e);
        m_overallResult->updateStatus(result->getStatus());
    }
    return m_overallResult->isSuccessFul() || m_overallResult->isWarning();
}

Result* CommonTask::fix(FixupData*) { return new Result(); }

}  // namespace vxl_fixup
