// What the tool's commands share: usage errors, paths given on the command
// line and the default node name.
#pragma once

#include <string>

namespace vxl_cli {

// Prints "vxlfixup: MESSAGE (see vxlfixup --help)" on standard error; returns 2.
int usageError(const std::string& message);

std::string withSlash(std::string dir);
std::string absolute(const std::string& path);  // against the current directory
std::string shortHostName();                    // this machine's name up to its first "."
// "vxlfixup-work-STAMP-PID" under the current directory (not created).
std::string defaultWorkDir();
bool isDirectory(const std::string& path);
bool isWritableDirectory(const std::string& dir);

}  // namespace vxl_cli
