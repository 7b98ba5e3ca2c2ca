#include "ui/ui_text.h"

#include "profile/language_text.h"

namespace tavix {

QString Text(std::u16string_view key) {
    return ToQString(LoadText(key));
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace tavix
