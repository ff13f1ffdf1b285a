// The exported host interface. Every entry point takes the process-wide run
// lock, catches everything (nothing may unwind into the host) and releases
// what the run created, on the failure path too, so that a later run in the
// same process starts clean.
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Constants.h"
#include "engine/FixupTask.h"
#include "engine/FixupTaskFactory.h"
#include "engine/NativeHandler.h"
#include "engine/TextConversions.h"
#include "engine/Trace.h"
#include "model/FixupException.h"
#include "model/RunObjects.h"
#include "util/FixupUtil.h"
#include "vxlfixup/vxlfixup.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

std::mutex& runLock() {
    static std::mutex lock;
    return lock;
}

// A NUL-terminated copy from the library's allocator (vxlFixupMemFree frees).
char* copyForHost(const std::string& text) {
    char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return buffer;
}

// Lower-cased text before the first ".", of any length.
std::string shortLowerNodeName(const char* name) {
    std::string text(name);
    const size_t dot = text.find('.');
    if (dot != std::string::npos) text.erase(dot);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Releases what a run may have left behind; each step is guarded so that a
// failing clean-up cannot hide the run's own outcome.
void releaseRun(bool withHandler) {
    try {
        if (withHandler) {
            NativeHandler::dispose();
        } else {
            XmlParser::dispose();
        }
    } catch (...) {
    }
    try {
        // Only a scratch directory this run set up is removed.
        if (Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH != nullptr) {
            FixupUtil::disposeScratchPad();
        }
    } catch (...) {
    }
}

// Reports a record whose required inputs are null.
int refuseRun(vxlfixup* record, const std::string& prefix) {
    char* copy = copyForHost(prefix + "a required input of the fix-up record is null}");
    if (copy != nullptr) record->errorMessage = copy;
    return 1;
}

}  // namespace
}  // namespace vxl_fixup

using namespace vxl_fixup;

extern "C" VXL_EXPORT int vxlRunFixup(vxlfixup* record) {
    static const std::string source = "Main::vxlRunFixup";
    if (record == nullptr) return 1;
    std::lock_guard<std::mutex> guard(runLock());
    if (record->workDir == nullptr || record->dataFile == nullptr || record->nodeName == nullptr) {
        // Nothing is recorded or traced: there is no directory to trace into.
        return refuseRun(record, "caught FixupException error is {vxlRunFixup() - ");
    }
    int result = 0;
    std::string errorText;
    try {
        Constants::setLocalNodeName(shortLowerNodeName(record->nodeName));
        Constants::setFixupDataFilePath(record->dataFile);
        Constants::setWorkDirPath(record->workDir);
        Trace::setTraceLevel(record->traceLevel);
        Trace::trace(source,
                     "BEGIN - Performing fix-up operations with following input information \n"
                     " node :" + *Constants::getLocalNodeName() + " \n"
                     " Work Directory :" + *Constants::getWorkDirPath() + "\n"
                     " input data file path :" + *Constants::getFixupDataFilePath() + " \n"
                     " TRACE_LEVEL :" + integerToString(record->traceLevel),
                     TRACE_DETAIL);
        FixupUtil::initScratchPad();
        NativeHandler::getInstance()->performFixup();
        std::unique_ptr<std::string> outputPath(Constants::getfixupOutputFilePath());
        Trace::trace(source, "Fix-up outputFile path is :" + *outputPath, TRACE_DETAIL);
        char* copy = copyForHost(*outputPath);
        if (copy == nullptr) throw FixupException("vxlRunFixup() - out of memory");
        record->outputFile = copy;
        Trace::trace(source, std::string("Fix-up outputFile path is :") + copy, TRACE_DETAIL);
        NativeHandler::dispose();
        FixupUtil::disposeScratchPad();
    } catch (const XmlParserException& e) {
        errorText = "caught XmlParserException error is {" + e.what() + "}";
    } catch (const FixupException& e) {
        errorText = "caught FixupException error is {" + e.what() + "}";
    } catch (FixupException* e) {
        delete e;
        errorText = "caught an Exception fixup operations failed.";
    } catch (...) {
        errorText = "caught an Exception fixup operations failed.";
    }
    if (!errorText.empty()) {
        result = 1;
        try {
            Trace::trace(source, errorText, TRACE_DETAIL);
        } catch (...) {
        }
        releaseRun(true);
    }
    Trace::close();
    RunObjects::releaseAll();
    if (!errorText.empty()) {
        char* copy = copyForHost(errorText);
        if (copy != nullptr) record->errorMessage = copy;
    }
    return result;
}

