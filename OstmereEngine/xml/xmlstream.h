// XML written element by element straight to its file, in the indented form the document
// layer saves, for outputs too large or too deep to be built as a document first.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostmere {

// A file written beside its target under a temporary name and renamed over the target on
// commit, so that a failure or an abandoned write leaves an earlier file of that name intact.
// Opening failures are kept, not raised: they show at commit like any other write failure.
class CReplacingFile {
  public:
    explicit CReplacingFile(const std::string& target);
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    FILE* stream() const { return file_; } // null when the file could not be made
    // Flushes, closes and renames; false when anything failed (the temporary is removed).
    bool commit();

  private:
    void discard();
    std::string target_;
    std::string temp_;
    FILE* file_ = nullptr;
};

using XmlAttributes = std::vector<std::pair<const char*, std::string>>; // values in XML text

class CXmlStreamWriter {
  public:
    // Elements nested deeper than this are indented as if they stood at this depth: a chain of
    // n elements then takes space linear in n, while every ordinary tree keeps its full form.
    static constexpr unsigned kMaxIndentDepth = 64;

    explicit CXmlStreamWriter(FILE* file) : file_(file) {}
    ~CXmlStreamWriter() = default;
    CXmlStreamWriter(const CXmlStreamWriter&) = delete;
    CXmlStreamWriter& operator=(const CXmlStreamWriter&) = delete;

    void declaration();
    // An element with children: its start tag; close() ends it.
    void open(std::string_view name, const XmlAttributes& attributes = {});
    void close();
    // An element without children.
    void empty(std::string_view name, const XmlAttributes& attributes = {});
    // Writes out what is buffered; false when the file could not take it.
    bool flush();

  private:
    void startTag(std::string_view name, const XmlAttributes& attributes);
    void indent();
    void escaped(const std::string& value);
    void spill();

    FILE* file_;
    std::string buffer_;
    std::vector<std::string> open_;
    bool failed_ = false;
};

} // namespace ostmere
