#include "model/Unit.h"

#include <cstdio>

#include "engine/Trace.h"
#include "model/FixupException.h"
#include "model/NumberParsing.h"

namespace vxl_fixup {

namespace {
const char* const kSource = "Unit::Unit";
constexpr double kStep = 0.0009765625;  // 1/1024

// True when the first occurrence of either letter case is at pos.
bool letterAt(const std::string& text, size_t pos, char lower, char upper) {
    return text.find(lower) == pos || text.find(upper) == pos;
}

std::string fixed0(double v) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", v);
    return buffer;
}
}  // namespace

Unit::Unit(const std::string& text) : m_text(new std::string(text)), m_type(UNIT_BYTES), m_value(0) {
    Trace::trace(kSource, "Constructing for " + text, TRACE_FLOW);
    const size_t n = text.size();
    double multiplier = 1;
    const bool byteSuffix = n > 0 && letterAt(text, n - 1, 'b', 'B');
    if (byteSuffix) {
        Trace::trace(kSource, "Ends with B/b (bytes)", TRACE_DETAIL);
        const size_t p = n >= 2 ? n - 2 : std::string::npos;
        if (p != std::string::npos && letterAt(text, p, 'k', 'K')) {
            m_type = UNIT_KB;
            multiplier = 1024;
            Trace::trace(kSource, "it is an unit in (kilo bytes)", TRACE_DETAIL);
        } else if (p != std::string::npos && letterAt(text, p, 'm', 'M')) {
            m_type = UNIT_MB;
            multiplier = 1048576;
            Trace::trace(kSource, "it is an unit in (mega bytes)", TRACE_DETAIL);
        } else if (p != std::string::npos && letterAt(text, p, 'g', 'G')) {
            m_type = UNIT_GB;
            multiplier = 1073741824;
            Trace::trace(kSource, "it is an unit in (giga bytes)", TRACE_DETAIL);
        } else if (p != std::string::npos && letterAt(text, p, 't', 'T')) {
            m_type = UNIT_TB;
            multiplier = 1099511627776.0;
            Trace::trace(kSource, "it is an unit in (tera bytes)", TRACE_DETAIL);
        } else {
            m_type = UNIT_INVALID;
            multiplier = 0;
            Trace::trace(kSource, "it is an unit of unknown type", TRACE_DETAIL);
        }
    }
    try {
        m_value = multiplier * parseStringToDouble(text);
    } catch (FixupException* e) {
        delete e;
        delete m_text;
        Trace::trace(kSource, "Failed to parse input string " + text +
                                  " as unsigned long integer. Throwing an exception");
        throw new FixupException("Failed to parse string '" + text +
                                 "' to unsigned long integer.");
    }
}

Unit::~Unit() { delete m_text; }

double Unit::toKB() const { return m_value * kStep; }
double Unit::toMB() const { return toKB() * kStep; }
double Unit::toGB() const { return toMB() * kStep; }
double Unit::toTB() const { return toGB() * kStep; }

std::string Unit::toStr() const { return fixed0(m_value); }
std::string Unit::toByteStr() const { return fixed0(m_value); }
std::string Unit::toKBStr() const { return fixed0(toKB()); }
std::string Unit::toMBStr() const { return fixed0(toMB()); }
std::string Unit::toGBStr() const { return fixed0(toGB()); }
std::string Unit::toTBStr() const { return fixed0(toTB()); }

}  // namespace vxl_fixup
