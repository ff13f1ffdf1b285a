// The named words every part of the library shares: file-name parts, message
// facilities, XML tokens, tag and attribute names and status words. Documents
// carry exactly these texts.
#pragma once

#include <string>

namespace vxl_fixup {

// File names.
inline const std::string FIXUP_DATA_OUT_FILE_PREFIX = "vexelfixupoutput";
inline const std::string FIXUP_DATA_FILE_EXTN = ".xml";
inline const std::string FIXUP_NATIVE_TRACE_FILE_PREFIX = "vexel_fixup_trace";
inline const std::string FIXUP_NATIVE_TRACE_FILE_EXTN = ".log";
inline const std::string FIXUP_NATIVE_SCRATCH_DIR = ".fix_scratch";
inline const std::string FIXUP_NATIVE_SCRATCH_PAD = "fixup_scratch";
inline const std::string FIXUP_NATIVE_ERROR_PAD = "fixup_errpad";
inline const std::string FIXUP_NATIVE_EXEC_LOG_PREFIX = "exec_log";
inline const std::string FIXUP_DIR_NAME = "fixup";

// Message facilities.
inline const std::string NLS_FACILITY_VXLE = "Vxle";
inline const std::string NLS_FACILITY_VXLF = "Vxlf";
inline const std::string NLS_FACILITY_VXLG = "Vxlg";
inline const std::string NLS_FACILITY_VXLH = "Vxlh";

// XML text.
inline const std::string XML_BEGIN_HEADER = "<?xml version = '1.0' encoding = 'UTF-8'?>";
inline const std::string TOKEN_BEGIN = "<";
inline const std::string TOKEN_END = ">";
inline const std::string TOKEN_BEGIN_AND_END = "/>";
inline const std::string TOKEN_BEGIN_WITH_END = "</";

// Tag names (the value is what documents carry).
inline const std::string TAG_FIXUP_TREE_ROOT = "FIXUP_TREE_ROOT";
inline const std::string TAG_VEXEL_FIXUP_ROOT = "VEXEL_FIXUP_ROOT";
inline const std::string TAG_TASK_LIST = "TASK_LIST";
inline const std::string TAG_TASK = "TASK";
inline const std::string TAG_OVERALL_STATUS = "OVERALL_STATUS";
inline const std::string TAG_NODE = "NODE";
inline const std::string TAG_NODELIST = "NODE_LIST";
inline const std::string TAG_FIXUP_DATA_LIST = "FIXUP_DATA_LIST";
inline const std::string TAG_FIXUP_DATA = "FIXUP_DATA";
inline const std::string TAG_DATA_LIST = "DATA_LIST";
inline const std::string TAG_DATA = "DATA";
inline const std::string TAG_FIXUP_SCRIPTS = "FIXUP_SCRIPTS";
inline const std::string TAG_SCRIPT = "SCRIPT";
inline const std::string TAG_ARG_LIST = "ARG_LIST";
inline const std::string TAG_ARG = "ARG";
inline const std::string TAG_FIXUP_OUTPUT_DATA = "FIXUP_OUTPUT_DATA";
inline const std::string TAG_STATUS = "STATUS";
inline const std::string TAG_ERROR_DETAILS = "ERROR_DETAILS";
inline const std::string TAG_NATIVE_ERRORS = "NATIVE_ERRORS";
inline const std::string TAG_ERROR = "ERROR";
inline const std::string TAG_MESSAGE = "MESSAGE";
inline const std::string TAG_NLS_MSG_LIST = "NLS_ERRORS";
inline const std::string TAG_NLS_MSG = "NLS_MSG";
inline const std::string TAG_NLS_MSG_ARG_LIST = "MSG_ARG_LIST";
inline const std::string TAG_NLS_MSG_ARG = "MSG_ARG";

// Attribute names.
inline const std::string ATTR_NAME = "NAME";
inline const std::string ATTR_TYPE = "TYPE";
inline const std::string ATTR_ID = "ID";
inline const std::string ATTR_VAL = "VAL";
inline const std::string ATTR_PATH = "PATH";
inline const std::string ATTR_LOC = "LOC";
inline const std::string ATTR_MODE = "MODE";
inline const std::string ATTR_USER = "USR";
inline const std::string ATTR_GROUP = "GROUP";
inline const std::string ATTR_FACILITY = "FACILITY";
inline const std::string ATTR_DISPLAY_ID = "DISPLAY_ID";
inline const std::string ATTR_ACTUAL_VALUE = "ACT_VAL";
inline const std::string ATTR_EXPECTED_VALUE = "EXP_VAL";

// Status words.
inline const std::string VAL_SUCCESS = "SUCCESSFUL";
inline const std::string VAL_WARNING = "WARNING";
inline const std::string VAL_FAILURE = "FAILED";
inline const std::string VAL_ERROR = "ERROR";
inline const std::string VAL_UNKNOWN = "UNKNOWN";

// Labels.
inline const std::string ACTUAL_VALUE = "Actual value";
inline const std::string EXPECTED_VALUE = "Expected value";

}  // namespace vxl_fixup
