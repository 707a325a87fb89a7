#include "values/_VHashKeyMap.h"

#include <new>
#include <stdexcept>

#include "values/VBagStreamIO.h"

namespace qelt {

namespace {

struct SizeRange {
    unsigned long long maxKeys;
    unsigned long long cells;
};

// Key counts up to maxKeys use `cells` cells. Part of the stream format.
const SizeRange kSizes[] = {
    {4, 5},
    {8, 11},
    {17, 23},
    {29, 41},
    {47, 67},
    {76, 113},
    {123, 199},
    {199, 317},
    {322, 521},
    {521, 839},
    {843, 1361},
    {1364, 2207},
    {2207, 3571},
    {3571, 5779},
    {5778, 9349},
    {9349, 15121},
    {15127, 24473},
    {24476, 39607},
    {39603, 64081},
    {64079, 103681},
    {103682, 167759},
    {167761, 271429},
    {271443, 439199},
    {439204, 710641},
    {710647, 1149857},
    {1149851, 1860503},
    {1860498, 3010349},
    {3010349, 4870843},
    {4870847, 7881193},
    {7881196, 12752029},
    {12752043, 20633237},
    {20633239, 33385273},
    {33385282, 54018521},
    {54018521, 87403763},
    {87403803, 141422317},
    {141422324, 228826121},
    {228826127, 370248451},
    {370248451, 599074561},
    {599074578, 969323023},
    {969323029, 1568397599},
    {1568397607, 2537720629ull},
    {2537720636ull, 4106118251ull},
};

}  // namespace

unsigned long _VHashKeyMap::_ComputeHashVectorSize(unsigned long keyCount)
{
    for (const SizeRange& r : kSizes) {
        if (keyCount <= r.maxKeys)
            return static_cast<unsigned long>(r.cells);
    }
    return 0;  // beyond the table: no index
}

bool _VHashKeyMap::Rebuild(unsigned long keyCount)
{
    unsigned long cells = _ComputeHashVectorSize(keyCount);
    if (cells == 0) {
        Clear();
        return false;
    }
    try {
        std::vector<unsigned int> fresh(cells, tag_empty);
        std::vector<unsigned int> hashes(cells, 0);
        fCells.swap(fresh);
        fHashes.swap(hashes);
        _SetModFactor();
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    } catch (const std::length_error&) {
        Clear();
        return false;
    }
    return true;
}

bool _VHashKeyMap::Rebuild(VStream* stream)
{
    Clear();
    unsigned int count = 0;
    if (bagio::GetUInt32(stream, count) != VE_OK)
        count = 0;
    if (static_cast<int>(count) < 0)
        return false;
    try {
        std::vector<unsigned int> cells;
        if (!bagio::GetUInt32Array(stream, count, cells))
            return false;
        std::vector<unsigned int> hashes(cells.size(), 0);
        fCells.swap(cells);
        fHashes.swap(hashes);
        _SetModFactor();
    } catch (const std::bad_alloc&) {
        Clear();
        return false;
    }
    return true;
}

void _VHashKeyMap::_SetModFactor()
{
    fModFactor = fCells.empty() ? 0 : _ModFactor(fCells.size());
}

bool _VHashKeyMap::Put(unsigned long long hash, unsigned long slot)
{
    return Put(hash, slot, nullptr);
}

bool _VHashKeyMap::Put(unsigned long long hash, unsigned long slot, unsigned long long* probes)
{
    size_t n = fCells.size();
    if (n == 0)
        return false;
    // Key hashes are 32-bit; a wider one still starts at hash modulo n.
    size_t home = hash <= UINT32_MAX ? HomeCell(hash) : static_cast<size_t>(hash % n);
    size_t i = home;
    do {
        if (probes != nullptr)
            ++*probes;
        if (fCells[i] == tag_empty) {
            fCells[i] = static_cast<unsigned int>(slot);
            fHashes[i] = static_cast<unsigned int>(hash);
            return true;
        }
        if (++i == n)
            i = 0;
    } while (i != home);
    return false;
}

VError _VHashKeyMap::WriteToStream(VStream* stream) const
{
    bagio::PutUInt32(stream, static_cast<unsigned int>(fCells.size()));
    bagio::PutUInt32Array(stream, fCells.data(), fCells.size());
    return bagio::StreamError(stream);
}

}  // namespace qelt
