#pragma once
// How the node's overlay looks from outside: layers (the upper directory, the
// in-memory fixture layer, the machine's root file system) stacked with
// overlayfs' rules, so the parent can read the node's view and its changes
// after the node is gone. Internal to the sandbox.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "NodeCopy.h"

namespace vxl_fixup::node_detail {

// One path as a single layer holds it.
struct LayerEntry {
    enum class Kind { Absent, Whiteout, Directory, Regular, Symlink, Other };
    Kind kind = Kind::Absent;
    bool opaque = false;  // directory hides the layers below it
    mode_t mode = 0;      // permission bits
    uid_t uid = 0;
    gid_t gid = 0;
};

class Layer {
public:
    virtual ~Layer() = default;
    virtual LayerEntry stat(const std::string& path) const = 0;
    virtual std::vector<std::string> list(const std::string& dir) const = 0;
    // Regular file bytes or symlink target; nullopt if unreadable.
    virtual std::optional<std::string> content(const std::string& path) const = 0;
};

// A directory tree on disk. As an overlay layer (upper) it reports whiteouts
// and opaque directories. As the machine's root it sees only the root file
// system, as overlayfs does: a mount point reads as an empty directory.
class DiskLayer : public Layer {
public:
    enum class Role { OverlayUpper, MachineRoot };
    DiskLayer(std::string root, Role role);
    LayerEntry stat(const std::string& path) const override;
    std::vector<std::string> list(const std::string& dir) const override;
    std::optional<std::string> content(const std::string& path) const override;

private:
    static constexpr unsigned kMountIdMask = 0x1000;              // STATX_MNT_ID
    static std::uint64_t mountIdOf(const std::string& hostPath);  // 0: unknown
    std::string hostPath(const std::string& path) const;
    bool underMount(const std::string& path) const;
    bool onRoot(const std::string& path, const struct stat& st) const;
    std::string root_;
    Role role_;
    dev_t rootDev_ = 0;
    std::uint64_t rootMount_ = 0;
};

// The fixtures as a layer: canonical path -> entry (+ content). Parent
// directories must be entered explicitly.
class MemoryLayer : public Layer {
public:
    struct Item {
        LayerEntry entry;
        std::string content;
    };
    void put(const std::string& path, LayerEntry entry, std::string content = {});
    const std::map<std::string, Item>& items() const { return items_; }
    LayerEntry stat(const std::string& path) const override;
    std::vector<std::string> list(const std::string& dir) const override;
    std::optional<std::string> content(const std::string& path) const override;

private:
    std::map<std::string, Item> items_;
};

// Layers top first, merged like overlayfs does.
class LayerStack {
public:
    explicit LayerStack(std::vector<const Layer*> layers) : layers_(std::move(layers)) {}
    // Merged entry of a canonical path (no symlink is followed); layer gets
    // the index of the layer that holds it.
    LayerEntry lookup(const std::string& path, int* layer = nullptr) const;
    std::vector<std::string> list(const std::string& dir) const;
    std::optional<std::string> content(const std::string& path) const;
    // Canonical form of an absolute path: ".", ".." and symlinked parent
    // directories resolved in this stack; the last component is kept as is.
    // nullopt for a relative path or a symlink loop.
    std::optional<std::string> resolve(const std::string& path) const;
    std::optional<NodeFile> file(const std::string& path) const;  // path canonical

private:
    // Layers still merged at a directory; empty when it is not a directory.
    std::vector<int> visibleAt(const std::string& dir, LayerEntry* entry) const;
    std::vector<const Layer*> layers_;
};

// Changes of the upper layer against the stack below it, sorted by path.
// Paths under any of the skipped prefixes are left out.
std::vector<FileChange> scanChanges(const Layer& upper, const LayerStack& before,
                                    const std::vector<std::string>& skipped);

// "/a/b" -> {"a","b"}; empty components dropped.
std::vector<std::string> splitPath(const std::string& path);
std::string parentPath(const std::string& path);
std::string joinPath(const std::string& dir, const std::string& name);

// Removes a tree without following symlinks or crossing file systems;
// returns false (errno set) if something could not be removed.
bool removeTree(const std::string& path);
std::optional<std::string> readWholeFile(const std::string& hostPath);
// The children of a process, from /proc, sorted.
std::vector<pid_t> childrenOf(pid_t parent);

}  // namespace vxl_fixup::node_detail
