#include "output/QUVCommand.h"

#include "check/CheckCommand.h"
#include "engine/api/ABSMain.h"
#include "model/DModule.h"
#include "model/TalmirMySQLTools.h"
#include "output/QUVWriter.h"

#include <exception>
#include <iterator>
#include <ostream>

namespace kova::app {
namespace {

constexpr const char* kUsage =
    "Aufruf: kova-meldungen quv DATEI... -o AUSGABE\n"
    "        kova-meldungen check DATEI...\n";

// A session of its own with one database and the two queries of the export, so the program
// never meets the application's sessions when both live in one process.
class TQUVSource {
public:
    explicit TQUVSource(const std::string& fileName) {
        session_.SetSessionName("KovaMeldungenQUV");
        database_.SetSessionName(session_.SessionName());
        database_.SetDatabaseName("QUVSource");
        database_.SetDatabaseFileName(fileName);
        database_.SetPassword(std::string(kDatabasePassword));
        // The organiser reads files the schools sent; reading must leave them as they came.
        database_.SetReadOnly(true);
        database_.SetSilentMode(true);
        for (TABSQuery* query : {&source_, &lookup_}) {
            query->SetSessionName(session_.SessionName());
            query->SetDatabaseName(database_.DatabaseName());
        }
        session_.SetActive(true);
    }
    ~TQUVSource() {
        try {
            source_.Close();
            lookup_.Close();
            database_.Close();
        } catch (...) {
            // Closing a read-only file has nothing left to lose.
        }
    }
    TQUVSource(const TQUVSource&) = delete;
    TQUVSource& operator=(const TQUVSource&) = delete;

    [[nodiscard]] std::vector<std::string> Lines() {
        const TTalmirMySQLTools tools;
        TQUVWriter writer(source_, lookup_, [&tools](TABSQuery& query, const std::string& statement) {
            return tools.RunSQL(query, TTalmirMySQLTools::kOpen, statement);
        });
        return writer.BuildLines();
    }

private:
    TABSComponentOwner owner_;  // first: it outlives the components it knows
    TABSSession session_{&owner_};
    TABSDatabase database_{&owner_};
    TABSQuery source_{&owner_};
    TABSQuery lookup_{&owner_};
};

int RunQuv(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    std::string output;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-o" || argument == "--output") {
            if (i + 1 >= arguments.size() || !output.empty()) {
                err << kUsage;
                return 2;
            }
            output = arguments[++i];
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty() || output.empty()) {
        err << kUsage;
        return 2;
    }
    std::vector<std::string> lines;
    for (const std::string& file : files) {
        try {
            std::vector<std::string> fileLines = QUVLinesOfFile(file);
            lines.insert(lines.end(), std::make_move_iterator(fileLines.begin()), std::make_move_iterator(fileLines.end()));
        } catch (const std::exception& error) {
            err << file << ": " << error.what() << "\n";
            return 1;
        }
    }
    const std::string fileName = QUVFileName(output);
    try {
        WriteQUVFile(fileName, lines);
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return 1;
    }
    out << lines.size() << " Meldungen gespeichert auf: " << fileName << "\n";
    return 0;
}

} // namespace

std::vector<std::string> QUVLinesOfFile(const std::string& fileName) {
    TQUVSource source(fileName);
    return source.Lines();
}

int RunKovaMeldungen(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.empty()) {
        err << kUsage;
        return 2;
    }
    if (arguments.front() == "quv") return RunQuv(arguments, out, err);
    if (arguments.front() == "check") return RunCheckCommand({arguments.begin() + 1, arguments.end()}, out, err);
    err << kUsage;
    return 2;
}

} // namespace kova::app
