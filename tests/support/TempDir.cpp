#include "support/TempDir.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace vxl_test {

TempDir::TempDir() {
    char buffer[] = "/tmp/vxltest.XXXXXX";
    if (::mkdtemp(buffer) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = buffer;
}

TempDir::~TempDir() {
    ::nftw(
        m_path.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void TempDir::write(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TempDir::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> TempDir::list(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempDir::fingerprint(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return path + " absent\n";
    std::ostringstream out;
    out << path << " " << std::oct << st.st_mode << std::dec << " " << st.st_uid << ":" << st.st_gid
        << " " << st.st_size << " " << st.st_ino << " " << st.st_ctim.tv_sec << "."
        << st.st_ctim.tv_nsec;
    if (S_ISREG(st.st_mode)) out << " " << std::hash<std::string>{}(read(path));
    out << "\n";
    if (S_ISDIR(st.st_mode)) {
        for (const std::string& name : list(path)) out << fingerprint(path + "/" + name);
    }
    return out.str();
}

}  // namespace vxl_test
