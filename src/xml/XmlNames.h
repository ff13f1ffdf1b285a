// Element and attribute names shared by every tree. A document repeats a few
// dozen names hundreds of thousands of times; each node keeps a pointer to the
// one shared copy instead of a copy of its own.
#pragma once

#include <string>

namespace vxl_fixup {

// The shared copy of name, valid until the process ends; null when the name
// is too long or the table is full (then the caller keeps its own copy), so a
// document of made-up names cannot make the table grow without bound.
// Safe to call from any thread.
const std::string* sharedXmlName(const std::string& name);

}  // namespace vxl_fixup
