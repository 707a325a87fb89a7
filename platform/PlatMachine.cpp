#include "platform/PlatMachine.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

namespace qelt::plat {

namespace {

bool ReadTextFile(const std::string& path, std::string& outText)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    outText = buffer.str();
    return true;
}

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The first line of a small file, trimmed; false when unreadable.
bool ReadLine(const std::string& path, std::string& outLine)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    std::getline(in, line);
    outLine = Trim(line);
    return true;
}

// The value of "key:" in /proc/meminfo, in bytes.
uint64_t MemInfoValue(const char* key)
{
    std::string text;
    return ReadTextFile("/proc/meminfo", text) ? ParseMemInfoValue(text, key) : 0;
}

long ClockTicksPerSecond()
{
    long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? ticks : 100;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---- Memory.

uint64_t ParseMemInfoValue(const std::string& text, const char* key)
{
    std::istringstream in(text);
    std::string line;
    size_t keyLength = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':') {
            unsigned long long kib = std::strtoull(line.c_str() + keyLength + 1, nullptr, 10);
            // A value too large for bytes is as large as can be said.
            return kib > UINT64_MAX / 1024 ? UINT64_MAX : static_cast<uint64_t>(kib) * 1024;
        }
    }
    return 0;
}

uint64_t PhysicalMemorySize() { return MemInfoValue("MemTotal"); }

uint64_t PhysicalFreeMemorySize() { return MemInfoValue("MemFree"); }

uint64_t ProcessResidentSize()
{
    std::ifstream in("/proc/self/statm");
    unsigned long long size = 0;
    unsigned long long resident = 0;
    if (!(in >> size >> resident))
        return 0;
    long page = ::sysconf(_SC_PAGESIZE);
    return static_cast<uint64_t>(resident) * static_cast<uint64_t>(page > 0 ? page : 4096);
}

// ---- Processors.

int LogicalProcessorCount()
{
    long count = ::sysconf(_SC_NPROCESSORS_CONF);
    return count > 0 && count < INT_MAX ? static_cast<int>(count) : 0;
}

int PhysicalCoreCount(bool onlineOnly)
{
    DIR* dir = ::opendir("/sys/devices/system/cpu");
    if (dir == nullptr)
        return 0;
    std::set<std::pair<std::string, std::string>> cores;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, "cpu", 3) != 0 || name[3] < '0' || name[3] > '9')
            continue;
        std::string base = std::string("/sys/devices/system/cpu/") + name;
        if (onlineOnly) {
            std::string online;
            // cpu0 often has no "online" file: it cannot be taken offline.
            if (ReadLine(base + "/online", online) && online == "0")
                continue;
        }
        std::string package;
        std::string core;
        if (!ReadLine(base + "/topology/physical_package_id", package) || !ReadLine(base + "/topology/core_id", core))
            continue;
        cores.emplace(package, core);
    }
    ::closedir(dir);
    return static_cast<int>(cores.size());
}

bool ProcessorBrandText(std::string& outText)
{
    std::string text;
    return ReadTextFile("/proc/cpuinfo", text) && ParseProcessorBrand(text, outText);
}

bool ParseProcessorBrand(const std::string& text, std::string& outText)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // "model name" on x86; other machines name it differently.
        if (line.compare(0, 10, "model name") == 0 || line.compare(0, 9, "Processor") == 0 ||
            line.compare(0, 3, "cpu") == 0) {
            size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string key = Trim(line.substr(0, colon));
            if (key != "model name" && key != "Processor" && key != "cpu")
                continue;
            std::string value = line.substr(colon + 1);
            if (!value.empty() && value[0] == ' ')
                value.erase(0, 1);
            if (value.empty())
                continue;
            outText = value;
            return true;
        }
    }
    return false;
}

bool ParseProcessorTicks(const std::string& text, std::vector<ProcessorTicks>& outTicks)
{
    outTicks.clear();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // "cpuN user nice system idle ..." (the "cpu " line is the sum).
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || line[3] < '0' || line[3] > '9')
            continue;
        std::istringstream fields(line);
        std::string name;
        ProcessorTicks ticks;
        if (!(fields >> name >> ticks.user >> ticks.nice >> ticks.system >> ticks.idle))
            return false;
        outTicks.push_back(ticks);
    }
    return !outTicks.empty();
}

bool ReadProcessorTicks(std::vector<ProcessorTicks>& outTicks)
{
    std::string text;
    return ReadTextFile("/proc/stat", text) && ParseProcessorTicks(text, outTicks);
}

