// A test package built with the real rpmbuild inside a test node, so the
// package tests install real packages without touching this machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sandbox/NodeTestSupport.h"

namespace vxl_test {

// The bytes of NAME-1.0-1.noarch.rpm, built from a spec whose header names
// the package and whose body (description, scripts, install, files) is
// given. A failed build fails the calling test and gives an empty text.
inline std::string buildNoarchPackage(const std::string& name, const std::string& specBody) {
    vxl_fixup::TestNode node;
    node.addFile("/var/tmp/package.spec", "Name: " + name +
                                              "\nVersion: 1.0\nRelease: 1\nSummary: test\n"
                                              "License: none\nBuildArch: noarch\n" +
                                              specBody);
    const vxl_fixup::NodeResult r =
        node.run("rpmbuild -bb --quiet --define '_topdir /var/tmp/rpmbuild' /var/tmp/package.spec");
    EXPECT_EQ(r.exitCode, 0) << r.stdoutText << r.stderrText;
    return r.fileContent("/var/tmp/rpmbuild/RPMS/noarch/" + name + "-1.0-1.noarch.rpm")
        .value_or("");
}

}  // namespace vxl_test
