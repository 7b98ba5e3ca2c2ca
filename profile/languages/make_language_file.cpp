// Build step: make_language_file SOURCE OUTPUT
//
// Turns a UTF-8 source of KEY=value lines (blank lines and lines starting with '#' skipped, a
// value taken as it stands up to the line end) into a language file in section "language".
// The file is written through the profile store itself, so it is laid out exactly as the store
// lays out a file it creates; the keys keep the order of the source. Exits 1 with a message on
// bad input (malformed UTF-8, a line without "=", a key that is not upper-case ASCII or appears
// twice) or when a key would not read back its own value.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profile/ini_file.h"

namespace {

// The UTF-16 form of UTF-8 `text`; false on a malformed or overlong sequence, a surrogate or a
// zero, which would end the text of the file.
bool ToUtf16(std::string_view text, std::u16string& out) {
    static constexpr char32_t kSmallest[] = {0x1, 0x80, 0x800, 0x10000};
    out.clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = lead < 0x80             ? 0
                       : (lead & 0xE0) == 0xC0 ? 1
                       : (lead & 0xF0) == 0xE0 ? 2
                       : (lead & 0xF8) == 0xF0 ? 3
                                               : 4;
        if (extra == 4 || text.size() - i <= extra) return false;
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
    return true;
}

bool IsKeyName(std::string_view key) {
    if (key.empty()) return false;
    for (char c : key)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

int Fail(const char* source, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: %s\n", source, line, what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_language_file SOURCE OUTPUT\n");
        return 1;
    }
    const char* source = argv[1];
    const std::string output = argv[2];
    std::ifstream in(source, std::ios::binary);
    if (!in) return Fail(source, 0, "cannot read");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::vector<std::pair<std::u16string, std::u16string>> entries;
    size_t lineStart = 0;
    for (int lineNumber = 1; lineStart < content.size(); ++lineNumber) {
        size_t lineEnd = content.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = content.size();
        std::string_view line(content.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        size_t equals = line.find('=');
        if (equals == std::string_view::npos) return Fail(source, lineNumber, "no '='");
        std::string_view name = line.substr(0, equals);
        if (!IsKeyName(name)) return Fail(source, lineNumber, "key is not upper-case ASCII");
        std::u16string key, value;
        ToUtf16(name, key);
        if (!ToUtf16(line.substr(equals + 1), value)) return Fail(source, lineNumber, "bad UTF-8");
        if (value.find(u'\r') != std::u16string::npos)
            return Fail(source, lineNumber, "CR inside the value");
        for (const auto& entry : entries)
            if (entry.first == key) return Fail(source, lineNumber, "key appears twice");
        entries.emplace_back(std::move(key), std::move(value));
    }

    if (entries.empty()) return Fail(source, 0, "no texts");
    // The store puts each new key first in its section: writing in reverse keeps the order.
    unlink(output.c_str());
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (tavix::IniWriteString(u"language", entry->first, entry->second, output) != 1) {
            unlink(output.c_str());
            return Fail(output.c_str(), 0, "cannot write");
        }
    }
    // A value holding an earlier key's "KEY=" text would shadow that key.
    for (size_t i = 0; i < entries.size(); ++i) {
        if (tavix::IniReadString(u"language", entries[i].first, u"\r\n", output) !=
            entries[i].second) {
            unlink(output.c_str());
            std::string name(entries[i].first.begin(), entries[i].first.end());
            return Fail(source, 0, (name + " does not read back its own value").c_str());
        }
    }
    // Language files are data for everyone; the store made it private.
    chmod(output.c_str(), 0644);
    return 0;
}