bool ParseProcessTicks(const std::string& text, uint64_t& outUser, uint64_t& outSystem, uint64_t& outStart)
{
    // The command name may hold spaces and parentheses: fields start after
    // the last ')'.
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> values;
    std::string value;
    // Only the first twenty fields after the name are needed.
    while (values.size() < 20 && fields >> value)
        values.push_back(value);
    // values[0] is field 3 (state): utime is field 14, stime 15, starttime 22.
    if (values.size() < 20)
        return false;
    outUser = std::strtoull(values[11].c_str(), nullptr, 10);
    outSystem = std::strtoull(values[12].c_str(), nullptr, 10);
    outStart = std::strtoull(values[19].c_str(), nullptr, 10);
    return true;
}

bool ProcessCpuTime(double& outCpuSeconds, double& outSecondsSinceStart)
{
    std::string text;
    uint64_t user = 0;
    uint64_t system = 0;
    uint64_t start = 0;
    if (!ReadTextFile("/proc/self/stat", text) || !ParseProcessTicks(text, user, system, start))
        return false;
    double ticks = static_cast<double>(ClockTicksPerSecond());
    timespec now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return false;
    double uptime = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    outCpuSeconds = static_cast<double>(user + system) / ticks;
    outSecondsSinceStart = uptime - static_cast<double>(start) / ticks;
    return true;
}

double MonotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// ---- Names.

bool HostName(std::string& outName)
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof(buffer) - 1) != 0 || buffer[0] == '\0')
        return false;
    outName = buffer;
    return true;
}

bool UserNames(std::string& outAccountName, std::string& outFullName)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    outAccountName = found->pw_name != nullptr ? found->pw_name : "";
    std::string gecos = found->pw_gecos != nullptr ? found->pw_gecos : "";
    size_t comma = gecos.find(',');
    if (comma != std::string::npos)
        gecos.erase(comma);
    outFullName = gecos.empty() ? outAccountName : gecos;
    return !outAccountName.empty();
}

bool ComputerModel(std::string& outText)
{
    std::string model;
    if (ReadLine("/sys/devices/virtual/dmi/id/product_name", model) && !model.empty()) {
        outText = model;
        return true;
    }
    if (ReadLine("/sys/firmware/devicetree/base/model", model) && !model.empty()) {
        // Device-tree texts end with a zero byte.
        outText = std::string(model.c_str());
        return !outText.empty();
    }
    return false;
}

// ---- Network.

namespace {

// The type number of an interface (ARPHRD_*), -1 when unknown.
int InterfaceType(const std::string& name)
{
    std::string text;
    if (!ReadLine("/sys/class/net/" + name + "/type", text) || text.empty())
        return -1;
    return std::atoi(text.c_str());
}

constexpr int kTypeLoopback = 772;

std::string InterfaceTypeText(const std::string& name)
{
    struct stat info;
    if (::stat(("/sys/class/net/" + name + "/wireless").c_str(), &info) == 0 ||
        ::stat(("/sys/class/net/" + name + "/phy80211").c_str(), &info) == 0)
        return "wifi";
    int type = InterfaceType(name);
    switch (type) {
    case 1:
        return "ethernet";
    case 32:
        return "infiniband";
    case 512:
        return "ppp";
    case 768:
    case 769:
    case 776:
    case 778:
        return "tunnel";
    case 65534:
        return "none";
    default:
        return type < 0 ? std::string("unknown") : std::to_string(type);
    }
}

// IPv6 addresses the kernel marks temporary (0x01), duplicated (0x08),
// deprecated (0x20) or tentative (0x40), as "interface:hex address".
std::set<std::string> UnusableIPv6Addresses()
{
    std::set<std::string> result;
    std::ifstream in("/proc/net/if_inet6");
    std::string hex, index, prefix, scope, flags, name;
    while (in >> hex >> index >> prefix >> scope >> flags >> name) {
        unsigned long bits = std::strtoul(flags.c_str(), nullptr, 16);
        if ((bits & (0x01 | 0x08 | 0x20 | 0x40)) != 0)
            result.insert(name + ":" + hex);
    }
    return result;
}

std::string HexOfIPv6(const in6_addr& address)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : address.s6_addr) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 15]);
    }
    return hex;
}

}  // namespace

