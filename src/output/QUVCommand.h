// The organiser's console program kova-meldungen, kept apart from its main so that tests run
// it in-process:
//
//   kova-meldungen quv FILE... -o OUT    the export lines of every FILE, file after file in the
//                                        given order, into OUT (its extension becomes ".QUV")
//   kova-meldungen check FILE...         the registration check's protocol of every FILE
//                                        (exit status: see check/CheckCommand.h)
//
// Each file is opened read-only with the application's password; nothing in it changes. For
// quv, OUT is written only when every file could be read; exit status 0 done, 1 a file could not
// be read or OUT not written, 2 wrong use.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kova::app {

// The export lines of one registration database file (the same bytes the preview would save).
// Engine errors (no such file, not a database, wrong password) pass to the caller.
[[nodiscard]] std::vector<std::string> QUVLinesOfFile(const std::string& fileName);

// Runs the program with its arguments (without the program name); messages go to `out` and `err`.
[[nodiscard]] int RunKovaMeldungen(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace kova::app
