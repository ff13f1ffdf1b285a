#include "model/Result.h"

#include "engine/HeaderConstants.h"

namespace vxl_fixup {

Result::~Result() { delete m_output; }

void Result::updateStatus(_STATUS s) {
    if (m_status == UNKNOWN) {
        m_status = s;
        return;
    }
    if (s == UNKNOWN) return;
    if (s > m_status) m_status = s;
}

void Result::setOutput(const std::string* text) {
    if (text == nullptr || text == m_output) return;
    delete m_output;
    m_output = text;
}

void Result::addError(NLSError* e) {
    RunObjects::adopt(e);
    m_errors.push_back(e);
}

void Result::addNativeError(NativeError* e) {
    RunObjects::adopt(e);
    m_nativeErrors.push_back(e);
}

void Result::setNativeErrorDetails(const std::string* command, const int& exitCode,
                                   const std::string* details) {
    addNativeError(new NativeError(command, details, exitCode));
}

std::string* Result::getNativeErrorMsgsString() const { return new std::string(nativeErrorText()); }

std::string Result::nativeErrorText() const {
    std::string text;
    for (const NativeError* e : m_nativeErrors) {
        if (e == nullptr || e->details == nullptr || e->details->empty()) continue;
        if (!text.empty()) text.push_back('\n');
        text.append(*e->details);
    }
    return text;
}

void Result::clear() {
    m_errors.clear();
    m_errors.shrink_to_fit();
    m_nativeErrors.clear();
    m_nativeErrors.shrink_to_fit();
    delete m_output;
    m_output = nullptr;
    m_status = UNKNOWN;
}

const std::string& statusToString(_STATUS s) {
    switch (s) {
        case SUCCESSFUL:
            return VAL_SUCCESS;
        case WARNING:
            return VAL_WARNING;
        case FAILED:
            return VAL_FAILURE;
        case ERROR:
            return VAL_ERROR;
        default:
            return VAL_UNKNOWN;
    }
}

}  // namespace vxl_fixup
