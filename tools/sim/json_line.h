// One flat JSON object printed as one line on standard output: how the simulator tells tests
// and people what happened.
#pragma once

#include <cstdint>
#include <string>

namespace tavix::sim {

class JsonLine {
  public:
    // Starts the object with its first field, e.g. JsonLine("request", "login").
    JsonLine(const char* key, const std::string& text);

    JsonLine& Text(const char* key, const std::string& text);
    JsonLine& Number(const char* key, int64_t number);
    JsonLine& Flag(const char* key, bool flag);

    std::string Str() const { return text + "}"; }
    // Writes the line and flushes; lines of different threads never mix.
    void Print() const;

  private:
    void Key(const char* key);
    std::string text;
};

// Text escaped for a JSON string (quotes, backslashes and control bytes; other bytes as they
// are, so UTF-8 passes through).
std::string JsonEscape(const std::string& text);

}  // namespace tavix::sim
