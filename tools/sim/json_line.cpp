#include "tools/sim/json_line.h"

#include <cstdio>
#include <mutex>

namespace tavix::sim {
namespace {

std::mutex printLock;
std::FILE* output = nullptr;  // null: standard output

}  // namespace

void SetJsonLineOutput(std::FILE* to) {
    std::lock_guard<std::mutex> lock(printLock);
    output = to;
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

JsonLine::JsonLine(const char* key, const std::string& text) : text("{") {
    Text(key, text);
}

void JsonLine::Key(const char* key) {
    if (text.size() > 1) text += ',';
    text += '"';
    text += key;
    text += "\":";
}

JsonLine& JsonLine::Text(const char* key, const std::string& value) {
    Key(key);
    text += '"' + JsonEscape(value) + '"';
    return *this;
}

JsonLine& JsonLine::Number(const char* key, int64_t number) {
    Key(key);
    text += std::to_string(number);
    return *this;
}

JsonLine& JsonLine::Real(const char* key, double number, int decimals) {
    Key(key);
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, number);
    text += digits;
    return *this;
}

JsonLine& JsonLine::Flag(const char* key, bool flag) {
    Key(key);
    text += flag ? "true" : "false";
    return *this;
}

void JsonLine::Print() const {
    std::string line = Str() + "\n";
    std::lock_guard<std::mutex> lock(printLock);
    std::FILE* to = output != nullptr ? output : stdout;
    std::fwrite(line.data(), 1, line.size(), to);
    std::fflush(to);
}

}  // namespace tavix::sim
