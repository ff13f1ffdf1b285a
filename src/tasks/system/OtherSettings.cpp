// Other kernel and service settings: zeroconf, huge pages, reverse-path
// filtering, ARP parameters, the current clock source, vm.min_free_kbytes,
// the logind IPC removal and the service manager's DefaultTasksMax.
//
// All but DefaultTasksMax are driven by the task's fix-up script, which
// inspects the node and prints one line saying what to set. That line is
// parsed and checked as a whole before anything is run or written, so an
// output that is short, malformed or carries shell text changes nothing.
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "model/Script.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

const std::string kNoZeroConfKey = "NOZEROCONF";
const std::string kHugePagesKey = "vm.nr_hugepages";
const std::string kMinFreeKBytes = "vm.min_free_kbytes";
const std::string kRemoveIPCKey = "RemoveIPC";
const std::string kSystemConf = "/etc/systemd/system.conf";
const std::string kDefaultTasksMaxKey = "DefaultTasksMax";
const std::string kExpectedItem = "EXPECTED";
const std::string kCurrentToken = "current_";
const std::string kConfigToken = "config_";
const std::string kClockSourceFile = "/current_clocksource";  // last part of its path

// The error a task records when its script gave nothing it can use:
// NLS 10530 with the task's word, or (word null) the given number with the
// local node name.
struct Unavailable {
    int number;
    const char* word;
};

const Unavailable kZeroConfEmpty = {10530, "zeroconf-fixup-data-unavailable"};
const Unavailable kZeroConfUnparsed = {9050, nullptr};
const Unavailable kHugePagesUnavailable = {9068, nullptr};
const Unavailable kRPFiltersUnavailable = {10530, "rpfilter-fixup-data-unavailable"};
const Unavailable kARPUnavailable = {10530, "arp-param-fixup-data-unavailable"};
const Unavailable kClockSourceUnavailable = {10530, "current-clocksource-fixup-data-unavailable"};
const Unavailable kMinFreeUnavailable = {10530, "vm_min_free_kbytes-fixup-data-unavailable"};
const Unavailable kLogindUnavailable = {10530, "logindIPC-fixup-data-unavailable"};

const std::string& node() { return Constants::localNodeNameOrEmpty(); }

Result* failUnavailable(Result* result, const Unavailable& error) {
    const char* argument = error.word ? error.word : node().c_str();
    result->addError(new NLSError(NLS_FACILITY_VXLG, true, error.number, 1, argument));
    result->setStatus(FAILED);
    return result;
}

// Refuses a script line that does not have the task's format; nothing has
// been run or written at this point.
Result* refuseOutput(const std::string& source, Result* result, const std::string& output,
                     const Unavailable& error) {
    Trace::trace(source, "The fix-up script output (" + output + ") is not in the expected format",
                 TRACE_DETAIL);
    return failUnavailable(result, error);
}

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Non-empty and made only of letters, digits and the extra characters.
bool madeOf(const std::string& text, const char* extra) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isAlnum(c) && std::string(extra).find(c) == std::string::npos) return false;
    }
    return true;
}

// A sysctl key ("net.ipv4.conf.eth0/100.rp_filter"): never a blank, "=",
// quote or shell character, nor a path that starts at "/" or climbs with
// "..". A leading "-" is left to the argument-word guard.
bool isKey(const std::string& text) {
    return madeOf(text, "_.-/") && text[0] != '/' && text[0] != '.' &&
           text.find("..") == std::string::npos;
}

// A key of a settings file that is not a sysctl key (NOZEROCONF,
// RemoveIPC): a letter or "_", then letters, digits and "_".
bool isIdentifier(const std::string& text) {
    return madeOf(text, "_") && !(text[0] >= '0' && text[0] <= '9');
}

// Refuses (Vxlg 9031) a key or file output that parsed but does not fit the
// file it names.
Result* refuseValue(const std::string& source, Result* result, const std::string& why) {
    Trace::trace(source, why, TRACE_DETAIL);
    return FixupUtil::refuseInput(result);
}

