// Localised texts: every text the program shows is looked up by key in the language file.
#pragma once

#include <string>
#include <string_view>

namespace tavix {

// The text for `key` (an upper-case name such as "LOGIN" or "D_DIS"): its value in section
// "language" of the language file `file`, read anew at every call, so an edit of the file shows
// at the next lookup. Empty when the file, the section or the key is missing, or the value
// stands on a last line without a line end; there is no fallback to another language or to the
// key. Any thread. Blocks on file I/O only.
std::u16string LoadText(std::u16string_view key, const std::string& file);

}  // namespace tavix
