// Machine information of the platform layer, read from /proc, /sys,
// getifaddrs and statvfs: memory, processors, names, network counters,
// network adapters and mounted file systems.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelt::plat {

// ---- Memory (bytes; 0 when unknown).
uint64_t PhysicalMemorySize();
uint64_t PhysicalFreeMemorySize();
// The resident size of this process.
uint64_t ProcessResidentSize();
// Parses the text of /proc/meminfo: the value of "key:" in bytes, 0 when
// the key is missing.
uint64_t ParseMemInfoValue(const std::string& text, const char* key);

// ---- Processors (0 when unknown).
// Processors the system can have (configured).
int LogicalProcessorCount();
// Distinct cores (package and core id); onlineOnly counts the online ones.
int PhysicalCoreCount(bool onlineOnly);
// The processor's brand text ("model name"); false when unknown.
bool ProcessorBrandText(std::string& outText);
// Parses the text of /proc/cpuinfo for the brand text.
bool ParseProcessorBrand(const std::string& text, std::string& outText);

// Tick counts of one processor since boot.
struct ProcessorTicks {
    uint64_t user = 0;
    uint64_t nice = 0;
    uint64_t system = 0;
    uint64_t idle = 0;
};
// Per-processor ticks, in processor order; false when unreadable.
bool ReadProcessorTicks(std::vector<ProcessorTicks>& outTicks);
// Parses the text of /proc/stat ("cpuN ..." lines only).
bool ParseProcessorTicks(const std::string& text, std::vector<ProcessorTicks>& outTicks);

// Processor time used by this process (all its threads, counted once) and
// the seconds since it started; false when unreadable.
bool ProcessCpuTime(double& outCpuSeconds, double& outSecondsSinceStart);
// Parses the text of /proc/<pid>/stat: user and system ticks and the start
// tick since boot; false when fields are missing.
bool ParseProcessTicks(const std::string& text, uint64_t& outUser, uint64_t& outSystem, uint64_t& outStart);

// Seconds of the monotonic clock.
double MonotonicSeconds();

// ---- Names.
bool HostName(std::string& outName);
// The effective user's account name and full name (the first field of its
// description; the account name when that is empty).
bool UserNames(std::string& outAccountName, std::string& outFullName);
// The machine's model text (firmware product name); false when unknown.
bool ComputerModel(std::string& outText);

// ---- Network.
// Received and sent bytes of every interface except loopback ones.
bool ReadNetworkTotals(uint64_t& outReceived, uint64_t& outSent);
// Parses the text of /proc/net/dev; names listed in skip are left out.
bool ParseNetworkTotals(const std::string& text, const std::vector<std::string>& skip, uint64_t& outReceived,
                        uint64_t& outSent);

struct AdapterAddress {
    std::string ip;
    bool ipv6 = false;
};
struct NetworkAdapter {
    std::string name;
    // "wifi", "ethernet" or the system's type of the interface.
    std::string type;
    std::vector<AdapterAddress> addresses;
};
// The interfaces that are up, multicast-capable, neither loopback nor
// point-to-point, with their usable IPv4 and IPv6 addresses (IPv6 addresses
// that are tentative, duplicated, deprecated or temporary are left out);
// interfaces without a usable address are not listed.
bool ListNetworkAdapters(std::vector<NetworkAdapter>& outAdapters);

// ---- Mounted file systems.
struct DiskDescription {
    std::string interface;    // the device's bus, or "network"
    std::string description;  // the device model
    std::string identifier;   // the file system's UUID text, "" when unknown
    uint64_t size = 0;        // bytes (KiB of capacity for a network volume)
};
struct PartitionDescription {
    std::string mountPoint;
    std::string fileSystem;
    std::string name;
    uint64_t capacityKiB = 0;
    uint64_t availableKiB = 0;
    // One disk, or several for a volume built over several devices.
    std::vector<DiskDescription> disks;
    bool multipleDisks = false;
};
// Every mounted file system with at least one block.
bool ListPartitions(std::vector<PartitionDescription>& outPartitions);

// One line of /proc/self/mounts split into its fields (octal escapes decoded).
bool ParseMountLine(const std::string& line, std::string& outSource, std::string& outMountPoint,
                    std::string& outFileSystem);

}  // namespace qelt::plat
