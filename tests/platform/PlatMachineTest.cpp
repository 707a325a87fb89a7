#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/PlatMachine.h"

using namespace qelt;

TEST(PlatMachine, ProcessorTicksFromProcStat)
{
    const std::string text =
        "cpu  100 2 30 4000 5 0 1 0 0 0\n"
        "cpu0 60 1 20 2000 3 0 1 0 0 0\n"
        "cpu1 40 1 10 2000 2 0 0 0 0 0\n"
        "intr 12345 0 0\n"
        "ctxt 999\n";
    std::vector<plat::ProcessorTicks> ticks;
    ASSERT_TRUE(plat::ParseProcessorTicks(text, ticks));
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_EQ(ticks[0].user, 60u);
    EXPECT_EQ(ticks[0].nice, 1u);
    EXPECT_EQ(ticks[0].system, 20u);
    EXPECT_EQ(ticks[1].idle, 2000u);
    EXPECT_FALSE(plat::ParseProcessorTicks("cpu0 1 2\n", ticks));
    EXPECT_FALSE(plat::ParseProcessorTicks("intr 1\n", ticks));

    std::vector<plat::ProcessorTicks> live;
    ASSERT_TRUE(plat::ReadProcessorTicks(live));
    EXPECT_GE(live.size(), 1u);
}

TEST(PlatMachine, NetworkTotalsAre64BitAndSkipLoopback)
{
    const std::string text =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
        "carrier compressed\n"
        "    lo: 1000 10 0 0 0 0 0 0 1000 10 0 0 0 0 0 0\n"
        "  eth0: 8589934592 5 0 0 0 0 0 0 4294967296 7 0 0 0 0 0 0\n"
        "  eth1: 10 1 0 0 0 0 0 0 20 1 0 0 0 0 0 0\n";
    uint64_t received = 0;
    uint64_t sent = 0;
    ASSERT_TRUE(plat::ParseNetworkTotals(text, {"lo"}, received, sent));
    EXPECT_EQ(received, 8589934602u);
    EXPECT_EQ(sent, 4294967316u);
    EXPECT_FALSE(plat::ParseNetworkTotals("  eth0: 1 2 3\n", {}, received, sent));
    EXPECT_FALSE(plat::ParseNetworkTotals("", {}, received, sent));
    EXPECT_TRUE(plat::ReadNetworkTotals(received, sent));
}

TEST(PlatMachine, MountLines)
{
    const struct {
        const char* line;
        bool ok;
        const char* source;
        const char* mount;
        const char* type;
    } cases[] = {
        {"/dev/sda1 / ext4 rw,relatime 0 0", true, "/dev/sda1", "/", "ext4"},
        {"/dev/sdb1 /mnt/My\\040Disk vfat rw 0 0", true, "/dev/sdb1", "/mnt/My Disk", "vfat"},
        {"server:/x /net/a\\011b nfs4 rw 0 0", true, "server:/x", "/net/a\tb", "nfs4"},
        {"/dev/sdc1 /mnt/bad\\9 ext4 rw 0 0", true, "/dev/sdc1", "/mnt/bad\\9", "ext4"},
        {"tmpfs /run", false, "", "", ""},
    };
    for (const auto& c : cases) {
        std::string source, mount, type;
        EXPECT_EQ(plat::ParseMountLine(c.line, source, mount, type), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(source, c.source);
            EXPECT_EQ(mount, c.mount);
            EXPECT_EQ(type, c.type);
        }
    }
}

TEST(PlatMachine, PartitionsHaveBlocks)
{
    std::vector<plat::PartitionDescription> partitions;
    ASSERT_TRUE(plat::ListPartitions(partitions));
    bool sawRoot = false;
    for (const auto& p : partitions) {
        EXPECT_GT(p.capacityKiB, 0u) << p.mountPoint;
        EXPECT_FALSE(p.disks.empty()) << p.mountPoint;
        sawRoot = sawRoot || p.mountPoint == "/";
    }
    EXPECT_TRUE(sawRoot);
    std::vector<plat::NetworkAdapter> adapters;
    ASSERT_TRUE(plat::ListNetworkAdapters(adapters));
    for (const auto& a : adapters) {
        EXPECT_NE(a.name, "lo");
        EXPECT_FALSE(a.addresses.empty());
    }
}
