// For the document layers: the scratch fixture (work directory with the
// trace, node "node1", the parser singleton released afterwards) with
// document helpers.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>

#include "engine/HeaderConstants.h"
#include "support/ScratchFixture.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {

class XmlTest : public vxl_test::ScratchFixture {
protected:
    static std::string lines(std::initializer_list<std::string> parts) {
        std::string text;
        for (const std::string& p : parts) text += p + "\n";
        return text;
    }
    // A whole input document around the given TASK elements.
    static std::string document(const std::string& tasks) {
        return XML_BEGIN_HEADER + "\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n" + tasks +
               "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
    }
    // The singleton, holding the tree of the given document text.
    static XmlParser* parseText(const std::string& text) {
        XmlParser* parser = XmlParser::getInstance();
        parser->parseFixupData(&text);
        return parser;
    }
    static std::string messageOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const XmlParserException& e) {
            return e.what();
        }
        return "(no XmlParserException)";
    }
};

}  // namespace vxl_fixup
