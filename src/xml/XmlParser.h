// The reader of the fix-up data document and the holder of its tree for one
// run: a process-wide instance (getInstance/dispose, one run at a time) that
// reads the restricted one-tag-per-line dialect into an XmlNode tree, turns
// the tree into FixupData records, writes results into it and saves it as the
// output document.
//
// Malformed input never ends in anything but XmlParserException: lines that
// cannot be read are skipped (traced) and reading resumes at the top level;
// a missing VEXEL_FIXUP_ROOT, an element never closed or nesting deeper than
// MAX_NESTING_DEPTH levels end the read with XmlParserException.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "xml/XmlNode.h"

namespace vxl_fixup {

class FixupData;
class SharedAttributeValues;
class Result;

// A document's lines, one at a time, as the reader takes them.
class DocumentLines {
public:
    virtual ~DocumentLines() = default;
    // The next line; false after the last. XmlParserException when the
    // document cannot be read further.
    virtual bool next(std::string& line) = 0;
};

// Thrown by value by the reader and the document layers; caught by type.
class XmlParserException {
public:
    explicit XmlParserException(const std::string& message) : m_message(message) {}
    const std::string& what() const { return m_message; }

private:
    std::string m_message;
};

class XmlParser {
public:
    static constexpr int MAX_NESTING_DEPTH = 256;

    // The process-wide instance; the first call creates it, reading the file
    // at path (XmlParserException when the path is null or empty or the file
    // cannot be read). Later calls return it unchanged and ignore path.
    static XmlParser* getInstance(const std::string* path);
    // The same, creating an instance without a document when none exists.
    static XmlParser* getInstance();
    // Destroys the instance (and its tree); a later getInstance makes a new one.
    static void dispose();

    // Reads the file at path (see getInstance).
    explicit XmlParser(const std::string* path);
    // No document; parseFixupData supplies one.
    XmlParser();
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // The VEXEL_FIXUP_ROOT element, null while no document was read. Owned
    // here, together with the other top-level elements of the document.
    XmlNode* getRoot() const { return m_root; }

    // Reading (the line dialect).
    XmlNode* parse();
    // Builds every top-level element and keeps the first VEXEL_FIXUP_ROOT as
    // the root, replacing an earlier tree.
    XmlNode* createTree(const std::vector<std::string>& lines);
    // Builds the element starting at lines[index] with its subtree; a new node
    // the caller owns. index ends at the element's last line, or at the line
    // that could not be read when XmlParserException is thrown.
    XmlNode* createNode(const std::vector<std::string>& lines, std::size_t& index);
    XmlTagType getTagType(const std::string& line);
    // Element name followed by the attribute tokens of the line's tag.
    std::vector<std::string> getTagData(const std::string& line, XmlTagType type);
    // The decoded text between the first ">" and the next "<"; empty if none.
    std::string getTagValue(const std::string& name, const std::string& line);

    // Input document. A null text is ignored; text without any non-blank line
    // leaves the tree as it was.
    void parseFixupData(const std::string* text);
    // One record per FIXUP_DATA element, tasks and instances in document
    // order; empty without a document. Every record is handed to the run
    // owner (RunObjects): callers use it during the run and never delete it.
    // A root without TASK_LIST ends in XmlParserException.
    std::vector<FixupData*> getFixupDataFromXml() const;
    std::vector<FixupData*> getFixupDataListFromXmlTask(const XmlNode* task) const;
    // The record and its scripts point to texts of the tree (element's
    // and taskId's), which must outlive their use.
    FixupData* getFixupDataFromXmlTaskFixupData(const std::string* taskId,
                                                const int& instanceNumber,
                                                const XmlNode* element) const;

    // Output document. Adds the FIXUP_OUTPUT_DATA of result under the local
    // node's NODE element of the instance-th (from 0) FIXUP_DATA that names the
    // local node, counted over every TASK whose ID equals the record's task
    // identifier. Never fails: a missing place only leaves traces. The places
    // are found once per tree and local node name (an index built on the first
    // call), so each call takes constant time; changes made to the tree's
    // TASK, FIXUP_DATA or NODE elements through getRoot() after that first call
    // are not seen.
    void updateOutPutXMLWithResult(const FixupData* data, Result* result, const int& instance);
    // A new FIXUP_OUTPUT_DATA element the caller owns.
    XmlNode* createOutputDataXMLNode(Result* result);
    // Writes the header line and the tree; null path: nothing. Creates the
    // file's directory (one level, mode 1777) when missing. The old file is
    // removed and the new one created exclusively and renamed into place, so
    // nothing is written through a link; a file createOutputFile made for
    // path is written through its descriptor instead. XmlParserException when
    // the directory is a link or not a directory ("Refused to use the output
    // directory (...): ..."), cannot be created, the file cannot be written
    // (the text ends with the system's reason; no half written file is
    // left), or there is no tree (an empty file is then left).
    void saveXmlToFile(const std::string* path);
    // Creates the output file at path before a run changes anything: the old
    // file goes, the new one is created exclusively (never through a link)
    // in its directory (made as saveXmlToFile makes it), receives the header
    // line and is held open for saveXmlToFile. XmlParserException with the
    // system's reason when the place cannot take it (no room, no permission,
    // a directory or other non-file standing at path).
    static void createOutputFile(const std::string* path);
    // Removes and forgets the file createOutputFile made when the run ends
    // without saving it.
    static void abandonOutputFile();

private:
    // Reading moves forward only, so the document is read as a stream: only
    // the line under the cursor is held, never the whole text.
    class LineCursor {
    public:
        LineCursor(DocumentLines& source, std::size_t firstIndex);
        bool valid() const { return m_valid; }
        const std::string& line() const { return m_line; }
        std::size_t index() const { return m_index; }
        void advance();

    private:
        DocumentLines& m_source;
        std::string m_line;
        std::size_t m_index;
        bool m_valid;
    };

    XmlNode* readTree(DocumentLines& lines, const std::string& traceSource);
    XmlNode* buildTree(LineCursor& cursor);
    std::unique_ptr<XmlNode> buildNode(LineCursor& cursor, int depth, SharedAttributeValues& values);
    void takeTree(std::unique_ptr<XmlNode> holder, XmlNode* root);

    // Where results land: for each task identifier, the local node's NODE
    // element of every FIXUP_DATA naming the local node, in document order.
    struct OutputPlaces {
        std::string localNode;
        std::unordered_map<std::string, std::vector<XmlNode*>> byTask;
    };
    const OutputPlaces& outputPlaces();

    static XmlParser* m_parserObj;

    std::unique_ptr<XmlNode> m_tree;  // FIXUP_TREE_ROOT holding the top-level elements
    XmlNode* m_root = nullptr;
    std::unique_ptr<std::string> m_filePath;
    std::unique_ptr<OutputPlaces> m_places;  // built on first use, dropped with the tree
};

// The lines of a document text as the reader takes them: split at line feeds,
// trimmed of blanks and tabs, empty lines dropped. The text must outlive the
// returned reader.
std::unique_ptr<DocumentLines> documentTextLines(const std::string& text);

}  // namespace vxl_fixup
