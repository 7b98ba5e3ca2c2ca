#include "ui/ui_text.h"

#include "app/app_strings.h"
#include "profile/language_text.h"

namespace tavix {

QString Text(std::u16string_view key) {
    return ToQString(LoadText(key, languageFile));
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace tavix
