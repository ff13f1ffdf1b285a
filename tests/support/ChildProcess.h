// Running a piece of a test in a forked child under resource limits.
#pragma once

namespace vxl_test {

// Runs body in a forked child whose file-size limit is limitBytes (SIGXFSZ
// ignored, so writes past it fail with EFBIG); the child's exit code, or -1.
int runWithFileSizeLimit(unsigned long limitBytes, int (*body)(void*), void* argument);

}  // namespace vxl_test
