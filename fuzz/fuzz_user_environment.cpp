// The user's language and locale variables and the user-dirs.dirs file, from
// outside. The input's lines are LANGUAGE, LC_ALL, LC_MESSAGES and LANG (an
// absent line is an unset variable); the whole input is also read as a
// user-dirs.dirs text. Every preferred language is made canonical and a
// locale is made of it; a folder found is absolute.
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/PlatFolders.h"
#include "platform/PlatLocale.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size() && lines.size() < 4) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    auto variable = [&](size_t inIndex) { return inIndex < lines.size() ? lines[inIndex].c_str() : nullptr; };
    const std::vector<std::string> languages =
        plat::PreferredLanguagesFromValues(variable(0), variable(1), variable(2), variable(3));
    fuzz::Check(languages.size() <= text.size() + 4, "no more languages than the texts hold");
    for (const std::string& language : languages) {
        fuzz::Check(!language.empty(), "empty languages are skipped");
        const std::string canonical = plat::CanonicalLanguageIdentifier(language);
        if (canonical.empty())
            continue;
        if (plat::PlatLocale* locale = plat::PlatLocale::Create(canonical))
            locale->Release();
    }

    for (const char* key : {"XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR"}) {
        const std::string folder = plat::UserFolderFromDirsText(text, key, "/home/someone");
        fuzz::Check(folder.empty() || folder[0] == '/', "a folder found is absolute");
    }
    return 0;
}
