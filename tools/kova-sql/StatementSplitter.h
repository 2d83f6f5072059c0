// Cuts a SQL text into its statements with the engine's own tokenizer, so that the shell splits
// exactly where the engine would (";" outside literals and comments) and can run, echo and
// report each statement on its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kova::shell {

struct ShellStatement {
    // The statement's source text from its first token up to (not including) the ";" that ends
    // it, without surrounding white space. Comments inside it stay.
    std::string Text;
    // The statement is a query: it gives rows when it runs. Statements the engine cannot
    // classify count as not giving rows; running them reports the engine's error.
    bool GivesRows = false;
};

// The statements of `text` in order; a text without any token gives none.
// Raises the tokenizer's EABSException for an unterminated literal, unbalanced parentheses or
// a malformed number anywhere in the text.
[[nodiscard]] std::vector<ShellStatement> SplitStatements(std::string_view text);

// The statement on one line: every line break (CR LF, LF or CR) becomes one blank.
[[nodiscard]] std::string OneLine(std::string_view text);

} // namespace kova::shell
