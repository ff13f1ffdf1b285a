// The packages as an operator and a host project meet them, each kind (RPM,
// DEB) inside test nodes: the packages are made once from this build, then
// installed with the real rpm or dpkg. The library package alone runs the
// example document for the C example host, which was built here against the
// build folder; with all three packages a CMake host and a pkg-config host
// build and run, the tool and its manuals work, and after removing them
// nothing they brought is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sandbox/NodeTestSupport.h"
#include "support/Shell.h"
#include "util/ShellQuote.h"

namespace {

using vxl_fixup::shellQuote;
using vxl_test::runShell;
using vxl_test::ShellRun;

// Where the packages and the C host are made; the nodes read them there.
const std::string kMade = std::string(VXL_BUILD_DIR) + "/package-nodetest";

struct PackageKind {
    const char* generator;
    const char* install;  // shell text followed by package files
    const char* removeAll;
    const char* fields;  // prints "NAME: what it needs" for the package file $f
    const char* contents;  // prints the package file $f's files, one a line
    // The package files: library, development, tool.
    std::vector<std::string> files;
    // Lines the listing of contents and fields prints, in this order.
    std::string listing;
    std::string libDir;
    const char* cmakeArguments;  // for the CMake host
};

const std::string kDebLib = "/usr/lib/" VXL_LIBRARY_ARCHITECTURE;

const PackageKind kKinds[] = {
    {"RPM",
     // Debian's rpm keeps no record of the node's packages (--nodeps) and
     // asks to be told that it installs on Debian (--force-debian).
     "rpm -i --nodeps --force-debian",
     "rpm -e vxlfixup vxlfixup-devel libvxlfixup1",
     "printf '%s: ' \"$(rpm -qp --qf '%{NAME}' \"$f\")\"; rpm -qp --requires \"$f\" | "
     "grep -v '^libc\\.\\|^libgcc\\|^libstdc\\|^rpmlib\\|^rtld' | sort -u | tr '\\n' ' '; echo",
     "rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\\n]' \"$f\" | grep -v '^d' | cut -d' ' -f2",
     {"libvxlfixup1-1.0.0-1.x86_64.rpm", "vxlfixup-devel-1.0.0-1.x86_64.rpm",
      "vxlfixup-1.0.0-1.x86_64.rpm"},
     "/usr/lib64/libvxlfixup.so.1\n"
     "/usr/lib64/libvxlfixup.so.1.0.0\n"
     "/usr/share/doc/libvxlfixup1/copyright\n"
     "libvxlfixup1: /bin/sh openssh-clients procps shadow-utils \n"
     "/usr/include/vxlfixup/vxlfixup.h\n"
     "/usr/lib64/cmake/vxlfixup/vxlfixupConfig.cmake\n"
     "/usr/lib64/cmake/vxlfixup/vxlfixupConfigVersion.cmake\n"
     "/usr/lib64/libvxlfixup.so\n"
     "/usr/lib64/pkgconfig/vxlfixup.pc\n"
     "/usr/share/doc/vxlfixup-devel/copyright\n"
     "/usr/share/man/man3/vxlfixup.3.gz\n"
     "vxlfixup-devel: /usr/bin/pkg-config libvxlfixup1 = 1.0.0-1 \n"
     "/usr/bin/vxlfixup\n"
     "/usr/share/doc/vxlfixup/copyright\n"
     "/usr/share/man/man1/vxlfixup.1.gz\n"
     "vxlfixup: libvxlfixup.so.1()(64bit) \n",
     "/usr/lib64",
     // CMake on Debian does not look in lib64, CMake on an RPM-based system
     // does (prepare() writes the file that says so).
     "-DCMAKE_PROJECT_INCLUDE=/tmp/rpm-system.cmake"},
    {"DEB",
     "dpkg -i",
     "dpkg --purge vxlfixup libvxlfixup-dev libvxlfixup1",
     "dpkg-deb -f \"$f\" Package Depends | sed 'N;s/\\nDepends//'",
     "dpkg-deb -c \"$f\" | grep -v '^d' | sed 's/.* \\.\\(\\/[^ ]*\\).*/\\1/'",
     {"libvxlfixup1_1.0.0-1_amd64.deb", "libvxlfixup-dev_1.0.0-1_amd64.deb",
      "vxlfixup_1.0.0-1_amd64.deb"},
     kDebLib + "/libvxlfixup.so.1\n" + kDebLib +
         "/libvxlfixup.so.1.0.0\n"
         "/usr/share/doc/libvxlfixup1/changelog.Debian.gz\n"
         "/usr/share/doc/libvxlfixup1/copyright\n"
         "/usr/share/lintian/overrides/libvxlfixup1\n"
         "Package: libvxlfixup1: procps, passwd, openssh-client, libc6 (>= 2.33), "
         "libgcc-s1 (>= 3.0), libstdc++6 (>= 11)\n"
         "/usr/include/vxlfixup/vxlfixup.h\n" +
         kDebLib + "/cmake/vxlfixup/vxlfixupConfig.cmake\n" + kDebLib +
         "/cmake/vxlfixup/vxlfixupConfigVersion.cmake\n" + kDebLib + "/libvxlfixup.so\n" +
         kDebLib +
         "/pkgconfig/vxlfixup.pc\n"
         "/usr/share/doc/libvxlfixup-dev/changelog.Debian.gz\n"
         "/usr/share/doc/libvxlfixup-dev/copyright\n"
         "/usr/share/lintian/overrides/libvxlfixup-dev\n"
         "/usr/share/man/man3/vxlfixup.3.gz\n"
         "Package: libvxlfixup-dev: libvxlfixup1 (= 1.0.0-1)\n"
         "/usr/bin/vxlfixup\n"
         "/usr/share/doc/vxlfixup/changelog.Debian.gz\n"
         "/usr/share/doc/vxlfixup/copyright\n"
         "/usr/share/lintian/overrides/vxlfixup\n"
         "/usr/share/man/man1/vxlfixup.1.gz\n"
         "Package: vxlfixup: libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11), "
         "libvxlfixup1 (>= 1.0.0-1)\n",
     kDebLib, ""},
};

// Where the package tools keep their own records, and the scratch folders.
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

// A node that sees the made packages, whose loader searches /usr/lib64 as an
// RPM-based system's does, and whose pkg-config finds files there too.
// (The loader's setting is the node's own file, so it is no leftover.)
void prepare(vxl_fixup::TestNode& node) {
    node.setEnv("VXL_MADE", kMade)
        .setEnv("VXL_SOURCE_DIR", VXL_SOURCE_DIR)
        .setEnv("VXL_CMAKE", VXL_CMAKE)
        .setEnv("PKG_CONFIG_PATH", "/usr/lib64/pkgconfig");
    node.addFile("/etc/ld.so.conf.d/vxl-lib64.conf", "/usr/lib64\n");
    node.addFile("/tmp/rpm-system.cmake",
                 "set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS TRUE)\n");
    node.setTimeout(std::chrono::minutes(4));
}

// "run" shows a step's output only when the step fails.
const char* const kScriptStart = R"sh(set -e
run() { "$@" >/tmp/step.log 2>&1 || { cat /tmp/step.log; exit 1; }; }
cd "$VXL_MADE"
)sh";

