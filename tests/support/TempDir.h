// A temporary directory for a test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <vector>

namespace vxl_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The directory path, without a trailing "/".
    const std::string& path() const { return m_path; }
    // The directory path with its trailing "/", as the run constants expect.
    std::string dir() const { return m_path + "/"; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

    // Small file helpers for tests.
    static void write(const std::string& path, const std::string& content);
    static std::string read(const std::string& path);
    static bool exists(const std::string& path);
    // The names in a directory, sorted, without "." and ".."; empty when unreadable.
    static std::vector<std::string> list(const std::string& dir);
    // What a path looks like, with everything below it: type, mode, owner,
    // size, inode, change time and a hash of the bytes (never the bytes: some
    // are secrets); one line per path.
    static std::string fingerprint(const std::string& path);

private:
    std::string m_path;
};

}  // namespace vxl_test
