// The texts of error objects, the localiser registry and the mapping of
// native error codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kernel/VString.h"
#include "process/VProcess.h"
#include "runtime/ILocalizer.h"
#include "runtime/VErrorBase.h"
#include "kernel/VLong.h"
#include "values/VValueBag.h"

using namespace qelt;

namespace {

std::string Utf8(const VString& s)
{
    std::string out;
    for (int i = 0; i < s.GetLength(); ++i) {
        UniChar c = s.GetCPointer()[i];
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

// A localiser with one message per code.
class TestLocalizer : public ILocalizer {
public:
    unsigned int GetLocalizationLanguage() override { return 1033; }
    bool LocalizeErrorMessage(VError inError, VString& outText) override
    {
        ++fCalls;
        if (inError != fCode)
            return false;
        outText.FromCString(fMessage);
        return true;
    }
    bool LocalizeStringWithKey(const VString&, VString&) override { return false; }
    bool LocalizeStringWithDotStringsKey(const VString&, VString&) override { return false; }
    const VValueBag* RetainGroupBag(const VString&) override { return nullptr; }

    VError fCode = 0;
    const char* fMessage = "";
    int fCalls = 0;
};

// Registers a localiser for one signature for the lifetime of the guard.
class StLocalizer {
public:
    StLocalizer(OsType inSignature, ILocalizer* inLocalizer) : fSignature(inSignature)
    {
        VErrorBase::RegisterLocalizer(fSignature, inLocalizer);
    }
    ~StLocalizer() { VErrorBase::UnregisterLocalizer(fSignature); }

private:
    OsType fSignature;
};

// An error object released at the end of the scope.
class StError {
public:
    explicit StError(VError inCode) : fError(new VErrorBase(inCode)) {}
    ~StError() { fError->Release(); }
    VErrorBase* operator->() const { return fError; }
    VErrorBase* Get() const { return fError; }

private:
    VErrorBase* fError;
};

std::string Description(VError inCode)
{
    StError error(inCode);
    VString text;
    error->GetErrorDescription(text);
    return Utf8(text);
}

}  // namespace

TEST(ErrorTexts, CodeStringWithoutLocaliser)
{
    EXPECT_EQ(Description(QeltError(600)), "Error code: 600 (qelt)");
    StError error(QeltError(600));
    VString text("old");
    error->GetErrorString(text);
    EXPECT_EQ(Utf8(text), "Error code: 600 (qelt)");
    // The number is read as signed.
    StError allOnes(MakeVError(kSignatureQelt, -1));
    allOnes->GetErrorString(text);
    EXPECT_EQ(Utf8(text), "Error code: -1 (qelt)");
    EXPECT_EQ(Description(MakeVError(FourCC("xmlc"), 12)), "Error code: 12 (xmlc)");
}

TEST(ErrorTexts, LocaliserMessageWithPlaceholders)
{
    TestLocalizer localizer;
    localizer.fCode = QeltError(600);
    localizer.fMessage = "Cannot open {name}{unknown}.";
    StLocalizer registered(kSignatureQelt, &localizer);

    StError error(QeltError(600));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("name"), VString("a.txt"));
    VString text;
    error->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "Cannot open a.txt.");
    EXPECT_EQ(localizer.fCalls, 1);
}

TEST(ErrorTexts, DescriptionFallsThroughItsSources)
{
    TestLocalizer localizer;  // knows no message for these codes
    StLocalizer registered(kSignatureQelt, &localizer);

    StError withDescription(QeltError(601));
    withDescription->GetBag()->SetAttribute(StPackedDictionaryKey("error_description"),
                                            VString("Bad file {p1}{p2}"));
    withDescription->GetBag()->SetAttribute(StPackedDictionaryKey("p1"), VString("x"));
    VString text;
    withDescription->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "Bad file x");

    EXPECT_EQ(Description(QeltError(602)), "Error code: 602 (qelt)");
    EXPECT_EQ(localizer.fCalls, 2);
}

TEST(ErrorTexts, ZeroCodeSkipsLocaliserAndSystem)
{
    TestLocalizer localizer;
    StLocalizer registered(0, &localizer);
    EXPECT_EQ(Description(0), "Error code: 0 ()");
    EXPECT_EQ(localizer.fCalls, 0);
}

TEST(ErrorTexts, SystemTexts)
{
    EXPECT_EQ(Description(PosixError(ENOENT)), std::string(std::strerror(ENOENT)));
    EXPECT_EQ(Description(PosixError(999999)), "Error code: 999999 (POSX)");
    EXPECT_EQ(Description(PosixError(-3)), "Error code: -3 (POSX)");
    EXPECT_EQ(Description(MakeVError(kSignatureCARB, -43)), "File not found (fnfErr).");
    EXPECT_FALSE(Description(MakeVError(kSignatureMACH, 5)).empty());
    EXPECT_NE(Description(MakeVError(kSignatureMACH, 5)), "Error code: 5 (MACH)");
    EXPECT_FALSE(Description(MakeVError(kSignatureCOCO, 4)).empty());
}

