// One failed command: the command line, the error text it produced and its
// exit code. Null fields mean "not given". Owned by the run (RunObjects).
#pragma once

#include <string>

#include "model/RunObjects.h"

namespace vxl_fixup {

class NativeError : public RunOwned {
public:
    NativeError(const std::string* cmd, const std::string* errDetails, int code)
        : command(cmd ? new std::string(*cmd) : nullptr),
          details(errDetails ? new std::string(*errDetails) : nullptr),
          exitCode(code) {}
    ~NativeError() override {
        delete command;
        delete details;
    }
    NativeError(const NativeError&) = delete;
    NativeError& operator=(const NativeError&) = delete;

    std::string* command;
    std::string* details;
    int exitCode;
};

}  // namespace vxl_fixup
