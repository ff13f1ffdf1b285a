#include "model/RunObjects.h"

#include <memory>
#include <unordered_set>
#include <vector>

namespace vxl_fixup {

namespace {
struct Registry {
    std::unordered_set<const RunOwned*> known;
    std::vector<std::unique_ptr<RunOwned>> owned;
};
Registry& registry() {
    static Registry r;
    return r;
}
}  // namespace

void RunObjects::adopt(RunOwned* object) {
    if (object == nullptr) return;
    Registry& r = registry();
    if (!r.known.insert(object).second) return;
    r.owned.emplace_back(object);
}

void RunObjects::releaseAll() {
    Registry& r = registry();
    r.owned.clear();
    r.known.clear();
}

std::size_t RunObjects::count() { return registry().owned.size(); }

}  // namespace vxl_fixup
