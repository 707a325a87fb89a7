// The interface through which streams, folders, log files, loaders and the
// updater reach a file, with its whole-content text operations built once
// on the virtual ones.
#pragma once

#include <cstddef>

#include "files/IFileSystemObject.h"
#include "values/VMemoryBuffer.h"

namespace qelt {

class VFile;
class VFolder;
class VJSONValue;

class IFile : public IFileSystemObject {
public:
    ~IFile() override = default;

    // The file name without its extension.
    virtual void GetNameWithoutExtension(VString& outName) const;

    virtual VError GetContent(VMemoryBuffer<1024, 2, 1048576>& ioBuffer) const = 0;
    virtual VError GetData(void* outBuffer, size_t inCount, size_t* outCount) const = 0;
    virtual VError SetContent(const void* inData, size_t inSize) const = 0;
    virtual VError AppendContent(const void* inData, size_t inSize) const = 0;
    virtual VError Delete() const = 0;
    virtual bool IsWritable() const = 0;
    virtual VError GetSize(long long* outSize) const = 0;
    virtual VError CopyTo(const VFile& inDest, unsigned int inOptions) const = 0;
    virtual VError CopyTo(const VFolder& inDest, VFile** outFile, unsigned int inOptions) const = 0;

    // The whole content as text: a leading byte-order mark decides the
    // character set (and is dropped), else inCharSet; then the line ends are
    // converted with inMode. The string is cleared after a failure.
    VError GetContentAsString(VString& outText, CharSet inCharSet, ECarriageReturnMode inMode) const;
    // Stores the text as the whole content in inCharSet with converted line
    // ends, preceded by the set's byte-order mark when asked (an empty text
    // never gets one). A set without an encoder raises 'qelt' 208 and writes
    // nothing.
    VError SetContentAsString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                              bool inWithBOM) const;
    // The content read as text (line ends as they are) and parsed as JSON
    // (only "!!YYYY-MM-DD!!" strings are dates); the read error or the
    // parser's.
    VError GetContentAsJSON(VJSONValue& outValue, CharSet inCharSet) const;
    // The value written as standard JSON text, then stored as with
    // SetContentAsString; a file object is replaced through a new file
    // beside it. The first error.
    VError SetContentAsJSON(const VJSONValue& inValue, CharSet inCharSet, ECarriageReturnMode inMode,
                            bool inWithBOM) const;
    // Stores the text as SetContentAsString does, but for a file object
    // through a new file beside it renamed over the old one, so that a
    // failure leaves the old content whole.
    VError ReplaceContentWithString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                                    bool inWithBOM) const;
};

}  // namespace qelt
