#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/mac/XMacFile.h"
#include "files/mac/XMacVolumes.h"

namespace qelt {
namespace {

std::string Out(const VString& inText)
{
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

// An injected list of mounts and clock; the defaults come back afterwards.
class VolumeCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        XMacVolumes::Get().SetSource(
            [this] {
                ++fListings;
                return fMounts;
            },
            [this] { return fNow; });
    }
    void TearDown() override { XMacVolumes::Get().SetSource(nullptr, nullptr); }

    std::vector<XMacVolumes::Mount> fMounts = {{"/", "Root"},
                                               {"/media/usb", "USB"},
                                               {"/media/other", "USB"},
                                               {"/media/unnamed", ""},
                                               {"/x", "A rather long volume name"}};
    uint32_t fNow = 0xFFFFFF00u;  // the clock wraps between loads below
    int fListings = 0;
};

TEST_F(VolumeCache, TheListIsReadAgainOnlyAfterTwoSeconds)
{
    XMacVolumes& volumes = XMacVolumes::Get();
    char name[64];
    EXPECT_TRUE(volumes.GetVolumeNameFromMountPath("/media/usb", name, sizeof(name)));
    EXPECT_STREQ(name, "USB");
    EXPECT_EQ(fListings, 1);
    fNow += 1;
    EXPECT_TRUE(volumes.GetVolumeNameFromMountPath("/", name, sizeof(name)));
    EXPECT_EQ(fListings, 1);

    // Mounted after the load: unknown until the list is read again.
    fMounts.push_back({"/media/new", "New"});
    fNow += 1999;  // 2000 ms after the load
    EXPECT_FALSE(volumes.GetVolumeNameFromMountPath("/media/new", name, sizeof(name)));
    EXPECT_EQ(fListings, 1);
    fNow += 1;  // 2001 ms
    EXPECT_TRUE(volumes.GetVolumeNameFromMountPath("/media/new", name, sizeof(name)));
    EXPECT_EQ(fListings, 2);
}

TEST_F(VolumeCache, LookupsAreExactAndTheFirstEntryWins)
{
    XMacVolumes& volumes = XMacVolumes::Get();
    VString mount;
    EXPECT_TRUE(volumes.GetMountPathFromVolumeName(VString("USB"), mount));
    EXPECT_EQ(Out(mount), "/media/usb");
    EXPECT_FALSE(volumes.GetMountPathFromVolumeName(VString("usb"), mount));
    EXPECT_FALSE(volumes.GetMountPathFromVolumeName(VString(""), mount));
    char name[8];
    EXPECT_FALSE(volumes.GetVolumeNameFromMountPath("/media/unnamed", name, sizeof(name)));
    EXPECT_FALSE(volumes.GetVolumeNameFromMountPath("/media/usb/", name, sizeof(name)));

    // A buffer too small for the name gets it cut and terminated.
    std::memset(name, 'z', sizeof(name));
    EXPECT_TRUE(volumes.GetVolumeNameFromMountPath("/x", name, 5));
    EXPECT_STREQ(name, "A ra");
    EXPECT_EQ(name[5], 'z');

    // The root volume names the whole file system; other volumes convert
    // back to their mount paths.
    VFilePath root(VString("/etc/"), FPS_POSIX);
    VString text;
    root.GetPath(text);
    EXPECT_EQ(Out(text), "Root:etc:");
    EXPECT_TRUE(XMacFile::HFSFullPathToPosix(VString("USB:a:b"), text));
    EXPECT_EQ(Out(text), "/media/usb/a/b");
    EXPECT_FALSE(XMacFile::HFSFullPathToPosix(VString("Disk:a"), text));
    EXPECT_EQ(Out(text), "/Disk/a");

    // Without a volume at "/" a full POSIX path cannot be named.
    fMounts.erase(fMounts.begin());
    fNow += 5000;
    EXPECT_FALSE(XMacFile::PosixFullPathToHFS("/etc", true, text));
    EXPECT_FALSE(VFilePath(VString("/etc"), FPS_POSIX).IsValid());
}

}  // namespace
}  // namespace qelt
