#include "platform/PlatBundle.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/PlatUTF8.h"

namespace qelt::plat {

namespace {

// Property lists above this size are refused.
constexpr long kMaxPlistBytes = 16 * 1024 * 1024;

// Nesting deeper than this is refused.
constexpr int kMaxPlistDepth = 64;

// A forward-only reader of XML property list text. It knows the elements of
// property lists (dict, key, string, integer, real, true, false, date, data,
// array) and skips the prolog, comments and the document type.
class PlistReader {
public:
    explicit PlistReader(const std::string& text, PlistArrays* arrays = nullptr) : fText(text), fArrays(arrays) {}

    bool Read(PlistValues& outValues)
    {
        if (!SkipProlog())
            return false;
        // The root: <plist ...> holding one <dict>, or a bare <dict>.
        std::string name;
        bool empty = false;
        if (!ReadStartTag(name, empty))
            return false;
        if (name == "plist") {
            if (empty)
                return false;
            SkipMisc();
            if (!ReadStartTag(name, empty))
                return false;
        }
        if (name != "dict")
            return false;
        if (empty)
            return true;
        return ReadDict(&outValues, 1);
    }

private:
    bool AtEnd() const { return fPos >= fText.size(); }

    bool StartsWith(const char* s) const { return fText.compare(fPos, std::char_traits<char>::length(s), s) == 0; }

    void SkipSpace()
    {
        while (!AtEnd() && (fText[fPos] == ' ' || fText[fPos] == '\t' || fText[fPos] == '\r' || fText[fPos] == '\n'))
            ++fPos;
    }

    // Skips white space, comments and processing instructions.
    bool SkipMisc()
    {
        for (;;) {
            SkipSpace();
            if (StartsWith("<!--")) {
                size_t end = fText.find("-->", fPos + 4);
                if (end == std::string::npos)
                    return false;
                fPos = end + 3;
            } else if (StartsWith("<?")) {
                size_t end = fText.find("?>", fPos + 2);
                if (end == std::string::npos)
                    return false;
                fPos = end + 2;
            } else {
                return true;
            }
        }
    }

    bool SkipProlog()
    {
        if (StartsWith("\xEF\xBB\xBF"))
            fPos += 3;
        for (;;) {
            if (!SkipMisc())
                return false;
            if (StartsWith("<!DOCTYPE")) {
                // No internal subset in property lists: up to the next '>' or ']>'.
                size_t bracket = fText.find('[', fPos);
                size_t close = fText.find('>', fPos);
                if (close == std::string::npos)
                    return false;
                if (bracket != std::string::npos && bracket < close) {
                    size_t end = fText.find("]>", bracket);
                    if (end == std::string::npos)
                        return false;
                    fPos = end + 2;
                } else {
                    fPos = close + 1;
                }
                continue;
            }
            return true;
        }
    }

    // Reads "<name attrs>" or "<name attrs/>".
    bool ReadStartTag(std::string& outName, bool& outEmpty)
    {
        if (AtEnd() || fText[fPos] != '<')
            return false;
        size_t close = fText.find('>', fPos);
        if (close == std::string::npos)
            return false;
        size_t nameStart = fPos + 1;
        size_t nameEnd = nameStart;
        while (nameEnd < close && fText[nameEnd] != ' ' && fText[nameEnd] != '\t' && fText[nameEnd] != '\r' &&
               fText[nameEnd] != '\n' && fText[nameEnd] != '/')
            ++nameEnd;
        if (nameEnd == nameStart || fText[nameStart] == '/' || fText[nameStart] == '!' || fText[nameStart] == '?')
            return false;
        outName.assign(fText, nameStart, nameEnd - nameStart);
        outEmpty = fText[close - 1] == '/';
        fPos = close + 1;
        return true;
    }

    bool ReadEndTag(const std::string& name)
    {
        SkipMisc();
        if (!StartsWith("</"))
            return false;
        size_t close = fText.find('>', fPos);
        if (close == std::string::npos)
            return false;
        size_t start = fPos + 2;
        size_t end = close;
        while (end > start && (fText[end - 1] == ' ' || fText[end - 1] == '\t' || fText[end - 1] == '\r' ||
                               fText[end - 1] == '\n'))
            --end;
        if (fText.compare(start, end - start, name) != 0 || end - start != name.size())
            return false;
        fPos = close + 1;
        return true;
    }

