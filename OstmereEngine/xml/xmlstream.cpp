#include "xml/xmlstream.h"

#include "core/tkerr.h"

TK_MODULE("xmlrep");

namespace ostmere {

void CXmlStreamWriter::declaration() {
    buffer_ += "<?xml version=\"1.0\"?>\n";
}

void CXmlStreamWriter::open(std::string_view name, const XmlAttributes& attributes) {
    startTag(name, attributes);
    buffer_ += ">\n";
    open_.emplace_back(name);
    spill();
}

void CXmlStreamWriter::close() {
    std::string name = std::move(open_.back());
    open_.pop_back();
    indent();
    buffer_ += "</";
    buffer_ += name;
    buffer_ += ">\n";
    spill();
}

void CXmlStreamWriter::empty(std::string_view name, const XmlAttributes& attributes) {
    startTag(name, attributes);
    buffer_ += " />\n";
    spill();
}

void CXmlStreamWriter::startTag(std::string_view name, const XmlAttributes& attributes) {
    indent();
    buffer_ += '<';
    buffer_ += name;
    for (const auto& [attribute, value] : attributes) {
        buffer_ += ' ';
        buffer_ += attribute;
        buffer_ += "=\"";
        escaped(value);
        buffer_ += '"';
    }
}

void CXmlStreamWriter::indent() {
    buffer_.append(std::min<size_t>(open_.size(), kMaxIndentDepth), '\t');
}

// The escapes the document layer's library writes in attribute values, so that both kinds of
// output read the same: the markup characters by name, the other C0 controls as two-digit
// character references.
void CXmlStreamWriter::escaped(const std::string& value) {
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '&')
            buffer_ += "&amp;";
        else if (c == '<')
            buffer_ += "&lt;";
        else if (c == '"')
            buffer_ += "&quot;";
        else if (byte < 32) {
            const char reference[] = {'&', '#', static_cast<char>('0' + byte / 10),
                                      static_cast<char>('0' + byte % 10), ';'};
            buffer_.append(reference, sizeof reference);
        } else
            buffer_ += c;
    }
}

void CXmlStreamWriter::spill() {
    if (buffer_.size() >= 64 * 1024)
        flush();
}

bool CXmlStreamWriter::flush() {
    if (!failed_ && !buffer_.empty())
        failed_ = file_.write(buffer_.data(), buffer_.size()) != buffer_.size();
    buffer_.clear();
    return !failed_;
}

} // namespace ostmere
