// The process-wide registry of components. Of it, the language choice that
// components and the application localise themselves with stands here.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/VString.h"

namespace qelt {

class VComponentManager {
public:
    // No dialect could be chosen.
    static constexpr uint32_t kNoDialect = 0xFFFFFFFE;

    // The dialect to localise with, from the language folders (names that
    // contain ".lproj") of a folder: with inIsBundle, of its
    // "Contents/Resources" subfolder. inWanted 0 lets the main bundle decide
    // from its own localisations, else looks for 1033. Answers the wanted
    // dialect when a folder of it exists, else 1033 when an English folder
    // exists, else the dialect of the last language folder examined;
    // kNoDialect for a null or missing folder. Never raises an error.
    // inFolderPath is a POSIX path; null means no folder.
    // LATER: the VFolder form, once folder objects exist, calls this one.
    static uint32_t GetLocalizationLanguage(const VString* inFolderPath, bool inIsBundle, uint32_t inWanted);

    // The localisation the main bundle prefers among its own (Info.plist
    // "CFBundleLocalizations", else its resources' ".lproj" folders); false
    // when the program has no bundle or the bundle no localisation.
    static bool GetMainBundlePreferredLocalization(VString& outLocalization);

    // Of the localisations, the first that one of the user's languages (most
    // preferred first) names, by exact dialect then by language alone; else
    // the development region when given; else the first localisation.
    static VString ChoosePreferredLocalization(const std::vector<VString>& inLocalizations,
                                               const std::vector<VString>& inUserLanguages,
                                               const VString& inDevelopmentRegion);
};

}  // namespace qelt
