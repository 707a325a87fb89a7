// The descriptors of the scalar kinds, registered in the kind registry by
// the static initialisation of this file and unregistered at exit. Every
// scalar class's GetValueInfo refers to this file, so a program that uses
// any scalar registers them all.
#include "kernel/VValueInfo_scalar.h"

#include "kernel/VBoolean.h"
#include "kernel/VByte.h"
#include "kernel/VEmpty.h"
#include "kernel/VLong.h"
#include "kernel/VLong8.h"
#include "kernel/VReal.h"
#include "kernel/VWord.h"

namespace qelt {

const VEmpty_info VEmpty::sInfo;
const VBoolean::InfoType VBoolean::sInfo;
const VByte::InfoType VByte::sInfo;
const VWord::InfoType VWord::sInfo;
const VLong::InfoType VLong::sInfo;
const VLong8::InfoType VLong8::sInfo;
const VReal::VValueInfo_real VReal::sInfo;

}  // namespace qelt
