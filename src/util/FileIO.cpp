#include "util/FileIO.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

namespace vxl_fixup {

bool readWholeFile(const std::string& path, std::string& content, int& errorNumber) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errorNumber = EISDIR;
        return false;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            errorNumber = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    content.swap(data);
    return true;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool readFileLines(const std::string& path, std::vector<std::string>& lines, int& errorNumber) {
    std::string content;
    if (!readWholeFile(path, content, errorNumber)) return false;
    lines = splitLines(content);
    return true;
}

bool writeAllBytes(int fd, const std::string& data, int& errorNumber) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            errorNumber = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

bool notSupported(int e) { return e == ENOTSUP || e == EOPNOTSUPP; }

// Attribute names of a path (or of a descriptor when path is null), as the
// kernel lists them: NUL-separated.
bool listAttributes(const char* path, int fd, std::vector<std::string>& names, int& errorNumber) {
    names.clear();
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = path ? ::llistxattr(path, nullptr, 0) : ::flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (notSupported(errno)) return true;
            errorNumber = errno;
            return false;
        }
        if (size == 0) return true;
        std::vector<char> buffer(static_cast<size_t>(size));
        size = path ? ::llistxattr(path, buffer.data(), buffer.size())
                    : ::flistxattr(fd, buffer.data(), buffer.size());
        if (size < 0 && errno == ERANGE) continue;  // grew meanwhile
        if (size < 0) {
            if (notSupported(errno)) return true;
            errorNumber = errno;
            return false;
        }
        size_t start = 0;
        const size_t end = static_cast<size_t>(size);
        while (start < end) {
            const size_t len = ::strnlen(buffer.data() + start, end - start);
            if (len > 0) names.emplace_back(buffer.data() + start, len);
            start += len + 1;
        }
        return true;
    }
    errorNumber = ERANGE;
    return false;
}

// Gives the descriptor every extended attribute of source (ACLs and security
// labels live there) and drops the ones it inherited that source lacks.
bool copyExtendedAttributes(const std::string& source, int fd, int& errorNumber) {
    std::vector<std::string> names;
    if (!listAttributes(source.c_str(), -1, names, errorNumber)) return false;
    for (const std::string& name : names) {
        std::vector<char> value;
        ssize_t size = -1;
        for (int attempt = 0; attempt < 4; ++attempt) {
            size = ::lgetxattr(source.c_str(), name.c_str(), nullptr, 0);
            if (size < 0) break;
            value.resize(static_cast<size_t>(size) + 1);
            size = ::lgetxattr(source.c_str(), name.c_str(), value.data(), value.size());
            if (size >= 0 || errno != ERANGE) break;
        }
        if (size < 0) {
            if (errno == ENODATA || notSupported(errno)) continue;
            errorNumber = errno;
            return false;
        }
        if (::fsetxattr(fd, name.c_str(), value.data(), static_cast<size_t>(size), 0) != 0 &&
            !notSupported(errno)) {
            errorNumber = errno;
            return false;
        }
    }
    std::vector<std::string> inherited;
    int ignored = 0;
    if (listAttributes(nullptr, fd, inherited, ignored)) {
        for (const std::string& name : inherited) {
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                ::fremovexattr(fd, name.c_str());  // best effort: a label may be fixed
            }
        }
    }
    return true;
}

// Owner, group, mode and extended attributes of the original on the new file.
bool copyMetadata(const std::string& original, const struct stat& st, int fd, int& errorNumber) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        errorNumber = errno;
        return false;
    }
    if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
        ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        errorNumber = errno;
        return false;
    }
    // After fchown, which clears set-id bits, and before the attributes, so a
    // file capability or ACL is not reset by it.
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
        errorNumber = errno;
        return false;
    }
    return copyExtendedAttributes(original, fd, errorNumber);
}

// The process umask, read without changing it: umask() would open a window
// in which the host's other threads create files with the wrong mode.
mode_t currentUmask() {
    std::string status;
    int ignored = 0;
    if (readWholeFile("/proc/self/status", status, ignored)) {
        const size_t at = status.find("\nUmask:");
        if (at != std::string::npos) {
            return static_cast<mode_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8) & 0777);
        }
    }
    return 022;
}

void syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // some file systems refuse; the rename itself has happened
    ::close(fd);
}

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
    const int rc = (type == FTW_DP || type == FTW_DNR) ? ::rmdir(path) : ::unlink(path);
    if (rc != 0 && errno != ENOENT) return errno;  // non-zero stops the walk
    return 0;
}

}  // namespace