class PackagesNodeTest : public ::testing::Test {
protected:
    // The packages and the C example host, made once for every test here.
    static void SetUpTestSuite() {
        made_ = new ShellRun(runShell(
            "rm -rf " + shellQuote(kMade) + " && " + shellQuote(VXL_CPACK) + " --config " +
            shellQuote(std::string(VXL_BUILD_DIR) + "/CPackConfig.cmake") + " -B " +
            shellQuote(kMade) + " && cc -std=c11 -o " + shellQuote(kMade + "/c_host") + " " +
            shellQuote(std::string(VXL_SOURCE_DIR) + "/examples/host_example.c") + " -I " +
            shellQuote(std::string(VXL_SOURCE_DIR) + "/include") + " -L " +
            shellQuote(VXL_BUILD_DIR) + " -lvxlfixup"));
    }
    static void TearDownTestSuite() {
        delete made_;
        made_ = nullptr;
    }
    void SetUp() override {
        VXL_REQUIRE_TEST_NODE();
        ASSERT_EQ(made_->exitCode, 0) << made_->output;
    }
    static ShellRun* made_;
};

ShellRun* PackagesNodeTest::made_ = nullptr;

// The library package alone is all a host needs at run time: the example
// host, linked elsewhere, loads the library from where the package put it
// and runs the example document to its output document.
TEST_F(PackagesNodeTest, LibraryPackageAloneRunsTheExampleDocument) {
    for (const PackageKind& kind : kKinds) {
        SCOPED_TRACE(kind.generator);
        vxl_fixup::TestNode node;
        prepare(node);
        // The kernel values the document reads come from a fake, as does
        // the service manager.
        node.addFakeSysctl("/sbin/sysctl").set("fs.file-max", "65536");
        node.addFakeTool("/bin/systemctl");
        node.addDirectory("/var/tmp/vxlfixup-example", 0700);
        const vxl_fixup::NodeResult r =
            node.run(std::string(kScriptStart) + "run " + kind.install + " " + kind.files[0] +
                     "\n"
                     "test ! -e /usr/bin/vxlfixup && test ! -e /usr/include/vxlfixup\n"
                     "./c_host \"$VXL_SOURCE_DIR/examples/fixup_data.xml\" "
                     "/var/tmp/vxlfixup-example node1\n");
        ASSERT_TRUE(r.ran()) << r.setupError;
        ASSERT_EQ(r.exitCode, 0) << r.stdoutText << r.stderrText;
        const std::string start = "return code: 0\noutput document: ";
        ASSERT_EQ(r.stdoutText.rfind(start + "/var/tmp/vxlfixup-example/", 0), 0u)
            << r.stdoutText;
        const std::string output =
            r.stdoutText.substr(start.size(), r.stdoutText.find('\n', start.size()) - start.size());
        EXPECT_NE(r.fileContent(output).value_or("").find("TASKKERNELPARAM"), std::string::npos)
            << output;
    }
}

