#include "check/CheckCommand.h"

#include "engine/api/ABSMain.h"
#include "model/CompetitionRules.h"
#include "model/DModule.h"
#include "model/RegistrationListStatement.h"
#include "model/TalmirMySQLTools.h"

#include <cctype>
#include <exception>
#include <ostream>
#include <string_view>

namespace kova::app {
namespace {

[[nodiscard]] std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// A session of its own with the file opened read-only and the queries of one check run, so the
// console never meets the application's sessions when both live in one process.
class TCheckSource {
public:
    explicit TCheckSource(const std::string& fileName) {
        session_.SetSessionName("KovaMeldungenCheck");
        database_.SetSessionName(session_.SessionName());
        database_.SetDatabaseName("CheckSource");
        database_.SetDatabaseFileName(fileName);
        database_.SetPassword(std::string(kDatabasePassword));
        // Organisers check the files as the schools sent them: nothing may change in them.
        database_.SetReadOnly(true);
        database_.SetSilentMode(true);
        for (TABSQuery* query : Queries()) {
            query->SetSessionName(session_.SessionName());
            query->SetDatabaseName(database_.DatabaseName());
        }
        session_.SetActive(true);
    }
    ~TCheckSource() {
        try {
            for (TABSQuery* query : Queries()) query->Close();
            database_.Close();
        } catch (...) {
            // Closing a read-only file has nothing left to lose.
        }
    }
    TCheckSource(const TCheckSource&) = delete;
    TCheckSource& operator=(const TCheckSource&) = delete;

    TCheckResult Check(TCheckProtocol& protocol) {
        const TTalmirMySQLTools tools;
        database_.Open();  // a file that cannot be opened fails here, before any protocol row
        (void)tools.RunSQL(list_, TTalmirMySQLTools::kOpen, RegistrationListStatement(kDefaultListOrder));
        const TCompetitionRules rules(tools, classLookup_, disciplineLookup_, check_);
        const TCheckLimits limits = TCheckLimits::Read([&](std::string_view name, int defaultValue) {
            try {
                if (tools.RunSQL(settings_, TTalmirMySQLTools::kOpen,
                                 "SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"" + AsciiUpper(name) + "\"")) {
                    return static_cast<int>(settings_.FieldByName("VarValue").AsInteger());
                }
            } catch (const std::exception&) {
                // No Settings table or an unreadable value: the default serves.
            }
            return defaultValue;
        });
        TCheckRun run(list_, classes_, tools, rules, limits, protocol);
        return run.Run();
    }

private:
    [[nodiscard]] std::vector<TABSQuery*> Queries() {
        return {&list_, &classes_, &classLookup_, &disciplineLookup_, &check_, &settings_};
    }

    TABSComponentOwner owner_;  // first: it outlives the components it knows
    TABSSession session_{&owner_};
    TABSDatabase database_{&owner_};
    TABSQuery list_{&owner_};
    TABSQuery classes_{&owner_};
    TABSQuery classLookup_{&owner_};
    TABSQuery disciplineLookup_{&owner_};
    TABSQuery check_{&owner_};
    TABSQuery settings_{&owner_};
};

} // namespace

TCheckResult CheckFile(const std::string& fileName, TCheckProtocol& protocol) {
    TCheckSource source(fileName);
    return source.Check(protocol);
}

int RunCheckCommand(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    if (files.empty()) {
        err << "Aufruf: kova-meldungen check DATEI...\n";
        return 2;
    }
    bool unreadable = false;
    bool faulty = false;
    for (const std::string& file : files) {
        TCheckRows protocol;
        try {
            const TCheckResult result = CheckFile(file, protocol);
            faulty = faulty || !result.Passed();
        } catch (const std::exception& error) {
            err << file << ": " << error.what() << "\n";
            unreadable = true;
            continue;
        }
        out << file << "\n";
        for (const TCheckRow& row : protocol.Rows()) out << row.aktion << '\t' << row.ergebnis << '\t' << row.bemerkung << "\n";
    }
    if (unreadable) return 2;
    return faulty ? 1 : 0;
}

} // namespace kova::app
