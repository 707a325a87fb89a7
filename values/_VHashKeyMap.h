// The hash index of a packed dictionary: a vector of 32-bit slot numbers,
// sized from a fixed table of primes and filled by linear probing. A lookup
// takes only its starting point from it (see VPackedDictionary).
//
// Beside each cell the index keeps the hash of the key whose slot the cell
// holds, so that a lookup compares a key only where the hashes agree. Only
// the slot numbers are part of the stream form; the hashes of an index read
// from a stream are filled in by its dictionary (SetHash).
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VStream;

class _VHashKeyMap {
public:
    // The value of an empty cell.
    static constexpr unsigned int tag_empty = 0xFFFFFFFFu;

    _VHashKeyMap() = default;

    // The cell count for a key count (0 when the count is beyond the table).
    static unsigned long _ComputeHashVectorSize(unsigned long keyCount);

    // Replaces the vector by an empty one sized for keyCount keys. False,
    // with the index emptied, when it cannot be allocated.
    bool Rebuild(unsigned long keyCount);

    // Replaces the vector by the one stored in the stream. The cells are
    // read in pieces as they arrive, so a damaged count never makes a huge
    // allocation. False (index emptied) for a negative count or no memory;
    // read failures stay in the stream's error.
    bool Rebuild(VStream* stream);

    // Stores slot in the first empty cell from the hash's home cell; false
    // when every cell is taken.
    bool Put(unsigned long long hash, unsigned long slot);
    // The same, adding the number of cells visited to *probes.
    bool Put(unsigned long long hash, unsigned long slot, unsigned long long* probes);

    VError WriteToStream(VStream* stream) const;

    void Clear()
    {
        fCells.clear();
        fCells.shrink_to_fit();
        fHashes.clear();
        fHashes.shrink_to_fit();
        fModFactor = 0;
    }
    bool IsEmpty() const { return fCells.empty(); }
    // The home cell of a hash: its 32 bits modulo the cell count, by a
    // multiplication with a factor set when the cells are (no division).
    // Called only on an index of at least one cell.
    unsigned long HomeCell(unsigned long long hash) const { return _HomeCell(hash, fModFactor, fCells.size()); }

    // The factor for a cell count (from 1 to 2^32 - 1): 2^64 / count,
    // rounded up. For any 32-bit h, h modulo count is then the high half of
    // (factor * h, wrapped to 64 bits) * count.
    static uint64_t _ModFactor(uint64_t cells) { return UINT64_MAX / cells + 1; }
    static unsigned long _HomeCell(unsigned long long hash, uint64_t factor, uint64_t cells)
    {
        const uint64_t low = factor * static_cast<uint32_t>(hash);
        return static_cast<unsigned long>((static_cast<unsigned __int128>(low) * cells) >> 64);
    }
    unsigned long GetCount() const { return static_cast<unsigned long>(fCells.size()); }
    unsigned int GetCell(unsigned long index) const { return fCells[index]; }
    // The hash of the key whose slot the cell holds (its 32 bits).
    unsigned int GetHash(unsigned long index) const { return fHashes[index]; }
    void SetHash(unsigned long index, unsigned long long hash) { fHashes[index] = static_cast<unsigned int>(hash); }

private:
    // Sets fModFactor for the present cell count.
    void _SetModFactor();

    std::vector<unsigned int> fCells;
    // Parallel to fCells; meaningless for empty cells.
    std::vector<unsigned int> fHashes;
    // _ModFactor of the cell count; 0 without cells.
    uint64_t fModFactor = 0;
};

}  // namespace qelt
