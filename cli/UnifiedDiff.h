// The difference of two texts as "diff -u" shows it: hunks of changed lines
// with three lines of context. A change too large to work out line by line
// (more than a few thousand differing lines) is shown as the removal of the
// differing part and the addition of its new form.
#pragma once

#include <string>

namespace vxl_cli {

// The hunks only, without the "---" and "+++" lines; empty when the texts
// are equal. A last line without a newline is marked as diff marks it.
std::string unifiedDiff(const std::string& before, const std::string& after);

}  // namespace vxl_cli
