// The registration check for organisers at the console: each school's file is checked as the
// check window would check it, read-only, and its protocol printed.
#pragma once

#include "check/CheckRun.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kova::app {

// Checks the registration database `fileName`, opened read-only with the application's password;
// limits missing from its Settings take their defaults. Engine errors (no such file, not a
// database, wrong password) pass to the caller.
TCheckResult CheckFile(const std::string& fileName, TCheckProtocol& protocol);

// `kova-meldungen check FILE...`: for each file a line with its name, then one line per protocol
// row (Aktion, Ergebnis and Bemerkung separated by TAB). Returns 0 when every file passed, 1 when
// a file has faults, 2 when a file could not be opened or the call was wrong (message on `err`);
// the files after one that failed are still checked.
[[nodiscard]] int RunCheckCommand(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

} // namespace kova::app
