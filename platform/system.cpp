#include "platform/system.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace tavix {

std::string ModuleFileName() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof path)) return {};
    return std::string(path, static_cast<size_t>(length));
}

int LanguageIdFromLocale(std::string_view locale) {
    // The language part is what stands before '_', '.', '@' or '-'.
    std::string_view language = locale.substr(0, locale.find_first_of("_.@-"));
    if (language == "zh") return kLanguageChineseSimplified;
    if (language == "tr") return kLanguageTurkish;
    return kLanguageEnglishUs;
}

int UiLanguageId() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return LanguageIdFromLocale(value);
    }
    return kLanguageEnglishUs;
}

}  // namespace tavix
