// The toolbox's string: UTF-16 code units with a null flag, an inline buffer
// inside the object and a counted heap block shared between copies (copied
// before it is changed). Positions count from 1; 0 means "not found".
#pragma once

#include <bit>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/VStringBlock.h"
#include "kernel/VValue.h"
#include "kernel/VValueInfo.h"

namespace qelt {

class VIntlMgr;
class VCollator;
class VString;
class VJSONValue;
class VJSONObject;
class VValueBag;
class VArrayString;
template <unsigned long GRANULARITY, unsigned long MARGIN_DIVISOR, unsigned long MAX_MARGIN>
class VMemoryBuffer;

namespace plat {
class PlatString;
}

// The descriptor of value kind 10.
class VString_info : public VValueInfo {
public:
    VString_info() : VValueInfo(VK_STRING, VK_STRING) {}

    VValue* Generate() const override;
    VValue* Generate(VBlob* inBlob) const override;
    VValue* LoadFromPtr(const void* inPtr, bool inRefresh = false) const override;
    void* ByteSwapPtr(void* inPtr, bool inFromNative) const override;
    unsigned long GetSizeOfValueDataPtr(const void* inPtr) const override;
    unsigned long GetAvgSpace() const override;

    // Raw forms compared through the current task's collation.
    CompareResult CompareTwoPtrToData(const void* inPtr1, const void* inPtr2, bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* inPtr1, const void* inPtr2,
                                              bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToData_Like(const void* inPtr1, const void* inPtr2,
                                           bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining_Like(const void* inPtr1, const void* inPtr2,
                                                   bool inDiacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* inPtr1, const void* inPtr2,
                                                 const VCompareOptions& inOptions) const override;
};

class VString : public VValueSingle {
public:
    // Buffer flags kept in the value's flags byte.
    static constexpr unsigned char kFlagNotOwned = 0x10;   // never released by this string
    static constexpr unsigned char kFlagExclusive = 0x40;  // carries no count, never shared
    // With the two above: a C-library block the string made before the
    // memory manager existed; the string's own, freed with the C library.
    static constexpr unsigned char kFlagCLibBlock = 0x20;

    // ---- Construction -------------------------------------------------
    VString();
    explicit VString(bool inNull);
    VString(const VString& inString);
    VString(VString&& ioString) noexcept;
    // A copy whose share of the block is counted with a plain increment
    // (VStringBlock::RetainLocal), for a string whose block no other thread
    // can reach meanwhile, such as the names an importer makes before it
    // hands its tree out. Otherwise as the copy above.
    struct LocalShareTag {};
    VString(const VString& inString, LocalShareTag);
    // Wraps a caller's zero-terminated buffer without copying; the string
    // never writes into it (the first change copies the text).
    VString(UniChar* inBuffer, unsigned long inByteSize);
    // Wraps a caller's buffer of known length (how UTF-16 literals become
    // strings); a null pointer gives a null string.
    VString(UniChar* inBuffer, int inLength, unsigned long inByteSize);
    // Shares the record's block (one more count).
    explicit VString(const VInlineString& inRecord);
    // Borrows the record's block without a count; never writes into it.
    VString(const VInlineString& inRecord, bool inBorrow);

    explicit VString(UniChar inChar);
    VString(const UniChar* inUniCString);
    VString(const wchar_t* inWideCString);
    VString(wchar_t* inWideCString, unsigned long inUnused);
    VString(const char* inCString);
    VString(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet);

    ~VString() override;

    // A string allocated with room for n units in its own inline buffer;
    // the caller deletes it.
    static VString* NewString(int inInlineCapacity);

    static void* operator new(std::size_t inSize) { return ::operator new(inSize); }
    static void operator delete(void* inPtr) { ::operator delete(inPtr); }

    VString& operator=(const VString& inString)
    {
        FromString(inString);
        return *this;
    }
    VString& operator=(VString&& ioString) noexcept;

    // ---- Reading ------------------------------------------------------
    int GetLength() const { return fLength; }
    int GetCapacity() const { return fMaxLength; }
    int GetInlineCapacity() const { return fInlineCapacity; }
    bool IsEmpty() const { return fLength == 0; }
    const UniChar* GetCPointer() const { return fString; }
    UniChar GetUniChar(int inIndex) const;
    bool SetUniChar(int inIndex, UniChar inChar);
    static int UniCStringLength(const UniChar* inUniCString);

    // ---- Setting ------------------------------------------------------
    void FromString(const VString& inString) override;
    void FromString(const VInlineString& inRecord);
    void FromUniString(const UniChar* inUniString, int inLength);
    void FromUniCString(const UniChar* inUniCString) { FromUniString(inUniCString, UniCStringLength(inUniCString)); }
    void FromUniChar(UniChar inChar);
    void FromCString(const char* inCString);
    unsigned long FromBlock(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet);
    CharSet FromBlockWithOptionalBOM(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet);
    void FromValue(const VValueSingle& inValue) override;
    void Clear() override;

    // ---- Appending ----------------------------------------------------
    VString& AppendUniChar(UniChar inChar)
    {
        const int length = fLength;
        if (length < fMaxLength && _IsPrivate()) {
            // The unit and its terminator in one store.
            UniChar* p = fString + length;
            if constexpr (std::endian::native == std::endian::little) {
                const uint32_t unitAndTerminator = inChar;
                __builtin_memcpy(p, &unitAndTerminator, sizeof(unitAndTerminator));
            } else {
                p[0] = inChar;
                p[1] = 0;
            }
            fLength = length + 1;
            _SetTextWritten();
            return *this;
        }
        return _AppendUnitSlow(inChar);
    }
    VString& AppendUniChars(const UniChar* inUniChars, int inLength)
    {
        // Fast path: the units fit a buffer that is the string's own.
        const int length = fLength;
        UniChar* text = fString;
        if (inLength > 0 && inLength <= fMaxLength - length && inUniChars != nullptr && _IsPrivate()) {
            UniChar* p = text + length;
            if (inLength <= 8) {
                // Short pieces: read whole before writing, so that a piece
                // taken from this very string is copied as it was.
                UniChar units[8];
                for (int i = 0; i < inLength; ++i)
                    units[i] = inUniChars[i];
                for (int i = 0; i < inLength; ++i)
                    p[i] = units[i];
            } else {
                __builtin_memmove(p, inUniChars, static_cast<size_t>(inLength) * sizeof(UniChar));
            }
            p[inLength] = 0;
            fLength = length + inLength;
            _SetTextWritten();
            return *this;
        }
        if (inUniChars == nullptr && inLength > 0)
            return *this;
        _AppendBytes(inUniChars, inLength);
        return *this;
    }
    VString& AppendUniCString(const UniChar* inUniCString);
    VString& AppendCString(const char* inCString);
    VString& AppendBlock(const void* inBuffer, unsigned long inNbBytes, CharSet inCharSet);
    VString& AppendString(const VString& inString);
    VString& AppendValue(const VValueSingle& inValue);

    // ---- Editing ------------------------------------------------------
    void Insert(UniChar inChar, int inPlace);
    void Insert(const VString& inString, int inPlace);
    void Remove(int inPlace, int inNbChars);
    void Replace(const VString& inString, int inPlace, int inNbChars);
    void SubString(int inFirst, int inNbChars);
    void Truncate(int inNbChars, bool inKeepSurrogatePairs = true);
    void Exchange(UniChar inChar, UniChar inNewChar, int inPlace = 1, int inCountToReplace = 0x7FFFFFFF);
    void Swap(VString& ioOther);
    void RemoveWhiteSpaces(bool inLeading = true, bool inTrailing = true, int* outLeadingCount = nullptr,
                           int* outTrailingCount = nullptr, VIntlMgr* inIntlMgr = nullptr, bool inFlag = false);
    void ToUpperCase(bool inStripDiacritics = false);
    void ToLowerCase(bool inStripDiacritics = false);
    // Unicode normalisation in place through the current task's manager:
    // canonical decomposition (NFD) and canonical composition (NFC).
    void Decompose();
    void Compose();

    // ---- Copies of ranges ---------------------------------------------
    VString Before(int inPlace) const;
    VString After(int inPlace) const;
    void GetSubString(int inFirst, int inNbChars, VString& outResult) const;

    // ---- Buffer management --------------------------------------------
    // Gives the string a private buffer of at least inNbChars units; keeps
    // the text when asked. False (error 'qelt' 107) when it cannot.
    bool _ReallocBuffer(int inNbChars, bool inKeepContent);
    // Block size in units for a request of inNbChars by the growth rule,
    // 0 beyond the limit.
    static long long ComputeProgressiveResize(int inLength, int inNbChars);
    // Sets the length after the caller wrote units into the buffer.
    bool Validate(int inNewLength);
    // The text as a counted block with one reference for the caller, or null.
    UniChar* RetainBuffer(int* outLength, int* outCapacity) const;
    UniChar* _RetainBuffer() const;
    void _ReleaseBuffer() const;
    void _Clear();

    // ---- Value kind 10 ------------------------------------------------
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    CharSet DebugDump(char* inTextBuffer, int& inBufferSize) const override;
    const void* LoadFromPtr(const void* inData, bool inRefresh = false) override;
    void* WriteToPtr(void* inData, bool inRefresh = false, unsigned long inMax = 0) const override;
    unsigned long GetSpace(unsigned long long& ioSize, unsigned long inMax = 0) const override;
    VError ReadFromStream(VStream* ioStream, int inParam = 0) override;
    VError WriteToStream(VStream* ioStream, int inParam = 0) const override;
    bool FromValueSameKind(const VValue* inValue) override;
    unsigned long GetSizeInStream() const;

    void GetDuration(VDuration& outValue) const override;
    void GetTime(VTime& outValue) const override;
    void GetString(VString& outValue) const override;
    void GetVUUID(VUUID& outValue) const override;
    void GetValue(VValueSingle& outValue) const override;
    void FromDuration(const VDuration& inValue) override;
    void FromTime(const VTime& inValue) override;
    void FromVUUID(const VUUID& inValue) override;

    CompareResult CompareTo(const VValueSingle& inValue, bool inDiacritical = false) const override;

    // ---- Numbers and four-character codes ------------------------------
    // Writers: decimal digits (reals with "%.14G" in the C locale). The From
    // forms replace the text, the Append forms add to it.
    VString& AppendLong(int inValue);
    VString& AppendLong8(long long inValue);
    VString& AppendULong8(unsigned long long inValue);
    VString& AppendReal(double inValue);
    VString& AppendOsType(OsType inCode);
    void FromBoolean(unsigned char inValue) override;
    void FromByte(signed char inValue) override;
    void FromWord(short inValue) override;
    void FromLong(int inValue) override;
    void FromLong8(long long inValue) override;
    virtual void FromULong8(unsigned long long inValue);
    void FromReal(double inValue) override;
    void FromOsType(OsType inCode);

    // Readers: lenient; text that is no number gives 0.
    bool GetBoolean() const override;
    short GetWord() const override;
    int GetLong() const override;
    long long GetLong8() const override;
    double GetReal() const override;
    double GetRealCheckOverflow(bool* outOverflow) const;
    OsType GetOsType() const;

    // ---- Byte output and line ends -------------------------------------
    // Encodes the text into the caller's block (never beyond inBufferSize
    // bytes); answers the bytes of text produced.
    unsigned long ToBlock(void* inBuffer, unsigned long inBufferSize, CharSet inCharSet, bool inWithTrailingZero,
                          bool inWithLengthPrefix) const;
    // Replaces the buffer's data by the encoded text.
    bool ToBuffer(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, CharSet inCharSet) const;
    // The line-end style of the first line end, inDefault without one.
    ECarriageReturnMode GetCarriageReturnMode(ECarriageReturnMode inDefault = eCRM_NONE) const;
    // Rewrites the line ends of encoded text in a buffer (unit width from the set).
    static void ConvertCarriageReturns(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, CharSet inCharSet,
                                       ECarriageReturnMode inMode);
    // Rewrites the string's own line ends in the form the mode asks for.
    void ConvertCarriageReturns(ECarriageReturnMode inMode);

    // ---- Hexadecimal numbers -------------------------------------------
    // Every hexadecimal digit counts (other units are passed over), modulo 2^64.
    unsigned long long GetHexLong() const;
    // Upper-case digits without leading zeros; with the prefix, "0x" and
    // zeros up to a width of 2, 4, 8 or 16 digits.
    void FromHexLong(unsigned long long inValue, bool inPrefixed = true);
    void FromHexLong(long long inValue, bool inPrefixed = true);
    void FromHexLong(unsigned int inValue, bool inPrefixed = true);
    void FromHexLong(int inValue, bool inPrefixed = true);
    void FromHexLong(unsigned char inValue, bool inPrefixed = true);
    void FromHexLong(char inValue, bool inPrefixed = true);

    // ---- Printf and key formatting -------------------------------------
    // C-library directives (numbers in the C locale) plus %S (a VString*),
    // %A (a VValueSingle*) and %V (any VObject*, its debug dump).
    void Printf(const char* inFormat, ...);
    void VPrintf(const char* inFormat, va_list inArgs);
    VString& AppendPrintf(const char* inFormat, ...);
    void _Printf(const char* inFormat, va_list inArgs);
    // Replaces each {key} by the text of the bag's attribute of that name;
    // "{{", "}}", "{}" and keys with a space stay as they are.
    VString& Format(const VValueBag* inBag, bool inRemoveMissing = false);

    // ---- XML and JSON text forms ---------------------------------------
    void TranscodeToXML(bool inEscapeControlChars = false);
    void TranscodeFromXML();
    void GetXMLString(VString& outValue, unsigned int inOptions) const override;
    bool FromXMLString(const VString& inValue) override;
    VError GetJSONString(VString& outJSONString, unsigned int inOptions) const override;
    // Appends the text GetJSONString gives with the same options to ioText.
    VError AppendJSONStringTo(VString& ioText, unsigned int inOptions) const;
    // The escaping of GetJSONString (without the raw option) over units:
    // writes them to outUnits, which has room for 6 * inLength + 2 units,
    // between double quotes when inQuoted, '&' and the apostrophe escaped
    // too when inEscapeAmpApos; returns the number of units written.
    static int WriteJSONUnits(const UniChar* inUnits, int inLength, UniChar* outUnits, bool inQuoted,
                              bool inEscapeAmpApos);
    VError FromJSONString(const VString& inJSONString, unsigned int inOptions) override;
    VError GetJSONValue(VJSONValue& outJSONValue, unsigned int inOptions) const override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    // A script identifier made of the letters, digits, "_" and "$".
    void GetCleanJSName(VString& outName) const;

    // ---- Raw comparison and search (unit values, no locale) -------------
    bool EqualToStringRaw(const VString& inString) const;
    CompareResult CompareToStringRaw(const VString& inString) const;
    CompareResult CompareToStringRawCase(const VString& inString) const;
    bool EqualToUSASCIICString(const char* inCString) const;
    bool BeginsWithRawString(const VString& inString) const;
    bool EndsWithRawString(const VString& inString) const;
    int FindRawString(const VString& inPattern, int inStart = 1) const;
    static int FindRawString(const UniChar* inText, int inTextLength, const UniChar* inPattern, int inPatternLength);
    int ExchangeRawString(const VString& inPattern, const VString& inReplacement, int inStart = 1,
                          int inCountToReplace = 0x7FFFFFFF);
    int FindUniChar(UniChar inChar, int inStart = 1, bool inBackwards = false) const;

    // ---- Collation (the current task's international manager) -----------
    // Without a manager these fall back to the raw operations: units
    // compared as they are, and with A-Z folded to a-z when diacritical
    // marks do not count; LIKE patterns use the task's wildcard unit.
    bool EqualToString(const VString& inString, bool inDiacritical = false) const;
    CompareResult CompareToString(const VString& inString, bool inDiacritical = false) const;
    bool EqualToString_Like(const VString& inPattern, bool inDiacritical = false) const;
    CompareResult CompareToString_Like(const VString& inPattern, bool inDiacritical = false) const;
    bool BeginsWith(const VString& inPrefix, bool inDiacritical = false) const;
    bool EndsWith(const VString& inSuffix, bool inDiacritical = false) const;
    int Find(const VString& inPattern, int inStart = 1, bool inDiacritical = false) const;
    void Exchange(const VString& inPattern, const VString& inReplacement, int inStart = 1,
                  int inCountToReplace = 0x7FFFFFFF, bool inDiacritical = false, VCollator* inCollator = nullptr);

    // Value comparisons (the other value is a VString, or a raw form).
    CompareResult CompareToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    bool EqualToSameKindWithOptions(const VValue* inValue, const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                  const VCompareOptions& inOptions) const override;
    bool EqualToSameKindPtrWithOptions(const void* inPtrToValueData, const VCompareOptions& inOptions) const override;
    CompareResult Swap_CompareToSameKindPtrWithOptions(const void* inPtrToValueData,
                                                       const VCompareOptions& inOptions) const override;
    CompareResult CompareToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool EqualToSameKindPtr(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult CompareToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const override;
    bool EqualToSameKind_Like(const VValue* inValue, bool inDiacritical = false) const override;
    CompareResult CompareToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr_Like(const void* inPtrToValueData,
                                                 bool inDiacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                    bool inDiacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr_Like(const void* inPtrToValueData,
                                                  bool inDiacritical = false) const override;
    bool EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const override;
    bool Swap_EqualToSameKindPtr_Like(const void* inPtrToValueData, bool inDiacritical = false) const override;

    // ---- Hashing and similarity ----------------------------------------
    virtual unsigned int GetHashValue() const;
    // Longest common subsequence over this string's length, 0 to 1.
    double SimilarToString(const VString& inString) const;

    // ---- Splitting, joining, trimming, date markers ----------------------
    bool GetSubStrings(UniChar inSeparator, std::vector<VString>& outParts, bool inKeepEmpty = false,
                       bool inTrim = false) const;
    bool GetSubStrings(UniChar inSeparator, VArrayString& outParts, bool inKeepEmpty = false,
                       bool inTrim = false) const;
    bool GetSubStrings(const VString& inSeparator, std::vector<VString>& outParts, bool inKeepEmpty = false,
                       bool inTrim = false, bool inDiacritical = false) const;
    bool Join(const std::vector<VString>& inParts, UniChar inSeparator);
    bool Join(const std::vector<VString>& inParts, const VString& inSeparator);
    void TrimUniChar(UniChar inChar);
    bool IsStringValid() const;
    bool IsISODate() const;
    bool IsNonAmbigousDate() const;
    // Fills "{{path}}" placeholders with the object's properties.
    void FormatWithTemplate(const VJSONObject* inObject, VString& outResult);

    // ---- Base64 ---------------------------------------------------------
    // The string becomes the Base64 text of the bytes (URL alphabet without
    // padding when inURL); false, string unchanged, when it cannot be made.
    bool EncodeBase64(const void* inBytes, unsigned long inCount, bool inURL);
    // The text becomes the Base64 text of its own bytes in the character set.
    bool EncodeBase64(CharSet inCharSet, bool inURL);
    // Decodes the Base64 text into the buffer; a unit above U+007F raises
    // 'qelt' 210.
    bool DecodeBase64(VMemoryBuffer<1024ul, 2ul, 1048576ul>& outBuffer, bool inURL) const;
    // The Base64 text becomes the text its bytes carry in the character set.
    bool DecodeBase64(CharSet inCharSet, bool inURL);

    // ---- Exchange with the platform layer's UTF-16 text ----------------
    // A new platform text with this string's units, owned by the caller.
    const plat::PlatString* MAC_RetainCFStringCopy() const;
    // Sets the string from a platform text; a null text changes nothing.
    void MAC_FromCFString(const plat::PlatString* inText);

    static VString_info sInfo;
    static const VString sEmpty;

protected:
    // A string whose inline buffer has room for inInlineCapacity units (the
    // object must be laid out that way, as by VStr<N> or NewString).
    struct InlineCapacityTag {};
    VString(InlineCapacityTag, int inInlineCapacity);
    // For an object whose inline buffer has room for n units (a derived
    // class lays it out so): holds the n code units of the literal,
    // truncated to 16 bits, as a read-only text.
    VString(unsigned long inLength, const wchar_t* inLiteral);

    void DoNullChanged() override;

    // True when the current buffer is a heap block the string must not write
    // into (shared, borrowed or wrapped).
    bool _MustCopyBeforeWrite() const;
    // Makes sure the buffer is private and holds at least inNbChars units,
    // keeping the text when asked.
    bool _EnsureWritable(int inNbChars, bool inKeepContent);
    // The same for an append that makes the text inNbChars units long,
    // keeping the text; a growing string gets room ahead.
    bool _EnsureAppendable(int inNbChars);
    bool _IsInline() const { return fString == fInlineBuffer; }
    UniChar* _InlineBuffer() { return fInlineBuffer; }
    // Empties the string onto its inline buffer without releasing anything.
    void _ResetToInline();
    // True when the string may write into its buffer in place: the inline
    // buffer, an exclusive block of its own, or a counted block held alone.
    bool _IsPrivate() const
    {
        // The common cases first: the inline buffer, or a block this string
        // made and never handed out, which needs no look at its count.
        if (fString == fInlineBuffer)
            return true;
        if (_IsBlockUnshared())
            return true;
        const unsigned char bits = fFlags & (kFlagNotOwned | kFlagExclusive | kFlagCLibBlock);
        if (bits == 0)
            return !VStringBlock::IsShared(fString, fMaxLength);
        return (bits & kFlagCLibBlock) != 0 || (bits & kFlagNotOwned) == 0;
    }
    // The unshared-block mark. Set only when the string allocates a counted
    // block (its count is then 1 and no one else knows the block); cleared
    // whenever the string takes another buffer and before the block is
    // handed to another holder. So while it is set, no other holder can
    // have taken a count, and appends skip the load of the count (a load
    // from the far end of the block, on every append). A shared block is
    // never written in place: every sharing goes through _ShareBlock.
    //
    // Handing out a block is a read of the string (copies take const
    // strings, and several threads may copy one string at once), so the
    // mark is mutable and _ShareBlock reads and clears it as a relaxed
    // atomic. Everything else that reads or sets it writes the string, which
    // no other thread touches meanwhile, and does so plainly: an atomic load
    // on every append keeps the compiler from holding the string's fields in
    // registers across the loop.
    bool _IsBlockUnshared() const { return fBlockUnshared; }
    void _SetBlockUnshared(bool inUnshared) { fBlockUnshared = inUnshared; }
    // Takes one more count of the string's block for another holder (the
    // caller has checked that the block is shareable) and answers it.
    UniChar* _ShareBlock() const
    {
        std::atomic_ref<bool> mark(fBlockUnshared);
        if (mark.load(std::memory_order_relaxed))
            mark.store(false, std::memory_order_relaxed);
        VStringBlock::Retain(fString, fMaxLength);
        return fString;
    }
    // The same for a block that no other thread can reach (RetainLocal).
    UniChar* _ShareBlockLocal() const
    {
        fBlockUnshared = false;
        VStringBlock::RetainLocal(fString, fMaxLength);
        return fString;
    }
    // True when the buffer may be handed to another holder by count.
    bool _IsShareable() const;
    // Marks the string as holding text: not null, dirty. Set directly so that
    // the null hook, which empties the string, does not undo the write.
    void _SetTextWritten()
    {
        if ((fFlags & (kFlagNull | kFlagDirty)) != kFlagDirty)
            fFlags = static_cast<unsigned char>((fFlags & ~kFlagNull) | kFlagDirty);
    }
    // True when the units lie inside the current buffer.
    bool _Overlaps(const UniChar* inUnits, long inCount) const;
    // Appends inCount units read byte-wise from inUnits (may be unaligned).
    void _AppendBytes(const void* inUnits, int inCount);
    // AppendUniChar when the unit does not fit in place. Out of line and
    // taking the unit by value, so that the caller's loop does not keep the
    // unit in memory for it.
    VString& _AppendUnitSlow(UniChar inChar);
    void _Wrap(UniChar* inBuffer, int inLength, unsigned long inByteSize);
    bool _ReadUnits(VStream* ioStream, long long inCount, long long inKeep);

    // Kept in the tail of the value's flags byte, so the object is no larger.
    mutable bool fBlockUnshared = false;
    UniChar* fString;
    int fLength;
    int fMaxLength;
    int fInlineCapacity;
    // Inline buffer: fInlineCapacity + 1 units; derived classes extend it
    // with members placed directly behind this one.
    UniChar fInlineBuffer[1];
};

// A new string holding a followed by b (sharing a's block until b is added).
VString operator+(const VString& inA, const VString& inB);

// Rewrites the line ends of units in place (CR is 13 and LF 10 at every
// width); inCapacity >= inLength units. Answers the new length; the units a
// full conversion needs go to outNeeded (mode CR LF may need more than the
// capacity: then only the first lone line ends that fit are converted).
template <class T>
unsigned long _ConvertCarriageReturns(T* ioUnits, unsigned long inLength, unsigned long inCapacity,
                                      ECarriageReturnMode inMode, unsigned long* outNeeded = nullptr);
// The same on the data of a memory buffer, growing it once when needed.
template <class T>
void _ConvertCarriageReturns(VMemoryBuffer<1024ul, 2ul, 1048576ul>& ioBuffer, ECarriageReturnMode inMode);

// Upper-case hexadecimal digits of the value into the string.
template <class T>
void StringFromHexLong(VString& outString, T inValue, bool inPrefixed);

// Decimal text of the value.
VString ToString(int inValue);
VString ToString(long long inValue);
VString ToString(unsigned long long inValue);
VString ToString(unsigned long inValue);

// A string whose inline buffer holds N units plus the terminator.
template <int N>
class VStr : public VString {
public:
    VStr() : VString(InlineCapacityTag{}, N) {}
    VStr(const VString& inString) : VString(InlineCapacityTag{}, N) { FromString(inString); }
    VStr(const VStr& inString) : VString(InlineCapacityTag{}, N) { FromString(inString); }
    VStr(const char* inCString) : VString(InlineCapacityTag{}, N) { FromCString(inCString); }
    VStr(const UniChar* inUniCString) : VString(InlineCapacityTag{}, N) { FromUniCString(inUniCString); }
    ~VStr() override = default;

    VStr& operator=(const VStr& inString)
    {
        FromString(inString);
        return *this;
    }
    VStr& operator=(const VString& inString)
    {
        FromString(inString);
        return *this;
    }

private:
    [[maybe_unused]] UniChar fInlineExtra[N];  // the inline buffer runs on into this room
};

// The string of a four-character code: its four bytes, first character
// first, read as UTF-8.
class VOsTypeString : public VString {
public:
    explicit VOsTypeString(OsType inCode) : VString(InlineCapacityTag{}, 4) { FromOsType(inCode); }
    ~VOsTypeString() override = default;

private:
    [[maybe_unused]] UniChar fInlineExtra[4];  // the inline buffer runs on into this room
};

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr50 = VStr<50>;
using VStr63 = VStr<63>;
using VStr80 = VStr<80>;
using VStr100 = VStr<100>;
using VStr255 = VStr<255>;
using VStr1000 = VStr<1000>;

}  // namespace qelt
