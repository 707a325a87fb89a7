#include <gtest/gtest.h>

#include "kernel/VKernelTypes.h"

namespace qelt {

TEST(VKernelTypes, ErrorCodesSplitIntoSignatureAndNumber)
{
    struct Case { OsType sig; int number; VError code; };
    const Case cases[] = {
        {FourCC("qelt"), 600, 0x71656C7400000258ull},
        {FourCC("POSX"), 2, 0x504F535800000002ull},
        {FourCC("qelt"), -1, 0x71656C74FFFFFFFFull},
        {FourCC("UPVq"), 0, 0x5550567100000000ull},  // number 0, still an error
    };
    for (const Case& c : cases) {
        VError code = MakeVError(c.sig, c.number);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(VErrorComponent(code), c.sig);
        EXPECT_EQ(VErrorNumber(code), c.number);
        EXPECT_NE(code, VE_OK);
    }
}

}  // namespace qelt
