// Text encodings of the platform layer: conversion between the byte
// encodings that the toolbox does not convert itself and UTF-16 in machine
// byte order. Mac Roman, the system's own encoding, is converted through a
// constant table and a codec of it may be shared by any number of threads;
// every other codec belongs to one user at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelt::plat {

// A text encoding: base (bits 0-15), variant (bits 16-25), format (bits 26-31).
using TextEncoding = uint32_t;

constexpr TextEncoding kTextEncodingNone = 0xFFFF;
constexpr uint32_t kTextEncodingBaseUnicode = 0x0100;

// Formats of the Unicode base.
constexpr uint32_t kTextFormatUTF16 = 0;
constexpr uint32_t kTextFormatUTF7 = 1;
constexpr uint32_t kTextFormatUTF8 = 2;
constexpr uint32_t kTextFormatUTF32 = 3;

// Outcomes of the operations below.
constexpr int kTextStatusOK = 0;
constexpr int kTextStatusNoDirectCodec = -8738;     // no conversion object for the encoding
constexpr int kTextStatusNoConversionPath = -8749;  // no general converter either
constexpr int kTextStatusMalformedInput = -8739;    // the source cannot be read at all
constexpr int kTextStatusPartialInput = -8753;      // the source ends inside a character
constexpr int kTextStatusUnmappable = -8754;        // a character the target cannot express
constexpr int kTextStatusOutputFull = -8785;        // the target is full

TextEncoding MakeTextEncoding(uint32_t inBase, uint32_t inVariant, uint32_t inFormat);
uint32_t GetTextEncodingBase(TextEncoding inEncoding);
uint32_t GetTextEncodingFormat(TextEncoding inEncoding);

// A conversion object between one encoding and UTF-16: its Convert works as
// ConvertText below describes.
class TextCodec {
public:
    virtual ~TextCodec() = default;
    virtual int Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesRead, void* outTarget,
                        size_t inTargetBytes, size_t* outBytesWritten) = 0;
};

// A decoder (encoding to UTF-16) or an encoder (UTF-16 to encoding). The
// answer is kTextStatusNoDirectCodec when the encoding is not supported.
int CreateTextDecoder(TextEncoding inEncoding, TextCodec** outCodec);
int CreateTextEncoder(TextEncoding inEncoding, TextCodec** outCodec);

// A general converter between two encodings, one of which is UTF-16
// (kTextEncodingBaseUnicode, format 0).
int CreateTextConverter(TextEncoding inFrom, TextEncoding inTo, TextCodec** outCodec);

void DisposeTextCodec(TextCodec* inCodec);

// Converts from the start of the source as far as the target allows. Each
// call starts in the encoding's initial state and leaves its output complete
// (a stateful encoding returns to its initial state at the end of it).
// - kTextStatusOK: everything was converted;
// - kTextStatusOutputFull: the target could not take the rest;
// - kTextStatusPartialInput: (decoding) the source ends inside a character,
//   whose bytes are not counted as read;
// - kTextStatusUnmappable: (encoding) the conversion stopped before a unit the
//   encoding cannot express; bytes read ends right before it.
// Byte counts of UTF-16 text are twice the unit counts.
int ConvertText(TextCodec* inCodec, const void* inSource, size_t inSourceBytes, size_t* outBytesRead,
                void* outTarget, size_t inTargetBytes, size_t* outBytesWritten);

}  // namespace qelt::plat
