#include "core/names.h"

#include "OstmereEngine.h"

namespace ostmere {

namespace {

// The UTF-8 bytes of U+F05C (EF 81 9C) as the lone surrogates that stand for raw bytes.
constexpr char16_t kLiteralStandIn[] = {0xDCEF, 0xDC81, 0xDC9C};

void appendEscaped(std::u16string& out, char16_t c) {
    if (c == kBackslashStandIn)
        out.append(kLiteralStandIn, 3);
    else
        out += c;
}

} // namespace

std::u16string escapeStandIns(const std::u16string& text) {
    if (text.find(kBackslashStandIn) == std::u16string::npos)
        return text;
    std::u16string out;
    out.reserve(text.size() + 4);
    for (char16_t c : text)
        appendEscaped(out, c);
    return out;
}

std::u16string engineName(const std::string& rawName) {
    std::u16string decoded = utf8ToUtf16(rawName);
    std::u16string out;
    out.reserve(decoded.size());
    for (char16_t c : decoded) {
        if (c == u'\\')
            out += kBackslashStandIn;
        else
            appendEscaped(out, c);
    }
    return out;
}

std::string nativeName(const std::u16string& name, char separator) {
    std::u16string mapped = name;
    for (auto& c : mapped) {
        if (c == u'\\')
            c = static_cast<char16_t>(separator);
        else if (c == kBackslashStandIn)
            c = u'\\';
    }
    return utf16ToUtf8(mapped);
}

} // namespace ostmere
