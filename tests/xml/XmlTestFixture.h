// A run for the document layers: the scratch fixture (work directory with
// the trace, node "node1", detail tracing, scratch pad) plus the parser
// singleton released afterwards.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

class XmlTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
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
};

}  // namespace vxl_fixup
