// Kernel parameters: read the running value with sysctl, raise it when it
// falls short of the expected value, then make the sysctl configuration file
// agree with the expected configured value.
#include <memory>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/NLSError.h"
#include "model/NumberParsing.h"
#include "model/Result.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "util/FixupUtil.h"
#include "util/ShellQuote.h"

namespace vxl_fixup {

namespace {

enum class Rule { NONE, AT_LEAST_WHOLE, EXACT_FIELDS_1_2, AT_LEAST_FIELD };

struct KernelParameter {
    const char* shortName;
    const char* key;  // null: compared but never read or set through the table
    Rule rule;
    int field;  // 1-based field of kernel.sem, 0 for the whole value
};

const KernelParameter kParameters[] = {
    {"file-max", "fs.file-max", Rule::AT_LEAST_WHOLE, 0},
    {"shmmni", "kernel.shmmni", Rule::AT_LEAST_WHOLE, 0},
    {"shmmax", "kernel.shmmax", Rule::AT_LEAST_WHOLE, 0},
    {"shmall", "kernel.shmall", Rule::AT_LEAST_WHOLE, 0},
    {"rmem_default", "net.core.rmem_default", Rule::AT_LEAST_WHOLE, 0},
    {"rmem_max", "net.core.rmem_max", Rule::AT_LEAST_WHOLE, 0},
    {"wmem_default", "net.core.wmem_default", Rule::AT_LEAST_WHOLE, 0},
    {"wmem_max", "net.core.wmem_max", Rule::AT_LEAST_WHOLE, 0},
    {"aio-max-nr", "fs.aio-max-nr", Rule::AT_LEAST_WHOLE, 0},
    {"swappiness", "vm.swappiness", Rule::AT_LEAST_WHOLE, 0},
    {"ip_local_port_range", "net.ipv4.ip_local_port_range", Rule::EXACT_FIELDS_1_2, 0},
    {"semmsl", "kernel.sem", Rule::AT_LEAST_FIELD, 1},
    {"semmns", "kernel.sem", Rule::AT_LEAST_FIELD, 2},
    {"semopm", "kernel.sem", Rule::AT_LEAST_FIELD, 3},
    {"semmni", "kernel.sem", Rule::AT_LEAST_FIELD, 4},
    {"panic_on_oops", "kernel.panic_on_oops", Rule::AT_LEAST_WHOLE, 0},
    {"kernel.panic", "kernel.panic", Rule::AT_LEAST_WHOLE, 0},
    {"vm.min_free_kbytes", "vm.min_free_kbytes", Rule::AT_LEAST_WHOLE, 0},
    {"vm.nr_hugepages", nullptr, Rule::AT_LEAST_WHOLE, 0},
};

const KernelParameter* findParameter(const std::string& name) {
    for (const KernelParameter& p : kParameters) {
        if (name == p.shortName) return &p;
    }
    return nullptr;
}

const std::string kSysctlConf = "/etc/sysctl.conf";
const std::string kSemKey = "kernel.sem";

bool isBlank(const std::string& text) { return FixupUtil::trimWhiteSpaces(text).empty(); }

NLSError* kernelError(int number) { return new NLSError(NLS_FACILITY_VXLG, true, number); }

NLSError* kernelError(int number, const std::string& a, const std::string& b,
                      const std::string& c) {
    return new NLSError(NLS_FACILITY_VXLG, true, number, 3, a.c_str(), b.c_str(), c.c_str());
}

// The text inside FORM( ... ): up to the first ")" after it, or to the end.
bool cutForm(const std::string& text, const std::string& form, std::string& inner) {
    const size_t open = text.find(form);
    if (open == std::string::npos) return false;
    const size_t start = open + form.size();
    const size_t close = text.find(')', start);
    inner = text.substr(start, close == std::string::npos ? std::string::npos : close - start);
    return true;
}

}  // namespace

const std::string* sTaskSystemSettings::sysctlKeyOf(const std::string& shortName) {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> v;
        for (const KernelParameter& p : kParameters) v.emplace_back(p.key ? p.key : "");
        return v;
    }();
    for (size_t i = 0; i < sizeof kParameters / sizeof kParameters[0]; ++i) {
        if (kParameters[i].key != nullptr && shortName == kParameters[i].shortName) {
            return &keys[i];
        }
    }
    return nullptr;
}

