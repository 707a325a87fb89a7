// Files written beside their target and renamed over it (value bags and DOM
// documents as XML, settings as JSON): a write that fails at any step, the
// disk filling up half-way included, leaves the target exactly as it was,
// nothing beside it, and reports the failure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <string>

#include "TestSupport.h"
#include "files/VFile.h"
#include "json/VJSONValue.h"
#include "platform/PlatFaults.h"
#include "runtime/VErrorContext.h"
#include "values/VValueBag.h"
#include "xml/IXMLDomWrapper.h"
#include "xml/VXMLBagHandler.h"

namespace qelt {
namespace {

// Long enough that a file size limit cuts the write in the middle.
const std::string& LongText()
{
    static const std::string sText(200000, 'x');
    return sText;
}

// Each writer replaces the file with content longer than kSizeLimit; true
// when it reports success.
struct Writer {
    const char* name;
    std::function<bool(const VFile&)> write;
};

std::vector<Writer> Writers()
{
    return {
        {"bag as XML",
         [](const VFile& inFile) {
             VRefPtr<VValueBag> bag = AdoptRef(new VValueBag());
             bag->SetAttribute(StPackedDictionaryKey("text"), VString(LongText().c_str()));
             VRefPtr<VFile> file = AdoptRef(new VFile(inFile));
             return WriteBagToFileInXML(*bag, VString("root"), file.Get(), false) == VE_OK;
         }},
        {"DOM as XML",
         [](const VFile& inFile) {
             const std::string text = "<r>" + LongText() + "</r>";
             VXMLDOMNode_opaque* node = IXMLDomWrapper::CreateNodeDocumentFromBuffer(text.data(), text.size(), nullptr);
             const bool written = node != nullptr && IXMLDomWrapper::WriteToFile(node, inFile, false);
             IXMLDomWrapper::ReleaseNode(node);
             return written;
         }},
        {"settings as JSON",
         [](const VFile& inFile) {
             VJSONValue settings(JSON_object);
             settings.SetProperty(VString("text"), VJSONValue(VString(LongText().c_str())));
             return inFile.SetContentAsJSON(settings, VTC_UTF_8, eCRM_NONE, false) == VE_OK;
         }},
    };
}

// Sets the fault rules for a scope.
class StFaults {
public:
    explicit StFaults(const char* inRules)
    {
        ::setenv("QELT_TEST_FAULTS", inRules, 1);
        plat::ResetFaults();
    }
    ~StFaults()
    {
        ::unsetenv("QELT_TEST_FAULTS");
        plat::ResetFaults();
    }
    StFaults(const StFaults&) = delete;
    StFaults& operator=(const StFaults&) = delete;
};

// Limits the size of the files this process writes for a scope: a write
// past the limit stores what fits and then fails with EFBIG, as a disk that
// fills up in the middle of a file does.
class StFileSizeLimit {
public:
    explicit StFileSizeLimit(rlim_t inLimit)
    {
        ::getrlimit(RLIMIT_FSIZE, &fSaved);
        fSavedSignal = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = fSaved;
        limit.rlim_cur = inLimit;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~StFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &fSaved);
        ::signal(SIGXFSZ, fSavedSignal);
    }
    StFileSizeLimit(const StFileSizeLimit&) = delete;
    StFileSizeLimit& operator=(const StFileSizeLimit&) = delete;

private:
    struct rlimit fSaved {};
    sighandler_t fSavedSignal = SIG_DFL;
};

size_t EntriesIn(const std::string& inFolder)
{
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator(inFolder), std::filesystem::directory_iterator()));
}

TEST(XMLFileReplace, AWriteThatFailsHalfWayLeavesTheTargetAsItWas)
{
    const std::string folder = test::MakeTempFolder("replace_faults");
    const std::string path = folder + "/target";
    const std::string old = "the user's old content";
    const VFile file(VString(path.c_str()), FPS_POSIX);

    for (const Writer& writer : Writers()) {
        SCOPED_TRACE(writer.name);
        test::WriteText(path, old);
        {
            // The disk fills up in the middle of the new copy.
            StErrorContextInstaller errors(false, true);
            StFileSizeLimit limit(4096);
            EXPECT_FALSE(writer.write(file));
        }
        EXPECT_EQ(test::ReadText(path), old);
        EXPECT_EQ(EntriesIn(folder), 1U);

        if (!plat::kFaultInjection)
            continue;
        // Every step of the replacement failing in turn: creating the new
        // file, writing it, renaming it into place.
        for (const char* rules :
             {"open:1:EACCES", "write:1:ENOSPC", "write:1+:ENOSPC", "rename:1:EIO", "rename:2:EIO", "rename:2+:EXDEV"}) {
            SCOPED_TRACE(rules);
            test::WriteText(path, old);
            bool written = false;
            {
                StErrorContextInstaller errors(false, true);
                StFaults faults(rules);
                written = writer.write(file);
            }
            // A rule that the writer never reaches leaves a complete write.
            if (written) {
                EXPECT_NE(test::ReadText(path), old);
            } else {
                EXPECT_EQ(test::ReadText(path), old);
            }
            EXPECT_EQ(EntriesIn(folder), 1U);
        }
        // The first write and the first rename are always reached.
        for (const char* rules : {"write:1:ENOSPC", "rename:1:EIO"}) {
            SCOPED_TRACE(rules);
            StErrorContextInstaller errors(false, true);
            StFaults faults(rules);
            EXPECT_FALSE(writer.write(file));
        }
        EXPECT_EQ(test::ReadText(path), old);
    }
}

}  // namespace
}  // namespace qelt
