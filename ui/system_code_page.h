// Text for the device: the 8-bit form of a wide string in the system's own encoding.
#pragma once

#include <string>
#include <string_view>

namespace tavix {

// `text` with composed characters precomposed, in the character encoding of the C library's
// current locale (LC_CTYPE; the Qt application object sets it from the environment), e.g.
// UTF-8, or ISO 8859-9 under a Turkish legacy locale. A character the encoding cannot represent
// becomes '?'. Never truncates: a character takes as many bytes as the encoding needs.
std::string ToSystemCodePage(std::u16string_view text);

}  // namespace tavix
