// XML written element by element straight to its file, in the indented form the document
// layer saves, for outputs too large or too deep to be built as a document first.
#pragma once

#include "core/fileReader.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostmere {

using XmlAttributes = std::vector<std::pair<const char*, std::string>>; // values in XML text

class CXmlStreamWriter {
  public:
    // Elements nested deeper than this are indented as if they stood at this depth: a chain of
    // n elements then takes space linear in n, while every ordinary tree keeps its full form.
    static constexpr unsigned kMaxIndentDepth = 64;

    explicit CXmlStreamWriter(COutputFile& file) : file_(file) {}
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

    COutputFile& file_;
    std::string buffer_;
    std::vector<std::string> open_;
    bool failed_ = false;
};

} // namespace ostmere
