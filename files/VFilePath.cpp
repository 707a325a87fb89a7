#include "files/VFilePath.h"

#include "files/VFolder.h"

#include <cstring>

#include "files/VURL.h"
#include "kernel/VIntlMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace qelt {

namespace {

constexpr UniChar kColon = u':';
constexpr UniChar kDot = u'.';
constexpr VError kErrorNameWithSeparator = QeltError(614);

// The last position (0-based) of the unit in [0, inEnd), or -1.
int LastIndex(const UniChar* inText, int inEnd, UniChar inUnit)
{
    for (int i = inEnd - 1; i >= 0; --i) {
        if (inText[i] == inUnit)
            return i;
    }
    return -1;
}

bool Contains(const VString& inText, UniChar inUnit)
{
    const UniChar* p = inText.GetCPointer();
    for (int i = 0; i < inText.GetLength(); ++i) {
        if (p[i] == inUnit)
            return true;
    }
    return false;
}

bool EndsWithColon(const VString& inText)
{
    const int length = inText.GetLength();
    return length > 0 && inText.GetCPointer()[length - 1] == kColon;
}

// Cuts the text after the ':' that lies before its last unit; clears it when
// there is none. Answers whether anything is left.
bool CutToParent(VString& ioText)
{
    const int separator = LastIndex(ioText.GetCPointer(), ioText.GetLength() - 1, kColon);
    if (separator < 0)
        ioText.Clear();
    else
        ioText.Truncate(separator + 1, false);
    return !ioText.IsEmpty();
}

// The extension of the element that ends before inEnd: the units after its
// last '.', when that '.' lies inside the element and is not its last unit.
bool FindExtension(const VString& inText, int inEnd, int& outDot)
{
    const UniChar* p = inText.GetCPointer();
    const int dot = LastIndex(p, inEnd, kDot);
    if (dot < 0 || dot >= inEnd - 1)
        return false;
    if (LastIndex(p, inEnd, kColon) > dot)
        return false;
    outDot = dot;
    return true;
}

// Replaces, adds or removes the extension of the element that ends before
// inEnd (the element starts after the last ':' before it).
void ReplaceExtension(VString& ioText, int inEnd, const VString& inExtension)
{
    const UniChar* p = ioText.GetCPointer();
    const int elementStart = LastIndex(p, inEnd, kColon) + 1;
    int dot = LastIndex(p, inEnd, kDot);
    if (dot < elementStart)
        dot = -1;
    if (inExtension.IsEmpty()) {
        // A name that is all extension (".profile") keeps it: an empty name
        // would turn the path into another one.
        if (dot > elementStart)
            ioText.Remove(dot + 1, inEnd - dot);
        return;
    }
    VStr<255> result;
    ioText.GetSubString(1, dot >= 0 ? dot + 1 : inEnd, result);
    if (dot < 0)
        result.AppendUniChar(kDot);
    result.AppendString(inExtension);
    result.AppendUniChars(ioText.GetCPointer() + inEnd, ioText.GetLength() - inEnd);
    ioText.FromString(result);
}

// Cuts the text after its first inSeparator units and appends the name, '.'
// and the extension when there is one, and ':' for a folder.
void ReplaceLastElement(VString& ioText, int inSeparator, const VString& inName, const VString& inExtension,
                        bool inFolder)
{
    ioText.Truncate(inSeparator, false);
    ioText.AppendString(inName);
    if (!inExtension.IsEmpty()) {
        ioText.AppendUniChar(kDot);
        ioText.AppendString(inExtension);
    }
    if (inFolder)
        ioText.AppendUniChar(kColon);
}

bool IsBlank(const VIntlMgr* inIntl, UniChar inUnit)
{
    if (inIntl != nullptr)
        return inIntl->IsSpace(inUnit);
    return inUnit == u' ' || (inUnit >= 9 && inUnit <= 13) || inUnit == 0xA0;
}

bool IsDotElement(const UniChar* inText, int inStart, int inEnd)
{
    const int length = inEnd - inStart;
    return (length == 1 && inText[inStart] == kDot) ||
           (length == 2 && inText[inStart] == kDot && inText[inStart + 1] == kDot);
}

// Folds the ':' steps of text[inStart, inLength) in place: an element
// followed by "::" goes away with them, and so does the element before it
// when the text after them begins with one more ':'. A step with no element
// before it stops the folding (the text then begins with ':'). Linear: each
// unit is copied or dropped at most once. Answers the new length.
int FoldColonSteps(UniChar* s, int inStart, int inLength)
{
    int w = inStart;
    int r = inStart;
    while (r < inLength) {
        int e = r;
        while (e < inLength && s[e] != kColon)
            ++e;
        if (e == inLength || e + 1 == inLength || s[e + 1] != kColon) {
            const int end = (e == inLength) ? e : e + 1;
            std::memmove(s + w, s + r, static_cast<size_t>(end - r) * sizeof(UniChar));
            w += end - r;
            r = end;
            continue;
        }
        r = e + 2;
        while (r < inLength && s[r] == kColon && w > inStart) {
            --w;
            while (w > inStart && s[w - 1] != kColon)
                --w;
            ++r;
        }
        if (r < inLength && s[r] == kColon) {
            // Nothing left to step up from: keep the rest as it is.
            std::memmove(s + w, s + r, static_cast<size_t>(inLength - r) * sizeof(UniChar));
            w += inLength - r;
            r = inLength;
        }
    }
    return w;
}

// Folds "./" and "../" of a relative text with '/' or '\\' in place. A
// doubled separator makes the text invalid (ioOk false, the text is left as
// far as it was folded). A leading "./" or "../", a ".." that follows another
// ".." or ".", and a final "." or ".." stay.
int FoldDotSteps(UniChar* s, int inStart, int inLength, UniChar inSeparator, bool& ioOk)
{
    int w = inStart;
    int r = inStart;
    bool first = true;
    while (r < inLength) {
        int e = r;
        while (e < inLength && s[e] != inSeparator)
            ++e;
        const bool hasSeparator = e < inLength;
        if (!first && hasSeparator) {
            if (e == r) {
                ioOk = false;  // "//"
                std::memmove(s + w, s + r, static_cast<size_t>(inLength - r) * sizeof(UniChar));
                return w + inLength - r;
            }
            if (e - r == 1 && s[r] == kDot) {
                r = e + 1;
                continue;
            }
            if (e - r == 2 && s[r] == kDot && s[r + 1] == kDot && w > inStart) {
                // The element before the separator, unless it is a step itself.
                int previous = w - 1;
                while (previous > inStart && s[previous - 1] != inSeparator)
                    --previous;
                if (previous < w - 1 && !IsDotElement(s, previous, w - 1)) {
                    w = previous;
                    r = e + 1;
                    continue;
                }
            }
        }
        const int end = hasSeparator ? e + 1 : e;
        std::memmove(s + w, s + r, static_cast<size_t>(end - r) * sizeof(UniChar));
        w += end - r;
        r = end;
        first = false;
    }
    return w;
}

}  // namespace

