// The run driver of vxlRunFixup: holds the parser singleton that read the
// fix-up data file, runs every task for the local node and saves the output
// document. Process-wide; created by getInstance, destroyed by dispose.
#pragma once

namespace vxl_fixup {

class XmlParser;

class NativeHandler {
public:
    // Creates the instance on first use, which reads and parses the data file
    // (parse failures surface as XmlParserException).
    static NativeHandler* getInstance();
    // Runs every task; 1 when every task's fix() returned true, else 0.
    int performFixup();
    // Disposes the parser and the instance.
    static void dispose();

private:
    NativeHandler();
    ~NativeHandler();
    NativeHandler(const NativeHandler&) = delete;
    NativeHandler& operator=(const NativeHandler&) = delete;

    static NativeHandler* m_handlerObj;
    XmlParser* m_parser;
};

}  // namespace vxl_fixup
