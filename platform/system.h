// What the program learns about itself and its user from the system.
#pragma once

#include <string>
#include <string_view>

namespace tavix {

// Full file name of the running program; empty when the system does not tell.
std::string ModuleFileName();

// Language identifiers as the language choice expects them: the primary language is the low
// 10 bits (4 Chinese, 0x1F Turkish).
constexpr int kLanguageChineseSimplified = 0x0804;
constexpr int kLanguageTurkish = 0x041F;
constexpr int kLanguageEnglishUs = 0x0409;

// The user-interface language from the locale environment: LC_ALL, else LC_MESSAGES, else
// LANG (an empty variable counts as unset).
int UiLanguageId();

// "zh_CN.UTF-8" -> Chinese, "tr_TR" -> Turkish, anything else (also "C", "POSIX", "") -> English.
int LanguageIdFromLocale(std::string_view locale);

}  // namespace tavix
