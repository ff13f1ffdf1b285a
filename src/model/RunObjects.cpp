#include "model/RunObjects.h"

#include <memory>
#include <vector>

namespace vxl_fixup {

namespace {
struct Registry {
    std::vector<std::unique_ptr<RunOwned>> owned;
};
Registry& registry() {
    static Registry r;
    return r;
}
}  // namespace

void RunObjects::adopt(RunOwned* object) {
    if (object == nullptr) return;
    if (object->m_adopted) return;
    registry().owned.emplace_back(object);
    object->m_adopted = true;
}

void RunObjects::releaseAll() {
    Registry& r = registry();
    r.owned.clear();
    r.owned.shrink_to_fit();
}

std::size_t RunObjects::count() { return registry().owned.size(); }

}  // namespace vxl_fixup
