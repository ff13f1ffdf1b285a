// Low-level file reading and writing shared by the whole library. Every
// descriptor is opened close-on-exec so the commands the library runs never
// inherit one.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

namespace vxl_fixup {

// Reads a whole regular file. False (errorNumber set) when it cannot be
// opened or read, or is a directory.
bool readWholeFile(const std::string& path, std::string& content, int& errorNumber);

// Splits text into lines as a line-by-line reader sees them: newlines removed,
// a final line without newline kept, no empty line after a final newline.
std::vector<std::string> splitLines(const std::string& text);

// Reads a file into lines (as splitLines). False when it cannot be read.
bool readFileLines(const std::string& path, std::vector<std::string>& lines, int& errorNumber);

// Replaces the file's content without ever leaving it truncated or half
// written: a temporary file in the same directory receives the bytes, the
// original's owner, group, mode and extended attributes, is flushed to disk
// and renamed over the original (a symbolic link owned by root or the caller
// is followed and its target replaced; one owned by anybody else is refused
// with EPERM). Where renaming is impossible the file is rewritten in place and,
// on a write error, restored. Equal content writes nothing. A missing file is
// created with mode 0644 & ~umask, or with exactly newFileMode when that is
// not negative (it never appears under a wider mode). On failure the original
// is byte-identical, no temporary file remains, errorNumber is set and false
// is returned.
bool writeFileAtomically(const std::string& path, const std::string& content, int& errorNumber,
                         int newFileMode = -1);

// Appends one piece of content to the file being written; false once a write
// has failed (later pieces are then ignored).
using ContentWriter = std::function<bool(const std::string& piece)>;

// writeFileAtomically for content made piece by piece, so it is never held
// whole: produce is called once and hands every piece to the writer. The file
// is always replaced (no comparison with the old content) and a file that
// cannot be renamed over (a mount point) is not rewritten in place: false.
bool writeFileAtomically(const std::string& path,
                         const std::function<void(const ContentWriter&)>& produce,
                         int& errorNumber);

// The in-place path of writeFileAtomically, for files that cannot be replaced
// by rename (a mount point): overwrites the file with content and truncates
// it; on any error writes original back. False (errorNumber set) on failure.
bool rewriteFileInPlace(const std::string& path, const std::string& original,
                        const std::string& content, int& errorNumber);

// Writes all bytes to an open descriptor, retrying short writes and EINTR.
bool writeAllBytes(int fd, const std::string& data, int& errorNumber);

// Why st is not what root may use in place of a directory (directory set)
// or a regular file: "it is a symbolic link", "it is not a directory" or "it
// is not a regular file", with errorNumber set to ELOOP, ENOTDIR or EINVAL;
// empty when it is of the wanted kind.
std::string wrongKindReason(const struct stat& st, bool directory, int& errorNumber);

// Why root must not append to or replace the file st describes when it lies
// in a directory other users may write: empty for a regular file with one
// name; otherwise the reason ("it is a symbolic link", "it is not a regular
// file", "it has more than one name") with errorNumber set.
std::string unsafeFileReason(const struct stat& st, int& errorNumber);

// The same for whatever is at path (a directory is what is wanted with
// directory set: "it is a symbolic link" or "it is not a directory" then):
// empty when nothing is there, it cannot be examined (lstat fails) or it is
// usable.
std::string unsafePathReason(const std::string& path, bool directory, int& errorNumber);

// Why root must not work under path: a symbolic link on the way to it (the
// path itself or a directory it passes through, as written) that neither
// root nor this process's user owns, which another user could have planted
// to send root's files elsewhere: "<that path> is a symbolic link of another
// user", errorNumber ELOOP. Empty when there is none (also when a part
// cannot be examined: what cannot be seen was not planted).
std::string foreignLinkReason(const std::string& path, int& errorNumber);

// Opens path for appending, creating it (mode 0666 & ~umask) when missing,
// never through a symbolic link and only when unsafeFileReason finds nothing
// against it (a FIFO never blocks the open). -1 with errorNumber otherwise.
int openForAppendSafely(const std::string& path, int& errorNumber);

// Opens the directory name inside parentDir without following a link at
// name, creating it when missing with exactly mode (set with fchmod, whatever
// the umask). created tells whether it was made here. -1 with errorNumber
// otherwise: ELOOP for a link, ENOTDIR for anything but a directory.
int openOrCreateDirectory(const std::string& parentDir, const std::string& name, mode_t mode,
                          bool& created, int& errorNumber);

// Replaces the file name inside the open directory dirFd: an old entry of
// that name is removed first, then the content goes to a new file created
// exclusively under a temporary name (mode 0644 & ~umask), receives every
// piece produce hands to its writer (so the content is never held whole), is
// flushed and renamed to name. Nothing is ever written through a link, and
// no half written file ever carries the name. False (errorNumber set) on
// failure, with no temporary file left.
bool replaceFileInDirectory(int dirFd, const std::string& name,
                            const std::function<void(const ContentWriter&)>& produce,
                            int& errorNumber);

// Removes a file or a directory tree without a shell and without following
// symbolic links (a link is removed, never its target). A missing path is
// success. False (errorNumber set) when something could not be removed.
bool removeTree(const std::string& path, int& errorNumber);

}  // namespace vxl_fixup