// ---- Construction -----------------------------------------------------------

VFilePath::VFilePath(const VString& inFullPath, FilePathStyle inStyle, bool inUnused)
{
    FromFullPath(inFullPath, inStyle, inUnused);
}

VFilePath::VFilePath(const VFilePath& inBase, const VString& inRelative, FilePathStyle inStyle,
                     bool inRelativeOnly)
{
    FromRelativePath(inBase, inRelative, inStyle, inRelativeOnly);
}

VFilePath::~VFilePath() = default;

VFilePath& VFilePath::FromFilePath(const VFilePath& inPath)
{
    if (&inPath != this) {
        fPath.FromString(inPath.fPath);
        fIsValid = inPath.fIsValid;
    }
    return *this;
}

VFilePath& VFilePath::FromFullPath(const VString& inFullPath, FilePathStyle inStyle, bool /*inUnused*/)
{
    if (&inFullPath != &fPath)
        fPath.FromString(inFullPath);
    if (inStyle == FPS_POSIX)
        VURL::Convert(fPath, eURL_POSIX_STYLE, eURL_HFS_STYLE, false);
    _ValidateAndResolve();
    return *this;
}

VFilePath& VFilePath::FromRelativePath(const VFolder& inFolder, const VString& inRelative, FilePathStyle inStyle,
                                       bool inRelativeOnly)
{
    return FromRelativePath(inFolder.GetPath(), inRelative, inStyle, inRelativeOnly);
}

VFilePath& VFilePath::FromRelativePath(const VFilePath& inBase, const VString& inRelative, FilePathStyle inStyle,
                                       bool inRelativeOnly)
{
    if (inStyle == FPS_SYSTEM) {
        VStr<255> text(inBase.fPath);
        text.AppendString(inRelative);
        fPath.FromString(text);
    } else if (inStyle == FPS_POSIX) {
        VStr<255> converted(inRelative);
        VURL::POSIX_to_HFS(converted);
        if (inRelativeOnly) {
            if (!inBase.IsFolder()) {
                Clear();
                return *this;
            }
            VStr<255> text(inBase.fPath);
            text.AppendString(converted);
            fPath.FromString(text);
        } else if (!inRelative.IsEmpty() && inRelative.GetCPointer()[0] == u'/') {
            fPath.FromString(converted);
        } else {
            VStr<255> text(inBase.fPath);
            text.AppendString(converted);
            fPath.FromString(text);
        }
    }
    _ValidateAndResolve();
    return *this;
}

