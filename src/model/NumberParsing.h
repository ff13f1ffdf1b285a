// Text-to-number conversions for command output and data values. They accept
// leading blanks and ignore trailing text ("12abc" is 12); zero must be
// written exactly "0" (or "0.0" for doubles). On failure they trace and throw
// a pointer to a new FixupException, which the catcher must delete.
#pragma once

#include <cstdint>
#include <string>

namespace vxl_fixup {

long parseStringToLong(const std::string& s, const int& base);
unsigned long parseStringToUnsignedLong(const std::string& s, const int& base);
double parseStringToDouble(const std::string& s);

// A decimal integer of up to 64 bits of magnitude with its sign, so that
// kernel values above the signed range (18446744073692774399) compare exactly.
struct WideInteger {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

// Accepts exactly the texts parseStringToLong accepts in base 10 (leading
// white space, a sign, digits, trailing text ignored, zero only as "0"), with
// the range widened to a 64-bit magnitude. False for anything else; no trace.
bool parseWideInteger(const std::string& s, WideInteger& value);

// -1, 0 or 1 as a is less than, equal to or greater than b.
int compareWideIntegers(const WideInteger& a, const WideInteger& b);

}  // namespace vxl_fixup
