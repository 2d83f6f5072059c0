// Runs SQL texts statement by statement on one connection held for the whole run, and writes
// each statement's rows (or its error) as soon as it finished.
//
// Output per statement, in this order: with Echo the line "> " and the statement on one line;
// then its rows (ResultPrinter) when it gives rows, nothing otherwise. A failing statement
// stops the run with "error: <text>" on the error stream, or with KeepGoing prints that line
// in place of its output and goes on. The output stream is flushed after every statement.
#pragma once

#include "ResultPrinter.h"

#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSQuery.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kova::shell {

struct RunOptions {
    ResultFormat Format;
    bool Echo = false;
    bool KeepGoing = false;
    // Rebuild a file that needs repair (it was not closed correctly, or has an old format) while
    // connecting. Off, such a file is opened as it is: the caller refuses it beforehand.
    bool Repair = false;
};

class SqlRunner {
public:
    // Connects to `fileName` with `password` (UTF-8); the errors of connecting pass on.
    SqlRunner(const std::string& fileName, const std::string& password, RunOptions options, std::FILE* out,
              std::FILE* err);
    ~SqlRunner();
    SqlRunner(const SqlRunner&) = delete;
    SqlRunner& operator=(const SqlRunner&) = delete;

    // Splits `text` into statements and runs them in order. Returns false when the run must
    // stop (a failure without KeepGoing); Failed() tells whether anything failed so far.
    [[nodiscard]] bool RunText(std::string_view text);
    [[nodiscard]] bool Failed() const noexcept { return failed_; }
    // Whether connecting rebuilt the file (RunOptions::Repair).
    [[nodiscard]] bool Repaired() const noexcept { return repaired_; }
    // What the engine told while connecting: the old-format note and the rebuild's report, line by
    // line (line ends removed).
    [[nodiscard]] const std::vector<std::string>& RepairNotes() const noexcept { return repairNotes_; }

private:
    // Runs one statement and returns its output.
    [[nodiscard]] std::string Execute(const std::string& text, bool givesRows);
    // Reports a failure; returns whether the run goes on.
    [[nodiscard]] bool Fail(const char* message);
    void Write(const std::string& text);

    RunOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    // Connects; with RunOptions::Repair the engine's questions are answered yes and its messages
    // collected.
    void Connect();

    bool failed_ = false;
    bool repaired_ = false;
    std::vector<std::string> repairNotes_;
    TABSDatabase database_;
    TABSQuery query_;
};

} // namespace kova::shell