VXL_EXPORT int vxlRunAutoFixup(vxlfixup* record, const std::string* documentText) {
    static const std::string source = "Main::vxlRunAutoFixup";
    static const std::string taskSource = "Main::vxlRunAutomFixup";
    if (record == nullptr) return 1;
    std::lock_guard<std::mutex> guard(runLock());
    if (record->workDir == nullptr || record->nodeName == nullptr || documentText == nullptr) {
        return refuseRun(record, "caught FixupException. error is {vxlRunAutoFixup() - ");
    }
    int result = 0;
    std::string errorText;
    try {
        Constants::setLocalNodeName(record->nodeName);
        Constants::setWorkDirPath(record->workDir);
        if (record->traceDir != nullptr) {
            Constants::setTraceDirPath(record->traceDir);
        } else {
            Constants::clearTraceDirPath();
        }
        Trace::setTraceLevel(record->traceLevel);
        const std::string traceDir = record->traceDir ? record->traceDir : "";
        Trace::trace(source,
                     "BEGIN - Performing fix-up operations with following input information \n"
                     " node :" + *Constants::getLocalNodeName() + " \n"
                     " Work Directory :" + *Constants::getWorkDirPath() + " \n"
                     " Trace directory " + traceDir);
        FixupUtil::initScratchPad();
        XmlParser* parser = XmlParser::getInstance();
        parser->parseFixupData(documentText);
        FixupTaskFactory factory(parser->getFixupDataFromXml());
        const std::vector<FixupTask*> tasks = factory.getTasksList(Constants::getLocalNodeName());
        for (FixupTask* task : tasks) {
            const std::string id = task->getTaskID() ? *task->getTaskID() : std::string();
            Trace::trace(taskSource, "Fixing " + id);
            const bool fixed = task->fix();
            if (!fixed) result = 1;
            Trace::trace(taskSource, "Task " + id + " fixup result " + boolToString(fixed));
        }
        std::unique_ptr<std::string> outputPath(Constants::getfixupOutputFilePath());
        parser->saveXmlToFile(outputPath.get());
        Trace::trace(source, "Fix-up outputFile path is :" + *outputPath);
        char* copy = copyForHost(*outputPath);
        if (copy == nullptr) throw FixupException("vxlRunAutoFixup() - out of memory");
        record->outputFile = copy;
        XmlParser::dispose();
        FixupUtil::disposeScratchPad();
    } catch (const XmlParserException& e) {
        errorText = "caught XmlParserException. error is {" + e.what() + "}";
    } catch (const FixupException& e) {
        errorText = "caught FixupException. error is {" + e.what() + "}";
    } catch (FixupException* e) {
        delete e;
        errorText = "caught an Exception. Fixup operations failed.";
    } catch (...) {
        errorText = "caught an Exception. Fixup operations failed.";
    }
    if (!errorText.empty()) {
        result = 1;
        try {
            Trace::trace(source, errorText);
        } catch (...) {
        }
        releaseRun(false);
    }
    Trace::close();
    RunObjects::releaseAll();
    if (!errorText.empty()) {
        char* copy = copyForHost(errorText);
        if (copy != nullptr) record->errorMessage = copy;
    }
    return result;
}

extern "C" VXL_EXPORT void vxlFixupMemFree(void* buffer) {
    if (buffer != nullptr) std::free(buffer);
}

static_assert(offsetof(vxlfixup, workDir) == 0, "host layout");
static_assert(offsetof(vxlfixup, dataFile) == 8, "host layout");
static_assert(offsetof(vxlfixup, nodeName) == 16, "host layout");
static_assert(offsetof(vxlfixup, outputFile) == 24, "host layout");
static_assert(offsetof(vxlfixup, errorMessage) == 32, "host layout");
static_assert(offsetof(vxlfixup, traceDir) == 40, "host layout");
static_assert(offsetof(vxlfixup, traceLevel) == 48, "host layout");
