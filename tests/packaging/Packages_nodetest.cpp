// The RPM and the DEB as an operator meets them, each inside its own test
// node: the package is built from this build, installed with the real rpm or
// dpkg, the tool and the manuals are used from the installed files, the
// development files name paths that exist, and after removal nothing the
// package brought is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"

namespace {

struct PackageCase {
    const char* generator;
    const char* install;  // shell text; $pkg is the package file
    const char* remove;
    const char* metadata;  // prints the package's fields
    std::vector<std::string> expectedMetadata;
    const char* libDir;  // where the package puts the library
};

// Where the package tools keep their own records, and the package build.
bool isBookkeeping(const std::string& path) {
    for (const std::string& prefix :
         {std::string("/tmp/"), std::string("/var/lib/rpm/"), std::string("/var/lib/dpkg/"),
          std::string("/var/log/"), std::string("/var/cache/"), std::string("/var/tmp/"),
          std::string("/root/.rpmdb/"), std::string("/etc/ld.so.cache"),
          std::string(VXL_BUILD_DIR) + "/"}) {
        // The folder itself counts too: rpm creates its database on first use.
        if ((path + "/").rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// What the node runs, given the case's package tool commands; "run" shows a
// step's output only when the step fails.
std::string scriptFor(const PackageCase& c) {
    const std::string extension = std::string(c.generator) == "RPM" ? "rpm" : "deb";
    return std::string(R"sh(set -e
run() { "$@" >/tmp/step.log 2>&1 || { cat /tmp/step.log; exit 1; }; }
run "$VXL_CPACK" --config "$VXL_BUILD_DIR/CPackConfig.cmake" -B /tmp/pkg -G )sh") +
           c.generator + "\npkg=$(ls /tmp/pkg/vxlfixup*." + extension + ")\necho '== metadata'\n" +
           c.metadata + "\necho '== install'\nrun " + c.install + R"sh(
echo '== tool'
vxlfixup --help | head -n 1
echo "run path: $(readelf -d /usr/bin/vxlfixup | grep -o 'R[UN]*PATH.*' || true)"
man -w vxlfixup
man -w 3 vxlfixup
echo '== development files'
PKG_CONFIG_PATH=$(dirname "$(ls /usr/lib*/pkgconfig/vxlfixup.pc)")
export PKG_CONFIG_PATH
libdir=$(pkg-config --variable=libdir vxlfixup)
includedir=$(pkg-config --variable=includedir vxlfixup)
test -e "$libdir/libvxlfixup.so" && test -e "$includedir/vxlfixup/vxlfixup.h"
echo "pkg-config libdir: $libdir"
config=$libdir/cmake/vxlfixup/vxlfixupConfig.cmake
for path in $(grep -o '"/[^"]*"' "$config" | tr -d '"'); do
  test -e "$path"
  echo "cmake names: $path"
done
echo '== remove'
run )sh" + c.remove +
           "\n";
}

TEST(PackagesNodeTest, InstallRunAndRemoveWithoutLeftovers) {
    VXL_REQUIRE_TEST_NODE();
    const PackageCase cases[] = {
        {"RPM",
         // Debian's rpm keeps no record of the node's packages (--nodeps) and
         // asks to be told that it installs on Debian (--force-debian).
         "rpm -i --nodeps --force-debian \"$pkg\"",
         "rpm -e vxlfixup",
         "rpm -qp --qf '%{NAME} %{VERSION}-%{RELEASE} %{LICENSE}: %{SUMMARY}\\n' \"$pkg\"\n"
         "rpm -qp --requires \"$pkg\" | grep -v '^lib\\|^rpmlib\\|^rtld' | sort -u | "
         "tr '\\n' ' '; echo",
         {"vxlfixup 1.0.0-1 Proprietary: Node fix-up library for cluster prerequisite "
          "verification\n",
          "/bin/sh /usr/bin/pkg-config openssh-clients procps shadow-utils \n"},
         "/usr/lib64"},
        {"DEB",
         "dpkg -i \"$pkg\"",
         "dpkg --purge vxlfixup",
         "dpkg-deb -f \"$pkg\" Package Version Section Depends",
         {"Package: vxlfixup\nVersion: 1.0.0-1\nSection: admin\nDepends: procps, passwd, "
          "openssh-client, libc6"},
         "/usr/lib"},
    };
    for (const PackageCase& c : cases) {
        SCOPED_TRACE(c.generator);
        vxl_fixup::TestNode node;
        node.setEnv("VXL_CPACK", VXL_CPACK).setEnv("VXL_BUILD_DIR", VXL_BUILD_DIR);
        // The loader of an RPM-based system searches /usr/lib64.
        node.addFile("/etc/ld.so.conf.d/vxl-lib64.conf", "/usr/lib64\n");
        node.setTimeout(std::chrono::minutes(4));
        const vxl_fixup::NodeResult r = node.run(scriptFor(c));
        ASSERT_TRUE(r.ran()) << r.setupError;
        ASSERT_EQ(r.exitCode, 0) << r.stdoutText << r.stderrText;
        for (const std::string& field : c.expectedMetadata) {
            EXPECT_NE(r.stdoutText.find(field), std::string::npos) << field << "\n" << r.stdoutText;
        }
        const std::string libDir = c.libDir;
        for (const std::string& line :
             {std::string("usage: vxlfixup run DOCUMENT.xml"), std::string("run path: \n"),
              std::string("/usr/share/man/man1/vxlfixup.1.gz\n/usr/share/man/man3/vxlfixup.3.gz\n"),
              "pkg-config libdir: " + libDir + "\n",
              "cmake names: " + libDir + "/libvxlfixup.so.1.0.0\n",
              std::string("cmake names: /usr/include\n")}) {
            EXPECT_NE(r.stdoutText.find(line), std::string::npos) << line << "\n" << r.stdoutText;
        }
        std::vector<std::string> left;
        for (const std::string& path : r.changedFiles()) {
            if (!isBookkeeping(path)) left.push_back(path);
        }
        EXPECT_EQ(left, std::vector<std::string>{});
    }
}

}  // namespace
