// The rebuild of a database file: every table of a damaged (or old) file copied into a new file.
//
//   TABSRepairProgress   where a rebuild reports: the database's BeforeRepair / OnRepairProgress /
//                        AfterRepair, or, with no BeforeRepair handler and SilentMode off, the
//                        host's wait window with "Repairing Database...".
//   TABSDatabaseRepair   the rebuild itself (TABSDatabase::RepairDatabase runs it).
//   ReplaceFileDurably   puts the finished new file in the old one's place.
//
// The damaged file is only read. Mending a table in repair mode writes to the file it mends, and
// every commit there marks the header consistent again; done on the damaged file, a rebuild that
// stopped half-way (abort, crash, full disk) would leave a file that no longer says it needs
// repair while some of its tables were never mended. So the rebuild holds the damaged file open
// exclusively (nobody else changes it meanwhile), mends a byte copy of it ("<new file>.src") and
// copies the tables from that copy into the new file. The copy is removed afterwards in every
// case; the damaged file stays as it was until the caller swaps the finished file in.
#pragma once

#include "engine/api/ABSHostHooks.h"

#include <memory>
#include <string>

namespace kova {

class TABSDatabase;
class TABSSession;

class TABSRepairProgress {
public:
    // Runs BeforeRepair, or begins the wait window (see above).
    explicit TABSRepairProgress(TABSDatabase& database);
    // Ends the wait window or runs AfterRepair when Finish was not reached (the errors of
    // AfterRepair are dropped then: an error is already on its way).
    ~TABSRepairProgress();
    TABSRepairProgress(const TABSRepairProgress&) = delete;
    TABSRepairProgress& operator=(const TABSRepairProgress&) = delete;

    // Reports `percent` (0..100); false when the handler or the wait window's Abort asks to stop.
    [[nodiscard]] bool Report(int percent);
    // Runs AfterRepair or ends the wait window; its errors pass on.
    void Finish();

private:
    TABSDatabase& database_;
    std::unique_ptr<TABSWaitScope> wait_;
    bool finished_ = false;
};

class TABSDatabaseRepair {
public:
    // The names of the byte copy that is mended and of the database objects a rebuild makes
    // (a random number below 1 000 000 follows the two prefixes).
    static constexpr std::string_view kSourceCopySuffix = ".src";
    static constexpr std::string_view kTargetDatabasePrefix = "TempDatabase";
    static constexpr std::string_view kSourceDatabasePrefix = "RepairSource";

    // REQUIRES: `database` is disconnected, has a name and is attached to `session`.
    TABSDatabaseRepair(TABSDatabase& database, TABSSession& session, TABSRepairProgress& progress);

    // Rebuilds the file of the database into `newFileName` (an existing file of that name is
    // replaced) and appends every problem met to `log`: what repair mode mended or dropped in each
    // table, rows and fields the copy could not take over, tables that could not be read at all.
    // False when the progress asked to stop ("Terminated by User." is in the log then). Errors
    // that make a rebuild impossible (the old file cannot be opened, the new one cannot be
    // created) pass on. The database is disconnected again afterwards in every case.
    [[nodiscard]] bool Run(const std::string& newFileName, std::string& log);

private:
    // Mends, checks and copies one table; false when the copy was stopped.
    [[nodiscard]] bool RebuildTable(TABSDatabase& source, const std::string& tableName,
                                    const std::string& newFileName, int progressFrom, int progressTo,
                                    std::string& log);

    TABSDatabase& database_;
    TABSSession& session_;
    TABSRepairProgress& progress_;
};

// Replaces `target` by `newFile` so that a crash at any moment leaves one complete file under
// the name `target`: the new file's data is forced to disk, renamed over the target in one step,
// and the folder's entry is forced to disk as well. Returns an empty text, or what failed.
[[nodiscard]] std::string ReplaceFileDurably(const std::string& newFile, const std::string& target);

} // namespace kova
