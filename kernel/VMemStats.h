// The memory statistics record that the pooled allocator fills on request,
// and its text dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <typeinfo>
#include <vector>

#include "kernel/VKernelTypes.h"

namespace qelt {

class VStream;

class VMemStats {
public:
    // A number of blocks and their bytes.
    struct CountAndMem {
        int32_t fCount = 0;
        int64_t fMem = 0;
    };
    // Used and free blocks of one size.
    struct UsedAndFree {
        int32_t fUsed = 0;
        int32_t fFree = 0;
    };
    // Full and partly used pages of one size.
    struct FullAndPartial {
        int32_t fFull = 0;
        int32_t fPartial = 0;
    };
    // One record of the pools' layout: a chunk start (address, 65534, pool),
    // a page (size, block size, used count), another used big block
    // (size, 65535) or a free block or free tail (size, 0).
    struct LayoutRecord {
        uint64_t fSizeOrAddress = 0;
        uint16_t fA = 0;
        uint16_t fB = 0;
    };

    static constexpr uint16_t kLayoutChunk = 65534;
    static constexpr uint16_t kLayoutUsedBlock = 65535;

    VMemStats() { Clear(); }
    virtual ~VMemStats();

    // Zeroes the twelve counters; the maps and the layout stay as they are.
    void Clear();

    // Writes the figures, the objects by class and the blocks by tag as text.
    // Returns 0.
    VError DumpToStream(VStream* ioStream);

    // Builds the same lines and more, and writes them nowhere.
    void Dump();

    int64_t fFreeMem;
    int64_t fUsedMem;
    int32_t fNbPages;
    int32_t fNbObjects;
    int32_t fNbSmallBlocks;
    int32_t fNbFreeSmallBlocks;
    int32_t fNbUsedSmallBlocks;
    int32_t fNbBigBlocks;
    int32_t fNbFreeBigBlocks;
    int32_t fNbUsedBigBlocks;
    uint64_t fBiggestBlock;
    uint64_t fBiggestFreeBlock;

    std::map<const std::type_info*, CountAndMem> fClasses;
    std::map<int32_t, CountAndMem> fTags;
    std::map<size_t, UsedAndFree> fSmallBlockSizes;
    std::map<size_t, FullAndPartial> fPagesBySize;
    std::map<size_t, UsedAndFree> fOtherBigBlocks;
    std::vector<LayoutRecord> fLayout;
    std::map<const void*, const std::type_info*> fVirtualTables;
};

}  // namespace qelt
