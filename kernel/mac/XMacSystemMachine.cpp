#include "kernel/mac/XMacSystemMachine.h"

#include <mutex>
#include <string>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "json/VJSONArray.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "kernel/mac/XBSDSystem.h"
#include "platform/PlatBacktrace.h"
#include "platform/PlatExecutables.h"
#include "platform/PlatMachine.h"

namespace qelt {

namespace {

// The processor text is at most this long.
constexpr size_t kBrandBufferSize = 512;
// The model text is at most this long.
constexpr size_t kModelBufferSize = 25;

void SetUTF8(VString& outText, const std::string& bytes)
{
    outText.FromBlock(bytes.data(), static_cast<unsigned long>(bytes.size()), VTC_UTF_8);
}

std::string ToUTF8(const VString& text)
{
    StStringConverter<char> bytes(text, VTC_UTF_8);
    if (!bytes.IsOK())
        return std::string();
    return std::string(bytes.GetCPointer(), bytes.GetSize());
}

std::string CompactText(std::string text)
{
    if (text.size() < 2)
        return text;
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t");
    // Every run of spaces becomes one space.
    std::string compact;
    for (size_t i = first; i <= last; ++i) {
        if (text[i] == ' ' && !compact.empty() && compact.back() == ' ')
            continue;
        compact.push_back(text[i]);
    }
    return compact;
}

// The processor count a load is divided by: 1 unless at least 2 are known.
double LoadDivisor()
{
    int count = plat::LogicalProcessorCount();
    return count >= 2 ? static_cast<double>(count) : 1.0;
}

std::mutex& StateMutex()
{
    static std::mutex sMutex;
    return sMutex;
}

void SetStringProperty(const VJSONValue& object, const char* name, const std::string& value)
{
    VString text;
    SetUTF8(text, value);
    object.SetProperty(VString(name), VJSONValue(text));
}

void SetNumberProperty(const VJSONValue& object, const char* name, double value)
{
    object.SetProperty(VString(name), VJSONValue(value));
}

VJSONValue DiskObject(const plat::DiskDescription& disk)
{
    VJSONValue object(JSON_object);
    SetStringProperty(object, "interface", disk.interface);
    SetStringProperty(object, "description", disk.description);
    SetStringProperty(object, "identifier", disk.identifier);
    SetNumberProperty(object, "size", static_cast<double>(disk.size));
    return object;
}

}  // namespace

// ---- Memory.

uint64_t XMacSystemMachine::GetPhysicalMemSize() { return plat::PhysicalMemorySize(); }

uint64_t XMacSystemMachine::GetPhysicalFreeMemSize() { return plat::PhysicalFreeMemorySize(); }

uint64_t XMacSystemMachine::GetApplicationPhysicalMemSize() { return plat::ProcessResidentSize(); }

// ---- Processors.

int XMacSystemMachine::GetNumberOfLogicalProcessors()
{
    static const int sCount = [] {
        int count = plat::LogicalProcessorCount();
        return count < 1 ? 1 : count;
    }();
    return sCount;
}

int XMacSystemMachine::GetNumberOfPhysicalProcessors()
{
    static const int sCount = [] {
        int count = plat::PhysicalCoreCount(false);
        return count < 1 ? 1 : count;
    }();
    return sCount;
}

int XMacSystemMachine::GetEnabledCoresNumber()
{
    int count = plat::PhysicalCoreCount(true);
    return count < 1 ? 1 : count;
}

void XMacSystemMachine::CompactProcessorText(VString& ioText) { SetUTF8(ioText, CompactText(ToUTF8(ioText))); }

void XMacSystemMachine::GetProcessorTypeString(VString& ioText, bool inCompact)
{
    static std::string sKept;
    std::lock_guard<std::mutex> lock(StateMutex());
    if (sKept.empty()) {
        std::string text = "-";
        std::string brand;
        if (plat::ProcessorBrandText(brand)) {
            if (brand.size() > kBrandBufferSize - 1)
                brand.resize(kBrandBufferSize - 1);
            text = brand;
        }
        if (inCompact)
            text = CompactText(text);
        sKept = text;
    }
    SetUTF8(ioText, sKept);
}

bool XMacSystemMachine::GetProcessorsPercentageUse(double& outLoad)
{
    static std::vector<plat::ProcessorTicks> sPrevious;
    outLoad = 0;
    std::vector<plat::ProcessorTicks> ticks;
    if (!plat::ReadProcessorTicks(ticks))
        return false;
    std::lock_guard<std::mutex> lock(StateMutex());
    if (sPrevious.empty() || sPrevious.size() != ticks.size()) {
        sPrevious = ticks;
        return false;
    }
    uint64_t total = 0;
    uint64_t idle = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        const plat::ProcessorTicks& now = ticks[i];
        const plat::ProcessorTicks& before = sPrevious[i];
        // Counters never run backwards; a processor that came back from
        // offline may restart them: that processor adds nothing.
        if (now.user < before.user || now.nice < before.nice || now.system < before.system || now.idle < before.idle)
            continue;
        total += (now.user - before.user) + (now.nice - before.nice) + (now.system - before.system) +
                 (now.idle - before.idle);
        idle += now.idle - before.idle;
    }
    if (total < 1)
        total = 1;
    outLoad = static_cast<double>(total - idle) / static_cast<double>(total) / LoadDivisor();
    sPrevious = ticks;
    return true;
}

