// A run for the document layers: a work directory that receives the trace,
// the local node "node1", detail tracing, and the parser singleton and the
// run's records released afterwards.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/RunObjects.h"
#include "support/TempDir.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

class XmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        Trace::resetForTesting();
        Constants::clearTraceDirPath();
        Constants::setWorkDirPath(work.dir());
        Constants::setLocalNodeName("node1");
        Trace::setTraceLevel(0);
    }
    void TearDown() override {
        XmlParser::dispose();
        RunObjects::releaseAll();
        Trace::resetForTesting();
    }

    std::string traceText() const {
        return vxl_test::TempDir::read(work.file("vexel_fixup_trace_0.log"));
    }
    static std::size_t occurrences(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
    static std::string lines(std::initializer_list<std::string> parts) {
        std::string text;
        for (const std::string& p : parts) text += p + "\n";
        return text;
    }
    // The singleton, holding the tree of the given document text.
    static XmlParser* parseText(const std::string& text) {
        XmlParser* parser = XmlParser::getInstance();
        parser->parseFixupData(&text);
        return parser;
    }

    vxl_test::TempDir work;
};

}  // namespace vxl_fixup