Result* sTaskSystemSettings::fixTaskKernelParam(FixupData* data) {
    static const std::string source = "sTaskSystemSettings::fixTaskKernelParam";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    std::unique_ptr<std::string> name;
    std::unique_ptr<std::string> path;
    for (const NameValuePair* item : data->getDataSet()) {
        if (*item->name == "NAME") {
            name.reset(new std::string(*item->value));
            Trace::trace(source, "param name is " + *name, TRACE_DETAIL);
        } else if (*item->name == "PATH") {
            path.reset(new std::string(*item->value));
            Trace::trace(source, "sysctl conf file is " + *path, TRACE_DETAIL);
        }
    }
    const std::string* actual = data->getActualValue();
    const std::string* expected = data->getExpectedValue();
    Trace::trace(source, "actual value is " + (actual ? *actual : std::string()), TRACE_DETAIL);
    Trace::trace(source, "expected value is " + (expected ? *expected : std::string()),
                 TRACE_DETAIL);
    if (!name || expected == nullptr) {
        Trace::trace(source, "Either parameter name or expected value was incorrect or null",
                     TRACE_DETAIL);
        FixupUtil::refuseInput(result.get());
        return result.release();
    }
    // The configured value ends up on a line of sysctl.conf.
    if (!FixupUtil::acceptSingleLineValue(source, expected, result.get())) {
        return result.release();
    }
    std::unique_ptr<std::string> currExpected;
    std::unique_ptr<std::string> confExpected;
    std::string inner;
    if (!expected->empty() && cutForm(*expected, "CURR(", inner)) {
        currExpected.reset(new std::string(inner));
        Trace::trace(source, "Expected current value is " + inner, TRACE_DETAIL);
    }
    if (!expected->empty() && cutForm(*expected, "CONF(", inner)) {
        confExpected.reset(new std::string(inner));
        Trace::trace(source, "Expected configured value is " + inner, TRACE_DETAIL);
    }
    Trace::trace(source, "Fixing the kernel parameter " + *name, TRACE_DETAIL);
    const std::string* confPath = path ? path.get() : m_sysctlConfFile;
    return fixKernelParam(name.get(), currExpected.get(), confExpected.get(), confPath);
}

