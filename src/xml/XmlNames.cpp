#include "xml/XmlNames.h"

#include <mutex>
#include <unordered_set>

namespace vxl_fixup {

namespace {
constexpr std::size_t MAX_SHARED_NAMES = 4096;
constexpr std::size_t MAX_SHARED_NAME_LENGTH = 64;
}  // namespace

const std::string* sharedXmlName(const std::string& name) {
    // Elements of an unordered_set never move, so the pointers stay valid.
    static std::mutex lock;
    static std::unordered_set<std::string> names;
    if (name.size() > MAX_SHARED_NAME_LENGTH) return nullptr;
    std::lock_guard<std::mutex> guard(lock);
    auto found = names.find(name);
    if (found != names.end()) return &*found;
    if (names.size() >= MAX_SHARED_NAMES) return nullptr;
    return &*names.insert(name).first;
}

}  // namespace vxl_fixup
