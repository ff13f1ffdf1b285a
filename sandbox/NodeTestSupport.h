#pragma once
// For node tests: skips the current test with the reason when test nodes
// cannot run here, or fails it when VXL_REQUIRE_NODE=1 (set by CI, where a
// skipped node test would hide a broken machine).

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "TestNode.h"

#define VXL_REQUIRE_TEST_NODE()                                        \
    do {                                                               \
        std::string vxlNodeWhy_;                                       \
        if (!::vxl_fixup::TestNode::available(&vxlNodeWhy_)) {         \
            const char* vxlNodeReq_ = std::getenv("VXL_REQUIRE_NODE"); \
            if (vxlNodeReq_ && std::strcmp(vxlNodeReq_, "1") == 0) {   \
                FAIL() << "VXL_REQUIRE_NODE=1 but " << vxlNodeWhy_;    \
            }                                                          \
            GTEST_SKIP() << vxlNodeWhy_;                               \
        }                                                              \
    } while (0)
