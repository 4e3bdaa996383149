#include "xml/xmlstream.h"

#include "core/tkerr.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TK_MODULE("xmlrep");

namespace ostmere {

CReplacingFile::CReplacingFile(const std::string& target) : target_(target) {
    int fd = -1;
    // O_EXCL with mode 0666 leaves the permissions to the umask, as a plain create would.
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp_ = target + ".part" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        temp_.clear();
        return;
    }
    file_ = fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        discard();
    }
}

CReplacingFile::~CReplacingFile() {
    if (file_)
        fclose(file_);
    file_ = nullptr;
    discard();
}

void CReplacingFile::discard() {
    if (!temp_.empty())
        unlink(temp_.c_str());
    temp_.clear();
}

bool CReplacingFile::commit() {
    if (!file_)
        return false;
    bool ok = fflush(file_) == 0 && ferror(file_) == 0;
    ok = fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && rename(temp_.c_str(), target_.c_str()) == 0;
    if (ok)
        temp_.clear();
    else
        discard();
    return ok;
}

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
        failed_ = !file_ || fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size();
    buffer_.clear();
    return !failed_;
}

} // namespace ostmere
