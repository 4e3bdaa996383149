#include "core/tkerr.h"

#include <cerrno>
#include <ctime>

CTKErr::CTKErr() : type(eErrGeneral), file(""), line(0), errorCode(0) {}

CTKErr::CTKErr(eErrType type, std::u16string message, const char* file, int32_t line)
    : type(type), message(std::move(message)), file(file), line(line),
      errorCode(static_cast<uint32_t>(errno)) {}

CTKErr::~CTKErr() = default;

std::u16string CTKErr::toStr() const {
    std::u16string text = u"Error type:" + ostmere::decimal(type) + u"\n";
    text += u"Message: " + message + u"\n";
    text += u"Error Code: " + ostmere::hex(errorCode) + u"\n";
    text +=
        u"Location: " + utf8ToUtf16(file ? file : "") + u" line:" + ostmere::decimal(line) + u"\n";
    return text;
}

CXmlError::CXmlError(uint32_t code, std::u16string description)
    : std::runtime_error("XML failure " + utf16ToUtf8(ostmere::hex(code)) + ": " +
                         utf16ToUtf8(description)),
      code_(code), description_(std::move(description)) {}

CTimer::CTimer() : stopTime(0), startTime(0) {}

void CTimer::start() {
    stopTime = 0;
    startTime = static_cast<int64_t>(std::time(nullptr));
}

void CTimer::stop() {
    stopTime = static_cast<int64_t>(std::time(nullptr));
}

std::u16string CTimer::getTime() const {
    int64_t elapsed = stopTime - startTime;
    auto two = [](int64_t v) {
        std::u16string t = ostmere::decimal(v);
        return t.size() < 2 ? u"0" + t : t;
    };
    return two(elapsed / 3600) + u":" + two(elapsed % 3600 / 60) + u":" + two(elapsed % 60);
}

void OstmereVersion(char16_t* buffer) {
    const char16_t version[] = u"1.01";
    for (int i = 0; i < 5; ++i)
        buffer[i] = version[i];
}

namespace ostmere {

void raise(std::u16string message, const char* file, int line) {
    throw CTKErr(eErrGeneral, std::move(message), file, line);
}

void raise(eErrKind kind, std::u16string message, const char* file, int line) {
    CTKErr error(eErrGeneral, std::move(message), file, line);
    error.kind = kind;
    throw error;
}

std::u16string decimal(int64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

bool isLowerHex(const std::u16string& text, size_t digits) {
    if (text.size() != digits)
        return false;
    for (char16_t c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

std::u16string hex(uint32_t value) {
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return text;
}

} // namespace ostmere
