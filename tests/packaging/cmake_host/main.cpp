// Calls the C++ entry point with no document, which the library refuses
// without touching anything, and frees what it hands back.
#include <vxlfixup/vxlfixup.h>

#include <iostream>

int main() {
    vxlFixupMemFree(nullptr);
    vxlfixup record{};
    char workDir[] = "/nonexistent/";
    char node[] = "node1";
    record.workDir = workDir;
    record.nodeName = node;
    const int rc = vxlRunAutoFixup(&record, nullptr);
    std::cout << "return code: " << rc << "\n";
    if (record.errorMessage != nullptr) {
        std::cout << "error: " << record.errorMessage << "\n";
        vxlFixupMemFree(record.errorMessage);
    }
    return record.outputFile == nullptr ? 0 : 3;
}