void VFilePath::Clear()
{
    fPath.Clear();
    fIsValid = false;
}

void VFilePath::_ValidateAndResolve()
{
    const int length = fPath.GetLength();
    if (length == 0 || fPath.GetCPointer()[0] == kColon || Contains(fPath, 0)) {
        fIsValid = false;
        return;
    }
    bool ok = true;
    _ResolveStep(fPath, 1, 0, ok, kColon);
    fIsValid = ok && (fPath.IsEmpty() || fPath.GetCPointer()[0] != kColon);
}

// ---- Queries ----------------------------------------------------------------

bool VFilePath::_IsFolderText() const { return EndsWithColon(fPath); }

bool VFilePath::IsFolder() const { return fIsValid && _IsFolderText(); }

bool VFilePath::IsFile() const { return fIsValid && !fPath.IsEmpty() && !_IsFolderText(); }

bool VFilePath::HasParent() const
{
    return fIsValid && fPath.GetLength() >= 2 && LastIndex(fPath.GetCPointer(), fPath.GetLength() - 1, kColon) >= 0;
}

VString VFilePath::GetPath(FilePathStyle inStyle) const
{
    if (inStyle == FPS_SYSTEM)
        return fPath;
    VString posix;
    GetPosixPath(posix);
    return posix;
}

void VFilePath::GetPosixPath(VString& outPath) const
{
    if (!fIsValid) {
        outPath.Clear();
        return;
    }
    outPath.FromString(fPath);
    VURL::HFS_to_POSIX(outPath, false);
}

bool VFilePath::_GetParent(VString& ioText) const { return CutToParent(ioText); }

bool VFilePath::_GetFolder(VString& ioText) const
{
    if (!EndsWithColon(ioText)) {
        const int separator = LastIndex(ioText.GetCPointer(), ioText.GetLength(), kColon);
        if (separator < 0)
            ioText.Clear();
        else
            ioText.Truncate(separator + 1, false);
    }
    return !ioText.IsEmpty();
}

bool VFilePath::GetParent(VFilePath& outParent) const
{
    if (!fIsValid) {
        outParent.Clear();
        return false;
    }
    outParent.fPath.FromString(fPath);
    if (!CutToParent(outParent.fPath)) {
        outParent.Clear();
        return false;
    }
    outParent.fIsValid = true;
    return true;
}

bool VFilePath::GetFolder(VFilePath& outFolder) const
{
    if (!fIsValid) {
        outFolder.Clear();
        return false;
    }
    outFolder.fPath.FromString(fPath);
    outFolder.fIsValid = _GetFolder(outFolder.fPath);
    return outFolder.fIsValid;
}

void VFilePath::GetName(VString& outName) const
{
    const UniChar* p = fPath.GetCPointer();
    const int length = fPath.GetLength();
    const int end = _IsFolderText() ? length - 1 : length;
    const int start = LastIndex(p, end, kColon) + 1;
    fPath.GetSubString(start + 1, end - start, outName);
}

void VFilePath::GetFileName(VString& outName, bool inWithExtension) const
{
    if (!IsFile()) {
        outName.Clear();
        return;
    }
    const int length = fPath.GetLength();
    const int start = LastIndex(fPath.GetCPointer(), length, kColon) + 1;
    int end = length;
    if (!inWithExtension) {
        const int dot = LastIndex(fPath.GetCPointer(), length, kDot);
        if (dot >= start)
            end = dot;
    }
    fPath.GetSubString(start + 1, end - start, outName);
}

void VFilePath::GetFolderName(VString& outName, bool inWithExtension) const
{
    if (!IsFolder()) {
        outName.Clear();
        return;
    }
    const int last = fPath.GetLength() - 1;
    const int start = LastIndex(fPath.GetCPointer(), last, kColon) + 1;
    int end = last;
    if (!inWithExtension) {
        const int dot = LastIndex(fPath.GetCPointer(), last, kDot);
        if (dot >= start)
            end = dot;
    }
    fPath.GetSubString(start + 1, end - start, outName);
}

