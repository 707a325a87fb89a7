#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "json/VJSONArray.h"
#include "json/VJSONValue.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "kernel/VSystem.h"
#include "kernel/mac/XMacSystemMachine.h"

using namespace qelt;
using qelt::test::FreshProgramTest;

namespace {

std::string UTF8(const VString& text)
{
    StStringConverter<char> bytes(text, VTC_UTF_8);
    return std::string(bytes.GetCPointer(), bytes.GetSize());
}

std::string StringProperty(const VJSONValue& object, const char* name)
{
    VString text;
    object.GetProperty(VString(name)).GetString(text);
    return UTF8(text);
}

// A JSON array held for one test.
struct HeldArray {
    HeldArray() : array(new VJSONArray(static_cast<VStorageLocker*>(nullptr))) {}
    ~HeldArray() { array->Release(); }
    VJSONArray* array;
};

}  // namespace

TEST(VSystemMachine, MemoryAndProcessors)
{
    uint64_t total = VSystem::GetPhysicalMemSize();
    EXPECT_GT(total, 0u);
    EXPECT_LE(VSystem::GetPhysicalFreeMemSize(), total);
    EXPECT_GT(VSystem::GetApplicationPhysicalMemSize(), 0u);
    int logical = VSystem::GetNumberOfLogicalProcessors();
    EXPECT_GE(logical, 1);
    EXPECT_EQ(VSystem::GetNumberOfLogicalProcessors(), logical);
    EXPECT_GE(VSystem::GetNumberOfPhysicalProcessors(), 1);
    EXPECT_LE(VSystem::GetNumberOfPhysicalProcessors(), logical);
    EXPECT_GE(VSystem::GetEnabledCoresNumber(), 1);
}

TEST(VSystemMachine, ProcessorText)
{
    const struct {
        const char* text;
        const char* compact;
    } cases[] = {
        {"  Intel(R)   Core(TM)  i7   CPU  ", "Intel(R) Core(TM) i7 CPU"},
        {"One", "One"},
        {"     ", ""},
        {"A", "A"},
    };
    for (const auto& c : cases) {
        VString text(c.text);
        XMacSystemMachine::CompactProcessorText(text);
        EXPECT_EQ(UTF8(text), c.compact) << c.text;
    }
    // The kept text is the same at every call.
    VString first;
    VString second;
    VSystem::GetProcessorTypeString(first, true);
    VSystem::GetProcessorTypeString(second, false);
    EXPECT_FALSE(first.IsEmpty());
    EXPECT_EQ(UTF8(first), UTF8(second));
    EXPECT_EQ(UTF8(first).find("  "), std::string::npos);
}

// In a fresh program the first readings have nothing to compare with: no
// made-up load or rate.
void FirstReadingsChild()
{
    double load = -1;
    bool loadRead = VSystem::GetProcessorsPercentageUse(load);
    std::vector<double> rates = {1, 2, 3};
    bool ratesRead = VSystem::GetInOutNetworkStats(rates);
    _exit(!loadRead && load == 0.0 && !ratesRead && rates.empty() ? 0 : 1);
}

TEST_F(FreshProgramTest, FirstLoadAndNetworkReadingsNeedAPreviousSample)
{
    EXPECT_EXIT(FirstReadingsChild(), ::testing::ExitedWithCode(0), "");
}

TEST(VSystemMachine, LoadsAreFractionsOnceSampled)
{
    double load = -1;
    VSystem::GetProcessorsPercentageUse(load);
    EXPECT_TRUE(VSystem::GetProcessorsPercentageUse(load));
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 1.0);

    std::vector<double> rates = {1, 2, 3};
    VSystem::GetInOutNetworkStats(rates);
    if (VSystem::GetInOutNetworkStats(rates)) {
        ASSERT_EQ(rates.size(), 2u);
        EXPECT_GE(rates[0], 0.0);
        EXPECT_GE(rates[1], 0.0);
    }

    // Every thread counts once: the load never exceeds all processors.
    double appLoad = VSystem::GetApplicationProcessorsPercentageUse();
    EXPECT_GE(appLoad, 0.0);
    EXPECT_LE(appLoad, 1.0);
    volatile double sink = 0;
    for (int i = 0; i < 2000000; ++i)
        sink = sink + i;
    appLoad = VSystem::GetApplicationProcessorsPercentageUse();
    EXPECT_GE(appLoad, 0.0);
    EXPECT_LE(appLoad, 1.0);
}

TEST(VSystemMachine, NamesAndSymbols)
{
    passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    VString name;
    VSystem::GetCurrentUserName(name);
    EXPECT_EQ(UTF8(name), user->pw_name);
    VString full;
    VSystem::GetLoginUserName(full);
    EXPECT_FALSE(full.IsEmpty());
    VString host;
    VSystem::GetHostName(host);
    EXPECT_FALSE(host.IsEmpty());
    VString model("unchanged");
    VSystem::GetComputerManufacturer(model);
    EXPECT_LE(model.GetLength(), 24);

    VString symbol;
    VSystem::DemangleSymbol("_ZN4qelt7VSystem4BeepEv", symbol);
    EXPECT_EQ(UTF8(symbol), "qelt::VSystem::Beep()");
    VSystem::DemangleSymbol("plain_c_name", symbol);
    EXPECT_EQ(UTF8(symbol), "plain_c_name");
    EXPECT_TRUE(VSystem::AllowedToGetSystemInfo());
}

TEST(VSystemMachine, AdaptersAndPartitionsAsJSON)
{
    HeldArray adapters;
    VSystem::GetNetworkAdaptersInformations(*adapters.array);
    for (size_t i = 0; i < adapters.array->GetCount(); ++i) {
        VJSONValue adapter = adapters.array->GetAt(i);
        ASSERT_TRUE(adapter.IsObject());
        EXPECT_FALSE(StringProperty(adapter, "name").empty());
        EXPECT_FALSE(StringProperty(adapter, "type").empty());
        VJSONValue addresses = adapter.GetProperty(VString("ipAddresses"));
        ASSERT_TRUE(addresses.IsArray());
        ASSERT_GT(addresses.GetArray()->GetCount(), 0u);
        VJSONValue address = addresses.GetArray()->GetAt(0);
        std::string type = StringProperty(address, "type");
        EXPECT_TRUE(type == "ipv4" || type == "ipv6") << type;
        EXPECT_FALSE(StringProperty(address, "ip").empty());
    }

    HeldArray partitions;
    VSystem::GetDiskPartitionsInfos(*partitions.array);
    bool sawRoot = false;
    for (size_t i = 0; i < partitions.array->GetCount(); ++i) {
        VJSONValue partition = partitions.array->GetAt(i);
        std::string mount = StringProperty(partition, "mountPoint");
        // Volumes without blocks are not listed.
        EXPECT_NE(mount, "/proc");
        EXPECT_NE(mount, "/sys");
        EXPECT_GT(partition.GetProperty(VString("capacity")).GetNumber(), 0.0) << mount;
        EXPECT_LE(partition.GetProperty(VString("available")).GetNumber(),
                  partition.GetProperty(VString("capacity")).GetNumber());
        EXPECT_FALSE(StringProperty(partition, "filesystem").empty());
        VJSONValue disk = partition.GetProperty(VString("disk"));
        EXPECT_TRUE(disk.IsObject() || disk.IsArray()) << mount;
        if (mount == "/")
            sawRoot = true;
    }
    EXPECT_TRUE(sawRoot);
}
