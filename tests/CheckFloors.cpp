// Checks two promises of the source tree and fails (exit status 1) when
// either is broken:
//   - includes run one way: a file of a floor names no higher floor, unless
//     tests/floors.txt lists that include with its reason;
//   - each folder's umbrella header (kernel/kernel.h, ...) includes every
//     header directly in the folder, unless tests/floors.txt lists the header
//     as private to the folder.
// An entry of tests/floors.txt that no longer matches the tree fails too, so
// the list says why each exception that remains is there.
// Usage: check_floors SOURCE_ROOT
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bottom up; the updater is an application and has no umbrella header.
const std::vector<std::string> kFloors = {"platform", "kernel", "values", "runtime", "files",
                                          "json",     "process", "xml",    "updater"};

int FloorOf(const std::string& inFolder)
{
    for (size_t i = 0; i < kFloors.size(); ++i)
        if (kFloors[i] == inFolder)
            return static_cast<int>(i);
    return -1;
}

bool IsSource(const fs::path& inPath)
{
    const std::string ext = inPath.extension().string();
    return ext == ".h" || ext == ".cpp" || ext == ".inc";
}

// The project includes of a file ("folder/..."), with their line numbers.
std::vector<std::pair<int, std::string>> ProjectIncludes(const fs::path& inPath)
{
    static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<std::pair<int, std::string>> result;
    std::ifstream in(inPath);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::smatch match;
        if (std::regex_search(line, match, kInclude))
            result.emplace_back(number, match[1].str());
    }
    return result;
}

struct AllowList {
    std::set<std::pair<std::string, std::string>> upward;  // file, included header
    std::set<std::string> privateHeaders;
    bool ok = true;
};

// Lines "FILE -> HEADER: reason" and "private HEADER: reason"; '#' starts a
// comment line. An entry without a reason is refused.
AllowList ReadAllowList(const fs::path& inPath)
{
    static const std::regex kUpward(R"(^(\S+)\s+->\s+(\S+):\s*(\S.*)$)");
    static const std::regex kPrivate(R"(^private\s+(\S+):\s*(\S.*)$)");
    AllowList list;
    std::ifstream in(inPath);
    if (!in) {
        std::cerr << inPath.string() << ": cannot be read\n";
        list.ok = false;
        return list;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::smatch match;
        if (std::regex_match(line, match, kPrivate))
            list.privateHeaders.insert(match[1].str());
        else if (std::regex_match(line, match, kUpward))
            list.upward.emplace(match[1].str(), match[2].str());
        else {
            std::cerr << inPath.string() << ":" << number << ": not an entry with a reason: " << line << "\n";
            list.ok = false;
        }
    }
    return list;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: check_floors SOURCE_ROOT\n";
        return 2;
    }
    const fs::path root = argv[1];
    AllowList allow = ReadAllowList(root / "tests" / "floors.txt");
    bool ok = allow.ok;

    // Includes that climb.
    std::set<std::pair<std::string, std::string>> seen;
    int upwardCount = 0;
    for (const std::string& floor : kFloors) {
        if (!fs::is_directory(root / floor))
            continue;
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(root / floor))
            if (entry.is_regular_file() && IsSource(entry.path()))
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const std::string name = fs::relative(file, root).generic_string();
            for (const auto& [line, included] : ProjectIncludes(file)) {
                const std::string target = included.substr(0, included.find('/'));
                if (FloorOf(target) <= FloorOf(floor))
                    continue;
                ++upwardCount;
                seen.emplace(name, included);
                if (allow.upward.count({name, included}) == 0) {
                    std::cerr << name << ":" << line << ": includes " << included << " of the higher floor "
                              << target << "; declare what it calls at its own floor, or list it in "
                              << "tests/floors.txt with the reason\n";
                    ok = false;
                }
            }
        }
    }
    for (const auto& [file, included] : allow.upward)
        if (seen.count({file, included}) == 0) {
            std::cerr << "tests/floors.txt: " << file << " no longer includes " << included
                      << "; remove the entry\n";
            ok = false;
        }

    // Umbrella headers.
    std::set<std::string> privateSeen;
    for (const std::string& floor : kFloors) {
        const fs::path umbrella = root / floor / (floor + ".h");
        if (!fs::exists(umbrella))
            continue;
        std::set<std::string> included;
        for (const auto& [line, header] : ProjectIncludes(umbrella))
            included.insert(header);
        std::vector<std::string> headers;
        for (const auto& entry : fs::directory_iterator(root / floor))
            if (entry.is_regular_file() && entry.path().extension() == ".h" && entry.path() != umbrella)
                headers.push_back(floor + "/" + entry.path().filename().string());
        std::sort(headers.begin(), headers.end());
        for (const std::string& header : headers) {
            if (allow.privateHeaders.count(header) != 0) {
                privateSeen.insert(header);
                continue;
            }
            if (included.count(header) == 0) {
                std::cerr << umbrella.lexically_relative(root).generic_string() << ": lacks the public header "
                          << header << "; include it, or list it as private in tests/floors.txt\n";
                ok = false;
            }
        }
    }
    for (const std::string& header : allow.privateHeaders)
        if (privateSeen.count(header) == 0) {
            std::cerr << "tests/floors.txt: the private header " << header
                      << " is not a header of a folder with an umbrella; remove the entry\n";
            ok = false;
        }

    if (!ok)
        return 1;
    std::cout << upwardCount << " includes run to a higher floor, each listed with its reason in "
              << "tests/floors.txt\n";
    return 0;
}
