#include "model/NLSError.h"

#include <cstdarg>

#include "engine/TextConversions.h"

namespace vxl_fixup {

NLSError::NLSError(const std::string& facilityCode, bool display, const int& number)
    : facility(new std::string(facilityCode)),
      messageNumber(new std::string(integerToString(number))),
      displayFacility(display) {}

NLSError::NLSError(const std::string& facilityCode, bool display, const int& number,
                   int count, ...)
    : NLSError(facilityCode, display, number) {
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) break;
        arguments.push_back(new std::string(text));
    }
    va_end(args);
}

NLSError::~NLSError() {
    delete facility;
    delete messageNumber;
    for (std::string* a : arguments) delete a;
}

void NLSError::addArgument(const std::string& argument) {
    arguments.push_back(new std::string(argument));
}

}  // namespace vxl_fixup
