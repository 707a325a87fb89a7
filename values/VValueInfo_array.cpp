// The descriptors of the array kinds, constructed (and so registered in the
// kind registry) by the static initialisation of this file in kind order,
// and unregistered at exit. Every array's GetValueInfo refers to this file,
// so a program that uses any array registers them all.
#include "values/VValueInfo_array.h"

#include "values/VArrayBlob.h"
#include "values/VArrayBoolean.h"
#include "values/VArrayByte.h"
#include "values/VArrayDuration.h"
#include "values/VArrayImage.h"
#include "values/VArrayLong.h"
#include "values/VArrayLong8.h"
#include "values/VArrayReal.h"
#include "values/VArrayString.h"
#include "values/VArrayTime.h"
#include "values/VArrayWord.h"

namespace qelt {

const VArrayBoolean::InfoType VArrayBoolean::sInfo;
const VArrayByte::InfoType VArrayByte::sInfo;
const VArrayWord::InfoType VArrayWord::sInfo;
const VArrayLong::InfoType VArrayLong::sInfo;
const VArrayLong8::InfoType VArrayLong8::sInfo;
const VArrayReal::InfoType VArrayReal::sInfo;
const VArrayTime::InfoType VArrayTime::sInfo;
const VArrayDuration::InfoType VArrayDuration::sInfo;
const VArrayString::InfoType VArrayString::sInfo;
const VArrayImage::InfoType VArrayImage::sInfo;
const VArrayBlob::InfoType VArrayBlob::sInfo;

}  // namespace qelt
