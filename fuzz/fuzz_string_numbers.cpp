// The lenient number readers of strings.
#include "fuzz/FuzzSupport.h"
#include "kernel/VString.h"

using namespace qelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Setup();
    fuzz::Scope scope;
    VString text;
    fuzz::MakeText(data, size, text);
    volatile long long l8 = text.GetLong8();
    volatile double real = text.GetReal();
    bool overflow = false;
    volatile double checked = text.GetRealCheckOverflow(&overflow);
    volatile unsigned long long hex = text.GetHexLong();
    volatile int l = text.GetLong();
    volatile short w = text.GetWord();
    volatile bool b = text.GetBoolean();
    (void)l8;
    (void)real;
    (void)checked;
    (void)hex;
    (void)l;
    (void)w;
    (void)b;
    return 0;
}
