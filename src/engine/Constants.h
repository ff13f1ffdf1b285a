// Run-wide values that an entry point records at the start of a run, and the
// paths composed from them. Process-wide; the entry points serialise runs.
#pragma once

#include <string>

namespace vxl_fixup {

class Constants {
public:
    // Each setter stores a copy; the getters return the stored value (null when
    // never set), which stays owned here and is valid until the next set.
    static void setWorkDirPath(const std::string& path);
    static void setTraceDirPath(const std::string& path);
    static void setFixupDataFilePath(const std::string& path);
    static void setLocalNodeName(const std::string& name);
    static std::string* getWorkDirPath();
    static std::string* getTraceDirPath();
    static std::string* getFixupDataFilePath();
    static std::string* getLocalNodeName();

    // Work directory + "fixup/vexelfixupoutput_" + node + ".xml"; a new string
    // the caller owns. Unset constants count as empty texts.
    static std::string* getfixupOutputFilePath();

    // The local node name, or an empty text before any run recorded one; for
    // message arguments, which must never be null.
    static const std::string& localNodeNameOrEmpty();

    // Clears the trace directory so a run that does not give one falls back to
    // the work directory.
    static void clearTraceDirPath();

    static std::string* WORK_DIR_PATH;
    static std::string* TRACE_DIR_PATH;
    static std::string* FIXUP_DATA_FILE_PATH;
    static std::string* LOCAL_NODE_NAME;
    // Decimal process id; "1234" until the scratch pad is first initialised.
    static std::string* CURRENT_PROCESS_ID;
    // Pad paths, owned by the command runner: null outside a run.
    static std::string* FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH;
    static std::string* FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH;
    static std::string* FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH;
};

}  // namespace vxl_fixup
