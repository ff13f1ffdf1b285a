// Time to read a large fix-up data document, build its fix-up data list and
// write it back, at three sizes so that the growth can be seen to be linear.
// Everything happens under a temporary folder, removed at the end.
// Usage: xml_bench [LINES]   (default 100000; also runs LINES/4 and LINES/2)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/Constants.h"
#include "engine/HeaderConstants.h"
#include "engine/Trace.h"
#include "model/RunObjects.h"
#include "util/FileIO.h"
#include "util/FixupUtil.h"
#include "xml/XmlParser.h"

using namespace vxl_fixup;

namespace {

// Ten lines per instance, a hundred instances per task.
std::string makeDocument(std::size_t wantedLines, std::size_t& lineCount) {
    std::string text = XML_BEGIN_HEADER + "\n<VEXEL_FIXUP_ROOT>\n<TASK_LIST>\n";
    lineCount = 5;
    for (int task = 0; lineCount < wantedLines; ++task) {
        text += "<TASK ID=\"TASKKERNELPARAM\">\n<FIXUP_DATA_LIST>\n";
        for (int i = 0; i < 100 && lineCount < wantedLines; ++i) {
            const std::string n = std::to_string(task * 100 + i);
            text +=
                "  <FIXUP_DATA>\n    <NODE_LIST>\n"
                "      <NODE NAME=\"node1.example.com\" ACT_VAL=\"" +
                n +
                "\" EXP_VAL=\"250 32000 100 128\"/>\n"
                "      <NODE NAME=\"node2\" ACT_VAL=\"1\" EXP_VAL=\"2\"/>\n"
                "    </NODE_LIST>\n    <DATA_LIST>\n"
                "      <DATA NAME=\"kernel.sem." +
                n +
                "\" VAL=\"a &amp; b\"/>\n"
                "      <DATA NAME=\"limit\" VAL=\"" +
                n +
                "\"/>\n"
                "    </DATA_LIST>\n  </FIXUP_DATA>\n";
            lineCount += 10;
        }
        text += "</FIXUP_DATA_LIST>\n</TASK>\n";
        lineCount += 4;
    }
    return text + "</TASK_LIST>\n</VEXEL_FIXUP_ROOT>\n";
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One run per size; false (after a message) when the document layers failed.
bool measureSizes(std::size_t wanted, const std::string& dir) {
    std::printf("%10s %10s %10s %10s %10s %10s %10s\n", "lines", "bytes", "read_ms", "list_ms",
                "string_ms", "save_ms", "records");
    for (const std::size_t size : {wanted / 4, wanted / 2, wanted}) {
        std::size_t lines = 0;
        const std::string text = makeDocument(size, lines);
        auto start = std::chrono::steady_clock::now();
        XmlParser* parser = XmlParser::getInstance();
        parser->parseFixupData(&text);
        const double readMs = millisecondsSince(start);
        start = std::chrono::steady_clock::now();
        const std::size_t records = parser->getFixupDataFromXml().size();
        const double listMs = millisecondsSince(start);
        start = std::chrono::steady_clock::now();
        const std::size_t written = parser->getRoot()->toString().size();
        const double stringMs = millisecondsSince(start);
        const std::string path = dir + FIXUP_DIR_NAME + "/out.xml";
        start = std::chrono::steady_clock::now();
        parser->saveXmlToFile(&path);
        const double saveMs = millisecondsSince(start);
        std::printf("%10zu %10zu %10.1f %10.1f %10.1f %10.1f %10zu\n", lines, text.size(), readMs,
                    listMs, stringMs, saveMs, records);
        XmlParser::dispose();
        RunObjects::releaseAll();
        if (written == 0 || records == 0) {
            std::fprintf(stderr, "xml_bench: nothing read from the document\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t wanted = argc > 1 ? std::stoul(argv[1]) : 100000;
    char scratch[] = "/tmp/xml_bench.XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return 1;
    const std::string dir = std::string(scratch) + "/";
    Constants::setWorkDirPath(dir);
    Constants::setLocalNodeName("node1");
    bool ok = false;
    try {
        // Saving creates the output folder, which runs a command: the run's
        // scratch pad must exist, as in a run.
        FixupUtil::initScratchPad();
        ok = measureSizes(wanted, dir);
        FixupUtil::disposeScratchPad();
    } catch (const XmlParserException& e) {
        std::fprintf(stderr, "xml_bench: %s\n", e.what().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "xml_bench: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "xml_bench: the run failed\n");
    }
    XmlParser::dispose();
    RunObjects::releaseAll();
    Trace::close();
    int errorNumber = 0;
    vxl_fixup::removeTree(scratch, errorNumber);
    return ok ? 0 : 1;
}
