// A size parsed from texts such as "2048KB", kept in bytes.
#pragma once

#include <string>

namespace vxl_fixup {

class Unit {
public:
    enum { UNIT_BYTES = 0, UNIT_KB = 2, UNIT_MB = 3, UNIT_GB = 4, UNIT_TB = 5, UNIT_INVALID = 100 };

    // Throws a pointer to a new FixupException (the catcher deletes it) when
    // the number cannot be read.
    explicit Unit(const std::string& text);
    virtual ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    bool isNumber() const { return m_type == UNIT_BYTES; }
    bool isBytes() const { return m_type == UNIT_BYTES; }
    bool isKB() const { return m_type == UNIT_KB; }
    bool isMB() const { return m_type == UNIT_MB; }
    bool isGB() const { return m_type == UNIT_GB; }
    bool isTB() const { return m_type == UNIT_TB; }
    int getType() const { return m_type; }

    double toBytes() const { return m_value; }
    double toInteger() const { return m_value; }
    double toKB() const;
    double toMB() const;
    double toGB() const;
    double toTB() const;

    std::string toStr() const;
    std::string toByteStr() const;
    std::string toKBStr() const;
    std::string toMBStr() const;
    std::string toGBStr() const;
    std::string toTBStr() const;

    bool isGreaterThan(const Unit& o) const { return m_value > o.m_value; }
    bool isLessThan(const Unit& o) const { return m_value < o.m_value; }
    bool isEqualTo(const Unit& o) const { return m_value == o.m_value && m_type == o.m_type; }

private:
    std::string* m_text;
    int m_type;
    double m_value;
};

}  // namespace vxl_fixup
