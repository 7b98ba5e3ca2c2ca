// One flat JSON object printed as one line on standard output: how the simulator tells tests
// and people what happened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tavix::sim {

class JsonLine {
  public:
    // Starts the object with its first field, e.g. JsonLine("request", "login").
    JsonLine(const char* key, const std::string& text);

    JsonLine& Text(const char* key, const std::string& text);
    JsonLine& Number(const char* key, int64_t number);
    // With `decimals` digits after the point.
    JsonLine& Real(const char* key, double number, int decimals = 1);
    JsonLine& Flag(const char* key, bool flag);

    std::string Str() const { return text + "}"; }
    // Writes the line and flushes; lines of different threads never mix.
    void Print() const;

  private:
    void Key(const char* key);
    std::string text;
};

// Where Print writes: standard output unless a program in which the simulator runs inside
// (a benchmark) sends the lines elsewhere. Not for use while lines are being printed.
void SetJsonLineOutput(std::FILE* to);

// Text escaped for a JSON string (quotes, backslashes and control bytes; other bytes as they
// are, so UTF-8 passes through).
std::string JsonEscape(const std::string& text);

}  // namespace tavix::sim
