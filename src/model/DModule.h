// The data module: every database object of the application in one place.
//
// Two engine sessions keep two databases of the same name "MyDB" apart: "DBAccess" holds the
// working database (the open registration database, or the template being made), "Template" a
// second one (each template while the catalogue is built, the earlier database of a take-over).
// All queries name "MyDB" in one of the two sessions. Both databases use the application's fixed
// password and do not keep their connection, so a file is closed whenever its last query closes.
//
// The module also keeps the named limits of the Settings table, maps the age-class codes of
// earlier seasons to the current ones, and keeps the registration list window's card and record
// count in step with the list. It shows no messages itself.
#pragma once

#include "app/FileDialog.h"
#include "engine/api/ABSMain.h"
#include "model/GenSerials.h"
#include "model/HexBin.h"
#include "model/QueryTableModel.h"
#include "model/TalmirMySQLTools.h"
#include "model/TalmirTools.h"

#include <QObject>

#include <memory>
#include <string>
#include <string_view>

class QTreeWidget;

namespace kova::app {

class TRegistrationListView;

// The password of every template and registration database.
inline constexpr std::string_view kDatabasePassword = "quorbel";
inline constexpr std::string_view kDatabaseAlias = "MyDB";
inline constexpr std::string_view kWorkingSessionName = "DBAccess";
inline constexpr std::string_view kTemplateSessionName = "Template";
// The filter of the three file dialogs as designed.
inline constexpr std::string_view kDatabaseFilter = "Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*";

// One limit of the Settings table with the value a database gets when it has none.
struct TSettingDefault {
    std::string_view name;
    int value;
};
inline constexpr TSettingDefault kSettingDefaults[] = {
    {"MaxEinzelDiszPerName", 3},       {"MaxStaffelPerName", 1},     {"MaxEinzelPlusStaffelPerName", 3},
    {"MaxNamenPerAKMitDisz", 12},      {"MaxNamenPerAKMitStaffel", 8},
};

class TDM final : public QObject {
public:
    TDM();
    ~TDM() override;
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    // ---- Sessions and databases ----
    [[nodiscard]] TABSSession& ABSSession1() noexcept { return *session1_; }
    [[nodiscard]] TABSSession& ABSSession2() noexcept { return *session2_; }
    [[nodiscard]] TABSDatabase& ABSDB() noexcept { return *db_; }
    [[nodiscard]] TABSDatabase& ABSDBTemplate() noexcept { return *dbTemplate_; }

    // ---- Queries ----
    [[nodiscard]] TABSQuery& ABSQMainGrid() noexcept { return *qMainGrid_; }
    [[nodiscard]] TABSQuery& ABSQH1() noexcept { return *qH1_; }
    [[nodiscard]] TABSQuery& ABSQH2() noexcept { return *qH2_; }
    [[nodiscard]] TABSQuery& ABSQCard() noexcept { return *qCard_; }
    [[nodiscard]] TABSQuery& ABSQDisz() noexcept { return *qDisz_; }
    [[nodiscard]] TABSQuery& ABSQAK() noexcept { return *qAK_; }
    [[nodiscard]] TABSQuery& ABSQCheck() noexcept { return *qCheck_; }
    [[nodiscard]] TABSQuery& ABSQSettings() noexcept { return *qSettings_; }
    [[nodiscard]] TABSQuery& ABSQTemplate() noexcept { return *qTemplate_; }
    [[nodiscard]] TABSQuery& ABSQTGrid() noexcept { return *qTGrid_; }

    // ---- Data sources of the grids ----
    [[nodiscard]] TABSQueryModel& DSMainGrid() noexcept { return *dsMainGrid_; }
    [[nodiscard]] TABSQueryModel& DSTGrid() noexcept { return *dsTGrid_; }

    // ---- File dialogs ----
    [[nodiscard]] TFileDialog& Open() noexcept { return open_; }
    [[nodiscard]] TFileDialog& Save() noexcept { return save_; }
    [[nodiscard]] TFileDialog& SaveTemplate() noexcept { return saveTemplate_; }

