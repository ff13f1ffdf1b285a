#include "engine/Trace.h"

#include <unistd.h>

#include <cerrno>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/TextConversions.h"
#include "util/FileIO.h"

namespace vxl_fixup {

int Trace::currentTraceLevel = 5;
int Trace::logFileDescriptor = -1;
bool Trace::streamReady = false;
std::int64_t Trace::bytesWrittenToTraceFile = 0;
int Trace::FIXUP_TRACE_FILE_INSTANCE_NUMBER = 0;

void Trace::setTraceLevel(const int& requested) {
    const int r = requested;
    if (r == 0) {
        currentTraceLevel = 0;
    } else if (r >= 1 && r <= 2) {
        currentTraceLevel = 2;
    } else if (r >= 3 && r <= 4) {
        currentTraceLevel = 3;
    } else if (r >= 5 && r <= 7) {
        currentTraceLevel = 5;
    } else if (r >= 8 && r <= 11) {
        currentTraceLevel = 8;
    } else if (r >= 12 && r <= 14) {
        currentTraceLevel = 12;
    } else if (r == 15) {
        currentTraceLevel = 15;
    } else if (r >= 17) {
        currentTraceLevel = 16;
    }
    // 16 and negative levels keep the threshold.
}

std::string Trace::getTraceFileName() {
    const std::string* dir = Constants::getTraceDirPath();
    if (dir == nullptr) dir = Constants::getWorkDirPath();
    return (dir ? *dir : std::string()) + FIXUP_NATIVE_TRACE_FILE_PREFIX + "_" +
           integerToString(FIXUP_TRACE_FILE_INSTANCE_NUMBER) + FIXUP_NATIVE_TRACE_FILE_EXTN;
}

void Trace::trace(const std::string& source, const std::string& message, TRACE_LEVEL level) {
    writeLine(source, message, static_cast<int>(level));
}

void Trace::trace(const std::string& source, const std::string& message) {
    writeLine(source, message, currentTraceLevel);
}

void Trace::writeLine(const std::string& source, const std::string& message, int level) {
    if (source.empty() || message.empty()) return;
    if (level < currentTraceLevel) return;
    if (!streamReady) {
        if (logFileDescriptor >= 0) ::close(logFileDescriptor);
        const std::string name = getTraceFileName();
        // Never through a link or into another name of a file, nor into a
        // directory reached through another user's link: the trace directory
        // may be writable by other users.
        int ignored = 0;
        logFileDescriptor = foreignLinkReason(name.substr(0, name.rfind('/') + 1), ignored).empty()
                                ? openForAppendSafely(name, ignored)
                                : -1;
        streamReady = true;  // also on failure: lines are dropped until a reopen
    }
    bytesWrittenToTraceFile += static_cast<std::int64_t>(source.size() + message.size());
    if (logFileDescriptor >= 0) {
        const std::string line = source + " - " + message + "\n";
        const char* p = line.data();
        size_t left = line.size();
        while (left > 0) {
            ssize_t n = ::write(logFileDescriptor, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    if (bytesWrittenToTraceFile >= ROTATION_BYTES) {
        // The line that crossed the limit stays in the old file and starts the
        // count of the next one.
        bytesWrittenToTraceFile = static_cast<std::int64_t>(source.size() + message.size());
        FIXUP_TRACE_FILE_INSTANCE_NUMBER += 1;
        streamReady = false;
    }
}

void Trace::close() {
    if (logFileDescriptor >= 0) ::close(logFileDescriptor);
    logFileDescriptor = -1;
    streamReady = false;
}

void Trace::resetForTesting() {
    close();
    currentTraceLevel = 5;
    bytesWrittenToTraceFile = 0;
    FIXUP_TRACE_FILE_INSTANCE_NUMBER = 0;
}

}  // namespace vxl_fixup
