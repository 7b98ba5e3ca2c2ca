#include "ui/system_code_page.h"

#include <QList>
#include <QString>

#include <climits>
#include <cwchar>

namespace tavix {

std::string ToSystemCodePage(std::u16string_view text) {
    const QString composed = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()))
                                 .normalized(QString::NormalizationForm_C);
    std::string bytes;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (uint codePoint : composed.toUcs4()) {
        const size_t length = std::wcrtomb(buffer, static_cast<wchar_t>(codePoint), &state);
        if (length == static_cast<size_t>(-1)) {
            bytes.push_back('?');
            state = std::mbstate_t{};
        } else {
            bytes.append(buffer, length);
        }
    }
    return bytes;
}

}  // namespace tavix