    // ---- Helper components ----
    [[nodiscard]] const TTalmirMySQLTools& TalmirMySQLTools() const noexcept { return mySqlTools_; }
    [[nodiscard]] const TGenSerials& GenSerials() const noexcept { return genSerials_; }
    [[nodiscard]] const TTalmirTools& TalmirTools() const noexcept { return talmirTools_; }
    [[nodiscard]] const THexBin& HexBin() const noexcept { return hexBin_; }

    // The window whose card follows ABSQMainGrid (not owned; nullptr for none).
    void SetRegistrationList(TRegistrationListView* view) noexcept { registrationList_ = view; }

    // ---- Operations ----
    // Makes both sessions inactive, which disconnects both databases: nothing is open.
    void ResetSessions();
    // Closes both databases where connected.
    void CloseDatabases();

    // The limit `name` (any letter case) from the Settings table, read as an integer (rounded,
    // halves to even); `defaultValue` when there is no such row or anything fails.
    [[nodiscard]] int GetIntValueFromSettings(std::string_view name, int defaultValue);
    // Updates the limit's row (found ignoring case) or adds one with the name as spelled, then
    // flushes the working database. Failures are ignored.
    void SetIntValueToSettings(std::string_view name, int value);

    // The settings part of the schema upgrade: creates Settings when missing and gives every
    // limit that reads as 0 (or not at all) its default. Errors of creating the table pass on.
    void UpdateDatabase();

    // Replaces the age-class codes of earlier seasons by the current ones in sub-item `column`
    // (0-based, the item's caption not counted) of every item that has such a sub-item.
    static void UpdateKlassen(QTreeWidget& listView, int column);
    // The current code of an old age-class code; the text itself when it is none (exact case).
    [[nodiscard]] static std::string_view NewClassCode(std::string_view code) noexcept;

    // After every move of ABSQMainGrid: while the list window is shown, its card follows the
    // current row and its status bar shows the number of rows.
    void ABSQMainGridAfterScroll(TABSDataSet& dataSet);

private:
    [[nodiscard]] std::unique_ptr<TABSQuery> MakeQuery(const char* name, std::string_view session);
    void SetUpDatabase(TABSDatabase& database, const char* name, std::string_view session);

    TABSComponentOwner owner_;  // first member: it outlives the components it knows
    std::unique_ptr<TABSSession> session1_;
    std::unique_ptr<TABSSession> session2_;
    std::unique_ptr<TABSDatabase> db_;
    std::unique_ptr<TABSDatabase> dbTemplate_;
    std::unique_ptr<TABSQuery> qMainGrid_;
    std::unique_ptr<TABSQuery> qH1_;
    std::unique_ptr<TABSQuery> qH2_;
    std::unique_ptr<TABSQuery> qCard_;
    std::unique_ptr<TABSQuery> qDisz_;
    std::unique_ptr<TABSQuery> qAK_;
    std::unique_ptr<TABSQuery> qCheck_;
    std::unique_ptr<TABSQuery> qSettings_;
    std::unique_ptr<TABSQuery> qTemplate_;
    std::unique_ptr<TABSQuery> qTGrid_;
    // After the queries: a model unhooks itself from its query when it goes.
    std::unique_ptr<TABSQueryModel> dsMainGrid_;
    std::unique_ptr<TABSQueryModel> dsTGrid_;

    TFileDialog open_{QStringLiteral("Open"), TFileDialogKind::Open};
    TFileDialog save_{QStringLiteral("Save"), TFileDialogKind::Save};
    TFileDialog saveTemplate_{QStringLiteral("SaveTemplate"), TFileDialogKind::Save};

    TTalmirMySQLTools mySqlTools_;
    TGenSerials genSerials_;
    TTalmirTools talmirTools_;
    THexBin hexBin_;

    TRegistrationListView* registrationList_ = nullptr;
};

// The data module of the running program (created once at start).
extern TDM* DM;

// Closes the data module's working database when a command ends, however it ends, so the rest
// of the program finds it closed.
class TCloseWorkingDatabase {
public:
    TCloseWorkingDatabase() = default;
    TCloseWorkingDatabase(const TCloseWorkingDatabase&) = delete;
    TCloseWorkingDatabase& operator=(const TCloseWorkingDatabase&) = delete;
    ~TCloseWorkingDatabase();
};

} // namespace kova::app
