// The XML parser's network accessor, which refuses every URL (see the
// source file): the parser's start-up calls this so that the accessor of
// ours is part of every program that parses XML, ahead of the library's.
#pragma once

namespace qelt {

// True: URLs other than local files are refused by the parser.
bool XercesNetAccessorRefusesURLs();

}  // namespace qelt
