// One JSON object written in the order its members are added, for --json.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonObject {
  public:
    JsonObject& add(const std::string& key, const std::u16string& text);
    JsonObject& add(const std::string& key, const std::string& text);
    JsonObject& add(const std::string& key, const char* text);
    JsonObject& add(const std::string& key, uint64_t number);
    JsonObject& add(const std::string& key, int number);
    JsonObject& add(const std::string& key, bool value);
    JsonObject& addSeconds(const std::string& key, double seconds);
    JsonObject& add(const std::string& key, const JsonObject& object);
    JsonObject& add(const std::string& key, const std::vector<std::u16string>& texts);
    std::string text() const { return std::string("{").append(members_).append("}"); }

  private:
    JsonObject& member(const std::string& key, const std::string& json);
    std::string members_;
};

// A JSON string literal. Valid surrogate pairs become UTF-8; a lone surrogate (an undecodable
// file-name byte) is kept as a \u escape, so the output stays valid UTF-8.
std::string jsonString(const std::u16string& text);