Result* sTaskSystemSettings::fixKernelParam(const std::string* name,
                                            const std::string* currExpected,
                                            const std::string* confExpected,
                                            const std::string* confPath) {
    static const std::string source = "sTaskSystemSettings::fixKernelParam";
    TraceScope scope(source);
    std::unique_ptr<Result> result(new Result());
    if (name == nullptr || name->empty() || currExpected == nullptr || currExpected->empty()) {
        Trace::trace(source, "Either parameter name or expected value was incorrect or null",
                     TRACE_DETAIL);
        result->addError(kernelError(9046));
        result->setStatus(FAILED);
        return result.release();
    }
    // The name is trimmed once; the trimmed name selects both key and rule.
    const std::string shortName = FixupUtil::trimWhiteSpaces(*name);
    const std::string* key = sysctlKeyOf(shortName);
    if (key == nullptr) {
        Trace::trace(source, "Either parameter name was incorrect or null", TRACE_DETAIL);
        result->addError(kernelError(9046));
        result->setStatus(FAILED);
        return result.release();
    }
    // The configuration file, from the document or a script, is named by its
    // absolute path; checked before sysctl runs.
    if (!FixupUtil::acceptAbsolutePath(source, confPath, result.get())) return result.release();
    const std::string& node = Constants::localNodeNameOrEmpty();
    if (!getCurrentKernelParamValue(*key, result.get())) {
        Trace::trace(source, "Failed to read the current value of param '" + shortName + "'",
                     TRACE_DETAIL);
        result->addError(kernelError(9027, *key, *m_sysctlCmd, node));
        result->setStatus(FAILED);
        return result.release();
    }
    const std::string running = result->getOutput() ? *result->getOutput() : std::string();
    Trace::trace(source,
                 "Successfully read the current value of param '" + *key + "' as (" + running + ")",
                 TRACE_DETAIL);
    std::string corrected;
    if (compareAndCorrectValues(&shortName, &running, currExpected, corrected)) {
        Trace::trace(source,
                     "No fix-up required, Current value '" + running +
                         "' is greater than or equal to expected value " + *currExpected,
                     TRACE_DETAIL);
        result->setStatus(SUCCESSFUL);
    } else {
        Trace::trace(source,
                     "Need to update the current value of kernel parameter '" + *key + "' to (" +
                         corrected + ")",
                     TRACE_DETAIL);
        if (!setCurrentKernelParamValue(*key, corrected, result.get())) {
            Trace::trace(source,
                         "Failed to update the current values of kernel parameter '" + *key + "'",
                         TRACE_DETAIL);
            result->addError(kernelError(9026, *key, *m_sysctlCmd, node));
            result->setStatus(FAILED);
            return result.release();
        }
    }
    if (!result->isSuccessFul()) return result.release();
    if (confExpected == nullptr || confExpected->empty()) {
        Trace::trace(source,
                     "Configured Value fix-up NOT requested for the param '" + shortName + "'",
                     TRACE_DETAIL);
        return result.release();
    }
    Trace::trace(source, "Attempting to fix the configured value of param '" + shortName + "'",
                 TRACE_DETAIL);
    result.reset();
    return updateEntryInSysctlConfFile(&shortName, key, &running, confExpected,
                                       confPath ? confPath : m_sysctlConfFile);
}

bool sTaskSystemSettings::getCurrentKernelParamValue(const std::string& key, Result* result) {
    TraceScope scope("sTaskSystemSettings::getCurrentKernelParamValue");
    const std::string option = "-n";
    const std::string quotedKey = shellQuote(key);
    return FixupUtil::runExeSucceeded(m_sysctlCmd, {&option, &quotedKey}, result);
}

bool sTaskSystemSettings::setCurrentKernelParamValue(const std::string& key,
                                                     const std::string& value, Result* result) {
    TraceScope scope("sTaskSystemSettings::setCurrentKernelParamValue");
    const std::string option = "-w";
    // The double quotes keep a multi-field value together through the shell.
    const std::string assignment = shellQuote(key) + "=\"" + shellQuoteInDoubleQuotes(value) + "\"";
    return FixupUtil::runExeSucceeded(m_sysctlCmd, {&option, &assignment}, result);
}

std::string sTaskSystemSettings::correctNumericValue(const std::string& value,
                                                     const std::string& expected, bool exact) {
    static const std::string source = "sTaskSystemSettings::correctNumericValue";
    TraceScope scope(source);
    Trace::trace(source, "\ncurrentVal=" + value + "\nrequiredVal=" + expected, TRACE_DETAIL);
    if (value.empty()) return expected;
    Trace::trace(source,
                 exact ? "The current value is required to be exact equal of expected value"
                       : "The current value is required to be either equal to or greater than "
                         "that of expected value",
                 TRACE_DETAIL);
    // Compared as wide integers: kernel values reach 18446744073692774399.
    std::string corrected = expected;
    WideInteger required, current;
    const std::string trimmed = FixupUtil::trimWhiteSpaces(value);
    const std::string* unparsable = nullptr;
    if (!parseWideInteger(expected, required)) {
        unparsable = &expected;
    } else if (!parseWideInteger(trimmed, current)) {
        unparsable = &trimmed;
    }
    if (unparsable != nullptr) {
        Trace::trace("parseStringToLong()", "Failed to parse input string " + *unparsable +
                                                " as long integer. Throwing an exception");
        Trace::trace(source,
                     "caught FixupException error is {Failed to parse string '" + *unparsable +
                         "' to long integer.}",
                     TRACE_DETAIL);
    } else {
        const int order = compareWideIntegers(required, current);
        if (exact ? order == 0 : order <= 0) corrected = value;
    }
    Trace::trace(source, "Returning corrected value as (" + corrected + ")", TRACE_DETAIL);
    return corrected;
}

