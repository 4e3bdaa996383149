// The private-use escape of code units that XML 1.0 cannot carry.
#include "xml/xmltext.h"

#include "OstmereEngine.h"

namespace ostmere {
namespace {

constexpr char16_t kEscape = 0xE000;
constexpr char16_t kSurrogateBase = 0xE001; // U+E001..U+E800: U+D800..U+DFFF
constexpr char16_t kControlBase = 0xE801;   // U+E801..U+E820: U+0000..U+001F
constexpr char16_t kNonCharFFFE = 0xE821;
constexpr char16_t kNonCharFFFF = 0xE822;

bool isHigh(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLow(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}
bool isForbiddenControl(char16_t u) {
    return u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D;
}

// The private-use character naming an unrepresentable unit, or 0 when the unit needs none.
char16_t escapeOf(const std::u16string& text, size_t i) {
    char16_t u = text[i];
    if (isHigh(u) && i + 1 < text.size() && isLow(text[i + 1]))
        return 0;
    if (isLow(u) && i > 0 && isHigh(text[i - 1]))
        return 0;
    if (isHigh(u) || isLow(u))
        return static_cast<char16_t>(kSurrogateBase + (u - 0xD800));
    if (isForbiddenControl(u))
        return static_cast<char16_t>(kControlBase + u);
    if (u == 0xFFFE)
        return kNonCharFFFE;
    if (u == 0xFFFF)
        return kNonCharFFFF;
    return 0;
}

// The unit a private-use character names, or false when it names none.
bool unescape(char16_t code, char16_t& unit) {
    if (code == kEscape)
        unit = kEscape;
    else if (code >= kSurrogateBase && code < kSurrogateBase + 0x800)
        unit = static_cast<char16_t>(0xD800 + (code - kSurrogateBase));
    else if (code >= kControlBase && code < kControlBase + 0x20)
        unit = static_cast<char16_t>(code - kControlBase);
    else if (code == kNonCharFFFE)
        unit = 0xFFFE;
    else if (code == kNonCharFFFF)
        unit = 0xFFFF;
    else
        return false;
    return true;
}

} // namespace

std::string toXmlText(const std::u16string& text) {
    std::u16string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t code = text[i] == kEscape ? kEscape : escapeOf(text, i);
        if (code == 0) {
            escaped += text[i];
        } else {
            escaped += kEscape;
            escaped += code;
        }
    }
    return utf16ToUtf8(escaped);
}

std::u16string fromXmlText(const char* text) {
    std::u16string raw = utf8ToUtf16(text);
    std::u16string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char16_t unit;
        if (raw[i] == kEscape && i + 1 < raw.size() && unescape(raw[i + 1], unit)) {
            out += unit;
            ++i;
        } else {
            out += raw[i];
        }
    }
    return out;
}

} // namespace ostmere
