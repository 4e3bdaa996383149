#include "json.h"

#include "OstmereEngine.h"

#include <cstdio>

namespace {

void appendEscape(std::string& out, uint32_t unit) {
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", unit);
    out += code;
}

bool isHigh(char16_t u) {
    return u >= 0xD800 && u < 0xDC00;
}
bool isLow(char16_t u) {
    return u >= 0xDC00 && u < 0xE000;
}

} // namespace

std::string jsonString(const std::u16string& text) {
    std::string out = "\"";
    std::u16string plain; // a run that the engine's conversion turns into valid UTF-8
    auto flush = [&] {
        out += utf16ToUtf8(plain);
        plain.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (isHigh(u) && i + 1 < text.size() && isLow(text[i + 1])) {
            plain += u;
            plain += text[++i];
        } else if (u == '"' || u == '\\') {
            flush();
            out += '\\';
            out += static_cast<char>(u);
        } else if (u < 0x20 || isHigh(u) || isLow(u)) {
            flush();
            appendEscape(out, u);
        } else {
            plain += u;
        }
    }
    flush();
    return out + "\"";
}

JsonObject& JsonObject::member(const std::string& key, const std::string& json) {
    if (!members_.empty())
        members_ += ",";
    members_.append(jsonString(utf8ToUtf16(key))).append(":").append(json);
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, const std::u16string& text) {
    return member(key, jsonString(text));
}

JsonObject& JsonObject::add(const std::string& key, const std::string& text) {
    return member(key, jsonString(utf8ToUtf16(text)));
}

JsonObject& JsonObject::add(const std::string& key, const char* text) {
    return add(key, std::string(text));
}

JsonObject& JsonObject::add(const std::string& key, uint64_t number) {
    return member(key, std::to_string(number));
}

JsonObject& JsonObject::add(const std::string& key, int number) {
    return member(key, std::to_string(number));
}

JsonObject& JsonObject::add(const std::string& key, bool value) {
    return member(key, value ? "true" : "false");
}

JsonObject& JsonObject::addSeconds(const std::string& key, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return member(key, text);
}

JsonObject& JsonObject::add(const std::string& key, const JsonObject& object) {
    return member(key, object.text());
}

JsonObject& JsonObject::add(const std::string& key, const std::vector<std::u16string>& texts) {
    std::string list = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        list.append(i ? "," : "").append(jsonString(texts[i]));
    return member(key, list.append("]"));
}
