#include "NodeLayers.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace vxl_fixup::node_detail {

namespace {

LayerEntry fromStat(const struct stat& st) {
    LayerEntry e;
    if (S_ISDIR(st.st_mode)) {
        e.kind = LayerEntry::Kind::Directory;
    } else if (S_ISREG(st.st_mode)) {
        e.kind = LayerEntry::Kind::Regular;
    } else if (S_ISLNK(st.st_mode)) {
        e.kind = LayerEntry::Kind::Symlink;
    } else {
        e.kind = LayerEntry::Kind::Other;
    }
    e.mode = st.st_mode & 07777;
    e.uid = st.st_uid;
    e.gid = st.st_gid;
    return e;
}

std::optional<std::string> readLink(const std::string& hostPath) {
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = ::readlink(hostPath.c_str(), buf.data(), buf.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

bool sameMeta(const LayerEntry& a, const LayerEntry& b) {
    return a.kind == b.kind && a.mode == b.mode && a.uid == b.uid && a.gid == b.gid;
}

bool isSkipped(const std::string& path, const std::vector<std::string>& skipped) {
    for (const auto& s : skipped) {
        if (path == s || (path.size() > s.size() && path.compare(0, s.size(), s) == 0 &&
                          path[s.size()] == '/')) {
            return true;
        }
    }
    return false;
}

int removeOne(const char* path, const struct stat*, int type, struct FTW*) {
    int rc = (type == FTW_DP) ? ::rmdir(path) : ::unlink(path);
    return (rc == 0 || errno == ENOENT) ? 0 : -1;
}

}  // namespace

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

std::string parentPath(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

std::string joinPath(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

bool removeTree(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return ::nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) == 0;
}

std::optional<std::string> readWholeFile(const std::string& hostPath) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buf[16384];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

// ---- DiskLayer

DiskLayer::DiskLayer(std::string root, Role role) : root_(std::move(root)), role_(role) {
    struct stat st;
    if (::stat(root_.c_str(), &st) == 0) rootDev_ = st.st_dev;
    rootMount_ = mountIdOf(root_);
}

// Files of an overlay report the device of the layer they come from, so the
// mount a path lies on tells mount points apart where the kernel says it.
std::uint64_t DiskLayer::mountIdOf(const std::string& hostPath) {
    struct statx sx;
    if (::statx(AT_FDCWD, hostPath.c_str(), AT_SYMLINK_NOFOLLOW, kMountIdMask, &sx) == 0 &&
        (sx.stx_mask & kMountIdMask) != 0) {
        return sx.stx_mnt_id;
    }
    return 0;
}

bool DiskLayer::onRoot(const std::string& path, const struct stat& st) const {
    if (rootMount_ != 0) return mountIdOf(hostPath(path)) == rootMount_;
    return st.st_dev == rootDev_;
}

std::string DiskLayer::hostPath(const std::string& path) const {
    if (root_ == "/") return path;
    return path == "/" ? root_ : root_ + path;
}

// Overlayfs takes the root file system alone, so whatever the machine has
// mounted below it is not part of the node's lower layer.
bool DiskLayer::underMount(const std::string& path) const {
    if (role_ != Role::MachineRoot || path == "/") return false;
    struct stat st;
    return ::lstat(hostPath(path).c_str(), &st) == 0 && !onRoot(path, st);
}

LayerEntry DiskLayer::stat(const std::string& path) const {
    struct stat st;
    if (::lstat(hostPath(path).c_str(), &st) != 0) return {};
    if (role_ == Role::MachineRoot && !onRoot(path, st)) {
        if (underMount(parentPath(path))) return {};
        LayerEntry mountPoint;
        mountPoint.kind = LayerEntry::Kind::Directory;
        mountPoint.mode = 0755;
        return mountPoint;
    }
    LayerEntry e = fromStat(st);
    if (role_ == Role::OverlayUpper) {
        if (S_ISCHR(st.st_mode) && st.st_rdev == 0) {
            e.kind = LayerEntry::Kind::Whiteout;
        } else if (e.kind == LayerEntry::Kind::Directory) {
            char v[4];
            ssize_t n = ::lgetxattr(hostPath(path).c_str(), "trusted.overlay.opaque", v, sizeof v);
            e.opaque = n == 1 && v[0] == 'y';
        }
    }
    return e;
}

std::vector<std::string> DiskLayer::list(const std::string& dir) const {
    std::vector<std::string> names;
    if (underMount(dir)) return names;
    DIR* d = ::opendir(hostPath(dir).c_str());
    if (!d) return names;
    while (struct dirent* de = ::readdir(d)) {
        std::string name = de->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> DiskLayer::content(const std::string& path) const {
    LayerEntry e = stat(path);
    if (e.kind == LayerEntry::Kind::Regular) return readWholeFile(hostPath(path));
    if (e.kind == LayerEntry::Kind::Symlink) return readLink(hostPath(path));
    return std::nullopt;
}

// ---- MemoryLayer

void MemoryLayer::put(const std::string& path, LayerEntry entry, std::string content) {
    items_[path] = Item{entry, std::move(content)};
}

LayerEntry MemoryLayer::stat(const std::string& path) const {
    auto it = items_.find(path);
    if (it != items_.end()) return it->second.entry;
    if (path == "/") {
        LayerEntry root;
        root.kind = LayerEntry::Kind::Directory;
        root.mode = 0755;
        return root;
    }
    return {};
}

std::vector<std::string> MemoryLayer::list(const std::string& dir) const {
    std::vector<std::string> names;
    std::string prefix = dir == "/" ? "/" : dir + "/";
    for (auto it = items_.lower_bound(prefix); it != items_.end(); ++it) {
        const std::string& p = it->first;
        if (p.compare(0, prefix.size(), prefix) != 0) break;
        if (p.size() > prefix.size() && p.find('/', prefix.size()) == std::string::npos) {
            names.push_back(p.substr(prefix.size()));
        }
    }
    return names;
}

std::optional<std::string> MemoryLayer::content(const std::string& path) const {
    auto it = items_.find(path);
    if (it == items_.end()) return std::nullopt;
    auto k = it->second.entry.kind;
    if (k != LayerEntry::Kind::Regular && k != LayerEntry::Kind::Symlink) return std::nullopt;
    return it->second.content;
}

// ---- LayerStack

std::vector<int> LayerStack::visibleAt(const std::string& path, LayerEntry* entry) const {
    std::vector<int> visible;
    *entry = {};
    for (size_t i = 0; i < layers_.size(); ++i) {
        LayerEntry e = layers_[i]->stat("/");
        if (e.kind != LayerEntry::Kind::Directory) continue;
        if (visible.empty()) *entry = e;
        visible.push_back(static_cast<int>(i));
        if (e.opaque) break;
    }
    std::string prefix;
    std::vector<std::string> parts = splitPath(path);
    for (size_t i = 0; i < parts.size(); ++i) {
        prefix += "/" + parts[i];
        std::vector<int> next;
        *entry = {};
        bool found = false;
        for (int idx : visible) {
            LayerEntry e = layers_[static_cast<size_t>(idx)]->stat(prefix);
            if (e.kind == LayerEntry::Kind::Absent) continue;
            if (!found) {
                if (e.kind == LayerEntry::Kind::Whiteout) return {};
                found = true;
                *entry = e;
                if (e.kind != LayerEntry::Kind::Directory) {
                    next.push_back(idx);  // the holder of a non-directory
                    break;
                }
            } else if (e.kind != LayerEntry::Kind::Directory) {
                break;  // a whiteout or file below a directory ends the merge
            }
            next.push_back(idx);
            if (e.opaque) break;
        }
        if (!found) return {};
        if (i + 1 < parts.size() && entry->kind != LayerEntry::Kind::Directory) {
            *entry = {};
            return {};
        }
        visible = std::move(next);
    }
    return visible;
}

LayerEntry LayerStack::lookup(const std::string& path, int* layer) const {
    LayerEntry e;
    std::vector<int> visible = visibleAt(path, &e);
    if (layer) *layer = visible.empty() ? -1 : visible.front();
    return e;
}

std::vector<std::string> LayerStack::list(const std::string& dir) const {
    LayerEntry e;
    std::vector<int> visible = visibleAt(dir, &e);
    std::set<std::string> names;
    if (e.kind != LayerEntry::Kind::Directory) return {};
    for (int idx : visible) {
        for (auto& n : layers_[static_cast<size_t>(idx)]->list(dir)) names.insert(n);
    }
    std::vector<std::string> out;
    for (const auto& n : names) {
        if (lookup(joinPath(dir, n)).kind != LayerEntry::Kind::Absent) out.push_back(n);
    }
    return out;
}

std::optional<std::string> LayerStack::content(const std::string& path) const {
    int layer = -1;
    lookup(path, &layer);
    if (layer < 0) return std::nullopt;
    return layers_[static_cast<size_t>(layer)]->content(path);
}

std::optional<std::string> LayerStack::resolve(const std::string& path) const {
    if (path.empty() || path[0] != '/') return std::nullopt;
    std::vector<std::string> pending = splitPath(path);
    std::reverse(pending.begin(), pending.end());  // back() is the next component
    std::vector<std::string> done;
    int hops = 0;
    while (!pending.empty()) {
        std::string c = std::move(pending.back());
        pending.pop_back();
        if (c == ".") continue;
        if (c == "..") {
            if (!done.empty()) done.pop_back();
            continue;
        }
        std::string candidate;
        for (const auto& d : done) candidate += "/" + d;
        candidate += "/" + c;
        if (pending.empty() || lookup(candidate).kind != LayerEntry::Kind::Symlink) {
            done.push_back(std::move(c));
            continue;
        }
        std::optional<std::string> target = content(candidate);
        if (!target || ++hops > 40) return std::nullopt;
        if (!target->empty() && (*target)[0] == '/') done.clear();
        std::vector<std::string> parts = splitPath(*target);
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) pending.push_back(*it);
    }
    std::string out;
    for (const auto& d : done) out += "/" + d;
    return out.empty() ? "/" : out;
}

std::optional<NodeFile> LayerStack::file(const std::string& path) const {
    LayerEntry e = lookup(path);
    NodeFile f;
    switch (e.kind) {
        case LayerEntry::Kind::Absent:
        case LayerEntry::Kind::Whiteout:
            return std::nullopt;
        case LayerEntry::Kind::Directory:
            f.type = NodeFile::Type::Directory;
            break;
        case LayerEntry::Kind::Regular:
            f.type = NodeFile::Type::Regular;
            break;
        case LayerEntry::Kind::Symlink:
            f.type = NodeFile::Type::Symlink;
            break;
        case LayerEntry::Kind::Other:
            f.type = NodeFile::Type::Other;
            break;
    }
    f.mode = e.mode;
    f.uid = e.uid;
    f.gid = e.gid;
    if (f.type == NodeFile::Type::Regular || f.type == NodeFile::Type::Symlink) {
        f.content = content(path).value_or(std::string());
    }
    return f;
}

// ---- changes

namespace {

void scanDir(const Layer& upper, const LayerStack& before, const std::vector<std::string>& skipped,
             const std::string& dir, std::vector<FileChange>& out) {
    using K = LayerEntry::Kind;
    for (const auto& name : upper.list(dir)) {
        std::string p = joinPath(dir, name);
        if (isSkipped(p, skipped)) continue;
        LayerEntry now = upper.stat(p);
        LayerEntry was = before.lookup(p);
        bool had = was.kind != K::Absent;
        if (now.kind == K::Whiteout) {
            if (had) out.push_back({p, FileChange::Kind::Deleted});
            continue;
        }
        if (!had) {
            out.push_back({p, FileChange::Kind::Created});
        } else if (!sameMeta(now, was) || ((now.kind == K::Regular || now.kind == K::Symlink) &&
                                           upper.content(p) != before.content(p))) {
            out.push_back({p, FileChange::Kind::Modified});
        }
        if (now.kind != K::Directory) continue;
        if (now.opaque && was.kind == K::Directory) {
            // The directory was removed and made again: what it held is gone
            // unless the upper layer has it anew.
            for (const auto& old : before.list(p)) {
                std::string q = joinPath(p, old);
                if (!isSkipped(q, skipped) && upper.stat(q).kind == K::Absent) {
                    out.push_back({q, FileChange::Kind::Deleted});
                }
            }
        }
        scanDir(upper, before, skipped, p, out);
    }
}

}  // namespace

std::vector<FileChange> scanChanges(const Layer& upper, const LayerStack& before,
                                    const std::vector<std::string>& skipped) {
    std::vector<FileChange> out;
    scanDir(upper, before, skipped, "/", out);
    std::sort(out.begin(), out.end(),
              [](const FileChange& a, const FileChange& b) { return a.path < b.path; });
    return out;
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return children;
    while (struct dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::optional<std::string> stat =
            readWholeFile(std::string("/proc/") + e->d_name + "/stat");
        // "pid (comm) state ppid ...": the command name may hold anything.
        const size_t close = stat ? stat->rfind(')') : std::string::npos;
        char state = 0;
        long ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(stat->c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
            ppid == parent) {
            children.push_back(static_cast<pid_t>(pid));
        }
    }
    ::closedir(dir);
    std::sort(children.begin(), children.end());
    return children;
}

}  // namespace vxl_fixup::node_detail