TEST(ErrorTexts, UnknownNativeCodesEndWithTheCodeString)
{
    // No " ()." made of empty platform strings; the chain goes on.
    EXPECT_EQ(Description(MakeVError(kSignatureCARB, -12345)), "Error code: -12345 (CARB)");
    EXPECT_EQ(Description(MakeVError(kSignatureMACH, 9999)), "Error code: 9999 (MACH)");

    StError withDescription(MakeVError(kSignatureCARB, -12345));
    withDescription->GetBag()->SetAttribute(StPackedDictionaryKey("error_description"), VString("raiser's text"));
    VString text;
    withDescription->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), "raiser's text");
}

TEST(ErrorTexts, SystemTextsTakePrecedenceOverTheRaisersText)
{
    StError error(PosixError(EACCES));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("error_description"), VString("raiser's text"));
    VString text;
    error->GetErrorDescription(text);
    EXPECT_EQ(Utf8(text), std::string(std::strerror(EACCES)));
}

TEST(ErrorTexts, Location)
{
    VString text;
    StError(QeltError(1))->GetLocation(text);
    EXPECT_EQ(Utf8(text), "qeltcore");
    StError(PosixError(2))->GetLocation(text);
    EXPECT_EQ(Utf8(text), "component: 'POSX'");
}

TEST(ErrorTexts, ActionDescription)
{
    StError error(QeltError(5));
    VString text("old");
    error->GetActionDescription(text);
    EXPECT_TRUE(text.IsEmpty());
    error->GetBag()->SetAttribute(StPackedDictionaryKey("action_description"), VString("Unlock {path}."));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("path"), VString("/a/b"));
    error->GetActionDescription(text);
    EXPECT_EQ(Utf8(text), "Unlock /a/b.");
}

TEST(ErrorTexts, DumpLines)
{
    StError error(QeltError(600));
    VValueBag* bag = new VValueBag;
    StBagKeyNoDefault<int, VLong>("task_id").Set(*bag, 3);
    error->LoadFromBag(*bag);
    bag->Release();

    VString text;
    error->DumpToString(text);
    EXPECT_EQ(Utf8(text), "Error code: 600 (qelt)\nError code: 600 (qelt)\nqeltcore\ntask 3\n");

    error->GetBag()->SetAttribute(StPackedDictionaryKey("action_description"), VString("Retry."));
    VValueBag* named = new VValueBag;
    StBagKeyNoDefault<int, VLong>("task_id").Set(*named, 4);
    StBagKeyNoDefault<VString, VString>("task_name").Set(*named, VString("Worker"));
    error->LoadFromBag(*named);
    named->Release();
    error->DumpToString(text);
    EXPECT_EQ(Utf8(text),
              "Error code: 600 (qelt)\nError code: 600 (qelt)\nqeltcore\nRetry.\ntask 4, name: 'Worker'\n");
}

TEST(ErrorTexts, DebugDumpWithProcessIsUtf16)
{
    StError error(QeltError(600));
    VString dump;
    error->DumpToString(dump);

    char buffer[512];
    int size = sizeof(buffer);
    EXPECT_EQ(error->DebugDump(buffer, size), VTC_UTF_16_SMALLENDIAN);
    ASSERT_EQ(size, dump.GetLength() * 2);
    for (int i = 0; i < dump.GetLength(); ++i) {
        const UniChar unit = static_cast<UniChar>(static_cast<unsigned char>(buffer[2 * i]) |
                                                  (static_cast<unsigned char>(buffer[2 * i + 1]) << 8));
        EXPECT_EQ(unit, dump.GetCPointer()[i]);
    }

    // Cut to half the size in units.
    char small[11];
    size = sizeof(small);
    EXPECT_EQ(error->DebugDump(small, size), VTC_UTF_16_SMALLENDIAN);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(small[0], 'E');
    EXPECT_EQ(small[8], 'r');

    // No room, or no buffer: nothing written.
    for (int bad : {0, -4}) {
        size = bad;
        error->DebugDump(small, size);
        EXPECT_EQ(size, 0);
    }
    size = 64;
    error->DebugDump(nullptr, size);
    EXPECT_EQ(size, 0);
}