// Kernel values these tasks set are plain non-negative counts or switches.
bool isDecimalNumber(const std::string& text) {
    return !text.empty() && text.size() <= 20 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// What the service manager takes for DefaultTasksMax: a count, a
// percentage of the system's limit, or "infinity".
bool isTasksMaxValue(const std::string& text) {
    if (text == "infinity") return true;
    const std::string digits =
        !text.empty() && text.back() == '%' ? text.substr(0, text.size() - 1) : text;
    return isDecimalNumber(digits);
}

// Files named by a script are absolute: a relative path would be resolved
// against the host process's working directory.
bool isAbsolutePath(const std::string& text) { return !text.empty() && text[0] == '/'; }

// Each part blank-trimmed.
std::vector<std::string> splitTrimmed(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> parts = FixupUtil::splitStringByDelim(text, delimiter);
    for (std::string& part : parts) part = FixupUtil::trimWhiteSpaces(part);
    return parts;
}

// Blank and line-break characters around a script's output carry nothing.
std::string trimOutput(const std::string& text) {
    static const char* const kAround = " \t\r\n";
    const size_t first = text.find_first_not_of(kAround);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(kAround) - first + 1);
}

// The script prelude. Returns a new Result the caller owns: SUCCESSFUL with
// output holding the script's one line, trimmed; the script's own Result when
// it failed; FAILED with Vxlg 9031 without a script or when the output holds
// a line break or NUL inside it (every part of it may end up on a
// configuration line); FAILED with the task's empty-output error when the
// script printed nothing.
Result* runFixupScript(const std::string& source, FixupData* data, const Unavailable& empty,
                       std::string& output) {
    const std::vector<Script*> scripts = data->getScriptList();
    if (scripts.empty() || scripts.front() == nullptr) {
        Result* result = new Result();
        Trace::trace(source, "The fix-up script file name and location was not provided",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result);
        return result;
    }
    Result* result = scripts.front()->runScript();
    if (!result->isSuccessFul()) return result;
    output = trimOutput(result->getOutput() ? *result->getOutput() : std::string());
    if (output.empty()) {
        Trace::trace(source, "The fix-up script did not print any fix-up data", TRACE_DETAIL);
        return failUnavailable(result, empty);
    }
    FixupUtil::acceptSingleLineValue(source, &output, result);
    return result;
}

// Folds one step of a task into the task's Result: its errors are kept and
// the worse status wins, so a later step that succeeds never hides an
// earlier failure.
void foldStep(Result* task, const Result& step) {
    for (NLSError* e : step.getErrorList()) task->addError(e);
    for (NativeError* e : step.getNativeErrorList()) task->addNativeError(e);
    task->updateStatus(step.getStatus());
}

// One entry of the reverse-path or ARP output: set the running value of key,
// or set key in file.
struct KernelStep {
    bool current;
    std::string key;
    std::string file;
};

// A list of entries separated by ","; each entry is "current_" + key, or
// "config_" + key optionally followed by fieldDelimiter and a file (default
// defaultFile). False when an entry is malformed or there is none.
bool parseKernelSteps(const std::string& list, const std::string& fieldDelimiter,
                      const std::string& defaultFile, std::vector<KernelStep>& steps) {
    for (const std::string& entry : splitTrimmed(list, ",")) {
        if (entry.empty()) continue;
        const std::vector<std::string> fields = splitTrimmed(entry, fieldDelimiter);
        if (fields.empty() || fields.size() > 2) return false;
        const std::string& token = fields[0];
        const std::string file = fields.size() == 2 ? fields[1] : defaultFile;
        if (startsWith(token, kCurrentToken)) {
            steps.push_back({true, token.substr(kCurrentToken.size()), std::string()});
        } else if (startsWith(token, kConfigToken) && isAbsolutePath(file)) {
            steps.push_back({false, token.substr(kConfigToken.size()), file});
        } else {
            return false;
        }
        if (!isKey(steps.back().key)) return false;
    }
    return !steps.empty();
}

