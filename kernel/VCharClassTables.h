// The constant range tables behind the character classes of the
// international text manager. Each table is a count n, a split value (the
// first unit of a range near the middle: units at or below it are looked
// for from the start, units above it from the end), then n sorted,
// disjoint, inclusive ranges {first, last}.
#pragma once

namespace qelt {

// Letters of the Basic Multilingual Plane. The CJK ideographs and the
// Hangul syllables appear only as their first and last code points.
extern const unsigned short kLetterTable[];
extern const unsigned short kDigitTable[];
extern const unsigned short kPunctuationTable[];

// True when the unit lies in one of the table's ranges.
bool IsInRangeTable(unsigned short inChar, const unsigned short* inTable);

}  // namespace qelt
