#include "profile/language_text.h"

#include "profile/ini_file.h"

namespace tavix {

std::u16string LoadText(std::u16string_view key, const std::string& file) {
    return IniReadString(u"language", key, std::u16string(), file);
}

}  // namespace tavix
