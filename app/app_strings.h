// Process-wide strings and the start-up routine.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavix {

// Message-box caption and header title; the version shown beside it.
extern const std::u16string appTitle;
extern const std::u16string appVersion;
// The application's settings key (its organisation name). Nothing is stored under it: the saved
// login lives in login.ini, the desktop's settings in a store of their own.
inline constexpr char kSettingsKey[] = "应用程序向导生成的本地应用程序";

// The application's id (reverse DNS): its desktop entry is <id>.desktop, its icon <id>, and a
// Wayland compositor finds both through it.
inline constexpr char kApplicationId[] = "org.tavix.Tavix";

// Folder of the program file with its trailing separator; empty when unknown.
// Written only by start-up, before any other thread exists.
extern std::string appDirectory;
// appDirectory followed by the chosen language file's name.
extern std::string languageFile;

// The folder part of a program file name, separator included: up to the last '/', or, in a
// name without any '/', up to the last '\'. Empty when there is neither.
std::string ProgramDirectory(std::string_view programFile);

// "language_chn.ini" for primary language 4, "language_tur.ini" for 31, else "language_eng.ini".
const char* LanguageFileName(int languageId);

// Sets appDirectory and languageFile from the program file name and the UI language id. An
// empty file name leaves both empty.
void FindPaths(const std::string& programFile, int languageId);

// The start-up routine: fixes the paths from the running program and the locale, then runs
// the main window (when given) until it closes. Returns false: the process ends afterwards.
bool InitInstance(const std::function<void()>& runMainWindow);

}  // namespace tavix
