#include "CommandLine.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

namespace vxl_cli {

int usageError(const std::string& message) {
    std::cerr << "vxlfixup: " << message << " (see vxlfixup --help)\n";
    return 2;
}

bool optionValue(const std::vector<std::string>& args, size_t& i, std::string& into) {
    if (i + 1 >= args.size() || args[i + 1].empty()) return false;
    into = args[++i];
    return true;
}

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
    const std::string dir = cwd;
    return dir + (dir.back() == '/' ? "" : "/") + path;
}

std::string shortHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    std::string host = name;
    const size_t dot = host.find('.');
    return dot == std::string::npos ? host : host.substr(0, dot);
}

std::string defaultWorkDir() {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    return absolute(std::string("vxlfixup-work-") + stamp + "-" + std::to_string(::getpid()));
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isWritableDirectory(const std::string& dir) {
    return isDirectory(dir) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool nothingAt(const std::string& path) {
    std::string plain = path;
    while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
    struct stat st {};
    return ::lstat(plain.c_str(), &st) != 0 && errno == ENOENT;
}

std::string whyNotCreatable(const std::string& dir) {
    std::string path = dir;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    const std::string last = path.substr(slash + 1);
    if (slash == std::string::npos || last.empty() || last == "." || last == "..") {
        return "work directory " + dir + " cannot be created: it names no new directory";
    }
    if (!isDirectory(parent)) {
        return "work directory " + dir + " does not exist, nor does its parent " + parent +
               " (only the last component is created)";
    }
    return {};
}

bool createWorkDir(const std::string& dir, std::string& why) {
    why = whyNotCreatable(dir);
    if (!why.empty()) return false;
    if (::mkdir(dir.c_str(), 0700) != 0) {
        why = "cannot create work directory " + dir + ": " + std::strerror(errno);
        return false;
    }
    // Whatever the umask took away: the directory is the caller's alone.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fchmod(fd, 0700) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) why = "cannot set the mode of work directory " + dir + ": " + std::strerror(errno);
    return ok;
}

}  // namespace vxl_cli
