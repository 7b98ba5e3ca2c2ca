// The profile store: reads and writes values in small INI files of UTF-16LE text.
//
// Format: code units stored raw as 16-bit little-endian, no byte-order mark written or
// skipped, CR LF the only line end. A section header is exactly "[" name "]" CR LF (found
// anywhere in the text, case-sensitive); a key line is exactly name "=" value CR LF, without
// blanks or trimming. The text of a file is its first (length / 2) units up to the first zero
// unit; an odd last byte is not part of it.
//
// The key is searched from the end of its section's header to the end of the text, not just
// within the section: a key can be found as the tail of a longer key name ("P0" in "IP0=") or
// in a later section, and a write then replaces the value found there.
//
// Every call opens the file, reads all of it and closes it again before returning; nothing is
// cached. Calls keep no state, so any thread may call them; nothing guards one file against
// two writers. Blocking: file I/O only (a write flushes the file to disk).
#pragma once

#include <string>
#include <string_view>

namespace tavix {

// The value under `key` in `section` of the file at `path`, or `defaultValue` when it cannot
// be found: empty section, key or path; missing, unreadable or empty file; no header; no key;
// no CR LF after the value (a value on the last line without a line end). A stored empty
// value reads as the empty string. Never fails otherwise (out of memory gives the default).
std::u16string IniReadString(std::u16string_view section, std::u16string_view key,
                             std::u16string defaultValue, const std::string& path);

// IniReadString with `defaultValue` as decimal text, converted back the way an old C library
// would: leading blanks, an optional sign, then the leading decimal digits (clamped to the
// range of int); 0 when there are no digits. A missing key gives `defaultValue`, an empty or
// non-numeric value gives 0.
int IniReadInt(std::u16string_view section, std::u16string_view key, int defaultValue,
               const std::string& path);

// Stores `value` (may be empty) under `key` in `section`. A missing or empty file becomes
// "[" section "]" CR LF key "=" value CR LF; a missing section is appended as such a block
// directly after the last unit of the text; a missing key becomes the first line of its
// section; a found key has its value replaced up to its CR LF. Nothing else in the file
// changes, a byte-order mark included; bytes after a zero unit or an odd last byte are not
// kept.
//
// Returns 1 when the file was written; 0 when nothing was: empty section, key or path; a file
// that exists but cannot be opened for writing or read whole; a found key without a CR LF
// after its value; any error while writing. After 0 the file is exactly as it was.
//
// The new contents go to a temporary file in the same folder, which is flushed to disk and
// renamed over the file, so a crash or a full disk leaves the old file or the new one, never a
// part. A file the store creates is readable and writable by its owner only (it may hold a
// password); a replaced file keeps its permission bits and, where the system allows, its owner
// and group. A symbolic link is followed: the file it names is replaced, the link stays.
int IniWriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value,
                   const std::string& path);

}  // namespace tavix
