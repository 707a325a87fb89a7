// The machine-information side of the system facade: memory figures,
// processor counts and load, user and host names, network throughput and
// descriptions of the network adapters and mounted disks, and the lookup of
// an application bundle by name. It calls the platform layer (qelt::plat).
#pragma once

#include <cstdint>
#include <vector>

namespace qelt {

class VString;
class VJSONArray;
class VFilePath;

class XMacSystemMachine {
public:
    static uint64_t GetPhysicalMemSize();
    static uint64_t GetPhysicalFreeMemSize();
    static uint64_t GetApplicationPhysicalMemSize();

    static int GetNumberOfLogicalProcessors();
    static int GetNumberOfPhysicalProcessors();
    static int GetEnabledCoresNumber();
    static void GetProcessorTypeString(VString& ioText, bool inCompact);
    static bool GetProcessorsPercentageUse(double& outLoad);
    static double GetApplicationProcessorsPercentageUse();

    static void GetHostName(VString& ioName);
    static void GetLoginUserName(VString& ioName);
    static void GetCurrentUserName(VString& ioName);
    static void GetComputerManufacturer(VString& ioText);
    static void DemangleSymbol(const char* inName, VString& outText);
    static bool AllowedToGetSystemInfo();

    static bool GetInOutNetworkStats(std::vector<double>& outRates);
    static void GetNetworkAdaptersInformations(VJSONArray& ioArray);
    static void GetDiskPartitionsInfos(VJSONArray& ioArray);

    // The shell-style search, then the application bundle of that name
    // ("Name.app", the extension added unless present) in the application
    // folders; a bundle is answered as a folder path ending with '/'.
    static bool SearchExecutablePath(const VString& inName, VString& outPosixPath);
    static bool SearchExecutablePath(const VString& inName, VFilePath& outPath);

    // The compact form of a processor text: trimmed, runs of spaces made single.
    static void CompactProcessorText(VString& ioText);
};

}  // namespace qelt
