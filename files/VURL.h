// The URL value and the conversions of path texts between the POSIX, the
// toolbox's own ':' and the Windows styles.
#pragma once

#include "kernel/VObject.h"
#include "kernel/VString.h"

namespace qelt {

// The style of a path text for conversions.
enum EURLPathStyle {
    eURL_POSIX_STYLE = 0,
    eURL_HFS_STYLE = 1,  // the toolbox's own ':' form
    eURL_WIN_STYLE = 2
};

class VURL : public VObject {
public:
    // ---- Path style conversions (in place) ------------------------------
    // POSIX to HFS, HFS to POSIX (relative or full), POSIX to Windows and
    // back; any other pair changes nothing.
    static void Convert(VString& ioText, EURLPathStyle inFrom, EURLPathStyle inTo, bool inRelative);
    // A text beginning with '/' is a full path (through the volumes); any
    // other is converted by the relative rules: "./" drops out, each run of
    // '/' is one ':', "../" is one more ':' (a step up once appended to a
    // folder), a trailing "." or ".." is taken as "./" or "../", and a ':' in
    // a name becomes '/'.
    static void POSIX_to_HFS(VString& ioText);
    // Relative: each ':' is a '/', n consecutive ':' are one '/' and n-1
    // "../" (leading ':' write no '/'), and a '/' in a name becomes ':'.
    static void HFS_to_POSIX(VString& ioText, bool inRelative);
    static void POSIX_to_WIN(VString& ioText);
    static void WIN_to_POSIX(VString& ioText);
};

}  // namespace qelt
