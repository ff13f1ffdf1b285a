// Per-run owner of the records that a run shares by pointer (message errors,
// native errors, fix-up data). Records adopted here are released together when
// the run ends, so a host that runs the library thousands of times does not
// grow. Adopting the same record twice is harmless.
#pragma once

#include <cstddef>

namespace vxl_fixup {

// Base of every record the run owner may adopt. The record carries its own
// adopted mark, so that the owner keeps no index beside its list.
class RunOwned {
public:
    virtual ~RunOwned() = default;

private:
    friend class RunObjects;
    bool m_adopted = false;
};

class RunObjects {
public:
    // Takes ownership of a heap record (null ignored).
    static void adopt(RunOwned* object);
    // Deletes every adopted record; called by the entry points at run end.
    static void releaseAll();
    static std::size_t count();
};

}  // namespace vxl_fixup