bool rewriteFileInPlace(const std::string& path, const std::string& original,
                        const std::string& content, int& errorNumber) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return false;
    }
    int e = 0;
    bool ok = ::lseek(fd, 0, SEEK_SET) == 0 || ((e = errno), false);
    ok = ok && writeAllBytes(fd, content, e);
    ok = ok && (::ftruncate(fd, static_cast<off_t>(content.size())) == 0 || ((e = errno), false));
    ok = ok && (::fsync(fd) == 0 || ((e = errno), false));
    if (!ok) {
        int ignored = 0;
        if (::lseek(fd, 0, SEEK_SET) == 0 && writeAllBytes(fd, original, ignored)) {
            if (::ftruncate(fd, static_cast<off_t>(original.size())) == 0) ::fsync(fd);
        }
        ::close(fd);
        errorNumber = e;
        return false;
    }
    if (::close(fd) != 0) {
        errorNumber = errno;
        return false;
    }
    return true;
}

namespace {

// The file a replacement lands in: a symbolic link is followed to its target.
struct ReplacedFile {
    std::string path;
    struct stat st {};
    bool exists = false;
};

bool resolveReplacedFile(const std::string& path, ReplacedFile& file, int& errorNumber) {
    if (path.empty()) {
        errorNumber = ENOENT;
        return false;
    }
    file.path = path;
    if (::lstat(path.c_str(), &file.st) == 0) {
        if (S_ISLNK(file.st.st_mode)) {
            // Root follows only links of its own: a link another user owns
            // could have been planted to redirect the write.
            if (file.st.st_uid != 0 && file.st.st_uid != ::geteuid()) {
                errorNumber = EPERM;
                return false;
            }
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) {
                errorNumber = errno;
                return false;
            }
            file.path = resolved;
            std::free(resolved);
            if (::lstat(file.path.c_str(), &file.st) != 0) {
                errorNumber = errno;
                return false;
            }
        }
        if (!S_ISREG(file.st.st_mode)) {
            errorNumber = S_ISDIR(file.st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        file.exists = true;
    } else if (errno != ENOENT) {
        errorNumber = errno;
        return false;
    }
    return true;
}

// A temporary file beside the target receives the content from writeContent,
// the original's metadata (or, for a new file, newFileMode when not negative,
// else 0644 & ~umask), is flushed to disk and renamed over the target.
// renameError is set when only the rename failed (the temporary is then gone).
bool replaceByRename(const ReplacedFile& file, const std::function<bool(int, int&)>& writeContent,
                     int newFileMode, int& errorNumber, int& renameError) {
    renameError = 0;
    const size_t slash = file.path.rfind('/');
    const std::string dirPrefix = slash == std::string::npos ? "" : file.path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
    std::string pattern = dirPrefix + "." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        return false;
    }
    const std::string temporary(name.data());
    auto abandon = [&](int e) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        errorNumber = e;
        return false;
    };

    int e = 0;
    if (!writeContent(fd, e)) return abandon(e);
    if (file.exists) {
        if (!copyMetadata(file.path, file.st, fd, e)) return abandon(e);
    } else {
        const mode_t mode =
            newFileMode >= 0 ? static_cast<mode_t>(newFileMode) & 07777 : 0644 & ~currentUmask();
        if (::fchmod(fd, mode) != 0) return abandon(errno);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return abandon(errno);

    if (::rename(temporary.c_str(), file.path.c_str()) != 0) {
        renameError = errno;
        errorNumber = errno;
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(dirPrefix.empty() ? "." : dirPrefix);
    return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, int& errorNumber,
                         int newFileMode) {
    ReplacedFile file;
    if (!resolveReplacedFile(path, file, errorNumber)) return false;
    std::string original;
    if (file.exists) {
        if (!readWholeFile(file.path, original, errorNumber)) return false;
        if (original == content) return true;  // keep inode and times
    }
    int renameError = 0;
    const bool replaced = replaceByRename(
        file, [&content](int fd, int& e) { return writeAllBytes(fd, content, e); }, newFileMode,
        errorNumber, renameError);
    if (!replaced && file.exists && (renameError == EBUSY || renameError == EXDEV)) {
        return rewriteFileInPlace(file.path, original, content, errorNumber);
    }
    return replaced;
}

bool writeFileAtomically(const std::string& path,
                         const std::function<void(const ContentWriter&)>& produce,
                         int& errorNumber) {
    ReplacedFile file;
    if (!resolveReplacedFile(path, file, errorNumber)) return false;
    int renameError = 0;
    return replaceByRename(
        file,
        [&produce](int fd, int& e) {
            bool ok = true;
            produce([fd, &e, &ok](const std::string& piece) {
                ok = ok && writeAllBytes(fd, piece, e);
                return ok;
            });
            return ok;
        },
        -1, errorNumber, renameError);
}

std::string wrongKindReason(const struct stat& st, bool directory, int& errorNumber) {
    if (S_ISLNK(st.st_mode)) {
        errorNumber = ELOOP;
        return "it is a symbolic link";
    }
    if (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        errorNumber = directory ? ENOTDIR : EINVAL;
        return directory ? "it is not a directory" : "it is not a regular file";
    }
    return std::string();
}

std::string unsafeFileReason(const struct stat& st, int& errorNumber) {
    std::string why = wrongKindReason(st, false, errorNumber);
    // A hard link another user made to a file of root's would be written
    // under the other name.
    if (why.empty() && st.st_nlink > 1) {
        errorNumber = EMLINK;
        why = "it has more than one name";
    }
    return why;
}

std::string unsafePathReason(const std::string& path, bool directory, int& errorNumber) {
    struct stat st {};
    // What cannot be seen was not planted where this process looks.
    if (::lstat(path.c_str(), &st) != 0) return std::string();
    return directory ? wrongKindReason(st, true, errorNumber) : unsafeFileReason(st, errorNumber);
}

std::string foreignLinkReason(const std::string& path, int& errorNumber) {
    std::string prefix;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t slash = path.find('/', at);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        prefix = path.substr(0, end);
        at = end + 1;
        if (end == 0 || path[end - 1] == '/') continue;  // the root, or "//"
        struct stat st {};
        if (::lstat(prefix.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode) && st.st_uid != 0 && st.st_uid != ::geteuid()) {
            errorNumber = ELOOP;
            return prefix + " is a symbolic link of another user";
        }
    }
    return std::string();
}

int openForAppendSafely(const std::string& path, int& errorNumber) {
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
        errorNumber = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        errorNumber = errno;
        ::close(fd);
        return -1;
    }
    if (!unsafeFileReason(st, errorNumber).empty()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);  // blocking writes from here on
    return fd;
}

