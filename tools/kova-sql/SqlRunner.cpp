#include "SqlRunner.h"

#include "StatementSplitter.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSHostHooks.h"

#include <exception>
#include <vector>

namespace kova::shell {
namespace {

// The alias under which the shell's query finds its database in the default session.
constexpr const char* kDatabaseAlias = "kova_sql_shell";

} // namespace

SqlRunner::SqlRunner(const std::string& fileName, const std::string& password, RunOptions options, std::FILE* out,
                     std::FILE* err)
    : options_(std::move(options)), out_(out), err_(err) {
    database_.SetDatabaseName(kDatabaseAlias);
    database_.SetDatabaseFileName(fileName);
    database_.SetPassword(password);
    Connect();
    query_.SetDatabaseName(kDatabaseAlias);
}

void SqlRunner::Connect() {
    if (!options_.Repair) {
        // A shell has nobody to ask for another password or a repair.
        database_.SetSilentMode(true);
        database_.Open();
        return;
    }
    // --repair is the answer to the repair question; the shell has no window to wait in, and
    // the messages become lines of its output.
    database_.SetSilentMode(false);
    database_.Events().OnNeedRepair = [](TABSDatabase&, bool& repair) { repair = true; };
    database_.Events().BeforeRepair = [this](TABSDatabase&) { repaired_ = true; };
    TABSHostHooks hooks;
    hooks.AskYesNo = [](const std::string&) { return true; };
    hooks.ShowMessage = [this](TABSMessageKind, const std::string& text) {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) end = text.size();
            if (end > start) repairNotes_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    };
    struct Restore {
        TABSHostHooks previous;
        ~Restore() { SetHostHooks(std::move(previous)); }
    } restore{SetHostHooks(std::move(hooks))};
    database_.Open();
}

SqlRunner::~SqlRunner() {
    try {
        query_.Close();
        database_.Close();
    } catch (const std::exception& error) {
        // Leaving anyway; the file's own close happens when the last connection goes.
        std::fprintf(err_, "error: %s\n", error.what());
    }
}

bool SqlRunner::RunText(std::string_view text) {
    std::vector<ShellStatement> statements;
    try {
        statements = SplitStatements(text);
    } catch (const std::exception& error) {
        // Nothing of an unreadable text runs: there are no statements to go on with.
        (void)Fail(error.what());
        return options_.KeepGoing;
    }
    for (const ShellStatement& statement : statements) {
        if (options_.Echo) Write("> " + OneLine(statement.Text) + "\n");
        std::string output;
        try {
            output = Execute(statement.Text, statement.GivesRows);
        } catch (const std::exception& error) {
            if (!Fail(error.what())) return false;
            continue;
        }
        Write(output);
    }
    return true;
}

std::string SqlRunner::Execute(const std::string& text, bool givesRows) {
    query_.Close();
    query_.SetSQLText(text);
    if (!givesRows) {
        query_.ExecSQL();
        return {};
    }
    try {
        query_.Open();
    } catch (const EABSException& error) {
        // A query that stores its rows (SELECT ... INTO) ran but leaves nothing to browse.
        if (error.NativeError() == apierr::kNoResult) return {};
        throw;
    }
    std::string output = FormatRows(query_, options_.Format);
    query_.Close();
    return output;
}

bool SqlRunner::Fail(const char* message) {
    failed_ = true;
    const std::string line = std::string("error: ") + message + "\n";
    if (options_.KeepGoing) {
        Write(line);
        return true;
    }
    std::fflush(out_);
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    return false;
}

void SqlRunner::Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

} // namespace kova::shell
