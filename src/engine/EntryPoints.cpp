// The exported host interface. Every entry point takes the process-wide run
// lock, catches everything (nothing may unwind into the host) and releases
// what the run created, on the failure path too, so that a later run in the
// same process starts clean.
#include "engine/EntryPoints.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
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
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "vxlfixup/vxlfixup.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

std::mutex& runLock() {
    static std::mutex lock;
    return lock;
}

char* copyForHost(const std::string& text) {
    char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
    if (buffer == nullptr) return nullptr;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return buffer;
}

std::string shortLowerNodeName(const char* name) {
    std::string text(name);
    const size_t dot = text.find('.');
    if (dot != std::string::npos) text.erase(dot);
    return lowerCaseCopy(text);
}

std::string runDirectoryRefusal() {
    int e = 0;
    for (const std::string* dir : {Constants::getWorkDirPath(), Constants::getTraceDirPath()}) {
        if (dir == nullptr || dir->empty()) continue;
        const std::string why = foreignLinkReason(*dir, e);
        if (!why.empty()) {
            return std::string(dir == Constants::getWorkDirPath() ? "Refused to use the work "
                                                                    : "Refused to use the trace ") +
                   "directory (" + *dir + "): " + why + ".";
        }
    }
    return std::string();
}

std::string traceFileRefusal() {
    int e = 0;
    const std::string directories = runDirectoryRefusal();
    if (!directories.empty()) return directories;
    const std::string trace = Trace::getTraceFileName();
    const std::string why = unsafePathReason(trace, false, e);
    return why.empty() ? why : "Refused to use the trace file (" + trace + "): " + why + ".";
}

namespace {

// The work and trace directories may belong to other users: a run whose
// trace file or output directory has been replaced by a link or anything
// else ends before it writes or changes anything.
void refuseUnsafeRunFiles() {
    std::string refusal = traceFileRefusal();
    if (refusal.empty()) {
        const std::unique_ptr<std::string> output(Constants::getfixupOutputFilePath());
        const std::string directory = output->substr(0, output->rfind('/'));
        int e = 0;
        const std::string why = unsafePathReason(directory, true, e);
        if (!why.empty()) {
            refusal = "Refused to use the output directory (" + directory + "): " + why + ".";
        }
    }
    if (!refusal.empty()) throw FixupException(refusal);
}

// Releases what a run may have left behind; each step is guarded so that a
// failing clean-up cannot hide the run's own outcome.
void releaseRun(bool withHandler) {
    // An output document the run made but never saved would pass for one.
    XmlParser::abandonOutputFile();
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

// How one entry point words and handles the failures it reports.
struct FailureTexts {
    std::string source;     // trace source of the entry point
    bool tracedAlways;      // failure line written at any trace level
    bool withHandler;       // the run went through NativeHandler
    std::string xmlParser;  // prefix of an XmlParserException's text
    std::string fixup;      // prefix of a FixupException's text
    std::string other;      // anything else
};

const FailureTexts kRunFixup{"Main::vxlRunFixup",
                             false,
                             true,
                             "caught XmlParserException error is {",
                             "caught FixupException error is {",
                             "caught an Exception fixup operations failed."};
const FailureTexts kRunAutoFixup{"Main::vxlRunAutoFixup",
                                 true,
                                 false,
                                 "caught XmlParserException. error is {",
                                 "caught FixupException. error is {",
                                 "caught an Exception. Fixup operations failed."};

// Runs a run's body; what it throws becomes the failure text (empty: none).
std::string runProtected(const std::function<void()>& body, const FailureTexts& texts) {
    try {
        body();
    } catch (const XmlParserException& e) {
        return texts.xmlParser + e.what() + "}";
    } catch (const FixupException& e) {
        return texts.fixup + e.what() + "}";
    } catch (FixupException* e) {
        delete e;
        return texts.other;
    } catch (...) {
        return texts.other;
    }
    return std::string();
}

// Ends a run: a failure is traced and what the run left behind released;
// then the trace closes, the run's records go and the failure text reaches
// the host. Returns 1 on failure, else result.
int endRun(vxlfixup* record, const FailureTexts& texts, const std::string& failure, int result) {
    if (!failure.empty()) {
        try {
            if (texts.tracedAlways) {
                Trace::trace(texts.source, failure);
            } else {
                Trace::trace(texts.source, failure, TRACE_DETAIL);
            }
        } catch (...) {
        }
        releaseRun(texts.withHandler);
        result = 1;
    }
    Trace::close();
    RunObjects::releaseAll();
    if (!failure.empty()) {
        char* copy = copyForHost(failure);
        if (copy != nullptr) record->errorMessage = copy;
    }
    return result;
}

// Reports a record whose required inputs are null; nothing is recorded or
// traced, as there is no directory to trace into.
int refuseRun(vxlfixup* record, const FailureTexts& texts, const std::string& function) {
    char* copy = copyForHost(texts.fixup + function +
                             "() - a required input of the fix-up record is null}");
    if (copy != nullptr) record->errorMessage = copy;
    return 1;
}

}  // namespace
}  // namespace vxl_fixup

