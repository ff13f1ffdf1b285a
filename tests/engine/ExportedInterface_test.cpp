// The shared library exports exactly the host interface and loads without any
// symbol from its host.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "vxlfixup/vxlfixup.h"

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& library) {
    std::set<std::string> symbols;
    const std::string cmd = "nm -D --defined-only " + library + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "re");
    if (pipe == nullptr) return symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char address[64], type[8], name[900];
        if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3) {
            const std::string t = type;
            if (t == "T" || t == "W" || t == "D" || t == "B" || t == "V" || t == "i") {
                symbols.insert(name);
            }
        }
    }
    ::pclose(pipe);
    return symbols;
}

TEST(ExportedInterfaceTest, OnlyTheHostInterfaceIsExported) {
    const std::set<std::string> expected = {
        "vxlRunFixup",
        "vxlFixupMemFree",
        "_Z15vxlRunAutoFixupP8vxlfixupPKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
        "vxlSetupUserEquivalence",
        "RSA_KEY_FILE_NAME",
        "SSH_KEYGEN_CMD",
        "SSH_AGENT_CMD",
        "SSH_ADD_CMD"};
    EXPECT_EQ(definedDynamicSymbols(VXL_SHARED_LIBRARY_PATH), expected);
}

TEST(ExportedInterfaceTest, LoadsWithNoHostSymbolAndFreesNull) {
    void* handle = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto memFree = reinterpret_cast<void (*)(void*)>(::dlsym(handle, "vxlFixupMemFree"));
    ASSERT_NE(memFree, nullptr);
    memFree(nullptr);
    auto run = reinterpret_cast<int (*)(vxlfixup*)>(::dlsym(handle, "vxlRunFixup"));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run(nullptr), 1);
    vxlfixup record{};  // every input null
    EXPECT_EQ(run(&record), 1);
    ASSERT_NE(record.errorMessage, nullptr);
    EXPECT_EQ(std::string(record.errorMessage).rfind("caught FixupException error is {", 0), 0u);
    memFree(record.errorMessage);
    EXPECT_EQ(record.outputFile, nullptr);
    ::dlclose(handle);
}

TEST(ExportedInterfaceTest, SshTextsArePointersToTheirTexts) {
    void* handle = ::dlopen(VXL_SHARED_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const std::pair<const char*, const char*> texts[] = {{"RSA_KEY_FILE_NAME", "id_rsa"},
                                                         {"SSH_KEYGEN_CMD", "/usr/bin/ssh-keygen"},
                                                         {"SSH_AGENT_CMD", "/usr/bin/ssh-agent"},
                                                         {"SSH_ADD_CMD", "/usr/bin/ssh-add"}};
    for (const auto& [name, text] : texts) {
        auto* symbol = static_cast<const char* const*>(::dlsym(handle, name));
        ASSERT_NE(symbol, nullptr) << name;
        EXPECT_STREQ(*symbol, text) << name;
    }
    ::dlclose(handle);
}

}  // namespace
