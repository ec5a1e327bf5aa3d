// A few lines of JSON for scripts: one object per line, fields in the order they are added.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zkhost {

inline std::string JsonEscape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 32) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

class JsonWriter {
public:
    JsonWriter& Field(std::string_view key, std::string_view value) {
        return Raw(key, "\"" + JsonEscape(value) + "\"");
    }
    JsonWriter& Field(std::string_view key, const char* value) { return Field(key, std::string_view(value)); }
    JsonWriter& Field(std::string_view key, const std::string& value) { return Field(key, std::string_view(value)); }
    JsonWriter& Field(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
    JsonWriter& Field(std::string_view key, int value) { return Raw(key, std::to_string(value)); }
    JsonWriter& Field(std::string_view key, unsigned value) { return Raw(key, std::to_string(value)); }
    JsonWriter& Field(std::string_view key, double value) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", value);
        return Raw(key, buf);
    }
    JsonWriter& Raw(std::string_view key, std::string_view json) {
        body_ += body_.empty() ? "{" : ",";
        body_ += "\"" + JsonEscape(key) + "\":";
        body_ += json;
        return *this;
    }
    std::string Str() const { return body_.empty() ? "{}" : body_ + "}"; }

private:
    std::string body_;
};

}  // namespace zkhost