double XMacSystemMachine::GetApplicationProcessorsPercentageUse()
{
    static double sPreviousCpu = -1.0;
    static double sPreviousTime = 0.0;
    double cpu = 0.0;
    double sinceStart = 0.0;
    if (!plat::ProcessCpuTime(cpu, sinceStart))
        return -1.0;
    double now = plat::MonotonicSeconds();
    std::lock_guard<std::mutex> lock(StateMutex());
    // The time of all threads together, each counted once, over the time
    // since the previous call (or since the process started).
    double usedCpu = cpu;
    double elapsed = sinceStart;
    if (sPreviousCpu >= 0.0 && now > sPreviousTime && cpu >= sPreviousCpu) {
        usedCpu = cpu - sPreviousCpu;
        elapsed = now - sPreviousTime;
    }
    sPreviousCpu = cpu;
    sPreviousTime = now;
    if (elapsed <= 0.0)
        return 0.0;
    return usedCpu / elapsed / LoadDivisor();
}

// ---- Names and models.

void XMacSystemMachine::GetHostName(VString& ioName)
{
    std::string name;
    if (plat::HostName(name))
        SetUTF8(ioName, name);
}

void XMacSystemMachine::GetLoginUserName(VString& ioName)
{
    std::string account;
    std::string full;
    if (plat::UserNames(account, full))
        SetUTF8(ioName, full);
}

void XMacSystemMachine::GetCurrentUserName(VString& ioName)
{
    std::string account;
    std::string full;
    if (plat::UserNames(account, full))
        SetUTF8(ioName, account);
}

void XMacSystemMachine::GetComputerManufacturer(VString& ioText)
{
    std::string model;
    if (!plat::ComputerModel(model))
        return;
    if (model.size() > kModelBufferSize - 1)
        model.resize(kModelBufferSize - 1);
    ioText.FromBlock(model.data(), static_cast<unsigned long>(model.size()), VTC_US_ASCII);
}

void XMacSystemMachine::DemangleSymbol(const char* inName, VString& outText)
{
    if (inName == nullptr) {
        outText.Clear();
        return;
    }
    std::string demangled;
    if (plat::DemangleSymbol(inName, demangled))
        SetUTF8(outText, demangled);
    else
        SetUTF8(outText, inName);
}

bool XMacSystemMachine::AllowedToGetSystemInfo()
{
    static const bool sAllowed = true;
    return sAllowed;
}

// ---- Network and disks.

