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

// Wide, non-throwing reading of a decimal value for comparisons: optional
// leading blanks and tabs, then digits (a leading '-' is refused), trailing
// text ignored as the parsers above do. False when there is no digit or the
// value exceeds 64 bits. Values such as 18446744073692774399 compare exactly.
bool readUnsignedDecimal(const std::string& s, std::uint64_t& value);

}  // namespace vxl_fixup