bool sTaskSystemSettings::compareAndCorrectValues(const std::string* name, const std::string* value,
                                                  const std::string* expected,
                                                  std::string& corrected) {
    static const std::string source = "sTaskSystemSettings::compareAndCorrectValues";
    TraceScope scope(source);
    const std::string paramName = name ? *name : std::string();
    const std::string given = value ? *value : std::string();
    const std::string wanted = expected ? *expected : std::string();
    Trace::trace(source, "paramName (" + paramName + ")", TRACE_DETAIL);
    Trace::trace(source, "currentValue (" + given + ")", TRACE_DETAIL);
    Trace::trace(source, "expectedValue (" + wanted + ")", TRACE_DETAIL);
    const KernelParameter* parameter = findParameter(paramName);
    if (parameter == nullptr) return false;

    auto cannotCorrect = [&]() {
        Trace::trace(source, "Could not correct the value (" + given + ")", TRACE_DETAIL);
        corrected = given;
        return false;
    };

    if (parameter->rule == Rule::AT_LEAST_WHOLE) {
        const std::string current = isBlank(given) ? "0" : given;
        corrected = correctNumericValue(current, wanted, false);
        if (corrected == current) return true;
        Trace::trace(source, "After Correcting the value became (" + corrected + ")", TRACE_DETAIL);
        return false;
    }

    const std::vector<std::string> valueFields = FixupUtil::splitStringBySpaces(given, false);
    const std::vector<std::string> expectedFields = FixupUtil::splitStringBySpaces(wanted, false);

    if (parameter->rule == Rule::EXACT_FIELDS_1_2) {
        if (expectedFields.size() < 2) return cannotCorrect();
        if (valueFields.size() >= 2 &&
            correctNumericValue(valueFields[0], expectedFields[0], true) == valueFields[0] &&
            correctNumericValue(valueFields[1], expectedFields[1], true) == valueFields[1]) {
            return true;
        }
        corrected = valueFields.size() < 2 ? "0   0" : given;
        const std::vector<std::string> fields = FixupUtil::splitStringBySpaces(corrected, false);
        Trace::trace(source, "Before Correction the value is (" + corrected + ")", TRACE_DETAIL);
        // Fields are located by a character-set search, as the values are
        // written by the kernel: digits separated by blanks or tabs.
        const size_t first = corrected.find_first_of(fields[0]);
        if (fields.size() < 2 || fields[0].empty() || first == std::string::npos) {
            return cannotCorrect();
        }
        if (correctNumericValue(fields[0], expectedFields[0], true) != fields[0]) {
            corrected.replace(first, fields[0].size(), expectedFields[0]);
        }
        Trace::trace(source, "After first Correction the value became (" + corrected + ")",
                     TRACE_DETAIL);
        const size_t second = corrected.find_first_of(fields[1], first + expectedFields[0].size());
        if (fields[1].empty() || second == std::string::npos) return cannotCorrect();
        if (correctNumericValue(fields[1], expectedFields[1], true) != fields[1]) {
            corrected.replace(second, fields[1].size(), expectedFields[1]);
        }
        Trace::trace(source, "After second Correction the value became (" + corrected + ")",
                     TRACE_DETAIL);
        return false;
    }

    // One field of kernel.sem.
    const size_t wantedField = static_cast<size_t>(parameter->field);
    if (valueFields.size() < wantedField || expectedFields.empty() ||
        valueFields[wantedField - 1].empty()) {
        return cannotCorrect();
    }
    const std::string& field = valueFields[wantedField - 1];
    if (correctNumericValue(field, expectedFields[0], false) == field) return true;
    corrected = given;
    size_t searchFrom = 0;
    size_t position = std::string::npos;
    for (size_t k = 0; k < wantedField; ++k) {
        position = corrected.find_first_of(valueFields[k], searchFrom);
        if (valueFields[k].empty() || position == std::string::npos) return cannotCorrect();
        searchFrom = position + valueFields[k].size();
    }
    corrected.replace(position, field.size(), expectedFields[0]);
    Trace::trace(source, "After Correcting the value became (" + corrected + ")", TRACE_DETAIL);
    return false;
}

