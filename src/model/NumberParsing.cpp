#include "model/NumberParsing.h"

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

bool readUnsignedDecimal(const std::string& s, std::uint64_t& value) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i < s.size() && s[i] == '+') ++i;
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    std::uint64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

}  // namespace vxl_fixup