bool XMacSystemMachine::GetInOutNetworkStats(std::vector<double>& outRates)
{
    static bool sHasPrevious = false;
    static double sPreviousTime = 0.0;
    static uint64_t sPreviousReceived = 0;
    static uint64_t sPreviousSent = 0;
    outRates.clear();
    uint64_t received = 0;
    uint64_t sent = 0;
    if (!plat::ReadNetworkTotals(received, sent))
        return false;
    double now = plat::MonotonicSeconds();
    std::lock_guard<std::mutex> lock(StateMutex());
    bool ok = false;
    // Without a previous sample, or with no time elapsed, there is no rate.
    if (sHasPrevious && now > sPreviousTime && received >= sPreviousReceived && sent >= sPreviousSent) {
        double elapsedMs = (now - sPreviousTime) * 1000.0;
        outRates.push_back(static_cast<double>(received - sPreviousReceived) / elapsedMs * 1000.0);
        outRates.push_back(static_cast<double>(sent - sPreviousSent) / elapsedMs * 1000.0);
        ok = true;
    }
    sHasPrevious = true;
    sPreviousTime = now;
    sPreviousReceived = received;
    sPreviousSent = sent;
    return ok;
}

void XMacSystemMachine::GetNetworkAdaptersInformations(VJSONArray& ioArray)
{
    std::vector<plat::NetworkAdapter> adapters;
    if (!plat::ListNetworkAdapters(adapters))
        return;
    for (const plat::NetworkAdapter& adapter : adapters) {
        if (adapter.addresses.empty())
            continue;
        VJSONValue object(JSON_object);
        SetStringProperty(object, "type", adapter.type);
        SetStringProperty(object, "name", adapter.name);
        VJSONValue addresses(JSON_array);
        for (const plat::AdapterAddress& address : adapter.addresses) {
            VJSONValue entry(JSON_object);
            SetStringProperty(entry, "ip", address.ip);
            SetStringProperty(entry, "type", address.ipv6 ? "ipv6" : "ipv4");
            addresses.GetArray()->Push(entry);
        }
        object.SetProperty(VString("ipAddresses"), addresses);
        ioArray.Push(object);
    }
}

void XMacSystemMachine::GetDiskPartitionsInfos(VJSONArray& ioArray)
{
    std::vector<plat::PartitionDescription> partitions;
    if (!plat::ListPartitions(partitions))
        return;
    for (const plat::PartitionDescription& partition : partitions) {
        VJSONValue object(JSON_object);
        SetStringProperty(object, "mountPoint", partition.mountPoint);
        SetNumberProperty(object, "capacity", static_cast<double>(partition.capacityKiB));
        SetNumberProperty(object, "available", static_cast<double>(partition.availableKiB));
        SetStringProperty(object, "filesystem", partition.fileSystem);
        SetStringProperty(object, "name", partition.name);
        if (partition.multipleDisks) {
            VJSONValue disks(JSON_array);
            for (const plat::DiskDescription& disk : partition.disks)
                disks.GetArray()->Push(DiskObject(disk));
            object.SetProperty(VString("disk"), disks);
        } else if (!partition.disks.empty()) {
            object.SetProperty(VString("disk"), DiskObject(partition.disks.front()));
        }
        ioArray.Push(object);
    }
}

// ---- Executables and applications.

namespace {

// The bundle name of an application: ".app" added unless it is there
// (file names compare byte for byte here).
std::string ApplicationName(std::string inName)
{
    static const std::string kExtension = ".app";
    if (inName.size() < kExtension.size() ||
        inName.compare(inName.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
        inName += kExtension;
    return inName;
}

}  // namespace

bool XMacSystemMachine::SearchExecutablePath(const VString& inName, VFilePath& outPath)
{
    if (XBSDSystem::SearchExecutablePath(inName, outPath))
        return true;
    std::string name;
    XMacFile::EncodePathText(inName.GetCPointer(), inName.GetLength(), name);
    if (name.empty())
        return false;
    std::string found;
    if (!plat::FindApplicationBundle(ApplicationName(name), found))
        return false;
    XMacFile::GetFilePathFromPosixPath(found.c_str(), true, outPath);
    return outPath.IsValid();
}

bool XMacSystemMachine::SearchExecutablePath(const VString& inName, VString& outPosixPath)
{
    if (XBSDSystem::SearchExecutablePath(inName, outPosixPath))
        return true;
    std::string name = ToUTF8(inName);
    if (name.empty())
        return false;
    std::string found;
    if (!plat::FindApplicationBundle(ApplicationName(name), found))
        return false;
    found.push_back('/');
    SetUTF8(outPosixPath, found);
    return true;
}

}  // namespace qelt