void VFilePath::GetExtension(VString& outExtension) const
{
    const int length = fPath.GetLength();
    const int end = (fIsValid && _IsFolderText() && length >= 2) ? length - 1 : length;
    int dot = 0;
    if (FindExtension(fPath, end, dot))
        fPath.GetSubString(dot + 2, end - dot - 1, outExtension);
    else
        outExtension.Clear();
}

bool VFilePath::MatchExtension(const VString& inExtension, bool inDiacritical) const
{
    VStr<63> suffix;
    suffix.FromUniChar(kDot);
    suffix.AppendString(inExtension);
    if (IsFolder())
        suffix.AppendUniChar(kColon);
    return fPath.EndsWith(suffix, inDiacritical);
}

bool VFilePath::_GetRelativePath(const VFilePath& inBase, VString& outRelative) const
{
    if (!fIsValid || !inBase.IsFolder() || !fPath.BeginsWithRawString(inBase.fPath))
        return false;
    const int baseLength = inBase.fPath.GetLength();
    fPath.GetSubString(baseLength + 1, fPath.GetLength() - baseLength, outRelative);
    return true;
}

bool VFilePath::GetRelativePath(const VFilePath& inBase, VString& outRelative) const
{
    if (_GetRelativePath(inBase, outRelative))
        return true;
    outRelative.FromString(fPath);
    return false;
}

bool VFilePath::GetRelativePosixPath(const VFilePath& inBase, VString& outRelative) const
{
    if (_GetRelativePath(inBase, outRelative)) {
        VURL::HFS_to_POSIX(outRelative, true);
        return true;
    }
    GetPosixPath(outRelative);
    return false;
}

bool VFilePath::IsSameOrChildOf(const VFilePath& inFolder) const
{
    return fIsValid && inFolder.IsFolder() && fPath.BeginsWithRawString(inFolder.fPath);
}

bool VFilePath::IsChildOf(const VFilePath& inFolder) const
{
    return IsSameOrChildOf(inFolder) && fPath.GetLength() != inFolder.fPath.GetLength();
}

bool VFilePath::IsChildOfRawPath(const VFilePath& inFolder) const { return IsChildOf(inFolder); }

int VFilePath::GetDepth() const
{
    if (!fIsValid || fPath.IsEmpty())
        return 0;
    // One element per ':' before the last unit, and the last element.
    const UniChar* p = fPath.GetCPointer();
    int depth = 1;
    for (int i = 0; i < fPath.GetLength() - 1; ++i) {
        if (p[i] == kColon)
            ++depth;
    }
    return depth;
}

// ---- Editing ----------------------------------------------------------------

VFilePath& VFilePath::ToParent()
{
    if (fIsValid)
        fIsValid = CutToParent(fPath);
    return *this;
}

VFilePath& VFilePath::ToFolder()
{
    if (fIsValid)
        fIsValid = _GetFolder(fPath);
    return *this;
}

VFilePath& VFilePath::ToSubFolder(const VString& inName)
{
    // An empty name would leave "::", a step up.
    if (IsFolder() && !inName.IsEmpty()) {
        fPath.AppendString(inName);
        fPath.AppendUniChar(kColon);
    }
    return *this;
}

VFilePath& VFilePath::ToSubFile(const VString& inName)
{
    if (IsFolder())
        fPath.AppendString(inName);
    return *this;
}

int VFilePath::_FindSeparatorBeforeLastElement() const
{
    return LastIndex(fPath.GetCPointer(), fPath.GetLength() - 1, kColon) + 1;
}

bool VFilePath::SetName(const VString& inName)
{
    if (Contains(inName, kColon)) {
        _ThrowError(kErrorNameWithSeparator);
        return false;
    }
    if (!fIsValid || fPath.IsEmpty() || inName.IsEmpty())
        return false;
    const bool folder = _IsFolderText();
    const int separator = folder ? _FindSeparatorBeforeLastElement()
                                 : LastIndex(fPath.GetCPointer(), fPath.GetLength(), kColon) + 1;
    if (separator == 0) {
        Clear();
        return false;
    }
    ReplaceLastElement(fPath, separator, inName, VString(), folder);
    return true;
}

bool VFilePath::SetFileName(const VString& inName, bool inWithExtension)
{
    if (Contains(inName, kColon)) {
        _ThrowError(kErrorNameWithSeparator);
        return false;
    }
    if (!fIsValid || fPath.IsEmpty() || inName.IsEmpty())
        return false;
    if (_IsFolderText()) {
        fPath.AppendString(inName);
        return true;
    }
    VStr<31> extension;
    if (!inWithExtension)
        GetExtension(extension);
    const int separator = LastIndex(fPath.GetCPointer(), fPath.GetLength(), kColon) + 1;
    if (separator == 0) {
        Clear();
        return false;
    }
    ReplaceLastElement(fPath, separator, inName, extension, false);
    return true;
}