bool ParseNetworkTotals(const std::string& text, const std::vector<std::string>& skip, uint64_t& outReceived,
                        uint64_t& outSent)
{
    std::istringstream in(text);
    std::string line;
    uint64_t received = 0;
    uint64_t sent = 0;
    bool any = false;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;  // the two heading lines
        std::string name = Trim(line.substr(0, colon));
        std::istringstream fields(line.substr(colon + 1));
        unsigned long long values[9] = {};
        for (unsigned long long& value : values) {
            if (!(fields >> value))
                return false;
        }
        any = true;
        bool skipped = false;
        for (const std::string& s : skip)
            skipped = skipped || s == name;
        if (skipped)
            continue;
        // Field 1 is received bytes, field 9 sent bytes.
        received += values[0];
        sent += values[8];
    }
    if (!any)
        return false;
    outReceived = received;
    outSent = sent;
    return true;
}

bool ReadNetworkTotals(uint64_t& outReceived, uint64_t& outSent)
{
    std::string text;
    if (!ReadTextFile("/proc/net/dev", text))
        return false;
    std::vector<std::string> loopbacks;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = Trim(line.substr(0, colon));
        if (name == "lo" || InterfaceType(name) == kTypeLoopback)
            loopbacks.push_back(name);
    }
    return ParseNetworkTotals(text, loopbacks, outReceived, outSent);
}

bool ListNetworkAdapters(std::vector<NetworkAdapter>& outAdapters)
{
    outAdapters.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    std::set<std::string> unusable = UnusableIPv6Addresses();
    std::map<std::string, size_t> indexByName;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr || entry->ifa_name == nullptr)
            continue;
        int family = entry->ifa_addr->sa_family;
        if ((family != AF_INET && family != AF_INET6) || entry->ifa_netmask->sa_family != family)
            continue;
        unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_MULTICAST) == 0 || (flags & IFF_LOOPBACK) != 0 ||
            (flags & IFF_POINTOPOINT) != 0)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        std::string name = entry->ifa_name;
        bool ipv6 = family == AF_INET6;
        if (ipv6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            if (unusable.count(name + ":" + HexOfIPv6(address->sin6_addr)) != 0)
                continue;
            if (::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof(text)) == nullptr)
                continue;
        } else {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text)) == nullptr)
                continue;
        }
        auto it = indexByName.find(name);
        if (it == indexByName.end()) {
            NetworkAdapter adapter;
            adapter.name = name;
            adapter.type = InterfaceTypeText(name);
            it = indexByName.emplace(name, outAdapters.size()).first;
            outAdapters.push_back(std::move(adapter));
        }
        outAdapters[it->second].addresses.push_back({text, ipv6});
    }
    ::freeifaddrs(list);
    return true;
}

// ---- Mounted file systems.

namespace {

bool IsNetworkFileSystem(const std::string& type)
{
    static const char* const kTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "9p",
                                         "fuse.sshfs", "ceph", "glusterfs", "davfs", "fuse.davfs"};
    for (const char* t : kTypes) {
        if (type == t)
            return true;
    }
    return false;
}

// The name of the link in folder that resolves to device, "" when none.
std::string LinkNameFor(const std::string& folder, const std::string& device)
{
    std::string result;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return result;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char resolved[PATH_MAX];
        std::string link = folder + "/" + entry->d_name;
        if (::realpath(link.c_str(), resolved) != nullptr && device == resolved) {
            result = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return result;
}

// Decodes the \xHH escapes of udev link names ("My\x20Disk").
std::string DecodeUdevName(const std::string& name)
{
    std::string result;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            char hex[3] = {name[i + 2], name[i + 3], 0};
            result.push_back(static_cast<char>(std::strtol(hex, nullptr, 16)));
            i += 3;
        } else {
            result.push_back(name[i]);
        }
    }
    return result;
}

std::string BusOfDisk(const std::string& disk)
{
    char resolved[PATH_MAX];
    std::string sysPath = "/sys/class/block/" + disk;
    std::string path = ::realpath(sysPath.c_str(), resolved) != nullptr ? resolved : "";
    if (path.find("/usb") != std::string::npos)
        return "USB";
    if (disk.compare(0, 4, "nvme") == 0)
        return "PCI-Express";
    if (disk.compare(0, 6, "mmcblk") == 0)
        return "Secure Digital";
    if (disk.compare(0, 2, "vd") == 0 || disk.compare(0, 3, "xvd") == 0)
        return "Virtual Interface";
    if (disk.compare(0, 4, "loop") == 0)
        return "Disk Image";
    if (path.find("/ata") != std::string::npos)
        return "SATA";
    if (disk.compare(0, 2, "sd") == 0)
        return "SCSI";
    return "";
}

