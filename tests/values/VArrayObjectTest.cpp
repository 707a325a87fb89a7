// Arrays of owned objects: absent elements, ownership and deep copies,
// string searches and sorts, the string and blob stream forms, and the
// image array without a registered picture kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VLong.h"
#include "kernel/VString.h"
#include "process/VProcess.h"
#include "values/VArrayBlob.h"
#include "values/VArrayImage.h"
#include "values/VArrayString.h"
#include "values/VBlob.h"

namespace qelt {
namespace {

std::string Text(const VString& s)
{
    std::string r;
    for (int i = 0; i < s.GetLength(); ++i)
        r.push_back(static_cast<char>(s.GetCPointer()[i]));
    return r;
}

// The elements, "<absent>" for absent ones.
std::vector<std::string> Strings(const VArrayString& a)
{
    std::vector<std::string> r;
    const VString* const* elems = reinterpret_cast<const VString* const*>(a.LockAndGetData());
    for (int i = 0; i < a.GetCount(); ++i)
        r.push_back(elems[i] == nullptr ? "<absent>" : Text(*elems[i]));
    return r;
}

VArrayString Make(const std::vector<const char*>& values)
{
    VArrayString a(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] != nullptr)
            a.FromString(VString(values[i]), static_cast<int>(i) + 1);
    }
    return a;
}

TEST(VArrayString, AbsentElementsAndOwnership)
{
    VArrayString a(2);
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"<absent>", "<absent>"}));
    EXPECT_EQ(a.AppendString(VString("x")), 3);
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"<absent>", "<absent>", "x"}));

    VString source("first");
    a.FromString(source, 1);
    source.AppendCString("!");
    a.FromString(source, 9);  // outside: nothing
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"first", "<absent>", "x"}));

    VString out("old");
    a.GetString(out, 0);
    EXPECT_EQ(out.GetLength(), 0);
    out.FromCString("old");
    a.GetString(out, 2);  // absent reads as empty
    EXPECT_EQ(out.GetLength(), 0);
    a.GetString(out, 3);
    EXPECT_EQ(Text(out), "x");

    VArrayString copy(a);
    copy.FromString(VString("changed"), 1);
    EXPECT_EQ(Strings(a)[0], "first");
    VValue* clone = a.Clone();
    a.SetCount(1);  // drops and deletes "x"
    EXPECT_EQ(Strings(*dynamic_cast<VArrayString*>(clone)),
              (std::vector<std::string>{"first", "<absent>", "x"}));
    delete clone;
    a.Delete(1, 1);
    EXPECT_EQ(a.GetCount(), 0);
    EXPECT_TRUE(copy.Insert(1, 1));
    EXPECT_EQ(Strings(copy), (std::vector<std::string>{"<absent>", "changed", "<absent>", "x"}));
}

TEST(VArrayString, ValuesAndComparison)
{
    VArrayString a = Make({"12", nullptr});
    VLong number;
    a.GetValue(number, 1);
    EXPECT_EQ(number.GetLong(), 12);
    a.FromValue(VLong(34), 2);
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"12", "34"}));
    VValueSingle* clone = a.CloneValue(2);
    ASSERT_NE(dynamic_cast<VString*>(clone), nullptr);
    EXPECT_EQ(Text(*dynamic_cast<VString*>(clone)), "34");
    delete clone;
    EXPECT_EQ(a.CompareTo(VString("12"), false, 1), CR_EQUAL);
    EXPECT_EQ(a.CompareTo(VString("12"), false, 3), CR_SMALLER);
    VArrayString withAbsent(1);
    EXPECT_EQ(withAbsent.CompareTo(VString("a"), false, 1), CR_SMALLER);
}

TEST(VArrayString, SortFindAndQuickFind)
{
    VArrayString a = Make({"b", nullptr, "a"});
    a.Sort(1, 3, false);
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"<absent>", "a", "b"}));
    a.Sort(1, 3, true);
    EXPECT_EQ(Strings(a), (std::vector<std::string>{"b", "a", "<absent>"}));

    VArrayString f = Make({"a", nullptr, "c", "c"});
    EXPECT_EQ(f.Find(VString("c"), 1, 1, CM_EQUAL), 3);
    EXPECT_EQ(f.Find(VString("c"), 4, 0, CM_EQUAL), 4);
    EXPECT_EQ(f.Find(VString("b"), 1, 1, CM_GREATER), 3);
    EXPECT_EQ(f.Find(VString("b"), 4, 0, CM_LESS), 1);  // the absent element never matches
    EXPECT_EQ(f.Find(VString("z"), 1, 1, CM_EQUAL), -1);
    EXPECT_EQ(f.Find(VString("a"), 5, 1, CM_EQUAL), -1);

    VArrayString sorted = Make({"a", "b", "d", "f"});
    EXPECT_EQ(sorted.QuickFind(VString("d")), 3);
    EXPECT_EQ(sorted.QuickFind(VString("c")), -1);
    VArrayString holes = Make({nullptr, "b"});
    EXPECT_EQ(holes.QuickFind(VString("b")), 2);
    EXPECT_EQ(holes.QuickFind(VString("a")), -1);
}

TEST(VArrayString, SearchIgnoresDiacriticalMarksButSortCountsThem)
{
    // Collation comes from the process's international text manager.
    VProcess* process = new VProcess;
    ASSERT_TRUE(process->Init(0));
    {
        const UniChar accented[] = {'c', 'a', 'f', 0x00E9, 0};
        EXPECT_TRUE(VString(accented).EqualToString(VString("cafe"), false));
        VArrayString a(2);
        a.FromString(VString(accented), 1);
        a.FromString(VString("cafe"), 2);
        EXPECT_EQ(a.Find(VString("cafe"), 1, 1, CM_EQUAL), 1);
        a.Sort(1, 2, false);
        VString first;
        a.GetString(first, 1);
        EXPECT_EQ(Text(first), "cafe");
    }
    delete process;
}

