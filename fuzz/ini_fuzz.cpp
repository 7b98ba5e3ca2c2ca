// Arbitrary file bytes read and then rewritten by the profile store, with section, key and
// value taken from the input.
//
// Input: three bytes giving the lengths of section, key and value in units (low 4 bits each),
// then those units as 16-bit little-endian pairs, then the bytes of the file.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "profile/ini_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string folder;

// A file in a private folder under TMPDIR, made once and removed at exit.
const std::string& FilePath() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        folder = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                 "/tavix-ini-fuzz-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) __builtin_trap();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return folder + "/profile.ini";
    }();
    return path;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    if (!out.good()) __builtin_trap();
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Holds(const std::u16string& text, std::u16string_view part) {
    return text.find(part) != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    std::u16string parts[3];
    size_t at = 3;
    for (int i = 0; i < 3; ++i)
        for (size_t n = data[i] & 0x0F; n > 0 && at + 1 < size; --n, at += 2)
            parts[i] += tavix::ReadLe16(data + at);
    const std::u16string& section = parts[0];
    const std::u16string& key = parts[1];
    const std::u16string& value = parts[2];
    const Bytes file(data + at, data + size);
    const std::string& path = FilePath();
    WriteFile(path, file);

    // No value found in a file can hold a CR LF, so this default is never mistaken for one.
    const std::u16string kDefault = u"\r\n";
    std::u16string read = tavix::IniReadString(section, key, kDefault, path);
    bool found = read != kDefault;
    if (found && (Holds(read, u"\r\n") || Holds(read, std::u16string(1, u'\0')))) __builtin_trap();

    int written = tavix::IniWriteString(section, key, value, path);
    Bytes after = ReadFile(path);
    if (written != 0 && written != 1) __builtin_trap();
    // A failed write leaves the file as it was; a value that could be read can be replaced.
    if (written == 0 && (after != file || found)) __builtin_trap();
    if (written == 1) {
        if (after.size() % 2 != 0) __builtin_trap();
        // Reading back gives the value written, unless a zero unit or CR LF of our own cuts the
        // text or the value, or a CR LF inside the section lets the appended header complete
        // an earlier, partial one.
        const std::u16string zero(1, u'\0');
        bool plain = !Holds(section, zero) && !Holds(key, zero) && !Holds(value, zero) &&
                     !Holds(section, u"\r\n") && !Holds(value, u"\r\n");
        if (plain && tavix::IniReadString(section, key, kDefault, path) != value) __builtin_trap();
    }
    return 0;
}
