#include "model/DModule.h"

#include "model/RegistrationListView.h"

#include <QString>
#include <QTreeWidget>

#include <exception>

namespace kova::app {

TDM* DM = nullptr;

namespace {

[[nodiscard]] std::string UpperName(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toUpper().toStdString();
}

[[nodiscard]] std::string SettingsLookup(std::string_view name) {
    return "SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"" + UpperName(name) + "\"";
}

struct TClassCodeChange {
    std::string_view oldCode;
    std::string_view newCode;
};

constexpr TClassCodeChange kClassCodeChanges[] = {
    {"WK4w", "W41"}, {"WK3w", "W31"}, {"WK2w", "W21"}, {"WK1w", "W11"},
    {"WK4m", "M41"}, {"WK3m", "M31"}, {"WK2m", "M21"}, {"WK1m", "M11"},
};

} // namespace

TDM::TDM() {
    session1_ = std::make_unique<TABSSession>(&owner_);
    session1_->SetName("ABSSession1");
    session1_->SetSessionName(std::string(kWorkingSessionName));
    session2_ = std::make_unique<TABSSession>(&owner_);
    session2_->SetName("ABSSession2");
    session2_->SetSessionName(std::string(kTemplateSessionName));

    db_ = std::make_unique<TABSDatabase>(&owner_);
    SetUpDatabase(*db_, "ABSDB", kWorkingSessionName);
    dbTemplate_ = std::make_unique<TABSDatabase>(&owner_);
    SetUpDatabase(*dbTemplate_, "ABSDBTemplate", kTemplateSessionName);

    qMainGrid_ = MakeQuery("ABSQMainGrid", kWorkingSessionName);
    qH1_ = MakeQuery("ABSQH1", kWorkingSessionName);
    qH2_ = MakeQuery("ABSQH2", kWorkingSessionName);
    qCard_ = MakeQuery("ABSQCard", kWorkingSessionName);
    qDisz_ = MakeQuery("ABSQDisz", kWorkingSessionName);
    qAK_ = MakeQuery("ABSQAK", kWorkingSessionName);
    qCheck_ = MakeQuery("ABSQCheck", kWorkingSessionName);
    qSettings_ = MakeQuery("ABSQSettings", kWorkingSessionName);
    qTemplate_ = MakeQuery("ABSQTemplate", kTemplateSessionName);
    qTGrid_ = MakeQuery("ABSQTGrid", kTemplateSessionName);
    qMainGrid_->Events().AfterScroll = [this](TABSDataSet& dataSet) { ABSQMainGridAfterScroll(dataSet); };

    dsMainGrid_ = std::make_unique<TABSQueryModel>(*qMainGrid_);
    dsMainGrid_->setObjectName(QStringLiteral("DSMainGrid"));
    dsTGrid_ = std::make_unique<TABSQueryModel>(*qTGrid_);
    dsTGrid_->setObjectName(QStringLiteral("DSTGrid"));

    const QString filter = QString::fromUtf8(kDatabaseFilter.data(), static_cast<qsizetype>(kDatabaseFilter.size()));
    for (TFileDialog* dialog : {&open_, &save_, &saveTemplate_}) dialog->SetFilter(filter);

    // Active as designed; the start of the program deactivates them again so that it begins
    // with nothing open.
    session1_->SetActive(true);
    session2_->SetActive(true);
}

TDM::~TDM() {
    // Queries first, then the databases' connections, before the sessions go.
    for (TABSQuery* query : {qMainGrid_.get(), qH1_.get(), qH2_.get(), qCard_.get(), qDisz_.get(), qAK_.get(),
                             qCheck_.get(), qSettings_.get(), qTemplate_.get(), qTGrid_.get()}) {
        query->Events().AfterScroll = nullptr;
    }
    try {
        CloseDatabases();
    } catch (const std::exception&) {
        // Closing at the end of the run has nobody left to tell.
    }
}

void TDM::SetUpDatabase(TABSDatabase& database, const char* name, std::string_view session) {
    database.SetName(name);
    database.SetDatabaseName(std::string(kDatabaseAlias));
    database.SetSessionName(std::string(session));
    database.SetPassword(std::string(kDatabasePassword));
    database.SetExclusive(false);
    database.SetMultiUser(false);
    database.SetKeepConnection(false);
    database.SetMaxConnections(500);
}

std::unique_ptr<TABSQuery> TDM::MakeQuery(const char* name, std::string_view session) {
    auto query = std::make_unique<TABSQuery>(&owner_);
    query->SetName(name);
    query->SetDatabaseName(std::string(kDatabaseAlias));
    query->SetSessionName(std::string(session));
    return query;
}

void TDM::ResetSessions() {
    session1_->SetActive(false);
    session2_->SetActive(false);
    db_->Close();
    dbTemplate_->Close();
}

void TDM::CloseDatabases() {
    if (db_->Connected()) db_->Close();
    if (dbTemplate_->Connected()) dbTemplate_->Close();
}

int TDM::GetIntValueFromSettings(std::string_view name, int defaultValue) {
    try {
        if (mySqlTools_.RunSQL(*qSettings_, TTalmirMySQLTools::kOpen, SettingsLookup(name))) {
            return qSettings_->FieldByName("VarValue").AsInteger();
        }
    } catch (const std::exception&) {
        // No Settings table, or an unreadable value: the default serves.
    }
    return defaultValue;
}

void TDM::SetIntValueToSettings(std::string_view name, int value) {
    try {
        const std::string number = std::to_string(value);
        if (mySqlTools_.RunSQL(*qSettings_, TTalmirMySQLTools::kOpen, SettingsLookup(name))) {
            (void)mySqlTools_.RunSQL(*qSettings_, TTalmirMySQLTools::kExecute,
                                     "UPDATE Settings SET VarValue=\"" + number + "\" WHERE UPPER(VarName) = \"" +
                                         UpperName(name) + "\";");
        } else {
            (void)mySqlTools_.RunSQL(*qSettings_, TTalmirMySQLTools::kExecute,
                                     "INSERT INTO Settings (VarName, VarValue)  VALUES(\"" + std::string(name) + "\", \"" +
                                         number + "\");");
        }
        db_->FlushBuffers();
    } catch (const std::exception&) {
        // A limit that cannot be written is simply not written.
    }
}

void TDM::UpdateDatabase() {
    (void)mySqlTools_.RunSQL(*qSettings_, TTalmirMySQLTools::kExecute,
                             "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));");
    for (const TSettingDefault& setting : kSettingDefaults) {
        if (GetIntValueFromSettings(setting.name, 0) == 0) SetIntValueToSettings(setting.name, setting.value);
    }
}

std::string_view TDM::NewClassCode(std::string_view code) noexcept {
    for (const TClassCodeChange& change : kClassCodeChanges) {
        if (change.oldCode == code) return change.newCode;
    }
    return code;
}

void TDM::UpdateKlassen(QTreeWidget& listView, int column) {
    if (column < 0) return;
    // Sub-item k is tree column k + 1: the first column is the item's caption.
    const int treeColumn = column + 1;
    for (int i = 0; i < listView.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = listView.topLevelItem(i);
        const int subItemCount = item->columnCount() - 1;
        if (subItemCount <= column) continue;
        const std::string text = item->text(treeColumn).toStdString();
        const std::string_view replacement = NewClassCode(text);
        if (replacement != text) {
            item->setText(treeColumn, QString::fromUtf8(replacement.data(), static_cast<qsizetype>(replacement.size())));
        }
    }
}

void TDM::ABSQMainGridAfterScroll(TABSDataSet& dataSet) {
    if (registrationList_ == nullptr || !registrationList_->ListVisible()) return;
    registrationList_->FillCardForm(dataSet.FieldByName("ID").AsString());
    if (qMainGrid_->Active()) {
        registrationList_->SetRecordCountText(QString::number(qMainGrid_->RecordCount()) + QStringLiteral(" Einträge"));
    }
}

TCloseWorkingDatabase::~TCloseWorkingDatabase() {
    try {
        if (DM != nullptr && DM->ABSDB().Connected()) DM->ABSDB().Close();
    } catch (const std::exception&) {
        // Closing only releases the file; nothing is left to report at this point.
    }
}

} // namespace kova::app
