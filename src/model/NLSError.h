// One message-catalogue error: facility ("Vxle".."Vxlh"), message number text,
// argument texts and the display-facility flag. The message texts live in the
// calling tool's catalogue. Created with new and handed to a Result, which
// gives it to the run owner (RunObjects); nobody else deletes it.
#pragma once

#include <string>
#include <vector>

#include "model/RunObjects.h"

namespace vxl_fixup {

class NLSError : public RunOwned {
public:
    NLSError(const std::string& facilityCode, bool display, const int& number);
    // Takes up to count further arguments, each a NUL-terminated byte string;
    // a null pointer ends the list early.
    NLSError(const std::string& facilityCode, bool display, const int& number, int count,
             ...);
    ~NLSError() override;
    NLSError(const NLSError&) = delete;
    NLSError& operator=(const NLSError&) = delete;

    // Appends a copy of one argument text.
    void addArgument(const std::string& argument);

    std::string* facility;
    std::string* messageNumber;
    std::vector<std::string*> arguments;
    bool displayFacility;
};

}  // namespace vxl_fixup
