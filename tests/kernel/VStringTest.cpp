#include <gtest/gtest.h>

#include "TestSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "files/VConstPtrStream.h"
#include "files/VPtrStream.h"
#include "kernel/VCppMemMgr.h"
#include "kernel/VLong.h"
#include "kernel/VObject.h"
#include "kernel/VString.h"
#include "runtime/VErrorContext.h"
#include "kernel/VStringBlock.h"
#include "platform/PlatString.h"

namespace qelt {
namespace {

using test::Units;

const UniChar* U(const char16_t* s) { return reinterpret_cast<const UniChar*>(s); }

// The count of the counted block a string holds.
unsigned int BlockCount(const VString& s)
{
    return VStringBlock::GetCount(const_cast<UniChar*>(s.GetCPointer()), s.GetCapacity());
}

// A record holding one count of the string's text (RetainBuffer).
VInlineString MakeRecord(const VString& s)
{
    int length = 0, capacity = 0;
    UniChar* block = s.RetainBuffer(&length, &capacity);
    VInlineString record{};
    record.fLength = length;
    record.fString = block;
    record.fCapacity = capacity;
    return record;
}

// The units of a text and the unit behind them (its terminator).
std::u16string WithTerminator(const UniChar* units, int length)
{
    return std::u16string(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length) + 1);
}

UniChar* BlockOf(const VInlineString& r) { return r.fString; }
int CapacityOf(const VInlineString& r) { return r.fCapacity; }
int LengthOf(const VInlineString& r) { return r.fLength; }

// A string that exposes its flags byte.
class ProbeString : public VString {
public:
    using VString::VString;
    unsigned char Flags() const { return _GetFlags(); }
    bool IsInline() const { return _IsInline(); }
};

// ---------------------------------------------------------------------------
// Buffer model

TEST(VStringBuffer, GrowthRule)
{
    struct Case {
        int length, needed;
        long long size;
    } cases[] = {{0, 1, 8},      {0, 6, 16},     {3, 6, 16},     {0, 100, 104},
                 {50, 100, 128}, {100, 100, 104}, {10, 200, 248}, {0, 5, 8},
                 // Near the limit: the exact size, with room for the count.
                 {5, 2147483644, 2147483648LL}, {5, 2147483643, 2147483646LL},
                 // Beyond it: refused.
                 {5, 2147483645, 0}, {5, 2147483646, 0}, {5, INT_MAX, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(VString::ComputeProgressiveResize(c.length, c.needed), c.size) << c.length << " " << c.needed;
}

TEST(VStringBuffer, CapacitiesFollowTheGrowthRule)
{
    VString s;
    EXPECT_EQ(s.GetCapacity(), 0);
    s.AppendUniChar('a');
    EXPECT_EQ(s.GetCapacity(), 5);
    EXPECT_EQ(BlockCount(s), 1u);

    VString fifty;
    for (int i = 0; i < 50; ++i)
        fifty.AppendUniChar('x');
    ASSERT_TRUE(fifty._ReallocBuffer(100, true));
    EXPECT_EQ(fifty.GetCapacity(), 125);
    EXPECT_EQ(fifty.GetLength(), 50);
    EXPECT_EQ(Units(fifty), std::u16string(50, u'x'));

    VString hundred;
    hundred.FromUniString(std::vector<UniChar>(100, 'y').data(), 100);
    ASSERT_TRUE(hundred._ReallocBuffer(100, true));
    EXPECT_EQ(hundred.GetCapacity(), 101);
    EXPECT_EQ(Units(hundred), std::u16string(100, u'y'));
}

TEST(VStringBuffer, OversizedRequestsFailAndKeepTheText)
{
    VString s("abc");
    const UniChar* before = s.GetCPointer();
    {
        // The first length past the limit is refused with 'qelt' 107.
        test::StStartedProcess process;
        ASSERT_TRUE(process.IsStarted());
        StErrorContextInstaller errors(true, true);
        EXPECT_FALSE(s._ReallocBuffer(2147483645, true));
        EXPECT_EQ(errors.GetLastError(), QeltError(107));
    }
    EXPECT_FALSE(s._ReallocBuffer(2147483646, true));
    EXPECT_FALSE(s._ReallocBuffer(-1, true));
    EXPECT_EQ(s.GetCPointer(), before);
    EXPECT_EQ(Units(s), u"abc");
}

TEST(VStringBuffer, CopySharesAndWritesCopyFirst)
{
    VString a("hello world");
    VString b(a);
    EXPECT_EQ(a.GetCPointer(), b.GetCPointer());
    EXPECT_EQ(BlockCount(a), 2u);

    VString c;
    c = a;
    EXPECT_EQ(BlockCount(a), 3u);

    b.AppendUniChar('!');
    EXPECT_NE(a.GetCPointer(), b.GetCPointer());
    EXPECT_EQ(Units(a), u"hello world");
    EXPECT_EQ(Units(b), u"hello world!");
    EXPECT_EQ(BlockCount(a), 2u);

    c.SetUniChar(1, 'J');
    EXPECT_EQ(Units(c), u"Jello world");
    EXPECT_EQ(Units(a), u"hello world");
    EXPECT_EQ(BlockCount(a), 1u);

    // Truncating a shared block leaves the other holder alone.
    VString d(a);
    d.Truncate(5);
    EXPECT_EQ(Units(d), u"hello");
    EXPECT_EQ(Units(a), u"hello world");
    EXPECT_EQ(a.GetLength(), 11);
}

TEST(VStringBuffer, NullStringsAreNeverShared)
{
    VString null(true);
    EXPECT_TRUE(null.IsNull());
    VString copy(null);
    EXPECT_TRUE(copy.IsNull());
    EXPECT_TRUE(copy.IsEmpty());
    int length = -1, capacity = -1;
    EXPECT_EQ(null.RetainBuffer(&length, &capacity), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(capacity, 0);

    VString text("abc");
    text.FromString(null);
    EXPECT_TRUE(text.IsNull());
    EXPECT_TRUE(text.IsEmpty());

    // Becoming null releases the text; leaving it through a write keeps it.
    VString s("some text");
    s.SetNull(true);
    EXPECT_TRUE(s.IsEmpty());
    s.AppendCString("xy");
    EXPECT_FALSE(s.IsNull());
    EXPECT_EQ(Units(s), u"xy");
}

TEST(VStringBuffer, MoveTakesTheBlock)
{
    VString a("moved text");
    const UniChar* block = a.GetCPointer();
    VString b(std::move(a));
    EXPECT_EQ(b.GetCPointer(), block);
    EXPECT_TRUE(a.IsEmpty());  // NOLINT(bugprone-use-after-move)
    VString c("other");
    c = std::move(b);
    EXPECT_EQ(c.GetCPointer(), block);
    EXPECT_EQ(Units(c), u"moved text");
    EXPECT_EQ(BlockCount(c), 1u);
    c = std::move(c);
    EXPECT_EQ(Units(c), u"moved text");
}

// A page of read-only memory holding a zero-terminated UTF-16 text: a
// write into it would crash the test.
class ReadOnlyText {
public:
    explicit ReadOnlyText(const char16_t* text)
    {
        fSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        fPage = ::mmap(nullptr, fSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::u16string s(text);
        std::memcpy(fPage, s.c_str(), (s.size() + 1) * 2);
        ::mprotect(fPage, fSize, PROT_READ);
    }
    ~ReadOnlyText() { ::munmap(fPage, fSize); }
    UniChar* Units() const { return static_cast<UniChar*>(fPage); }

private:
    void* fPage;
    size_t fSize;
};

TEST(VStringBuffer, AppendsNeverReallocateMoreOftenThanTheSizingRule)
{
    // Whenever an append replaces the block, the new capacity is at least
    // what the sizing rule gives for the request, so a run of appends never
    // reallocates more often than the rule alone would; the text stays whole.
    for (int piece : {1, 3, 50}) {
        VString s;
        std::u16string model;
        int ours = 0;
        int rule = 0;
        long long ruleCapacity = 0;
        std::vector<UniChar> units(static_cast<size_t>(piece));
        for (int i = 0; i < 3000; ++i) {
            for (int k = 0; k < piece; ++k)
                units[static_cast<size_t>(k)] = static_cast<UniChar>('a' + (i + k) % 26);
            const int oldLength = s.GetLength();
            const int oldCapacity = s.GetCapacity();
            s.AppendUniChars(units.data(), piece);
            model.append(units.begin(), units.end());
            const int wanted = oldLength + piece;
            if (s.GetCapacity() != oldCapacity) {
                ++ours;
                EXPECT_GE(s.GetCapacity(), VString::ComputeProgressiveResize(oldLength, wanted) - 3)
                    << "piece " << piece << " at length " << oldLength;
            }
            if (wanted > ruleCapacity) {
                ++rule;
                ruleCapacity = VString::ComputeProgressiveResize(oldLength, wanted) - 3;
            }
        }
        EXPECT_EQ(Units(s), model) << "piece " << piece;
        EXPECT_LE(ours, rule) << "piece " << piece;
        // The text appended to itself while the block grows.
        s.AppendUniChars(s.GetCPointer(), s.GetLength());
        EXPECT_EQ(Units(s), model + model) << "piece " << piece;
    }
}

TEST(VStringBuffer, WrappedLiteralIsNeverWritten)
{
    ReadOnlyText literal(u"literal");
    {
        ProbeString s(literal.Units(), 7, 4096);
        EXPECT_EQ(s.Flags(), 0x52);
        EXPECT_EQ(s.GetCPointer(), literal.Units());
        EXPECT_EQ(s.GetCapacity(), 2047);

        // A copy copies the units into a block of its own.
        VString copy(s);
        EXPECT_NE(copy.GetCPointer(), literal.Units());
        EXPECT_EQ(Units(copy), u"literal");
        EXPECT_EQ(BlockCount(copy), 1u);

        // Writes that would fit the wrapped capacity still copy first.
        s.AppendUniChar('!');
        EXPECT_NE(s.GetCPointer(), literal.Units());
        EXPECT_EQ(Units(s), u"literal!");
    }
    struct Edit {
        const char* name;
        void (*apply)(VString&);
        const char16_t* expected;
    } edits[] = {
        {"SetUniChar", [](VString& s) { s.SetUniChar(1, 'L'); }, u"Literal"},
        {"Truncate", [](VString& s) { s.Truncate(3); }, u"lit"},
        {"Remove", [](VString& s) { s.Remove(1, 3); }, u"eral"},
        {"Insert", [](VString& s) { s.Insert('_', 2); }, u"l_iteral"},
        {"Exchange", [](VString& s) { s.Exchange('l', 'L'); }, u"LiteraL"},
        {"SubString", [](VString& s) { s.SubString(2, 3); }, u"ite"},
        {"Validate", [](VString& s) { s.Validate(2); }, u"li"},
    };
    for (const Edit& e : edits) {
        VString s(literal.Units(), static_cast<unsigned long>(4096));
        e.apply(s);
        EXPECT_EQ(Units(s), e.expected) << e.name;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(literal.Units())), u"literal") << e.name;
    }

    VString nullWrap(static_cast<UniChar*>(nullptr), 3, 8);
    EXPECT_TRUE(nullWrap.IsNull());
}

TEST(VStringBuffer, BorrowedBlockIsNeverWritten)
{
    VStr<15> source("borrowed");
    VInlineString record = MakeRecord(source);
    UniChar* block = BlockOf(record);
    int capacity = CapacityOf(record);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(VStringBlock::GetCount(block, capacity), 1u);
    {
        ProbeString view(record, true);
        EXPECT_EQ(view.Flags(), 0x12);
        EXPECT_EQ(view.GetCPointer(), block);
        // Sharing a borrowed block takes a count of its own.
        VString copy(view);
        EXPECT_EQ(copy.GetCPointer(), block);
        EXPECT_EQ(VStringBlock::GetCount(block, capacity), 2u);

        view.SetUniChar(1, 'B');
        EXPECT_EQ(Units(view), u"Borrowed");
        view.Truncate(3);
        EXPECT_EQ(Units(view), u"Bor");
    }
    EXPECT_EQ(VStringBlock::GetCount(block, capacity), 1u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(block), LengthOf(record)), u"borrowed");
    VStringBlock::Release(record);
    EXPECT_EQ(BlockOf(record), nullptr);
}

TEST(VStringBuffer, InlineRecordSharing)
{
    VString text("shared with a record");
    VInlineString record = MakeRecord(text);
    EXPECT_EQ(BlockOf(record), text.GetCPointer());
    EXPECT_EQ(LengthOf(record), text.GetLength());
    EXPECT_EQ(CapacityOf(record), text.GetCapacity());
    EXPECT_EQ(BlockCount(text), 2u);
    {
        VString fromRecord(record);
        EXPECT_EQ(BlockCount(text), 3u);
        VString assigned("x");
        assigned.FromString(record);
        EXPECT_EQ(BlockCount(text), 4u);
        assigned.FromString(record);  // already holds it: no new count
        EXPECT_EQ(BlockCount(text), 4u);
        EXPECT_EQ(Units(assigned), u"shared with a record");
        EXPECT_FALSE(assigned.IsNull());
    }
    VInlineString other{};
    VStringBlock::Assign(other, record);
    EXPECT_EQ(BlockCount(text), 3u);
    VStringBlock::Release(other);
    VStringBlock::Release(record);
    EXPECT_EQ(BlockCount(text), 1u);

    VInlineString empty{};
    VString fromEmpty(empty);
    EXPECT_TRUE(fromEmpty.IsEmpty());
    EXPECT_FALSE(fromEmpty.IsNull());
}

TEST(VStringBuffer, RetainBufferOfInlineTextMakesAnExactBlock)
{
    VStr<15> s("abc");
    EXPECT_EQ(s.GetCapacity(), 15);
    int length = 0, capacity = 0;
    UniChar* block = s.RetainBuffer(&length, &capacity);
    ASSERT_NE(block, nullptr);
    EXPECT_NE(block, s.GetCPointer());
    EXPECT_EQ(length, 3);
    EXPECT_EQ(capacity, 3);
    EXPECT_EQ(VStringBlock::ExactUnits(3), 6);
    EXPECT_EQ(VStringBlock::CountIndex(3), 4);
    EXPECT_EQ(VStringBlock::GetCount(block, capacity), 1u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(block)), u"abc");
    VStringBlock::Release(block, capacity);
}

TEST(VStringBuffer, TruncateRules)
{
    // A high surrogate at the cut is dropped with its pair.
    VString pair;
    pair.FromUniString(U(u"abcd\xD83D\xDE00z"), 7);
    pair.Truncate(5, true);
    EXPECT_EQ(pair.GetLength(), 4);
    VString cut;
    cut.FromUniString(U(u"abcd\xD83D\xDE00z"), 7);
    cut.Truncate(5, false);
    EXPECT_EQ(cut.GetLength(), 5);

    // Shrinking gives memory back only beyond an eighth plus 32 units.
    for (int cap : {32, 33}) {
        VStr<40> source;
        source.FromUniString(std::vector<UniChar>(cap, 'q').data(), cap);
        VInlineString record = MakeRecord(source);
        ASSERT_EQ(CapacityOf(record), cap);
        ProbeString s(record);
        VStringBlock::Release(record);
        ASSERT_EQ(BlockCount(s), 1u);
        s.Truncate(0);
        EXPECT_EQ(s.GetLength(), 0);
        EXPECT_EQ(s.IsInline(), cap == 33) << cap;
        EXPECT_EQ(s.GetCapacity(), cap == 33 ? 0 : 32) << cap;
    }

    VString s("abc");
    s.Truncate(10);
    s.Truncate(-3);
    EXPECT_EQ(s.GetLength(), 0);
}

TEST(VStringBuffer, ValidateChecksTheCapacity)
{
    VString s;
    ASSERT_TRUE(s._ReallocBuffer(10, false));
    UniChar* p = const_cast<UniChar*>(s.GetCPointer());
    p[0] = 'o';
    p[1] = 'k';
    int capacity = s.GetCapacity();
    EXPECT_FALSE(s.Validate(capacity + 1));
    EXPECT_FALSE(s.Validate(-1));
    EXPECT_EQ(s.GetLength(), 0);
    s.SetNull(true);
    ASSERT_TRUE(s._ReallocBuffer(10, false));
    p = const_cast<UniChar*>(s.GetCPointer());
    p[0] = 'o';
    p[1] = 'k';
    EXPECT_TRUE(s.Validate(2));
    EXPECT_FALSE(s.IsNull());
    EXPECT_EQ(Units(s), u"ok");
}

TEST(VStringBuffer, InlineStringsAvoidTheHeap)
{
    ProbeString plain;
    EXPECT_TRUE(plain.IsInline());
    VStr<4> four("abcd");
    EXPECT_EQ(four.GetCapacity(), 4);
    EXPECT_EQ(Units(four), u"abcd");
    four.AppendUniChar('e');
    EXPECT_EQ(Units(four), u"abcde");
    EXPECT_GT(four.GetCapacity(), 4);
    four.Truncate(2);
    EXPECT_EQ(four.GetCapacity(), 5);  // too little to give back
    EXPECT_TRUE(four._ReallocBuffer(2, true));
    EXPECT_EQ(four.GetCapacity(), 4);  // back inline
    EXPECT_EQ(Units(four), u"ab");

    // Copies of inline text copy; a VStr copy of a heap string shares.
    VString heap("a text on the heap");
    VStr<255> big(heap);
    EXPECT_EQ(big.GetCPointer(), heap.GetCPointer());

    std::unique_ptr<VString> made(VString::NewString(10));
    EXPECT_EQ(made->GetCapacity(), 10);
    made->AppendCString("0123456789");
    EXPECT_EQ(made->GetCapacity(), 10);
    EXPECT_EQ(Units(*made), u"0123456789");
}

TEST(VStringBuffer, BlocksMadeBeforeTheMemoryManager)
{
    // Strings built during static initialisation take C-library blocks;
    // they stay usable and are given back (the leak checker would notice).
    VCppMemMgr* manager = VObject::sCppMemMgr;
    VObject::sCppMemMgr = nullptr;
    auto early = std::make_unique<ProbeString>();
    early->AppendCString("early");
    VString earlyCopy(*early);
    VString second("second");
    VObject::sCppMemMgr = manager;

    EXPECT_EQ(early->Flags() & 0x70, 0x70);
    EXPECT_EQ(early->GetCapacity(), 5);
    EXPECT_NE(earlyCopy.GetCPointer(), early->GetCPointer());  // never shared
    const UniChar* block = early->GetCPointer();
    early->SetUniChar(1, 'E');  // its own block: written in place
    EXPECT_EQ(early->GetCPointer(), block);
    early->AppendCString(" and late");  // moves to a counted block
    EXPECT_EQ(Units(*early), u"Early and late");
    EXPECT_EQ(BlockCount(*early), 1u);
    EXPECT_EQ(Units(earlyCopy), u"early");
    early.reset();
}

// A string whose inline buffer holds a five-unit literal.
class LiteralString : public VString {
public:
    LiteralString() : VString(5, L"h\u00E9llo") {}
    unsigned char Flags() const { return _GetFlags(); }

private:
    UniChar fRoom[5];
};

TEST(VStringBuffer, LiteralInTheInlineBuffer)
{
    LiteralString s;
    EXPECT_EQ(Units(s), u"h\u00E9llo");
    EXPECT_EQ(s.Flags(), 0x52);
    EXPECT_EQ(s.GetCapacity(), 5);
    VString copy(s);
    EXPECT_NE(copy.GetCPointer(), s.GetCPointer());
    EXPECT_EQ(Units(copy), u"h\u00E9llo");
    s.AppendCString("!");
    EXPECT_EQ(Units(s), u"h\u00E9llo!");
}

// ---------------------------------------------------------------------------
// Construction and editing

TEST(VStringEdit, Constructors)
{
    VString zero(static_cast<UniChar>(0));
    EXPECT_EQ(zero.GetLength(), 1);
    VString c(static_cast<UniChar>('x'));
    EXPECT_EQ(Units(c), u"x");
    VString fromUni(U(u"uni"));
    EXPECT_EQ(Units(fromUni), u"uni");
    VString fromNullUni(static_cast<const UniChar*>(nullptr));
    EXPECT_TRUE(fromNullUni.IsEmpty());
    EXPECT_FALSE(fromNullUni.IsNull());
    VString ascii("plain");
    EXPECT_EQ(Units(ascii), u"plain");
    VString utf8("caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(Units(utf8), u"caf\u00E9 \U0001F600");
    VString wide(L"w\u00E9de");
    EXPECT_EQ(Units(wide), u"w\u00E9de");
    const char bytes[] = {'h', 0, 'i', 0, '!'};
    VString block(bytes, 5, VTC_UTF_16);
    EXPECT_EQ(Units(block), u"hi");
    VString fresh;
    EXPECT_FALSE(fresh.IsNull());
    EXPECT_TRUE(fresh.IsDirty());

    VString s("abc");
    s.FromUniChar(0);
    EXPECT_TRUE(s.IsEmpty());
    s.FromUniChar('z');
    EXPECT_EQ(Units(s), u"z");
}

TEST(VStringEdit, AppendAndFromBlock)
{
    VString s("ab");
    s.AppendCString("\xC3\xA9");
    EXPECT_EQ(Units(s), u"ab\u00E9");
    s.AppendCString("xyz");
    EXPECT_EQ(Units(s), u"ab\u00E9xyz");
    s.AppendUniChar(0);
    EXPECT_EQ(s.GetLength(), 7);

    VString t;
    const char odd[] = {'A', 0, 'B', 0, 'C'};
    EXPECT_EQ(t.FromBlock(odd, 5, VTC_UTF_16), 5u);
    EXPECT_EQ(Units(t), u"AB");
    EXPECT_EQ(t.FromBlock("d\xC3\xA9j\xC3\xA0", 6, VTC_UTF_8), 6u);
    EXPECT_EQ(Units(t), u"d\u00E9j\u00E0");
    t.AppendBlock(odd + 1, 4, VTC_UTF_16);  // unaligned source
    EXPECT_EQ(t.GetLength(), 6);
    t.AppendBlock("!", 1, VTC_UTF_8);
    EXPECT_EQ(t.GetUniChar(7), '!');

    const unsigned char bom[] = {0xEF, 0xBB, 0xBF, 'o', 'k'};
    EXPECT_EQ(t.FromBlockWithOptionalBOM(bom, 5, VTC_US_ASCII), VTC_UTF_8);
    EXPECT_EQ(Units(t), u"ok");

    // Appending an empty or null text still marks the string as holding text.
    VString null(true);
    null.AppendString(VString(true));
    EXPECT_FALSE(null.IsNull());
    VString n2(true);
    n2.AppendUniCString(nullptr);
    EXPECT_FALSE(n2.IsNull());

    VLong number;
    number.FromLong(42);
    VString v("n=");
    v.AppendValue(number);
    EXPECT_EQ(v.GetLength(), 2 + VString([&] {
                                   VString tmp;
                                   number.GetString(tmp);
                                   return tmp;
                               }()).GetLength());
}

TEST(VStringEdit, AppendingAStringToItself)
{
    VString heap("abcdef");
    heap.AppendString(heap);
    EXPECT_EQ(Units(heap), u"abcdefabcdef");
    VStr<8> inlined("abcd");
    inlined.AppendString(inlined);
    EXPECT_EQ(Units(inlined), u"abcdabcd");
    inlined.AppendString(inlined);
    EXPECT_EQ(Units(inlined), u"abcdabcdabcdabcd");
    VString part("0123456789");
    part.AppendUniChars(part.GetCPointer() + 2, 3);
    EXPECT_EQ(Units(part), u"0123456789234");
    part.Insert(part, 3);
    EXPECT_EQ(Units(part), u"01012345678923423456789234");
    VString rep("abcd");
    rep.Replace(rep, 2, 1);
    EXPECT_EQ(Units(rep), u"aabcdcd");
    VString from("xyz");
    from.FromUniString(from.GetCPointer() + 1, 2);
    EXPECT_EQ(Units(from), u"yz");
    // Its own units read again as bytes of another set.
    VString ascii("AB");
    ascii.FromBlock(ascii.GetCPointer(), 4, VTC_UTF_8);
    EXPECT_EQ(Units(ascii), std::u16string(u"A\0B\0", 4));
    VString grown("EF");
    grown.AppendBlock(grown.GetCPointer(), 4, VTC_UTF_8);
    EXPECT_EQ(Units(grown), std::u16string(u"EFE\0F\0", 6));
    VStr<8> inlined8("CD");
    inlined8.FromBlock(inlined8.GetCPointer(), 4, VTC_UTF_8);
    EXPECT_EQ(Units(inlined8), std::u16string(u"C\0D\0", 4));
}

TEST(VStringEdit, InsertRemoveReplace)
{
    struct Case {
        const char* name;
        void (*apply)(VString&);
        const char16_t* expected;
    } cases[] = {
        {"Insert unit at 0", [](VString& s) { s.Insert('x', 0); }, u"abcd"},
        {"Insert 0 unit", [](VString& s) { s.Insert(static_cast<UniChar>(0), 1); }, u"abcd"},
        {"Insert unit at 99", [](VString& s) { s.Insert('x', 99); }, u"abcdx"},
        {"Insert unit at 1", [](VString& s) { s.Insert('x', 1); }, u"xabcd"},
        {"Insert unit at the last unit", [](VString& s) { s.Insert('x', 4); }, u"abcxd"},
        {"Insert unit after the last unit", [](VString& s) { s.Insert('x', 5); }, u"abcdx"},
        {"Insert text at 3", [](VString& s) { s.Insert(VString("XY"), 3); }, u"abXYcd"},
        {"Insert text at 5", [](VString& s) { s.Insert(VString("XY"), 5); }, u"abcdXY"},
        {"Insert text at 0", [](VString& s) { s.Insert(VString("XY"), 0); }, u"abcd"},
        {"Remove 2,10", [](VString& s) { s.Remove(2, 10); }, u"a"},
        {"Remove 5,1", [](VString& s) { s.Remove(5, 1); }, u"abcd"},
        {"Remove 2,2", [](VString& s) { s.Remove(2, 2); }, u"ad"},
        {"Remove 1,-1", [](VString& s) { s.Remove(1, -1); }, u"abcd"},
        {"Replace 3,5", [](VString& s) { s.Replace(VString("XY"), 3, 5); }, u"abXY"},
        {"Replace 2,1", [](VString& s) { s.Replace(VString("XY"), 2, 1); }, u"aXYcd"},
        {"Replace 5,1", [](VString& s) { s.Replace(VString("XY"), 5, 1); }, u"abcd"},
        {"Replace 1,0", [](VString& s) { s.Replace(VString("XY"), 1, 0); }, u"abcd"},
        {"Replace 2,2 by empty", [](VString& s) { s.Replace(VString(), 2, 2); }, u"ad"},
        {"SubString 2,2", [](VString& s) { s.SubString(2, 2); }, u"bc"},
        {"SubString 3,99", [](VString& s) { s.SubString(3, 99); }, u"cd"},
        {"Exchange none", [](VString& s) { s.Exchange('z', 'y'); }, u"abcd"},
    };
    for (const Case& c : cases) {
        VString s("abcd");
        VString shared(s);
        c.apply(s);
        EXPECT_EQ(Units(s), c.expected) << c.name;
        EXPECT_EQ(Units(shared), u"abcd") << c.name;
    }

    VString huge("ab");
    VString before(huge);
    huge.Remove(1, INT_MAX);
    EXPECT_TRUE(huge.IsEmpty());
    before.Replace(VString("Q"), 2, INT_MAX);
    EXPECT_EQ(Units(before), u"aQ");
}

TEST(VStringEdit, RangesAndExchange)
{
    VString s("abcd");
    EXPECT_EQ(Units(s.Before(3)), u"ab");
    EXPECT_EQ(Units(s.Before(9)), u"abcd");
    EXPECT_EQ(Units(s.Before(0)), u"");
    EXPECT_EQ(Units(s.After(2)), u"cd");
    EXPECT_EQ(Units(s.After(4)), u"");
    EXPECT_EQ(Units(s.After(0)), u"abcd");

    VString d("old");
    s.GetSubString(2, 99, d);
    EXPECT_EQ(Units(d), u"bcd");
    s.GetSubString(5, 1, d);
    EXPECT_TRUE(d.IsEmpty());
    d.FromCString("old");
    s.GetSubString(5, 0, d);
    EXPECT_TRUE(d.IsEmpty());
    s.GetSubString(2, -1, d);
    EXPECT_TRUE(d.IsEmpty());

    VString sum = s + VString("ef");
    EXPECT_EQ(Units(sum), u"abcdef");
    EXPECT_EQ(Units(s), u"abcd");

    struct Case {
        int start, count;
        const char16_t* expected;
    } cases[] = {{1, 2, u"bbaa"}, {1, 1, u"baaa"}, {3, 9, u"aabb"}, {0, 1, u"aaaa"}, {1, 0, u"aaaa"}, {5, 1, u"aaaa"}};
    for (const Case& c : cases) {
        VString a("aaaa");
        a.Exchange('a', 'b', c.start, c.count);
        EXPECT_EQ(Units(a), c.expected) << c.start << "," << c.count;
    }
}

TEST(VStringEdit, RemoveWhiteSpaces)
{
    VString s;
    s.FromUniString(U(u" \tab c\t "), 8);
    int leading = -1, trailing = -1;
    s.RemoveWhiteSpaces(true, true, &leading, &trailing);
    EXPECT_EQ(Units(s), u"ab c");
    EXPECT_EQ(leading, 2);
    EXPECT_EQ(trailing, 2);

    VString blanks(" \t  ");
    blanks.RemoveWhiteSpaces(true, true, &leading, &trailing);
    EXPECT_TRUE(blanks.IsEmpty());
    EXPECT_EQ(leading, 4);
    EXPECT_EQ(trailing, 0);

    VString onlyTrailing("  x  ");
    leading = -7;
    onlyTrailing.RemoveWhiteSpaces(false, true, &leading, &trailing);
    EXPECT_EQ(Units(onlyTrailing), u"  x");
    EXPECT_EQ(leading, -7);
    EXPECT_EQ(trailing, 2);
}

TEST(VStringEdit, Swap)
{
    // Null inline string with a one-letter heap string.
    VString null(true);
    VString letter("z");
    null.Swap(letter);
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(Units(null), u"z");
    EXPECT_TRUE(letter.IsNull());
    EXPECT_TRUE(letter.IsEmpty());

    VString a("first text");
    VString b("second");
    const UniChar* blockA = a.GetCPointer();
    a.Swap(b);
    EXPECT_EQ(Units(a), u"second");
    EXPECT_EQ(Units(b), u"first text");
    EXPECT_EQ(b.GetCPointer(), blockA);

    VStr<8> x("abc");
    VStr<8> y("defgh");
    x.Swap(y);
    EXPECT_EQ(Units(x), u"defgh");
    EXPECT_EQ(Units(y), u"abc");
    VStr<4> small("ab");
    VStr<8> longer("abcdefg");
    small.Swap(longer);
    EXPECT_EQ(Units(small), u"abcdefg");
    EXPECT_EQ(Units(longer), u"ab");
}

TEST(VStringBuffer, ABlockHandedOutIsNeverWrittenByTheStringThatMadeIt)
{
    // A string that grew by appends holds a block no one else knows, and
    // appends to it without looking at the count. Every way of handing the
    // block to another holder must end that: the next append copies first.
    struct Case {
        const char* name;
        // Hands out the block of `grown`; the holder's units, terminator
        // included, are read back through `held` before and after `grown`
        // is written to.
        std::function<std::function<std::u16string()>(VString& grown)> handOut;
    };
    const std::vector<Case> cases = {
        {"copy construction",
         [](VString& grown) {
             auto held = std::make_shared<VString>(grown);
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"copy assignment",
         [](VString& grown) {
             auto held = std::make_shared<VString>("other");
             *held = grown;
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"a record of the buffer",
         [](VString& grown) {
             auto record = std::shared_ptr<VInlineString>(new VInlineString(MakeRecord(grown)),
                                                          [](VInlineString* r) {
                                                              VStringBlock::Release(*r);
                                                              delete r;
                                                          });
             return [record] { return WithTerminator(BlockOf(*record), LengthOf(*record)); };
         }},
        {"a sum with an empty string",
         [](VString& grown) {
             auto held = std::make_shared<VString>(grown + VString());
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"moved away, then copied back",
         [](VString& grown) {
             VString moved(std::move(grown));
             auto held = std::make_shared<VString>(moved);
             grown = std::move(moved);
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"swapped with a heap string, then copied",
         [](VString& grown) {
             VString other("another long text");
             grown.Swap(other);
             auto held = std::make_shared<VString>(other);
             grown.Swap(other);
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"swapped with an inline string, then copied",
         [](VString& grown) {
             VStr<40> other("inline");
             grown.Swap(other);
             auto held = std::make_shared<VString>(other);
             other.Swap(grown);
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
        {"copied on another thread",
         [](VString& grown) {
             auto held = std::make_shared<VString>();
             std::thread([&grown, held] { *held = grown; }).join();
             return [held] { return WithTerminator(held->GetCPointer(), held->GetLength()); };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VString grown;
        for (int i = 0; i < 40; ++i)
            grown.AppendUniChars(U(u"ab"), 2);
        const std::u16string before = WithTerminator(grown.GetCPointer(), grown.GetLength());
        auto held = c.handOut(grown);
        ASSERT_EQ(WithTerminator(grown.GetCPointer(), grown.GetLength()), before);
        ASSERT_EQ(held(), before);
        grown.AppendUniChar('!');
        grown.AppendUniChars(U(u"xyz"), 3);
        grown.SetUniChar(1, 'Z');
        EXPECT_EQ(held(), before);
        std::u16string written = before.substr(0, before.size() - 1);
        written[0] = u'Z';
        written.append(u"!xyz");
        EXPECT_EQ(Units(grown), written);
    }
}

// Normalisation goes through the current task's international manager;
// without one (no process) the text is left as it is.
TEST(VStringEdit, DecomposeAndComposeRoundTrip)
{
    const UniChar eAcute[] = {0x00E9, 0};
    VString alone(eAcute);
    alone.Decompose();
    EXPECT_EQ(Units(alone), u"\u00E9");

    test::StStartedProcess process;
    VString text(eAcute);
    text.Decompose();
    EXPECT_EQ(Units(text), u"e\u0301");
    text.Compose();
    EXPECT_EQ(Units(text), u"\u00E9");

    // A text already in the form keeps its buffer (nothing is rewritten).
    VString ascii("unchanged text of some length");
    const UniChar* before = ascii.GetCPointer();
    ascii.Compose();
    ascii.Decompose();
    EXPECT_EQ(ascii.GetCPointer(), before);
}

// ---------------------------------------------------------------------------
// Value kind 10

TEST(VStringValue, RawForm)
{
    VString s("hello");
    unsigned char raw[32] = {};
    EXPECT_EQ(s.WriteToPtr(raw, false, 9), raw + 8);
    int length;
    std::memcpy(&length, raw, 4);
    EXPECT_EQ(length, 2);
    unsigned long long unused = 0;
    EXPECT_EQ(s.GetSpace(unused), 14u);
    EXPECT_EQ(s.GetSpace(unused, 9), 9u);

    EXPECT_EQ(s.WriteToPtr(raw), raw + 14);
    EXPECT_EQ(VString::sInfo.GetSizeOfValueDataPtr(raw), 14u);
    std::unique_ptr<VValue> loaded(VString::sInfo.LoadFromPtr(raw));
    EXPECT_EQ(Units(*static_cast<VString*>(loaded.get())), u"hello");

    unsigned char copy[32];
    std::memcpy(copy, raw, sizeof(raw));
    EXPECT_EQ(VString::sInfo.ByteSwapPtr(raw, true), raw + 14);
    EXPECT_EQ(raw[3], 5);
    EXPECT_EQ(raw[5], 'h');
    VString::sInfo.ByteSwapPtr(raw, false);
    EXPECT_EQ(std::memcmp(raw, copy, sizeof(raw)), 0);

    VString target(true);
    EXPECT_EQ(target.LoadFromPtr(raw), raw + 14);
    EXPECT_FALSE(target.IsNull());
    EXPECT_EQ(Units(target), u"hello");

    EXPECT_EQ(VString::sInfo.GetKind(), VK_STRING);
    EXPECT_EQ(VString::sInfo.GetAvgSpace(), 64u);
    EXPECT_EQ(VValue::ValueInfoFromValueKind(VK_STRING), &VString::sInfo);
    EXPECT_EQ(s.GetValueInfo(), &VString::sInfo);
    std::unique_ptr<VValue> clone(s.Clone());
    EXPECT_EQ(static_cast<VString*>(clone.get())->GetCPointer(), s.GetCPointer());
    EXPECT_EQ(s.GetSizeInStream(), 20u);
    EXPECT_EQ(VString().GetSizeInStream(), 4u);
    EXPECT_TRUE(VString::sEmpty.IsEmpty());
    EXPECT_FALSE(VString::sEmpty.IsNull());

    char dump[8];
    int size = sizeof(dump);
    EXPECT_EQ(s.DebugDump(dump, size), VTC_UTF_16);
    EXPECT_EQ(size, 6);
}

TEST(VStringValue, ConversionsAndOrder)
{
    VLong number;
    VString text("a text on its block");
    VString viaValue;
    viaValue.FromValue(text);
    EXPECT_EQ(viaValue.GetCPointer(), text.GetCPointer());
    VString copy;
    EXPECT_TRUE(copy.FromValueSameKind(&text));
    EXPECT_EQ(copy.GetCPointer(), text.GetCPointer());

    struct Case {
        const char* a;
        const char* b;
        CompareResult expected;
    } cases[] = {{"abc", "abc", CR_EQUAL}, {"abc", "abd", CR_SMALLER}, {"abd", "abc", CR_BIGGER},
                 {"ab", "abc", CR_SMALLER}, {"", "", CR_EQUAL}, {"b", "abc", CR_BIGGER}};
    for (const Case& c : cases)
        EXPECT_EQ(VString(c.a).CompareTo(VString(c.b)), c.expected) << c.a << " " << c.b;
    EXPECT_TRUE(VString("x").EqualTo(VString("x")));

    // Without a process object a value dumps nothing.
    char buffer[16];
    int size = sizeof(buffer);
    EXPECT_EQ(number.VValueSingle::DebugDump(buffer, size), VTC_UTF_16);
    EXPECT_EQ(size, 0);
}

// Writes with a VPtrStream and reads the bytes back through a stream over them.
class StreamFixture : public ::testing::Test {
protected:
    std::vector<unsigned char> Write(const VString& s, bool swap)
    {
        VPtrStream out;
        out.SetNeedSwap(swap);
        EXPECT_EQ(out.OpenWriting(), VE_OK);
        EXPECT_EQ(s.WriteToStream(&out), VE_OK);
        const unsigned char* p = static_cast<const unsigned char*>(out.GetDataPtr());
        std::vector<unsigned char> bytes(p, p + out.GetDataSize());
        out.CloseWriting();
        return bytes;
    }
    VError Read(const std::vector<unsigned char>& bytes, VString& s, bool swap = false, long long* outPos = nullptr)
    {
        VConstPtrStream in(bytes.data(), bytes.size());
        in.SetNeedSwap(swap);
        EXPECT_EQ(in.OpenReading(), VE_OK);
        VError err = s.ReadFromStream(&in);
        if (outPos != nullptr)
            *outPos = in.GetPos();
        in.CloseReading();
        return err;
    }
    static std::vector<unsigned char> Ints(std::initializer_list<int> ints, std::initializer_list<UniChar> units)
    {
        std::vector<unsigned char> bytes;
        for (int v : ints)
            bytes.insert(bytes.end(), reinterpret_cast<unsigned char*>(&v), reinterpret_cast<unsigned char*>(&v) + 4);
        for (UniChar u : units)
            bytes.insert(bytes.end(), reinterpret_cast<unsigned char*>(&u), reinterpret_cast<unsigned char*>(&u) + 2);
        return bytes;
    }
};

TEST_F(StreamFixture, RoundTrips)
{
    std::vector<unsigned char> empty = Write(VString(), false);
    EXPECT_EQ(empty, std::vector<unsigned char>(4, 0));
    VString back("x");
    EXPECT_EQ(Read(empty, back), VE_OK);
    EXPECT_TRUE(back.IsEmpty());
    EXPECT_FALSE(back.IsNull());

    std::vector<unsigned char> swapped = Write(VString("abc"), true);
    std::vector<unsigned char> expected = {0xFF, 0xFF, 0xFF, 0xFD, 0, 'a', 0, 'b', 0, 'c'};
    EXPECT_EQ(swapped, expected);
    VString read(true);
    EXPECT_EQ(Read(swapped, read, true), VE_OK);
    EXPECT_EQ(Units(read), u"abc");
    EXPECT_FALSE(read.IsNull());

    std::vector<unsigned char> plain = Write(VString("\u00E9t\u00E9"), false);
    EXPECT_EQ(plain.size(), 10u);
    EXPECT_EQ(Read(plain, read), VE_OK);
    EXPECT_EQ(Units(read), u"\u00E9t\u00E9");
}

TEST_F(StreamFixture, OlderForm)
{
    VString s("keep");
    EXPECT_EQ(Read(Ints({2, 1}, {'A', 'B', 0}), s), VE_OK);
    EXPECT_EQ(Units(s), u"AB");

    VString other("keep");
    std::vector<unsigned char> code5 = Ints({2, 5}, {});
    code5.insert(code5.end(), {'x', 'y', 0, 'z'});
    long long pos = 0;
    EXPECT_EQ(Read(code5, other, false, &pos), VE_OK);
    EXPECT_EQ(Units(other), u"keep");
    EXPECT_EQ(pos, 11);
}

TEST_F(StreamFixture, LengthsBeyondTheDataAreABadStream)
{
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        const char16_t* text;  // the units that were there
    } cases[] = {
        {"INT_MIN", Ints({INT_MIN}, {'a'}), u"a"},
        {"-INT_MAX", Ints({-INT_MAX}, {}), u""},
        {"-1000 with 2 units", Ints({-1000}, {'a', 'b'}), u"ab"},
        {"old INT_MAX", Ints({INT_MAX, 1}, {'a', 'b'}), u"ab"},
        {"old 3 with 3 units", Ints({3, 2}, {'a', 'b', 'c'}), u"abc"},
        {"odd byte", [] {
             std::vector<unsigned char> b = Ints({-2}, {'a'});
             b.push_back('b');
             return b;
         }(), u"a"},
    };
    for (const Case& c : cases) {
        VString s("before");
        EXPECT_EQ(Read(c.bytes, s), QeltError(200)) << c.name;
        EXPECT_EQ(Units(s), c.text) << c.name;
        EXPECT_LE(s.GetCapacity(), 64) << c.name;
    }
    // A truncated header is the stream's error too; the string is unchanged.
    VString s("before");
    EXPECT_EQ(Read({0xFF, 0xFF}, s), QeltError(200));
    EXPECT_EQ(Units(s), u"before");
}

TEST_F(StreamFixture, ValueWithItsKind)
{
    VPtrStream out;
    ASSERT_EQ(out.OpenWriting(), VE_OK);
    EXPECT_EQ(out.PutValue(VString("kind ten")), VE_OK);
    const unsigned char* p = static_cast<const unsigned char*>(out.GetDataPtr());
    std::vector<unsigned char> bytes(p, p + out.GetDataSize());
    out.CloseWriting();
    EXPECT_EQ(bytes[0], 10);
    VConstPtrStream in(bytes.data(), bytes.size());
    ASSERT_EQ(in.OpenReading(), VE_OK);
    std::unique_ptr<VValue> value(in.GetValue());
    VString* text = dynamic_cast<VString*>(value.get());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Units(*text), u"kind ten");
    in.CloseReading();
}

TEST(VStringBuffer, CountsHoldAcrossThreads)
{
    // Copies made and dropped on several threads at once share one block;
    // the count ends where it started (a lost update would double-free or
    // leak the block under the sanitizers).
    VString shared("a text shared between threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                VString copy(shared);
                VString other;
                other = copy;
                if (i % 100 == 0)
                    other.AppendUniChar('!');
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(BlockCount(shared), 1u);
}

// ---------------------------------------------------------------------------
// Platform text

struct PlatRelease {
    void operator()(const plat::PlatString* p) const { p->Release(); }
};
using PlatPtr = std::unique_ptr<const plat::PlatString, PlatRelease>;

TEST(VStringPlatform, RoundTripKeepsEveryUnit)
{
    VString s;
    s.FromUniString(U(u"a\xD83D\xDE00\xDC00z\xD800"), 6);  // lone surrogates too
    PlatPtr text(s.MAC_RetainCFStringCopy());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetLength(), 6);
    VString back;
    back.MAC_FromCFString(text.get());
    EXPECT_EQ(Units(back), Units(s));

    PlatPtr fromNull(VString(true).MAC_RetainCFStringCopy());
    EXPECT_EQ(fromNull->GetLength(), 0);

    VString keep("unchanged");
    keep.MAC_FromCFString(nullptr);
    EXPECT_EQ(Units(keep), u"unchanged");

    VString made(true);
    made.MAC_FromCFString(fromNull.get());
    EXPECT_TRUE(made.IsEmpty());
    EXPECT_FALSE(made.IsNull());
}

TEST(VStringPlatform, ChunkedReadMatchesDirectRead)
{
    // 5000 units, read without a direct pointer in chunks of 1024.
    std::string utf8;
    std::u16string expected;
    for (int i = 0; i < 2500; ++i) {
        if (i % 3 == 0) {
            utf8 += "\xC3\xA9";
            expected += u'\u00E9';
        } else {
            utf8 += static_cast<char>('a' + i % 26);
            expected += static_cast<char16_t>(u'a' + i % 26);
        }
    }
    for (int i = 0; i < 1250; ++i) {
        utf8 += "\xF0\x9F\x98\x80";
        expected += u"\U0001F600";
    }
    ASSERT_EQ(expected.size(), 5000u);
    PlatPtr chunked(plat::PlatString::CreateFromUTF8(utf8.data(), utf8.size()));
    ASSERT_EQ(chunked->GetUnitsPtr(), nullptr);
    ASSERT_EQ(chunked->GetLength(), 5000);
    PlatPtr direct(plat::PlatString::Create(U(expected.c_str()), 5000));
    ASSERT_NE(direct->GetUnitsPtr(), nullptr);

    VString a("old"), b("old");
    a.MAC_FromCFString(chunked.get());
    b.MAC_FromCFString(direct.get());
    EXPECT_EQ(Units(a), expected);
    EXPECT_EQ(Units(b), expected);
}

}  // namespace
}  // namespace qelt