// Each package holds its own files and names what it needs; installed
// together, a CMake host finds the library with find_package(vxlfixup), the
// C host builds with pkg-config alone, the tool and both manuals work, and
// removing the packages leaves nothing of theirs.
TEST_F(PackagesNodeTest, AllPackagesBuildHostsAndLeaveNothingWhenRemoved) {
    for (const PackageKind& kind : kKinds) {
        SCOPED_TRACE(kind.generator);
        vxl_fixup::TestNode node;
        prepare(node);
        node.setEnv("VXL_CMAKE_ARGUMENTS", kind.cmakeArguments);
        std::string files;
        for (const std::string& f : kind.files) files += " " + f;
        const vxl_fixup::NodeResult r = node.run(
            std::string(kScriptStart) + "for f in" + files + "; do\n  " + kind.contents +
            " | sort\n  " + kind.fields + "\ndone\necho '== install'\nrun " + kind.install +
            files + R"sh(
vxlfixup --help | head -n 1
echo "run path: $(readelf -d /usr/bin/vxlfixup | grep -o 'R[UN]*PATH.*' || true)"
man -w vxlfixup
man -w 3 vxlfixup
echo '== hosts'
run "$VXL_CMAKE" -S "$VXL_SOURCE_DIR/tests/packaging/cmake_host" -B /tmp/cmake_host $VXL_CMAKE_ARGUMENTS
run "$VXL_CMAKE" --build /tmp/cmake_host
/tmp/cmake_host/cmake_host
run cc -std=c11 -o /tmp/c_host "$VXL_SOURCE_DIR/examples/host_example.c" $(pkg-config --cflags --libs vxlfixup)
/tmp/c_host /tmp/none.xml /tmp node1 | head -n 1
echo "pkg-config libdir: $(pkg-config --variable=libdir vxlfixup)"
echo '== remove'
run )sh" + kind.removeAll + "\n");
        ASSERT_TRUE(r.ran()) << r.setupError;
        ASSERT_EQ(r.exitCode, 0) << r.stdoutText << r.stderrText;
        EXPECT_EQ(r.stdoutText.substr(0, r.stdoutText.find("== install\n")), kind.listing);
        EXPECT_EQ(r.stdoutText.substr(r.stdoutText.find("== install\n")),
                  "== install\n"
                  "usage: vxlfixup run DOCUMENT.xml [--node NAME] [--work-dir DIR] "
                  "[--trace-dir DIR]\n"
                  "run path: \n"
                  "/usr/share/man/man1/vxlfixup.1.gz\n/usr/share/man/man3/vxlfixup.3.gz\n"
                  "== hosts\n"
                  "return code: 1\nerror: caught FixupException. error is {vxlRunAutoFixup() - "
                  "a required input of the fix-up record is null}\n"
                  "return code: 1\n"
                  "pkg-config libdir: " +
                      kind.libDir + "\n== remove\n");
        std::vector<std::string> left;
        for (const std::string& path : r.changedFiles()) {
            if (!isBookkeeping(path)) left.push_back(path);
        }
        EXPECT_EQ(left, std::vector<std::string>{});
    }
}

}  // namespace
