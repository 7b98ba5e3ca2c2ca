// Texts for the widgets: looked-up language texts and the program's wide strings as QString.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tavix {

// The language text for `key`, read anew from the language file (empty when missing).
QString Text(std::u16string_view key);

QString ToQString(const std::u16string& text);

}  // namespace tavix