// Every key a step hands to sysctl or writes is one argument word; checked
// for all steps before the first one runs.
bool acceptKernelSteps(const std::string& source, const std::vector<KernelStep>& steps,
                       Result* result) {
    for (const KernelStep& step : steps) {
        if (!FixupUtil::acceptArgumentWords(source, {&step.key}, result)) return false;
    }
    return true;
}

// Runs the steps in order, each folded into result: a running value through
// setRunning, a configured value as key=value in its file.
void applyKernelSteps(const std::string& source, const std::string& what,
                      const std::vector<KernelStep>& steps, const std::string& value,
                      const std::function<Result*(const std::string& key)>& setRunning,
                      Result* result) {
    for (const KernelStep& step : steps) {
        std::unique_ptr<Result> outcome;
        if (step.current) {
            outcome.reset(setRunning(step.key));
        } else {
            Trace::trace(source, "Fixing " + what + step.key + " inside config file " + step.file,
                         TRACE_DETAIL);
            outcome.reset(
                FixupUtil::updateEntryInsideConfigFile(&step.file, &step.key, &value, "=", true));
        }
        foldStep(result, *outcome);
    }
}

}  // namespace

Result* sTaskSystemSettings::setRunningValueStep(const std::string& key, const std::string& value) {
    Result* step = new Result();
    if (!setCurrentKernelParamValue(key, value, step)) {
        Trace::trace("sTaskSystemSettings::setRunningValueStep",
                     "Failed to update the current values of kernel parameter '" + key + "'",
                     TRACE_DETAIL);
        step->addError(new NLSError(NLS_FACILITY_VXLG, true, 9026, 3, key.c_str(),
                                    m_sysctlCmd->c_str(), node().c_str()));
        step->setStatus(FAILED);
    }
    return step;
}

Result* sTaskSystemSettings::fixTaskZeroConf(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskZeroConf";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kZeroConfEmpty, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = splitTrimmed(output, ",");
    if (parts.size() != 2 || parts[0].empty() || !isAbsolutePath(parts[1])) {
        return refuseOutput(source, result.release(), output, kZeroConfUnparsed);
    }
    const std::string& key = parts[0];
    const std::string& file = parts[1];
    if (!isIdentifier(key)) {
        return refuseValue(source, result.release(), "Refusing the zeroconf key (" + key + ")");
    }
    Trace::trace(source, "Fixing zeroconf parameter " + key + " inside config file " + file,
                 TRACE_DETAIL);
    if (key == kNoZeroConfKey) {
        const std::string yes = "yes";
        return FixupUtil::updateEntryInsideConfigFile(&file, &key, &yes, "=", true);
    }
    // Any other zeroconf switch is turned off by commenting its records out.
    const std::string comment = "#";
    return FixupUtil::updateEntryInsideConfigFile(&file, &key, &comment, comment, false);
}

Result* sTaskSystemSettings::fixTaskHugePages(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskHugePages";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kHugePagesUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = splitTrimmed(output, "=");
    // Only vm.nr_hugepages has a comparison rule for its configured value.
    if (parts.size() != 2 || parts[0] != kHugePagesKey || !isDecimalNumber(parts[1])) {
        return refuseOutput(source, result.release(), output, kHugePagesUnavailable);
    }
    const std::string& key = parts[0];
    const std::string& value = parts[1];
    Trace::trace(source,
                 "The recommended value retrieved for Hugepages parameter " + key + " is " + value,
                 TRACE_DETAIL);
    Trace::trace(source, "Fixing Hugepages kernel parameter " + key, TRACE_DETAIL);
    const std::string probe = "cat /proc/filesystems | grep  hugetlbfs";
    if (FixupUtil::runCommand(&probe, result.get(), false) != 0 || !result->isSuccessFul()) {
        Trace::trace(source, "The kernel does not support the hugetlbfs file system", TRACE_DETAIL);
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9067, 1, node().c_str()));
        result->setStatus(WARNING);
        return result.release();
    }
    std::unique_ptr<Result> step(setRunningValueStep(key, value));
    if (!step->isSuccessFul()) return step.release();
    return updateEntryInSysctlConfFile(&key, &key, &value, &value, m_sysctlConfFile);
}

