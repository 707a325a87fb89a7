// Small stream helpers shared by the bag readers and writers: numbers in the
// stream's byte order, and readers of counted arrays that grow their buffer
// only as the bytes really arrive, so that a damaged count can never cause a
// huge allocation.
#pragma once

#include <cstring>
#include <new>
#include <vector>

#include "files/VStream.h"
#include "kernel/VKernelTypes.h"

namespace qelt::bagio {

// Read in pieces of this many bytes at most.
constexpr unsigned long kReadPiece = 64 * 1024;

// The error the bag readers give for data that does not hold together.
constexpr VError kBadBagData = QeltError(207);

inline VError StreamError(VStream* s) { return s->GetLastError(); }

inline VError PutUInt8(VStream* s, unsigned char v) { return s->PutData(&v, 1); }

inline VError PutUInt16(VStream* s, unsigned short v)
{
    short w = static_cast<short>(v);
    return s->PutWords(&w, 1);
}

inline VError PutUInt32(VStream* s, unsigned int v)
{
    int l = static_cast<int>(v);
    return s->PutLongs(&l, 1);
}

inline VError GetUInt8(VStream* s, unsigned char& v)
{
    v = 0;
    return s->GetData(&v, 1);
}

inline VError GetUInt16(VStream* s, unsigned short& v)
{
    short w = 0;
    int n = 1;
    VError err = s->GetWords(&w, &n);
    v = (err == VE_OK && n == 1) ? static_cast<unsigned short>(w) : 0;
    return err;
}

inline VError GetUInt32(VStream* s, unsigned int& v)
{
    int l = 0;
    int n = 1;
    VError err = s->GetLongs(&l, &n);
    v = (err == VE_OK && n == 1) ? static_cast<unsigned int>(l) : 0;
    return err;
}

inline VError PutUInt32Array(VStream* s, const unsigned int* cells, size_t count)
{
    // PutLongs takes an int count: write in pieces.
    size_t done = 0;
    while (done < count && s->GetLastError() == VE_OK) {
        size_t n = count - done;
        if (n > (1u << 24))
            n = 1u << 24;
        s->PutLongs(reinterpret_cast<const int*>(cells + done), static_cast<int>(n));
        done += n;
    }
    return s->GetLastError();
}

// Reads `count` unsigned 32-bit numbers into `out` (replaced). The vector
// grows piece by piece; a stream that ends early stops the reading with its
// sticky error. False only when memory runs out.
inline bool GetUInt32Array(VStream* s, unsigned long count, std::vector<unsigned int>& out)
{
    out.clear();
    try {
        constexpr unsigned long kPiece = kReadPiece / 4;
        while (out.size() < count && s->GetLastError() == VE_OK) {
            unsigned long n = count - out.size();
            if (n > kPiece)
                n = kPiece;
            size_t old = out.size();
            out.resize(old + n, 0xFFFFFFFFu);
            int got = static_cast<int>(n);
            s->GetLongs(reinterpret_cast<int*>(out.data() + old), &got);
            if (got < static_cast<int>(n))
                out.resize(old + (got < 0 ? 0 : got), 0xFFFFFFFFu);
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

// Reads `count` raw bytes into `out` (replaced), piece by piece.
inline bool GetBytes(VStream* s, unsigned long long count, std::vector<unsigned char>& out)
{
    out.clear();
    try {
        while (out.size() < count && s->GetLastError() == VE_OK) {
            unsigned long long n = count - out.size();
            if (n > kReadPiece)
                n = kReadPiece;
            size_t old = out.size();
            out.resize(old + n);
            unsigned long got = 0;
            s->GetData(out.data() + old, static_cast<unsigned long>(n), &got);
            if (got < n)
                out.resize(old + got);
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace qelt::bagio
