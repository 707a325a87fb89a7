// The bundle of the running program and its Info.plist values.
//
// An application keeps the Name.app/Contents/{Info.plist, MacOS/, Resources/}
// layout; the running program's bundle is found from its executable's path,
// three levels up from Contents/MacOS/<exe>. A program outside a bundle has
// no Info.plist values and uses its own folder for resources.
//
// Nothing here allocates through the toolbox's memory manager: the manager
// reads its settings from Info.plist before it exists.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qelt::plat {

// The top-level values of a property list's root dictionary, as text:
// strings as they stand, integers and reals as written, booleans as "true"
// or "false". Arrays and nested dictionaries are skipped.
using PlistValues = std::map<std::string, std::string>;
// The arrays of the root dictionary, by key: their string elements in order
// (other elements are skipped).
using PlistArrays = std::map<std::string, std::vector<std::string>>;

// Reads the XML property list text into values. False (values empty) when
// the text is not a property list with a root dictionary.
// With outArrays, the root dictionary's arrays of strings are kept there.
bool ParsePlistText(const std::string& text, PlistValues& outValues, PlistArrays* outArrays = nullptr);

// Reads the XML property list file at path. False when it cannot be read or parsed.
bool ReadPlistFile(const std::string& path, PlistValues& outValues, PlistArrays* outArrays = nullptr);

// Reads one value of the property list file at path. False when absent.
bool GetPlistFileValue(const std::string& path, const std::string& key, std::string& outValue);

// The bundle that holds the executable at executablePath
// ("/x/Tool.app" for "/x/Tool.app/Contents/MacOS/Tool"), empty when the
// executable does not lie in a bundle's Contents/MacOS folder.
std::string BundlePathOfExecutable(const std::string& executablePath);

// The full path of the running program's executable (empty when unknown).
const std::string& GetExecutablePath();

// The folder holding the running program's executable.
std::string GetExecutableFolder();

// The path of the running program's bundle ("/x/Tool.app"), empty when the
// program does not run from inside a bundle.
const std::string& GetMainBundlePath();

// The Info.plist path of the main bundle, empty outside a bundle.
std::string GetMainBundleInfoPlistPath();

// The resources folder: Contents/Resources of the bundle, or the
// executable's own folder outside a bundle.
std::string GetMainBundleResourcesFolder();

// The value for key of the Info.plist of the bundle at bundlePath.
bool GetBundleInfoValue(const std::string& bundlePath, const std::string& key, std::string& outValue);

// The main bundle's Info.plist value for key; false when the program runs
// outside a bundle or the key is absent. The file is read once per run, at
// the first of these calls (or of GetMainBundleInfoStrings).
bool GetMainBundleInfoValue(const std::string& key, std::string& outValue);

// The running program's name as the desktop shows it: the main bundle's
// "CFBundleName", else its executable's file name (empty when unknown).
std::string GetApplicationName();

// The strings of the main bundle's Info.plist array for key; false when the
// program runs outside a bundle or the key holds no array.
bool GetMainBundleInfoStrings(const std::string& key, std::vector<std::string>& outStrings);

}  // namespace qelt::plat
