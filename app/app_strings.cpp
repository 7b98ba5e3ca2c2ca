#include "app/app_strings.h"

#include "platform/system.h"

namespace tavix {

const std::u16string appTitle = u"Tavix";
const std::u16string appVersion = u"1.00.4";
std::string appDirectory;
std::string languageFile;

std::string ProgramDirectory(std::string_view programFile) {
    size_t last = programFile.rfind('/');
    if (last == std::string_view::npos) last = programFile.rfind('\\');
    if (last == std::string_view::npos) return {};
    return std::string(programFile.substr(0, last + 1));
}

const char* LanguageFileName(int languageId) {
    switch (languageId & 0x3FF) {
        case 0x04:
            return "language_chn.ini";
        case 0x1F:
            return "language_tur.ini";
        default:
            return "language_eng.ini";
    }
}

void FindPaths(const std::string& programFile, int languageId) {
    if (programFile.empty()) {
        appDirectory.clear();
        languageFile.clear();
        return;
    }
    appDirectory = ProgramDirectory(programFile);
    languageFile = appDirectory + LanguageFileName(languageId);
}

bool InitInstance(const std::function<void()>& runMainWindow) {
    FindPaths(ModuleFileName(), UiLanguageId());
    if (runMainWindow) runMainWindow();
    return false;
}

}  // namespace tavix