bool VFilePath::SetFolderName(const VString& inName, bool inWithExtension)
{
    // A ':' in the name would make more elements, or a step up.
    if (Contains(inName, kColon)) {
        _ThrowError(kErrorNameWithSeparator);
        return false;
    }
    if (!IsFolder() || inName.IsEmpty())
        return false;
    VStr<31> extension;
    if (!inWithExtension)
        GetExtension(extension);
    const int separator = _FindSeparatorBeforeLastElement();
    if (separator == 0) {
        Clear();
        return false;
    }
    ReplaceLastElement(fPath, separator, inName, extension, true);
    return true;
}

bool VFilePath::SetExtension(const VString& inExtension)
{
    if (!fIsValid || fPath.IsEmpty())
        return false;
    return _IsFolderText() ? SetFolderExtension(inExtension) : SetFileExtension(inExtension);
}

bool VFilePath::SetFileExtension(const VString& inExtension)
{
    ReplaceExtension(fPath, fPath.GetLength(), inExtension);
    return true;
}

bool VFilePath::SetFolderExtension(const VString& inExtension)
{
    if (!EndsWithColon(fPath))
        return false;
    ReplaceExtension(fPath, fPath.GetLength() - 1, inExtension);
    return true;
}

void VFilePath::RemoveBlanks() { _RemoveBlanks(fPath); }

// ---- Helpers on bare texts ----------------------------------------------------

bool VFilePath::_ResolveStep(VString& ioText, int inStart, int /*inSeparatorPosition*/, bool& ioOk,
                             UniChar inSeparator)
{
    const int length = ioText.GetLength();
    const int start = inStart < 1 ? 0 : inStart - 1;
    if (start >= length)
        return ioOk;
    if (!ioText._ReallocBuffer(length, true)) {
        ioOk = false;
        return false;
    }
    auto* units = const_cast<UniChar*>(ioText.GetCPointer());
    int newLength;
    if (inSeparator == kColon)
        newLength = FoldColonSteps(units, start, length);
    else if (inSeparator == u'/' || inSeparator == u'\\')
        newLength = FoldDotSteps(units, start, length, inSeparator, ioOk);
    else
        newLength = length;
    ioText.Validate(newLength);
    return ioOk;
}

bool VFilePath::_ResolveRelative(VString& ioText)
{
    if (ioText.IsEmpty())
        return true;
    if (ioText.GetCPointer()[0] == kColon)
        return false;
    bool ok = true;
    _ResolveStep(ioText, 1, 0, ok, kColon);
    return ok && (ioText.IsEmpty() || ioText.GetCPointer()[0] != kColon);
}

bool VFilePath::ResolveRelativePosix(VString& ioText)
{
    if (ioText.IsEmpty())
        return true;
    bool ok = true;
    return _ResolveStep(ioText, 1, 0, ok, u'/');
}

void VFilePath::_RemoveBlanks(VString& ioText)
{
    const int length = ioText.GetLength();
    if (length == 0)
        return;
    const VIntlMgr* intl = VTask::GetCurrentIntlManager();
    const UniChar* in = ioText.GetCPointer();
    VStr<255> result;
    if (!result._ReallocBuffer(length, false))
        return;
    auto* out = const_cast<UniChar*>(result.GetCPointer());
    int n = 0;
    int pendingBlanks = 0;     // blanks copied since the last other unit
    bool afterSeparator = true;  // at the start, or right after a ':'
    for (int i = 0; i < length; ++i) {
        const UniChar c = in[i];
        if (IsBlank(intl, c)) {
            if (!afterSeparator) {
                out[n++] = c;
                ++pendingBlanks;
            }
            continue;
        }
        if (c == kColon) {
            n -= pendingBlanks;
            afterSeparator = true;
        } else {
            afterSeparator = false;
        }
        pendingBlanks = 0;
        out[n++] = c;
    }
    n -= pendingBlanks;
    result.Validate(n);
    ioText.FromString(result);
}

bool VFilePath::_CheckInvalidChars(const VString& /*inText*/) { return true; }

CharSet VFilePath::DebugDump(char* inTextBuffer, int& inBufferSize) const
{
    return fPath.DebugDump(inTextBuffer, inBufferSize);
}

}  // namespace qelt
