// Placeholders until the command runner and file utilities land.
#include <cerrno>
#include <cstdio>

#include "model/Result.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "util/sFixupUtil.h"

namespace vxl_fixup {

bool writeFileAtomically(const std::string& path, const std::string& content, int& errorNumber) {
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) {
        errorNumber = errno;
        return false;
    }
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

int FixupUtil::runExe(const std::string*, std::vector<const std::string*>, Result*, bool) {
    return -1;
}

}  // namespace vxl_fixup
