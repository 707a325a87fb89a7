// Shared test support: every test program runs with HOME and XDG_DATA_HOME
// pointed at a temporary folder of its own, never at the user's real ones.
#pragma once

#include <string>

namespace qelt::test {

// The temporary folder of this test run (removed at exit).
const std::string& TempRoot();

// A fresh, empty folder below TempRoot().
std::string MakeTempFolder(const std::string& hint);

// A file's whole content, written (replacing it) or read ("" when missing).
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

}  // namespace qelt::test