Result* sTaskSystemSettings::fixTaskRPFilters(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskRPFilters";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kRPFiltersUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    std::vector<KernelStep> steps;
    if (!parseKernelSteps(output, " ", *m_sysctlConfFile, steps)) {
        return refuseOutput(source, result.release(), output, kRPFiltersUnavailable);
    }
    if (!acceptKernelSteps(source, steps, result.get())) return result.release();
    // Loose filtering: traffic of the private interconnect may come back by
    // another route.
    const std::string loose = "2";
    applyKernelSteps(
        source, "rp_filter parameter ", steps, loose,
        [this, &loose](const std::string& key) { return setRunningValueStep(key, loose); },
        result.get());
    return result.release();
}

Result* sTaskSystemSettings::fixTaskARPParamSettings(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskARPParamSettings";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kARPUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = FixupUtil::splitStringBySpaces(output, false);
    if (parts.size() != 2 || !isDecimalNumber(parts[1])) {
        return refuseOutput(source, result.release(), output, kARPUnavailable);
    }
    const std::string& value = parts[1];
    std::vector<KernelStep> steps;
    if (!parseKernelSteps(parts[0], ":", *m_sysctlConfFile, steps)) {
        return refuseOutput(source, result.release(), output, kARPUnavailable);
    }
    if (!acceptKernelSteps(source, steps, result.get())) return result.release();
    applyKernelSteps(
        source, "parameter ", steps, value,
        [this, &value](const std::string& key) { return setRunningValueStep(key, value); },
        result.get());
    return result.release();
}

