// The outcome of one fix-up: a status, the output of the last command, the
// message-catalogue errors and the failed commands. A Result owns its output
// text; the error records in its lists are shared by pointer with other
// Results and belong to the run (RunObjects), which releases them at run end.
#pragma once

#include <string>
#include <vector>

#include "model/NLSError.h"
#include "model/NativeError.h"

namespace vxl_fixup {

// Severity order 0..3; UNKNOWN means "not decided yet" and stands outside it.
enum _STATUS { SUCCESSFUL = 0, WARNING = 1, FAILED = 2, ERROR = 3, UNKNOWN = 4 };

class Result {
public:
    Result() = default;
    ~Result();
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    // Overwrites the status.
    void setStatus(_STATUS s) { m_status = s; }
    // Merges: UNKNOWN takes s; s == UNKNOWN changes nothing; else the worse wins.
    void updateStatus(_STATUS s);
    _STATUS getStatus() const { return m_status; }
    bool isSuccessFul() const { return m_status == SUCCESSFUL; }
    bool isWarning() const { return m_status == WARNING; }
    bool isFailed() const { return m_status == FAILED; }
    bool isError() const { return m_status == ERROR; }
    bool isUnknown() const { return m_status == UNKNOWN; }

    // Takes ownership of a heap text (null ignored); an earlier text is released.
    void setOutput(const std::string* text);
    const std::string* getOutput() const { return m_output; }

    // Appends the record and hands it to the run owner.
    void addError(NLSError* e);
    void addNativeError(NativeError* e);
    std::vector<NLSError*> getErrorList() const { return m_errors; }
    std::vector<NativeError*> getNativeErrorList() const { return m_nativeErrors; }
    bool hasErrors() const { return !m_errors.empty(); }
    bool hasNativeErrors() const { return !m_nativeErrors.empty(); }

    // Records a failed command from copies of command and details (null leaves
    // that field null); the status is not changed.
    void setNativeErrorDetails(const std::string* command, const int& exitCode,
                               const std::string* details);
    // Details texts of the native errors, empty ones skipped, joined by "\n";
    // a new string the caller owns.
    std::string* getNativeErrorMsgsString() const;
    // The same text by value.
    std::string nativeErrorText() const;

    // Empties both lists (the records survive), releases the output, UNKNOWN.
    void clear();

private:
    _STATUS m_status = UNKNOWN;
    std::vector<NLSError*> m_errors;
    std::vector<NativeError*> m_nativeErrors;
    const std::string* m_output = nullptr;
};

// The document word of a status ("SUCCESSFUL", ... "UNKNOWN").
const std::string& statusToString(_STATUS s);

}  // namespace vxl_fixup
