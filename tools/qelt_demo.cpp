// Demo program: exercises what the toolbox offers so far and prints what it did.
#include <cstdio>

#include "qelt.h"

int main()
{
    using namespace qelt;
    VError err = QeltError(600);
    std::printf("toolbox error 'qelt' %d has code 0x%016llx\n", VErrorNumber(err), err);
    return 0;
}