Result* sTaskSystemSettings::fixCurrentClocksource(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixCurrentClocksource";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kClockSourceUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = FixupUtil::splitStringBySpaces(output, false);
    // The kernel's control file is the only file this task may write, and a
    // clock source is a kernel name such as tsc, hpet, acpi_pm or kvm-clock.
    if (parts.size() != 2 || !isAbsolutePath(parts[0]) || !endsWith(parts[0], kClockSourceFile) ||
        !madeOf(parts[1], "_.-")) {
        return refuseOutput(source, result.release(), output, kClockSourceUnavailable);
    }
    const std::string& file = parts[0];
    const std::string& clockSource = parts[1];
    // echo takes a leading "-" as its option.
    if (!FixupUtil::acceptArgumentWords(source, {&clockSource}, result.get())) {
        return result.release();
    }
    Trace::trace(source, "Updating the current clock source to " + clockSource, TRACE_DETAIL);
    const std::string name = "\"" + shellQuoteInDoubleQuotes(clockSource) + "\"";
    const std::string redirect = ">";
    const std::string target = shellQuote(file);
    const std::vector<const std::string*> args = {&name, &redirect, &target};
    const std::string command = FixupUtil::commandText(*m_echoCmd, args);
    // The redirection would create a missing file; the control file must be
    // the kernel's own.
    const bool present = FixupUtil::checkFileExistence(&file);
    if (present && FixupUtil::runExeSucceeded(m_echoCmd, args, result.get())) {
        Trace::trace(source, "Successfully updated the current clock source", TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return result.release();
    }
    Trace::trace(source, "Failed to update the current clock source", TRACE_DETAIL);
    const std::string nativeErrors =
        present ? result->nativeErrorText() : file + ": " + errorNumberToString(ENOENT);
    result->addError(new NLSError(NLS_FACILITY_VXLH, true, 1001, 3, command.c_str(), node().c_str(),
                                  nativeErrors.c_str()));
    result->setStatus(FAILED);
    return result.release();
}

Result* sTaskSystemSettings::fixVMMinFreeKBytes(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixVMMinFreeKBytes";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kMinFreeUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = FixupUtil::splitStringBySpaces(output, false);
    if (parts.empty() || parts.size() > 2 || !isDecimalNumber(parts[0]) ||
        (parts.size() == 2 && !isAbsolutePath(parts[1]))) {
        return refuseOutput(source, result.release(), output, kMinFreeUnavailable);
    }
    const std::string& value = parts[0];
    Trace::trace(source, "Updating current value " + value, TRACE_DETAIL);
    const std::string* file = parts.size() == 2 ? &parts[1] : nullptr;
    if (file != nullptr) {
        Trace::trace(source, "Updating the configured value " + value + " in the file " + *file,
                     TRACE_DETAIL);
    }
    return fixKernelParam(&kMinFreeKBytes, &value, file ? &value : nullptr, file);
}

Result* sTaskSystemSettings::fixLogindIPCSettings(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixLogindIPCSettings";
    TraceScope scope(source);
    std::string output;
    std::unique_ptr<Result> result(runFixupScript(source, data, kLogindUnavailable, output));
    if (!result->isSuccessFul()) return result.release();
    const std::vector<std::string> parts = splitTrimmed(output, ",");
    if (parts.size() != 2 || parts[0].empty() || !isAbsolutePath(parts[1])) {
        return refuseOutput(source, result.release(), output, kLogindUnavailable);
    }
    const std::string& key = parts[0];
    const std::string& file = parts[1];
    if (!isIdentifier(key)) {
        return refuseValue(source, result.release(), "Refusing the logind key (" + key + ")");
    }
    Trace::trace(source, "Fixing parameter " + key + " inside config file " + file, TRACE_DETAIL);
    if (key != kRemoveIPCKey) {
        Trace::trace(source, "No fix-up is defined for parameter " + key, TRACE_DETAIL);
        return result.release();
    }
    const std::string no = "no";
    return FixupUtil::updateEntryInsideConfigFile(&file, &key, &no, "=", true);
}

Result* sTaskSystemSettings::fixTaskDefaultTasksMax(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskDefaultTasksMax";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    const NameValuePair* expected = FixupUtil::searchByKeyName(data->getDataSet(), &kExpectedItem);
    if (expected == nullptr) {
        Trace::trace(source, "The expected value was not provided", TRACE_DETAIL);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }
    if (expected->value != nullptr &&
        !isTasksMaxValue(FixupUtil::trimWhiteSpaces(*expected->value))) {
        return refuseValue(source, result.release(),
                           "Refusing the DefaultTasksMax value (" + *expected->value +
                               "): neither a number, a percentage nor infinity");
    }
    result.reset(FixupUtil::updateEntryInsideConfigFile(&kSystemConf, &kDefaultTasksMaxKey,
                                                        expected->value, "=", true));
    if (!result->isSuccessFul()) return result.release();
    Trace::trace(source, "Reloading the daemon to enable the new setting", TRACE_DETAIL);
    const std::string reload = "daemon-reload";
    if (FixupUtil::runExeSucceeded(m_systemctlCmd, {&reload}, result.get())) {
        Trace::trace(source, "Successfully reloaded the daemon", TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
        return result.release();
    }
    Trace::trace(source, "Failed to reload the daemon", TRACE_DETAIL);
    const std::string command = FixupUtil::commandText(*m_systemctlCmd, {&reload});
    result->addError(new NLSError(NLS_FACILITY_VXLF, true, 5718, 3, command.c_str(), node().c_str(),
                                  result->nativeErrorText().c_str()));
    result->setStatus(FAILED);
    return result.release();
}

}  // namespace vxl_fixup
