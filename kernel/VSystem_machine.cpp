// Machine information; executable search.
#include "kernel/VSystem.h"

#include "kernel/mac/XMacSystemMachine.h"

namespace qelt {

uint64_t VSystem::GetPhysicalMemSize() { return XMacSystemMachine::GetPhysicalMemSize(); }
uint64_t VSystem::GetPhysicalFreeMemSize() { return XMacSystemMachine::GetPhysicalFreeMemSize(); }
uint64_t VSystem::GetApplicationPhysicalMemSize() { return XMacSystemMachine::GetApplicationPhysicalMemSize(); }

int VSystem::GetNumberOfLogicalProcessors() { return XMacSystemMachine::GetNumberOfLogicalProcessors(); }
int VSystem::GetNumberOfPhysicalProcessors() { return XMacSystemMachine::GetNumberOfPhysicalProcessors(); }
int VSystem::GetEnabledCoresNumber() { return XMacSystemMachine::GetEnabledCoresNumber(); }

void VSystem::GetProcessorTypeString(VString& ioText, bool inCompact)
{
    XMacSystemMachine::GetProcessorTypeString(ioText, inCompact);
}

bool VSystem::GetProcessorsPercentageUse(double& outLoad) { return XMacSystemMachine::GetProcessorsPercentageUse(outLoad); }

double VSystem::GetApplicationProcessorsPercentageUse()
{
    return XMacSystemMachine::GetApplicationProcessorsPercentageUse();
}

void VSystem::GetHostName(VString& ioName) { XMacSystemMachine::GetHostName(ioName); }
void VSystem::GetLoginUserName(VString& ioName) { XMacSystemMachine::GetLoginUserName(ioName); }
void VSystem::GetCurrentUserName(VString& ioName) { XMacSystemMachine::GetCurrentUserName(ioName); }
void VSystem::GetComputerManufacturer(VString& ioText) { XMacSystemMachine::GetComputerManufacturer(ioText); }
void VSystem::DemangleSymbol(const char* inName, VString& outText) { XMacSystemMachine::DemangleSymbol(inName, outText); }
bool VSystem::AllowedToGetSystemInfo() { return XMacSystemMachine::AllowedToGetSystemInfo(); }

bool VSystem::GetInOutNetworkStats(std::vector<double>& outRates) { return XMacSystemMachine::GetInOutNetworkStats(outRates); }

void VSystem::GetNetworkAdaptersInformations(VJSONArray& ioArray)
{
    XMacSystemMachine::GetNetworkAdaptersInformations(ioArray);
}

void VSystem::GetDiskPartitionsInfos(VJSONArray& ioArray) { XMacSystemMachine::GetDiskPartitionsInfos(ioArray); }

bool VSystem::SearchExecutablePath(const VString& inName, VFilePath& outPath)
{
    return XMacSystemMachine::SearchExecutablePath(inName, outPath);
}

bool VSystem::SearchExecutablePath(const VString& inName, VString& outPosixPath)
{
    return XMacSystemMachine::SearchExecutablePath(inName, outPosixPath);
}

}  // namespace qelt