TEST(ErrorTexts, DebugDumpWithoutProcessIsOneLine)
{
    StError error(MakeVError(kSignaturePOSX, 13));
    VProcess* saved = VProcess::sInstance;
    VProcess::sInstance = nullptr;
    char buffer[256];
    int size = sizeof(buffer);
    error->DebugDump(buffer, size);
    char small[10];
    int smallSize = sizeof(small);
    error->DebugDump(small, smallSize);
    VProcess::sInstance = saved;

    const std::string expected = "Error code: 13, component: 'POSX', task ID: " + std::to_string(error->GetTaskID());
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(size)), expected);
    EXPECT_EQ(std::string(small, static_cast<size_t>(smallSize)), expected.substr(0, 10));
}

TEST(ErrorLocalizers, Registry)
{
    TestLocalizer first, second;
    const OsType sig = FourCC("PW32");
    EXPECT_EQ(VErrorBase::GetLocalizer(sig), nullptr);
    VErrorBase::RegisterLocalizer(sig, &first);
    EXPECT_EQ(VErrorBase::GetLocalizer(sig), &first);
    VErrorBase::RegisterLocalizer(sig, &second);
    EXPECT_EQ(VErrorBase::GetLocalizer(sig), &second);
    VErrorBase::RegisterLocalizer(sig, nullptr);
    EXPECT_EQ(VErrorBase::GetLocalizer(sig), nullptr);
    VErrorBase::UnregisterLocalizer(sig);
    VErrorBase::UnregisterLocalizer(sig);  // nothing left: no effect
    EXPECT_EQ(VErrorBase::GetLocalizer(sig), nullptr);
}

TEST(ErrorLocalizers, CallLocalizer)
{
    TestLocalizer localizer;
    localizer.fCode = QeltError(614);
    localizer.fMessage = "Bad name {p1}";
    StError error(QeltError(614));
    error->GetBag()->SetAttribute(StPackedDictionaryKey("p1"), VString("x:y"));

    VString text("untouched");
    EXPECT_TRUE(error->CallLocalizer(&localizer, 0, text));
    EXPECT_EQ(Utf8(text), "untouched");
    EXPECT_TRUE(error->CallLocalizer(&localizer, QeltError(614), text));
    EXPECT_EQ(Utf8(text), "Bad name x:y");
    EXPECT_FALSE(error->CallLocalizer(&localizer, QeltError(615), text));
    EXPECT_TRUE(text.IsEmpty());
    text.FromCString("again");
    EXPECT_FALSE(error->CallLocalizer(nullptr, QeltError(614), text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(ErrorNativeMapping, EncodedNativeErrorToVError)
{
    const VError fallback = QeltError(602);
    struct Case {
        VError native;
        VError expected;
    };
    const Case cases[] = {
        {PosixError(EACCES), QeltError(5)},
        {PosixError(ENOENT), QeltError(600)},
        {PosixError(ENOSPC), fallback},
        {PosixError(0), fallback},
        {MakeVError(kSignatureCARB, -43), QeltError(600)},
        {MakeVError(kSignatureCARB, -128), QeltError(6)},
        {MakeVError(kSignatureCARB, -36), fallback},
        {MakeVError(kSignatureCARB, 0), fallback},
        {MakeVError(kSignatureMACH, 5), fallback},
        {MakeVError(kSignatureCOCO, 4), fallback},
        {MakeVError(kSignatureMACH, 0), MakeVError(kSignatureMACH, 0)},
        {MakeVError(kSignatureCOCO, 0), MakeVError(kSignatureCOCO, 0)},
        {QeltError(1), fallback},
        {QeltError(610), QeltError(610)},
        {MakeVError(FourCC("xmlc"), 3), MakeVError(FourCC("xmlc"), 3)},
        {0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VErrorBase::EncodedNativeErrorToVError(c.native, fallback), c.expected) << std::hex << c.native;
}

TEST(ErrorNativeMapping, MapCarbonError)
{
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-36), MakeVError(kSignatureCARB, -36));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-108), QeltError(100));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-39), QeltError(200));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-54), QeltError(5));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(0), 0u);
}

TEST(ErrorTexts, DebugDumpDoesNotSplitASurrogatePair)
{
    StError error(QeltError(600));
    VValueBag* bag = new VValueBag;
    StBagKeyNoDefault<VString, VString>("task_name").Set(*bag, VString("\xF0\x9F\x98\x80"));  // U+1F600
    error->LoadFromBag(*bag);
    bag->Release();
    VString dump;
    error->DumpToString(dump);
    int pair = 0;
    while (pair < dump.GetLength() && dump.GetCPointer()[pair] != 0xD83D)
        ++pair;
    ASSERT_LT(pair + 1, dump.GetLength());

    // Room for everything before the pair and its first half only.
    char buffer[512];
    int size = 2 * (pair + 1);
    error->DebugDump(buffer, size);
    EXPECT_EQ(size, 2 * pair);

    size = 2 * (pair + 2) + 1;  // an odd size counts whole units
    error->DebugDump(buffer, size);
    EXPECT_EQ(size, 2 * (pair + 2));
}