    // Reads character data up to the next end tag, resolving entities and
    // CDATA sections. Elements inside text are refused.
    bool ReadText(std::string& out)
    {
        out.clear();
        while (!AtEnd()) {
            char c = fText[fPos];
            if (c == '<') {
                if (StartsWith("<![CDATA[")) {
                    size_t end = fText.find("]]>", fPos + 9);
                    if (end == std::string::npos)
                        return false;
                    out.append(fText, fPos + 9, end - (fPos + 9));
                    fPos = end + 3;
                    continue;
                }
                if (StartsWith("<!--")) {
                    size_t end = fText.find("-->", fPos + 4);
                    if (end == std::string::npos)
                        return false;
                    fPos = end + 3;
                    continue;
                }
                return StartsWith("</");
            }
            if (c == '&') {
                size_t semi = fText.find(';', fPos);
                if (semi == std::string::npos || semi - fPos > 12)
                    return false;
                std::string entity = fText.substr(fPos + 1, semi - fPos - 1);
                if (entity == "amp")
                    out += '&';
                else if (entity == "lt")
                    out += '<';
                else if (entity == "gt")
                    out += '>';
                else if (entity == "quot")
                    out += '"';
                else if (entity == "apos")
                    out += '\'';
                else if (entity.size() > 1 && entity[0] == '#') {
                    bool hex = entity[1] == 'x' || entity[1] == 'X';
                    const char* digits = entity.c_str() + (hex ? 2 : 1);
                    if (*digits == 0)
                        return false;
                    char* endp = nullptr;
                    unsigned long cp = std::strtoul(digits, &endp, hex ? 16 : 10);
                    if (*endp != 0 || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                        return false;
                    char bytes[4];
                    out.append(bytes, EncodeCodePoint(static_cast<uint32_t>(cp), bytes));
                } else {
                    return false;
                }
                fPos = semi + 1;
                continue;
            }
            out += c;
            ++fPos;
        }
        return false;
    }

    // Skips one value whose start tag has been read.
    bool SkipValue(const std::string& name, bool empty, int depth)
    {
        if (empty)
            return true;
        if (name == "dict")
            return ReadDict(nullptr, depth + 1);
        if (name == "array")
            return ReadArray(depth + 1);
        std::string ignored;
        return ReadText(ignored) && ReadEndTag(name);
    }

    // Reads an array whose start tag has been read; keeps its strings in
    // outStrings when that is not null.
    bool ReadArray(int depth, std::vector<std::string>* outStrings = nullptr)
    {
        if (depth > kMaxPlistDepth)
            return false;
        for (;;) {
            if (!SkipMisc())
                return false;
            if (StartsWith("</"))
                return ReadEndTag("array");
            std::string name;
            bool empty = false;
            if (!ReadStartTag(name, empty))
                return false;
            if (outStrings != nullptr && name == "string") {
                std::string text;
                if (!empty && (!ReadText(text) || !ReadEndTag(name)))
                    return false;
                outStrings->push_back(text);
            } else if (!SkipValue(name, empty, depth)) {
                return false;
            }
        }
    }

    // Reads the pairs of a dictionary whose start tag has been read; keeps the
    // scalar values when values is not null.
    bool ReadDict(PlistValues* values, int depth)
    {
        if (depth > kMaxPlistDepth)
            return false;
        for (;;) {
            if (!SkipMisc())
                return false;
            if (StartsWith("</"))
                return ReadEndTag("dict");
            std::string name;
            bool empty = false;
            if (!ReadStartTag(name, empty) || name != "key")
                return false;
            std::string key;
            if (!empty && (!ReadText(key) || !ReadEndTag("key")))
                return false;
            if (!SkipMisc())
                return false;
            if (!ReadStartTag(name, empty))
                return false;
            if (name == "true" || name == "false") {
                if (!empty && !ReadEndTag(name))
                    return false;
                if (values != nullptr)
                    (*values)[key] = name;
            } else if (name == "string" || name == "integer" || name == "real" || name == "date") {
                std::string text;
                if (!empty && (!ReadText(text) || !ReadEndTag(name)))
                    return false;
                if (values != nullptr) {
                    if (name != "string") {
                        size_t b = text.find_first_not_of(" \t\r\n");
                        size_t e = text.find_last_not_of(" \t\r\n");
                        text = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
                    }
                    (*values)[key] = text;
                }
            } else if (name == "array" && !empty && values != nullptr && fArrays != nullptr) {
                std::vector<std::string> strings;
                if (!ReadArray(depth + 1, &strings))
                    return false;
                (*fArrays)[key] = strings;
            } else if (name == "dict" || name == "array" || name == "data") {
                if (!SkipValue(name, empty, depth))
                    return false;
            } else {
                return false;
            }
        }
    }

    const std::string& fText;
    PlistArrays* fArrays;
    size_t fPos = 0;
};

struct MainBundleInfo {
    std::string executablePath;
    std::string bundlePath;
};

const MainBundleInfo& GetMainBundleInfo()
{
    static const MainBundleInfo sInfo = [] {
        MainBundleInfo info;
        char buffer[PATH_MAX + 1];
        ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
        if (n <= 0)
            return info;
        buffer[n] = 0;
        info.executablePath = buffer;
        info.bundlePath = BundlePathOfExecutable(info.executablePath);
        return info;
    }();
    return sInfo;
}

}  // namespace

std::string BundlePathOfExecutable(const std::string& executablePath)
{
    // <bundle>/Contents/MacOS/<exe>
    size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == executablePath.size())
        return std::string();
    std::string macos = executablePath.substr(0, slash);
    size_t slash2 = macos.rfind('/');
    if (slash2 == std::string::npos || macos.compare(slash2 + 1, std::string::npos, "MacOS") != 0)
        return std::string();
    std::string contents = macos.substr(0, slash2);
    size_t slash3 = contents.rfind('/');
    if (slash3 == std::string::npos || slash3 == 0 ||
        contents.compare(slash3 + 1, std::string::npos, "Contents") != 0)
        return std::string();
    return contents.substr(0, slash3);
}

bool ParsePlistText(const std::string& text, PlistValues& outValues, PlistArrays* outArrays)
{
    outValues.clear();
    if (outArrays != nullptr)
        outArrays->clear();
    PlistReader reader(text, outArrays);
    if (!reader.Read(outValues)) {
        outValues.clear();
        if (outArrays != nullptr)
            outArrays->clear();
        return false;
    }
    return true;
}

namespace {

// The text of the file at path, within the property list size limit.
bool ReadPlistFileText(const std::string& path, std::string& outText)
{
    outText.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    char buffer[8192];
    size_t n = 0;
    bool ok = true;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        if (outText.size() + n > static_cast<size_t>(kMaxPlistBytes)) {
            ok = false;
            break;
        }
        outText.append(buffer, n);
    }
    if (std::ferror(file))
        ok = false;
    std::fclose(file);
    return ok;
}

// The main bundle's Info.plist, read once for the whole run (the memory
// manager, the process object and the component manager all ask for it at
// start-up). It is parsed both ways that ReadPlistFile offers, so that each
// getter answers exactly what a reading of its own would have; the parse
// with arrays only when an array is first asked for (the localisations,
// after the start-up), from the text kept since the reading.
struct MainBundlePlist {
    bool read = false;
    std::string text;
    bool valuesOK = false;
    PlistValues values;
};

struct MainBundlePlistArrays {
    bool arraysOK = false;
    PlistValues valuesBesideArrays;
    PlistArrays arrays;
};

const MainBundlePlist& GetMainBundlePlist()
{
    static const MainBundlePlist sPlist = [] {
        MainBundlePlist plist;
        const std::string path = GetMainBundleInfoPlistPath();
        if (path.empty() || !ReadPlistFileText(path, plist.text))
            return plist;
        plist.read = true;
        plist.valuesOK = ParsePlistText(plist.text, plist.values);
        return plist;
    }();
    return sPlist;
}

const MainBundlePlistArrays& GetMainBundlePlistArrays()
{
    static const MainBundlePlistArrays sArrays = [] {
        MainBundlePlistArrays arrays;
        const MainBundlePlist& plist = GetMainBundlePlist();
        if (plist.read)
            arrays.arraysOK = ParsePlistText(plist.text, arrays.valuesBesideArrays, &arrays.arrays);
        return arrays;
    }();
    return sArrays;
}

}  // namespace

