// The trace log: lines of "source - message" in numbered files
// "vexel_fixup_trace_<n>.log" under the trace directory (or the work
// directory), rotated after 1048576 counted bytes. Opened lazily, close-on-exec,
// and every line reaches the file at once. A file that cannot be opened costs
// no error: lines are dropped until the next rotation or close. A trace file
// that is a symbolic link, not a regular file or another name of a file is
// never opened (the entry points refuse to run with one, see
// unsafePathReason).
#pragma once

#include <cstdint>
#include <string>

namespace vxl_fixup {

enum TRACE_LEVEL { TRACE_DETAIL = 0, TRACE_FLOW = 2 };

class Trace {
public:
    // Maps a requested level to the threshold (16 and negatives keep it).
    static void setTraceLevel(const int& requested);
    // Writes one line when level >= threshold; empty source or message: nothing.
    static void trace(const std::string& source, const std::string& message, TRACE_LEVEL level);
    // Written at any threshold.
    static void trace(const std::string& source, const std::string& message);
    static std::string getTraceFileName();
    // Closes the current file; the number and byte counter are kept, so the
    // next line continues the same numbered file.
    static void close();

    static int getTraceLevel() { return currentTraceLevel; }
    // Whether a line at this level is written now; code that traces for every
    // line of a large input builds the text only then.
    static bool writes(TRACE_LEVEL level) { return level >= currentTraceLevel; }
    // Back to the state of a freshly loaded library (tests).
    static void resetForTesting();

    static constexpr std::int64_t ROTATION_BYTES = 1048576;

private:
    static void writeLine(const std::string& source, const std::string& message, int level);

    static int currentTraceLevel;
    static int logFileDescriptor;  // -1 when no file is open
    static bool streamReady;
    static std::int64_t bytesWrittenToTraceFile;
    static int FIXUP_TRACE_FILE_INSTANCE_NUMBER;
};

// Traces "ENTRY" on construction and "EXIT" on destruction at TRACE_FLOW, so
// every return path of a method is covered.
class TraceScope {
public:
    explicit TraceScope(const std::string& source) : m_source(source) {
        Trace::trace(m_source, "ENTRY", TRACE_FLOW);
    }
    ~TraceScope() { Trace::trace(m_source, "EXIT", TRACE_FLOW); }
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

private:
    const std::string m_source;
};

}  // namespace vxl_fixup