TEST(VArrayString, StreamFormWithAbsentMarker)
{
    VArrayString a = Make({"a", nullptr});
    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(a.WriteToStream(&out, 0), VE_OK);
    out.CloseWriting();
    const unsigned char* bytes = static_cast<const unsigned char*>(out.GetDataPtr());
    size_t size = out.GetDataSize();
    ASSERT_GE(size, 16u);
    EXPECT_EQ(bytes[0], 2);  // count
    EXPECT_EQ(bytes[4], 2);  // present marker
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + size - 4), 4), "LLUN");  // 'NULL', little-endian

    VArrayString back = Make({"x", "y", "z"});
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(back.ReadFromStream(&in, 0), VE_OK);
    EXPECT_EQ(Strings(back), (std::vector<std::string>{"a", "<absent>"}));

    // A count the stream cannot hold.
    const unsigned char bad[] = {0xFF, 0xFF, 0xFF, 0x0F, 2, 0, 0, 0};
    VConstPtrStream badIn(bad, sizeof(bad));
    ASSERT_EQ(badIn.OpenReading(), VE_OK);
    EXPECT_EQ(back.ReadFromStream(&badIn, 0), QeltError(200));
    EXPECT_EQ(Strings(back), (std::vector<std::string>{"a", "<absent>"}));
}

TEST(VArrayBlob, OwnsCopiesAndStreamsBlobs)
{
    VArrayBlob a(2);
    VBlobWithPtr blob("abc", 3);
    a.FromValue(blob, 1);
    a.FromValue(VLong(5), 2);  // not a blob: ignored
    a.FromValue(blob, 3);      // outside: ignored
    VBlobWithPtr out("zz", 2);
    a.GetValue(out, 1);
    EXPECT_EQ(out.GetSize(), 3);
    a.GetValue(out, 2);  // absent
    EXPECT_EQ(out.GetSize(), 0);
    VLong notABlob(7);
    a.GetValue(notABlob, 1);
    EXPECT_EQ(notABlob.GetLong(), 0);  // cleared, nothing read as a long
    EXPECT_EQ(a.Find(blob, 1, 1, CM_EQUAL), -1);
    EXPECT_EQ(a.CompareTo(blob, false, 1), CR_EQUAL);
    EXPECT_EQ(a.CompareTo(blob, false, 2), CR_EQUAL);
    EXPECT_EQ(a.CompareTo(blob, false, 0), CR_SMALLER);

    VArrayBlob copy(a);
    VBlobWithPtr other("12345", 5);
    copy.FromValue(other, 1);
    a.GetValue(out, 1);
    EXPECT_EQ(out.GetSize(), 3);

    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(a.WriteToStream(&stream, 0), VE_OK);
    stream.CloseWriting();
    EXPECT_EQ(stream.GetDataSize(), 4u + 4u + 3u + 4u);  // count, "abc", empty blob
    VArrayBlob back;
    VConstPtrStream in(stream.GetDataPtr(), stream.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(back.ReadFromStream(&in, 0), VE_OK);
    ASSERT_EQ(back.GetCount(), 2);
    back.GetValue(out, 1);
    EXPECT_EQ(out.GetSize(), 3);
    VValueSingle* cloned = back.CloneValue(2);
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(cloned), nullptr);
    delete cloned;

    back.Sort(1, 2, false);
    EXPECT_EQ(back.GetCount(), 2);
}

TEST(VArrayImage, WithoutPictureKind)
{
    VArrayImage a(2);
    EXPECT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.GetElemValueKind(), 12);
    EXPECT_FALSE(a.CanBeEvaluated());
    EXPECT_EQ(a.Find(VLong(1), 1, 1, CM_EQUAL), 0);
    a.FromValue(VLong(1), 1);  // not a picture: ignored
    EXPECT_EQ(a.CloneValue(1), nullptr);
    EXPECT_EQ(a.CloneValue(3), nullptr);
    a.Sort(1, 2, false);
    a.Unsort();
    EXPECT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.Clone(), nullptr);
    VLong untouched(3);
    a.GetValue(untouched, 1);
    EXPECT_EQ(untouched.GetLong(), 3);

    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    ASSERT_EQ(a.WriteToStream(&out, static_cast<int>(FourCC("VVAL"))), VE_OK);  // no kind word
    out.CloseWriting();
    EXPECT_EQ(out.GetDataSize(), 4u + 16u);

    // Reading elements needs the picture kind: an error, not silence.
    VArrayImage back;
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    EXPECT_EQ(back.ReadFromStream(&in, 0), QeltError(2));
    EXPECT_EQ(back.GetCount(), 0);

    const unsigned char none[] = {0, 0, 0, 0};
    VConstPtrStream emptyIn(none, sizeof(none));
    ASSERT_EQ(emptyIn.OpenReading(), VE_OK);
    EXPECT_EQ(a.ReadFromStream(&emptyIn, 0), VE_OK);
    EXPECT_EQ(a.GetCount(), 0);

    EXPECT_TRUE(a.SetCount(3));
    a.DeleteAllElements();
    EXPECT_EQ(a.GetCount(), 0);
}

}  // namespace
}  // namespace qelt
