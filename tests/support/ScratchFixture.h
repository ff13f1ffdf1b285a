// A test fixture with a private work directory, tracing at full detail into
// it, a local node name and an initialised scratch pad; the parser singleton
// is released afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/NLSError.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/TempDir.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"

namespace vxl_test {

// The result's only error as "facility|number|arg|...", "|nodisplay" appended
// when the facility is hidden; "<n errors>" when there is not exactly one.
inline std::string onlyError(const vxl_fixup::Result& result) {
    const auto errors = result.getErrorList();
    if (errors.size() != 1) return "<" + std::to_string(errors.size()) + " errors>";
    std::string text = *errors[0]->facility + "|" + *errors[0]->messageNumber;
    for (const std::string* a : errors[0]->arguments) text += "|" + *a;
    return text + (errors[0]->displayFacility ? "" : "|nodisplay");
}

class ScratchFixture : public ::testing::Test {
protected:
    void SetUp() override {
        vxl_fixup::Trace::resetForTesting();
        vxl_fixup::Constants::clearTraceDirPath();
        vxl_fixup::Constants::setWorkDirPath(work.dir());
        vxl_fixup::Constants::setLocalNodeName("node1");
        vxl_fixup::Trace::setTraceLevel(0);
        vxl_fixup::FixupUtil::initScratchPad();
    }
    void TearDown() override {
        vxl_fixup::XmlParser::dispose();
        vxl_fixup::FixupUtil::disposeScratchPad();
        vxl_fixup::Trace::resetForTesting();
        vxl_fixup::RunObjects::releaseAll();
    }
    // Everything traced so far (closes the trace file).
    std::string traceText() {
        vxl_fixup::Trace::close();
        return TempDir::read(work.file("vexel_fixup_trace_0.log"));
    }
    static const std::string& padPath() {
        return *vxl_fixup::Constants::FIXUP_NATIVE_OUTPUT_SCRATCH_PAD_PATH;
    }
    static const std::string& errorPadPath() {
        return *vxl_fixup::Constants::FIXUP_NATIVE_ERROR_SCRATCH_PAD_PATH;
    }
    static const std::string& execLogPath() {
        return *vxl_fixup::Constants::FIXUP_NATIVE_EXEC_LOG_SCRATCH_PAD_PATH;
    }
    TempDir work;
};

}  // namespace vxl_test
