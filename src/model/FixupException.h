// Thrown (by value) for conditions that stop a run; the number parsers throw a
// pointer to a new one, which every handler that catches it must delete.
#pragma once

#include <string>

namespace vxl_fixup {

class FixupException {
public:
    explicit FixupException(const std::string& message) : m_message(message) {}
    const std::string& what() const { return m_message; }

private:
    std::string m_message;
};

}  // namespace vxl_fixup