// The whole disk holding a block device ("sda" for "sda1").
std::string WholeDiskOf(const std::string& device)
{
    char resolved[PATH_MAX];
    std::string sysPath = "/sys/class/block/" + device;
    if (::realpath(sysPath.c_str(), resolved) == nullptr)
        return device;
    std::string path = resolved;
    struct stat info;
    if (::stat((path + "/partition").c_str(), &info) == 0)
        return BaseName(path.substr(0, path.rfind('/')));
    return device;
}

DiskDescription DescribeDevice(const std::string& device, const std::string& devicePath)
{
    DiskDescription disk;
    std::string whole = WholeDiskOf(device);
    disk.interface = BusOfDisk(whole);
    std::string model;
    if (ReadLine("/sys/class/block/" + whole + "/device/model", model))
        disk.description = model;
    std::string sectors;
    if (ReadLine("/sys/class/block/" + device + "/size", sectors))
        disk.size = static_cast<uint64_t>(std::strtoull(sectors.c_str(), nullptr, 10)) * 512;
    disk.identifier = LinkNameFor("/dev/disk/by-uuid", devicePath);
    return disk;
}

}  // namespace

bool ParseMountLine(const std::string& line, std::string& outSource, std::string& outMountPoint,
                    std::string& outFileSystem)
{
    std::istringstream fields(line);
    std::string raw[3];
    if (!(fields >> raw[0] >> raw[1] >> raw[2]))
        return false;
    for (std::string& field : raw) {
        std::string decoded;
        for (size_t i = 0; i < field.size(); ++i) {
            if (field[i] == '\\' && i + 3 < field.size() + 0 && field[i + 1] >= '0' && field[i + 1] <= '7' &&
                field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
                decoded.push_back(
                    static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
                i += 3;
            } else {
                decoded.push_back(field[i]);
            }
        }
        field = decoded;
    }
    outSource = raw[0];
    outMountPoint = raw[1];
    outFileSystem = raw[2];
    return true;
}

bool ListPartitions(std::vector<PartitionDescription>& outPartitions)
{
    outPartitions.clear();
    std::ifstream in("/proc/self/mounts");
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        std::string source, mountPoint, type;
        if (!ParseMountLine(line, source, mountPoint, type))
            continue;
        struct statvfs info;
        if (::statvfs(mountPoint.c_str(), &info) != 0 || info.f_blocks == 0)
            continue;
        PartitionDescription partition;
        partition.mountPoint = mountPoint;
        partition.fileSystem = type;
        uint64_t blockSize = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
        partition.capacityKiB = blockSize * static_cast<uint64_t>(info.f_blocks) / 1024;
        partition.availableKiB = blockSize * static_cast<uint64_t>(info.f_bfree) / 1024;

        char resolved[PATH_MAX];
        std::string devicePath;
        if (source.compare(0, 5, "/dev/") == 0 && ::realpath(source.c_str(), resolved) != nullptr)
            devicePath = resolved;
        std::string label = devicePath.empty() ? "" : LinkNameFor("/dev/disk/by-label", devicePath);
        partition.name = !label.empty() ? DecodeUdevName(label) : (mountPoint == "/" ? "/" : BaseName(mountPoint));

        if (IsNetworkFileSystem(type)) {
            DiskDescription disk;
            disk.interface = "network";
            disk.size = partition.capacityKiB;
            partition.disks.push_back(disk);
        } else if (!devicePath.empty()) {
            std::string device = BaseName(devicePath);
            // A volume built over several devices (device mapper, software
            // RAID) lists each of them.
            std::vector<std::string> members;
            std::string slaves = "/sys/class/block/" + device + "/slaves";
            if (DIR* dir = ::opendir(slaves.c_str())) {
                while (dirent* entry = ::readdir(dir)) {
                    if (entry->d_name[0] != '.')
                        members.emplace_back(entry->d_name);
                }
                ::closedir(dir);
            }
            if (!members.empty()) {
                partition.multipleDisks = true;
                for (const std::string& member : members) {
                    DiskDescription disk = DescribeDevice(member, "/dev/" + member);
                    partition.disks.push_back(disk);
                }
            } else {
                partition.disks.push_back(DescribeDevice(device, devicePath));
            }
        } else {
            // A file system without a device (in memory, overlay, ...).
            DiskDescription disk;
            disk.size = partition.capacityKiB * 1024;
            partition.disks.push_back(disk);
        }
        outPartitions.push_back(std::move(partition));
    }
    return true;
}

}  // namespace qelt::plat
