#include "engine/Constants.h"

#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"

namespace vxl_fixup {

std::string* Constants::WORK_DIR_PATH = nullptr;
std::string* Constants::TRACE_DIR_PATH = nullptr;
std::string* Constants::FIXUP_DATA_FILE_PATH = nullptr;
std::string* Constants::LOCAL_NODE_NAME = nullptr;
std::string* Constants::CURRENT_PROCESS_ID = new std::string("1234");
std::string* Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH = nullptr;
std::string* Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH = nullptr;
std::string* Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH = nullptr;

namespace {
// Releases the run constants when the library is unloaded (or the process
// ends), so a host that loads and unloads the library leaks nothing.
struct ReleaseAtUnload {
    ~ReleaseAtUnload() {
        for (std::string** slot :
             {&Constants::WORK_DIR_PATH, &Constants::TRACE_DIR_PATH,
              &Constants::FIXUP_DATA_FILE_PATH, &Constants::LOCAL_NODE_NAME,
              &Constants::CURRENT_PROCESS_ID, &Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH,
              &Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH,
              &Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH}) {
            delete *slot;
            *slot = nullptr;
        }
    }
} releaseAtUnload;

// Replaces the old value so a host running thousands of runs does not grow.
void store(std::string*& slot, const std::string& value) {
    std::string* copy = new std::string(value);
    delete slot;
    slot = copy;
}
const std::string& orEmpty(const std::string* s) {
    static const std::string empty;
    return s ? *s : empty;
}
}  // namespace

void Constants::setWorkDirPath(const std::string& path) { store(WORK_DIR_PATH, path); }
void Constants::setTraceDirPath(const std::string& path) { store(TRACE_DIR_PATH, path); }
void Constants::setFixupDataFilePath(const std::string& path) {
    store(FIXUP_DATA_FILE_PATH, path);
}
void Constants::setLocalNodeName(const std::string& name) { store(LOCAL_NODE_NAME, name); }
void Constants::clearTraceDirPath() {
    delete TRACE_DIR_PATH;
    TRACE_DIR_PATH = nullptr;
}

std::string* Constants::getWorkDirPath() { return WORK_DIR_PATH; }
std::string* Constants::getTraceDirPath() { return TRACE_DIR_PATH; }
std::string* Constants::getFixupDataFilePath() { return FIXUP_DATA_FILE_PATH; }
std::string* Constants::getLocalNodeName() { return LOCAL_NODE_NAME; }

const std::string& Constants::localNodeNameOrEmpty() { return orEmpty(LOCAL_NODE_NAME); }

std::string* Constants::getfixupOutputFilePath() {
    return new std::string(orEmpty(WORK_DIR_PATH) + FIXUP_DIR_NAME + getFilePathSeparator() +
                           FIXUP_DATA_OUT_FILE_PREFIX + "_" + orEmpty(LOCAL_NODE_NAME) +
                           FIXUP_DATA_FILE_EXTN);
}

}  // namespace vxl_fixup
