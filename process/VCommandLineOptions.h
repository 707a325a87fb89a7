// Command-line option objects and the conversions of argument texts.
//
// The parser keeps each declared option as a VOptionBase: its names, its help
// text and whether it takes a value. VArgOption<T> binds an option to one
// variable of the caller; when the option is given, the parser calls its
// AppendArgument with the value text (or SetFlag for an option without
// value), and the option converts the text with Argument<T>::Append. A
// rejected value is reported once, on standard error, in one fixed form:
//   invalid value for argument '<names>' got "<value>" <reason>
#pragma once

#include <vector>

#include "kernel/IRefCountable.h"
#include "kernel/VKernelTypes.h"
#include "kernel/VString.h"

namespace qelt {

class VCommandLineParser;
class VJSONValue;
class VFilePath;
class VFile;
class VFolder;

namespace Private::CommandLineParser {

class VOptionBase {
public:
    VOptionBase(UniChar inShortName, const VString& inLongName, const VString& inDescription, bool inRequiresValue,
                bool inHidden = false);
    virtual ~VOptionBase();

    VOptionBase(const VOptionBase&) = delete;
    VOptionBase& operator=(const VOptionBase&) = delete;

    // 0 accepted; 1 rejected (the message has been printed). The base class
    // (a paragraph of the help listing) rejects silently.
    virtual int AppendArgument(VCommandLineParser& ioParser, const VString& inValue);
    // The option was given without a value. The base class does nothing.
    virtual void SetFlag();

    // ' ' or 0 mean no short name; an empty long name means none.
    UniChar GetShortName() const { return fShortName; }
    const VString& GetLongName() const { return fLongName; }
    const VString& GetDescription() const { return fDescription; }
    bool RequiresValue() const { return fRequiresValue; }
    bool IsHidden() const { return fHidden; }
    // Hidden entries stay out of the help listing and the manual page.
    void SetHidden(bool inHidden) { fHidden = inHidden; }

    bool HasShortName() const { return fShortName != 0 && fShortName != ' '; }
    bool HasLongName() const { return !fLongName.IsEmpty(); }
    // A paragraph of help text rather than an option.
    bool IsParagraph() const { return fShortName == ' ' && fLongName.IsEmpty(); }

    // Appends "-x, --name", "-x" or "--name"; false (nothing appended) for
    // an option with neither name.
    bool AppendFullName(VString& ioText) const;

    // Prints the rejection of a value with the reason on standard error.
    void PrintErrorWhenAppendingInvalidValue(const VString& inReason, VString inValue) const;

private:
    UniChar fShortName;
    VString fLongName;
    VString fDescription;
    bool fRequiresValue;
    bool fHidden;
};

// An option bound to a variable of the caller, which must outlive the parser.
template <class T>
class VArgOption;

template <>
class VArgOption<bool> : public VOptionBase {
public:
    VArgOption(UniChar inShortName, const VString& inLongName, const VString& inDescription, bool inRequiresValue,
               bool& ioVariable)
        : VOptionBase(inShortName, inLongName, inDescription, inRequiresValue), fVariable(ioVariable)
    {
    }
    int AppendArgument(VCommandLineParser& ioParser, const VString& inValue) override;
    void SetFlag() override { fVariable = true; }

private:
    bool& fVariable;
};

template <>
class VArgOption<int> : public VOptionBase {
public:
    VArgOption(UniChar inShortName, const VString& inLongName, const VString& inDescription, bool inRequiresValue,
               int& ioVariable)
        : VOptionBase(inShortName, inLongName, inDescription, inRequiresValue), fVariable(ioVariable)
    {
    }
    int AppendArgument(VCommandLineParser& ioParser, const VString& inValue) override;
    void SetFlag() override { fVariable = 1; }

private:
    int& fVariable;
};

template <>
class VArgOption<VString> : public VOptionBase {
public:
    VArgOption(UniChar inShortName, const VString& inLongName, const VString& inDescription, bool inRequiresValue,
               VString& ioVariable)
        : VOptionBase(inShortName, inLongName, inDescription, inRequiresValue), fVariable(ioVariable)
    {
    }
    int AppendArgument(VCommandLineParser& ioParser, const VString& inValue) override;
    void SetFlag() override;

private:
    VString& fVariable;
};

template <>
class VArgOption<std::vector<VString>> : public VOptionBase {
public:
    VArgOption(UniChar inShortName, const VString& inLongName, const VString& inDescription, bool inRequiresValue,
               std::vector<VString>& ioVariable)
        : VOptionBase(inShortName, inLongName, inDescription, inRequiresValue), fVariable(ioVariable)
    {
    }
    int AppendArgument(VCommandLineParser& ioParser, const VString& inValue) override;
    void SetFlag() override;

private:
    std::vector<VString>& fVariable;
};

}  // namespace Private::CommandLineParser

namespace Extension::CommandLineParser {

// Text-to-value conversions, one Append per type; true when the text
// converted. They never raise an error.
template <class T>
struct Argument;

template <>
struct Argument<bool> {
    // "1" or "true", "0" or "false" (case and diacritics ignored).
    static bool Append(VCommandLineParser& ioParser, bool& outValue, const VString& inText);
};

// Integers: white space at both ends is ignored; at most 30 units of digits
// and signs remain; base 0 (a leading 0 means octal; 'x' is refused). A value
// the variable's width cannot hold fails; the variable changes only on success.
template <>
struct Argument<int> {
    static bool Append(VCommandLineParser& ioParser, int& outValue, const VString& inText);
};
template <>
struct Argument<unsigned int> {
    static bool Append(VCommandLineParser& ioParser, unsigned int& outValue, const VString& inText);
};
template <>
struct Argument<long long> {
    static bool Append(VCommandLineParser& ioParser, long long& outValue, const VString& inText);
};
template <>
struct Argument<unsigned long long> {
    static bool Append(VCommandLineParser& ioParser, unsigned long long& outValue, const VString& inText);
};

template <>
struct Argument<std::vector<VString>> {
    // Appends a copy of the text; never fails.
    static bool Append(VCommandLineParser& ioParser, std::vector<VString>& ioValues, const VString& inText);
};

template <>
struct Argument<VJSONValue> {
    // By the value's current type: a string takes the text; object or
    // undefined parse it as JSON; false or true read "1", "true", "on",
    // "0", "false", "off"; other types refuse.
    static bool Append(VCommandLineParser& ioParser, VJSONValue& ioValue, const VString& inText);
};

// Paths: the text, read as a POSIX path, is resolved with realpath (relative
// parts and links against the current folder; a folder gets a final '/').
template <>
struct Argument<VFilePath> {
    // The resolved path, else the text as it is; an empty text clears the
    // path. Always true.
    static bool Append(VFilePath& outPath, const VString& inText);
};
template <>
struct Argument<VRefPtr<VFile>> {
    // A new file on the resolved path (an alias replaced by its target);
    // fails, emptying the reference, when the text names no existing file.
    static bool Append(VRefPtr<VFile>& outFile, const VString& inText);
};
template <>
struct Argument<VRefPtr<VFolder>> {
    // A new folder on the resolved path; fails, emptying the reference,
    // when the text does not resolve to a folder.
    static bool Append(VRefPtr<VFolder>& outFolder, const VString& inText);
};

}  // namespace Extension::CommandLineParser

}  // namespace qelt
