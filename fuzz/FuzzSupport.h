// What every fuzz target shares: the one-time set-up of the toolbox (the
// memory manager in malloc mode and a started process, so that raised errors
// have a task context to land in), a per-input error scope that drops what
// the input raised, and a small reader of the fuzz bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/VString.h"
#include "runtime/VErrorContext.h"

namespace qelt::fuzz {

// Creates the memory manager and the process once; later calls do nothing.
void Setup();
// Setup, then starts the XML parser once and stops it when the fuzzer exits.
void SetupXML();
// Deletes what Setup created (the replay programs call it before exiting).
void Shutdown();

// Installed around each input: a silent context that keeps nothing, so that
// errors raised by bad data neither print nor pile up between inputs.
class Scope {
public:
    Scope() : fErrors(false, true) {}

private:
    StErrorContextInstaller fErrors;
};

// Standard output and error go to /dev/null for the life of the holder
// (command-line parsers print their refusals there).
class StSilentStreams {
public:
    StSilentStreams();
    ~StSilentStreams();
    StSilentStreams(const StSilentStreams&) = delete;
    StSilentStreams& operator=(const StSilentStreams&) = delete;

private:
    int fNull = -1;
    int fOut = -1;
    int fErr = -1;
};

// A folder of this program's own under /tmp, made on the first call and
// removed with everything in it when the program exits.
const std::string& ScratchFolder();

// Arguments from bytes: the bytes cut at each zero byte, each piece UTF-8,
// after the program name given.
std::vector<VString> MakeArguments(const char* program, const uint8_t* data, size_t size);

// Takes bytes from the front of the input; reads past the end answer 0.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : fData(data), fSize(size) {}

    bool Empty() const { return fPos >= fSize; }
    size_t Remaining() const { return fSize - fPos; }
    const uint8_t* Current() const { return fData + fPos; }

    uint8_t Byte() { return fPos < fSize ? fData[fPos++] : 0; }
    uint32_t U32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | Byte();
        return value;
    }
    uint64_t U64() { return (static_cast<uint64_t>(U32()) << 32) | U32(); }
    // Up to maxLength bytes as a string.
    std::string Text(size_t maxLength)
    {
        size_t n = Remaining() < maxLength ? Remaining() : maxLength;
        std::string out(reinterpret_cast<const char*>(fData + fPos), n);
        fPos += n;
        return out;
    }
    std::string Rest() { return Text(Remaining()); }

private:
    const uint8_t* fData;
    size_t fSize;
    size_t fPos = 0;
};

// Text from bytes: with the low bit of the first byte set, the rest are
// UTF-16 units as they are (lone surrogates and all); else UTF-8.
void MakeText(const uint8_t* data, size_t size, VString& outText);

// Destroys a value read from a stream (bags are reference counted).
void DisposeValue(VValue* value);

// Stops the program (a fault the fuzzer reports) when the condition fails.
void Check(bool condition, const char* what);

}  // namespace qelt::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