bool ReadPlistFile(const std::string& path, PlistValues& outValues, PlistArrays* outArrays)
{
    outValues.clear();
    std::string text;
    return ReadPlistFileText(path, text) && ParsePlistText(text, outValues, outArrays);
}

bool GetPlistFileValue(const std::string& path, const std::string& key, std::string& outValue)
{
    PlistValues values;
    if (!ReadPlistFile(path, values))
        return false;
    auto it = values.find(key);
    if (it == values.end())
        return false;
    outValue = it->second;
    return true;
}

const std::string& GetExecutablePath() { return GetMainBundleInfo().executablePath; }

std::string GetExecutableFolder()
{
    const std::string& exe = GetExecutablePath();
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

const std::string& GetMainBundlePath() { return GetMainBundleInfo().bundlePath; }

std::string GetMainBundleInfoPlistPath()
{
    const std::string& bundle = GetMainBundlePath();
    if (bundle.empty())
        return std::string();
    return bundle + "/Contents/Info.plist";
}

std::string GetMainBundleResourcesFolder()
{
    const std::string& bundle = GetMainBundlePath();
    if (bundle.empty())
        return GetExecutableFolder();
    return bundle + "/Contents/Resources";
}

bool GetBundleInfoValue(const std::string& bundlePath, const std::string& key, std::string& outValue)
{
    if (bundlePath.empty())
        return false;
    return GetPlistFileValue(bundlePath + "/Contents/Info.plist", key, outValue);
}

bool GetMainBundleInfoValue(const std::string& key, std::string& outValue)
{
    const MainBundlePlist& plist = GetMainBundlePlist();
    if (!plist.valuesOK)
        return false;
    auto found = plist.values.find(key);
    if (found == plist.values.end())
        return false;
    outValue = found->second;
    return true;
}

std::string GetApplicationName()
{
    std::string name;
    if (GetMainBundleInfoValue("CFBundleName", name) && !name.empty())
        return name;
    const std::string& exe = GetExecutablePath();
    return exe.substr(exe.rfind('/') + 1);
}

bool GetMainBundleInfoStrings(const std::string& key, std::vector<std::string>& outStrings)
{
    outStrings.clear();
    const MainBundlePlistArrays& plist = GetMainBundlePlistArrays();
    if (!plist.arraysOK)
        return false;
    auto found = plist.arrays.find(key);
    if (found == plist.arrays.end())
        return false;
    outStrings = found->second;
    return true;
}

}  // namespace qelt::plat
