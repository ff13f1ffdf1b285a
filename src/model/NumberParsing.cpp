#include "model/NumberParsing.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "engine/Trace.h"
#include "model/FixupException.h"

namespace vxl_fixup {

namespace {
[[noreturn]] void fail(const std::string& source, const std::string& s, const std::string& as,
                       const std::string& to) {
    Trace::trace(source, "Failed to parse input string " + s + " as " + as +
                             ". Throwing an exception");
    throw new FixupException("Failed to parse string '" + s + "' to " + to + ".");
}
}  // namespace

long parseStringToLong(const std::string& s, const int& base) {
    errno = 0;
    const long value = std::strtol(s.c_str(), nullptr, base);
    const bool rangeError = errno == ERANGE;
    if ((value == 0 && s != "0") || rangeError) {
        fail("parseStringToLong()", s, "long integer", "long integer");
    }
    return value;
}

unsigned long parseStringToUnsignedLong(const std::string& s, const int& base) {
    errno = 0;
    const unsigned long value = std::strtoul(s.c_str(), nullptr, base);
    const bool rangeError = errno == ERANGE;
    if ((value == 0 && s != "0") || rangeError) {
        fail("parseStringToUnsignedLong()", s, "unsigned long integer", "unsigned long integer");
    }
    return value;
}

double parseStringToDouble(const std::string& s) {
    errno = 0;
    const double value = std::strtod(s.c_str(), nullptr);
    const bool rangeError = errno == ERANGE;
    if ((value == 0 && s != "0" && s != "0.0") || rangeError) {
        fail("parseStringToDouble()", s, "double", "double");
    }
    return value;
}

bool parseWideInteger(const std::string& s, WideInteger& value) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::uint64_t magnitude = 0;
    const size_t firstDigit = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(s[i] - '0');
        if (magnitude > (UINT64_MAX - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    if (i == firstDigit) return false;
    if (magnitude == 0 && s != "0") return false;
    value.negative = negative && magnitude != 0;
    value.magnitude = magnitude;
    return true;
}

int compareWideIntegers(const WideInteger& a, const WideInteger& b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    if (a.magnitude == b.magnitude) return 0;
    const bool aSmaller = a.magnitude < b.magnitude;
    return (aSmaller != a.negative) ? -1 : 1;
}

}  // namespace vxl_fixup