Result* sTaskSystemSettings::updateEntryInSysctlConfFile(const std::string* name,
                                                         const std::string* key,
                                                         const std::string* runningValue,
                                                         const std::string* confExpected,
                                                         const std::string* confPath) {
    static const std::string source = "sTaskSystemSettings::updateEntryInSysctlConfFile";
    TraceScope scope(source);
    Result* result = new Result();
    const std::string path = confPath ? *confPath : kSysctlConf;
    const std::string theKey = key ? *key : std::string();
    const std::string running = runningValue ? *runningValue : std::string();
    std::vector<std::string> lines;
    // Without a key nothing could match and a keyless record would be added.
    if (theKey.empty()) {
        result->addError(new NLSError(NLS_FACILITY_VXLG, true, 9030, 2, path.c_str(),
                                      Constants::localNodeNameOrEmpty().c_str()));
        result->updateStatus(FAILED);
        return result;
    }
    if (!FixupUtil::readConfigFile(source, path, lines, result)) return result;
    bool matched = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string& line = lines[i];
        Trace::trace(source, "Checking line starting with pattern '" + theKey + "' at line=" + line,
                     TRACE_DETAIL);
        // The key must stand at the very first character and end there.
        if (!FixupUtil::lineStartsWithKey(line, theKey, "=")) continue;
        matched = true;
        const std::string index = integerToString(static_cast<int>(i));
        Trace::trace(source, "Found exact matching line at number: " + index, TRACE_DETAIL);
        const std::vector<std::string> parts = FixupUtil::splitStringByDelim(line, "=");
        std::string value;
        bool hasValue = false;
        if (parts.size() >= 2) {
            value = parts[1];
            hasValue = true;
            Trace::trace(source, "Value in config file is (" + value + ")", TRACE_DETAIL);
        }
        if (theKey == kSemKey &&
            (!hasValue || FixupUtil::splitStringBySpaces(value, false).size() < 4)) {
            value = running;
        }
        if (isBlank(value)) value = "0";
        std::string corrected;
        if (compareAndCorrectValues(name, &value, confExpected, corrected)) {
            Trace::trace(source,
                         "No fix-up required, Current value '" + value +
                             "' is already greater than or equal to the expected value " +
                             (confExpected ? *confExpected : std::string()),
                         TRACE_DETAIL);
        } else {
            Trace::trace(source, "Updating matching record at line (" + index + "): " + line,
                         TRACE_DETAIL);
            line = theKey + " = " + FixupUtil::trimWhiteSpaces(corrected);
            Trace::trace(
                source,
                "After Updating '" + theKey + "' value in " + path + " at line became: " + line,
                TRACE_DETAIL);
        }
        result->updateStatus(SUCCESSFUL);
    }
    if (!matched) {
        std::string value = (theKey == kSemKey && !isBlank(running)) ? running : "0";
        std::string corrected;
        if (compareAndCorrectValues(name, &value, confExpected, corrected)) corrected = value;
        Trace::trace(source,
                     "No existing record found for '" + theKey + "' inside '" + path + "' file ",
                     TRACE_DETAIL);
        const std::string record = theKey + " = " + FixupUtil::trimWhiteSpaces(corrected);
        Trace::trace(
            source,
            "Entering new record for '" + theKey + "' inside '" + path + "' file as " + record,
            TRACE_DETAIL);
        lines.push_back("# Recommended value for " + theKey);
        lines.push_back(record);
        result->updateStatus(SUCCESSFUL);
    }
    FixupUtil::writeConfigFile(source, path, lines, result);
    return result;
}

}  // namespace vxl_fixup