int openOrCreateDirectory(const std::string& parentDir, const std::string& name, mode_t mode,
                          bool& created, int& errorNumber) {
    created = false;
    const int parent =
        ::open(parentDir.empty() ? "." : parentDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        errorNumber = errno;
        return -1;
    }
    // Made private first; the wanted mode is set on the descriptor, never
    // through the name another user could have swapped meanwhile.
    if (::mkdirat(parent, name.c_str(), 0700) == 0) {
        created = true;
    } else if (errno != EEXIST) {
        errorNumber = errno;
        ::close(parent);
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int e = errno;
    ::close(parent);
    if (fd < 0) {
        errorNumber = e;
        return -1;
    }
    if (created && ::fchmod(fd, mode & 07777) != 0) {
        errorNumber = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

// Six random letters and digits for a temporary name.
std::string randomSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        unsigned long mix = static_cast<unsigned long>(std::time(nullptr)) ^
                            (static_cast<unsigned long>(::getpid()) << 16) ^
                            reinterpret_cast<unsigned long>(&bytes);
        for (unsigned char& b : bytes) {
            mix = mix * 6364136223846793005UL + 1442695040888963407UL;
            b = static_cast<unsigned char>(mix >> 33);
        }
    }
    std::string suffix;
    for (unsigned char b : bytes) suffix += kChars[b % (sizeof kChars - 1)];
    return suffix;
}

}  // namespace

bool replaceFileInDirectory(int dirFd, const std::string& name,
                            const std::function<void(const ContentWriter&)>& produce,
                            int& errorNumber) {
    // What cannot be removed (a directory) makes the rename below fail.
    ::unlinkat(dirFd, name.c_str(), 0);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = "." + name + "." + randomSuffix();
        fd = ::openat(dirFd, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644 & ~currentUmask());
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        errorNumber = errno;
        return false;
    }
    int e = 0;
    bool ok = true;
    produce([fd, &e, &ok](const std::string& piece) {
        ok = ok && writeAllBytes(fd, piece, e);
        return ok;
    });
    ok = ok && (::fsync(fd) == 0 || ((e = errno), false));
    if (::close(fd) != 0 && ok) {
        e = errno;
        ok = false;
    }
    ok = ok &&
         (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) == 0 || ((e = errno), false));
    if (!ok) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        errorNumber = e;
        return false;
    }
    ::fsync(dirFd);  // some file systems refuse; the rename itself has happened
    return true;
}

bool removeTree(const std::string& path, int& errorNumber) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        if (path.empty() || errno == ENOENT) return true;
        errorNumber = errno;
        return false;
    }
    // No FTW_MOUNT: on an overlay root (containers) files report the device
    // of their layer, not the directory's, and would be skipped.
    const int rc = ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (rc == 0) return true;
    if (rc == -1) {
        if (errno == ENOENT) return true;
        errorNumber = errno;
        return false;
    }
    errorNumber = rc;
    return false;
}

}  // namespace vxl_fixup