using namespace vxl_fixup;

extern "C" VXL_EXPORT int vxlRunFixup(vxlfixup* record) {
    const std::string& source = kRunFixup.source;
    if (record == nullptr) return 1;
    std::lock_guard<std::mutex> guard(runLock());
    if (record->workDir == nullptr || record->dataFile == nullptr || record->nodeName == nullptr) {
        return refuseRun(record, kRunFixup, "vxlRunFixup");
    }
    const std::string failure = runProtected(
        [record, &source] {
            Constants::setLocalNodeName(shortLowerNodeName(record->nodeName));
            Constants::setFixupDataFilePath(record->dataFile);
            Constants::setWorkDirPath(record->workDir);
            Trace::setTraceLevel(record->traceLevel);
            refuseUnsafeRunFiles();
            Trace::trace(source,
                         "BEGIN - Performing fix-up operations with following input "
                         "information \n node :" +
                             *Constants::getLocalNodeName() + " \n Work Directory :" +
                             *Constants::getWorkDirPath() + "\n input data file path :" +
                             *Constants::getFixupDataFilePath() + " \n TRACE_LEVEL :" +
                             integerToString(record->traceLevel),
                         TRACE_DETAIL);
            FixupUtil::initScratchPad();
            NativeHandler::getInstance()->performFixup();
            std::unique_ptr<std::string> outputPath(Constants::getfixupOutputFilePath());
            Trace::trace(source, "Fix-up outputFile path is :" + *outputPath, TRACE_DETAIL);
            char* copy = copyForHost(*outputPath);
            if (copy == nullptr) throw FixupException("vxlRunFixup() - out of memory");
            record->outputFile = copy;
            Trace::trace(source, std::string("Fix-up outputFile path is :") + copy,
                         TRACE_DETAIL);
            NativeHandler::dispose();
            FixupUtil::disposeScratchPad();
        },
        kRunFixup);
    return endRun(record, kRunFixup, failure, 0);
}

VXL_EXPORT int vxlRunAutoFixup(vxlfixup* record, const std::string* documentText) {
    const std::string& source = kRunAutoFixup.source;
    static const std::string taskSource = "Main::vxlRunAutomFixup";
    if (record == nullptr) return 1;
    std::lock_guard<std::mutex> guard(runLock());
    if (record->workDir == nullptr || record->nodeName == nullptr || documentText == nullptr) {
        return refuseRun(record, kRunAutoFixup, "vxlRunAutoFixup");
    }
    int result = 0;
    const std::string failure = runProtected(
        [record, documentText, &source, &result] {
            Constants::setLocalNodeName(record->nodeName);
            Constants::setWorkDirPath(record->workDir);
            if (record->traceDir != nullptr) {
                Constants::setTraceDirPath(record->traceDir);
            } else {
                Constants::clearTraceDirPath();
            }
            Trace::setTraceLevel(record->traceLevel);
            refuseUnsafeRunFiles();
            const std::string traceDir = record->traceDir ? record->traceDir : "";
            Trace::trace(source,
                         "BEGIN - Performing fix-up operations with following input "
                         "information \n node :" +
                             *Constants::getLocalNodeName() + " \n Work Directory :" +
                             *Constants::getWorkDirPath() + " \n Trace directory " + traceDir);
            FixupUtil::initScratchPad();
            XmlParser* parser = XmlParser::getInstance();
            parser->parseFixupData(documentText);
            FixupTaskFactory factory(parser->getFixupDataFromXml());
            const std::vector<FixupTask*> tasks = factory.getTasksList(Constants::getLocalNodeName());
            std::unique_ptr<std::string> outputPath(Constants::getfixupOutputFilePath());
            // Before any task changes the node (see NativeHandler::performFixup).
            XmlParser::createOutputFile(outputPath.get());
            for (FixupTask* task : tasks) {
                const std::string id = task->getTaskID() ? *task->getTaskID() : std::string();
                Trace::trace(taskSource, "Fixing " + id);
                const bool fixed = task->fix();
                if (!fixed) result = 1;
                Trace::trace(taskSource, "Task " + id + " fixup result " + boolToString(fixed));
            }
            parser->saveXmlToFile(outputPath.get());
            Trace::trace(source, "Fix-up outputFile path is :" + *outputPath);
            char* copy = copyForHost(*outputPath);
            if (copy == nullptr) throw FixupException("vxlRunAutoFixup() - out of memory");
            record->outputFile = copy;
            XmlParser::dispose();
            FixupUtil::disposeScratchPad();
        },
        kRunAutoFixup);
    return endRun(record, kRunAutoFixup, failure, result);
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
