#include "profile/language_text.h"

#include "app/app_strings.h"
#include "profile/ini_file.h"

namespace tavix {

std::u16string LoadText(std::u16string_view key) {
    return IniReadString(u"language", key, std::u16string(), languageFile);
}

}  // namespace tavix
