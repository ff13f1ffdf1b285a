// What the tool's commands share: usage errors, paths given on the command
// line and the default node name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vxl_cli {

// Prints "vxlfixup: MESSAGE (see vxlfixup --help)" on standard error; returns 2.
int usageError(const std::string& message);

// The argument after the option at args[i] as its value: false (nothing
// taken) when there is none or it is empty; otherwise i moves onto it.
bool optionValue(const std::vector<std::string>& args, size_t& i, std::string& into);

std::string withSlash(std::string dir);
std::string absolute(const std::string& path);  // against the current directory
std::string shortHostName();                    // this machine's name up to its first "."
// "vxlfixup-work-STAMP-PID" under the current directory (not created).
std::string defaultWorkDir();
bool isDirectory(const std::string& path);
bool isWritableDirectory(const std::string& dir);

// True when nothing at all is at path (not even a link), trailing slashes
// ignored.
bool nothingAt(const std::string& path);
// A work directory given on the command line that does not exist yet: empty
// when it can be made by creating its last component (its parent is an
// existing directory), else why not.
std::string whyNotCreatable(const std::string& dir);
// Creates that last component, mode 0700, owned by the caller; false with why.
bool createWorkDir(const std::string& dir, std::string& why);

}  // namespace vxl_cli
