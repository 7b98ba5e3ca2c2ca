#include "profile/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/bytes.h"

namespace tavix {
namespace {

// Owns one open file descriptor.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }

    bool IsOpen() const { return fd >= 0; }
    int Get() const { return fd; }
    // 0, or -1 when the system reports an error (for a written file: data may be lost).
    int Close() {
        if (fd < 0) return 0;
        int result = close(fd);
        fd = -1;
        return result;
    }

  private:
    int fd;
};

// Reads the whole file as text: the first (length / 2) little-endian units, up to the first
// zero unit. An empty file gives an empty text. `info` receives the file's status. false when
// the file cannot be read whole.
bool ReadWholeText(int fd, struct stat& info, std::u16string& text) {
    // Only plain files: a directory, pipe or device has no length to trust.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // A length beyond 32 bits counts as a short read.
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX) return false;
    size_t length = static_cast<size_t>(info.st_size);
    std::vector<uint8_t> bytes(length);
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, bytes.data() + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    text.clear();
    text.reserve(1000);
    for (size_t i = 0; i + 1 < length; i += 2) {
        char16_t unit = ReadLe16(&bytes[i]);
        if (unit == 0) break;
        text += unit;
    }
    return true;
}

enum class Match { kNoHeader, kNoKey, kNoLineEnd, kValue };

struct Search {
    Match match;
    size_t start = 0;  // kNoKey: just after the header line; kValue: the value's first unit
    size_t end = 0;    // kValue: the CR that ends the value
};

std::u16string Joined(std::initializer_list<std::u16string_view> parts) {
    size_t length = 0;
    for (std::u16string_view part : parts)
        length += part.size();
    std::u16string joined;
    joined.reserve(length);
    for (std::u16string_view part : parts)
        joined += part;
    return joined;
}

Search FindValue(const std::u16string& text, std::u16string_view section, std::u16string_view key) {
    std::u16string header = Joined({u"[", section, u"]\r\n"});
    size_t p = text.find(header);
    if (p == std::u16string::npos) return {Match::kNoHeader};
    std::u16string entry = Joined({key, u"="});
    // Open-ended on purpose: from the header's CR to the end of the text, whatever section or
    // key name the match lies in. Stored files and the writer's replacements rely on it.
    size_t q = text.find(entry, p + section.size() + 2);
    if (q == std::u16string::npos) return {Match::kNoKey, p + header.size()};
    size_t start = q + entry.size();
    // The value runs to the next CR LF. Searching from the value rather than from the key
    // differs only for a key that holds a CR LF itself, whose value would otherwise end
    // before it starts.
    size_t r = text.find(u"\r\n", start);
    if (r == std::u16string::npos) return {Match::kNoLineEnd};
    return {Match::kValue, start, r};
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing that was written.
void SyncFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    FileDescriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.IsOpen()) fsync(dir.Get());
}

// Puts `text` in place of the file at `path` through a temporary file beside it. `existing` is
// the status of the file being replaced, or null for a new file (which stays 0600, as made).
int ReplaceFile(const std::string& path, const std::u16string& text, const struct stat* existing) {
    std::vector<uint8_t> bytes(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i)
        WriteLe16(&bytes[2 * i], text[i]);

    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.IsOpen()) return 0;
    bool done = WriteAll(file.Get(), bytes);
    if (done && existing != nullptr) {
        // Only root may hand a file to another owner, and only a member may set the group;
        // where that fails the replaced file belongs to the writer, with the old mode.
        [[maybe_unused]] int ownerKept = fchown(file.Get(), existing->st_uid, existing->st_gid);
        done = fchmod(file.Get(), existing->st_mode & 07777) == 0;
    }
    done = done && fsync(file.Get()) == 0;
    done = file.Close() == 0 && done;
    done = done && rename(temporary.c_str(), path.c_str()) == 0;
    if (!done) {
        unlink(temporary.c_str());
        return 0;
    }
    SyncFolder(path);
    return 1;
}

// Digits after optional blanks and sign; 0 without digits. Saturates at the limits of int.
int LeadingInt(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > static_cast<int64_t>(INT_MAX) + 1)
            magnitude = static_cast<int64_t>(INT_MAX) + 1;
    }
    int64_t value = negative ? -magnitude : magnitude;
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

std::u16string IniReadString(std::u16string_view section, std::u16string_view key,
                             std::u16string defaultValue, const std::string& path) {
    if (section.empty() || key.empty() || path.empty()) return defaultValue;
    // Only allocation can throw here; out of memory reads as "not found".
    try {
        // Non-blocking, so that a pipe at the path cannot stall the open.
        FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file.IsOpen()) return defaultValue;
        struct stat info;
        std::u16string text;
        if (!ReadWholeText(file.Get(), info, text)) return defaultValue;
        file.Close();
        Search found = FindValue(text, section, key);
        if (found.match != Match::kValue) return defaultValue;
        return text.substr(found.start, found.end - found.start);
    } catch (const std::exception&) {
        return defaultValue;
    }
}

int IniReadInt(std::u16string_view section, std::u16string_view key, int defaultValue,
               const std::string& path) {
    try {
        std::string digits = std::to_string(defaultValue);
        return LeadingInt(
            IniReadString(section, key, std::u16string(digits.begin(), digits.end()), path));
    } catch (const std::exception&) {
        return defaultValue;
    }
}

int IniWriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   const std::string& path) {
    if (section.empty() || key.empty() || path.empty()) return 0;
    try {
        // Renaming over a symbolic link would replace the link; write the file it names.
        std::string target = path;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
            std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                                 &std::free);
            if (resolved == nullptr) return 0;
            target = resolved.get();
        }

        // Opening for writing checks that the caller may change this file at all: the rename
        // alone would also replace a file that is read-only to us.
        FileDescriptor file(open(target.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        bool exists = file.IsOpen();
        if (!exists && errno != ENOENT) return 0;
        std::u16string text;
        if (exists && !ReadWholeText(file.Get(), info, text)) return 0;
        file.Close();

        Search found = FindValue(text, section, key);
        switch (found.match) {
            case Match::kNoHeader:
                // Also the case of a new or empty file. No line end goes before the block,
                // even after a last line without one.
                text += Joined({u"[", section, u"]\r\n", key, u"=", value, u"\r\n"});
                break;
            case Match::kNoKey:
                text.insert(found.start, Joined({key, u"=", value, u"\r\n"}));
                break;
            case Match::kNoLineEnd:
                return 0;
            case Match::kValue:
                text.replace(found.start, found.end - found.start, value);
                break;
        }
        return ReplaceFile(target, text, exists ? &info : nullptr);
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace tavix
