// The XML library's start for readers that may run before any Init: both the
// SAX reader and the DOM wrapper build library objects, which crash if the
// library was never started (or was shut down by the last DeInit).
#pragma once

namespace qelt {

// Starts the library the first time it is called and never again. The
// library counts its starts, so this one start keeps it up for the rest of
// the process whatever pairs of VXMLParser::Init and DeInit follow.
void StartXercesOnce();

}  // namespace qelt
