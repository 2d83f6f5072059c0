#include "import/ImportNames.h"

#include "app/MessageDlg.h"
#include "engine/api/ABSQuery.h"
#include "import/GetNames.h"
#include "model/CompetitionRules.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QTreeWidget>

#include <vector>

namespace kova::app {

namespace {

constexpr const char* kVereinId = "V00000001";

// The question before an import; only its first line tells the two variants apart.
[[nodiscard]] QString ImportQuestion(bool older) {
    const QString first = older ? QStringLiteral("Sie können nun Athleten einer früheren Meldung (2009 und älter) an die")
                                : QStringLiteral("Sie können nun Athleten einer früheren Meldung an die");
    return first + QStringLiteral("\raktuelle Datenbank anfügen. Anschließend werden die Altersklassen\rangepasst.\r"
                                  "Danach müssten Sie noch Altersklasse und Disziplinen\rden Teilnehmern zuordnen.\r\r"
                                  "Fortsetzen?");
}

// Text from the other file as it may stand between double quotes.
[[nodiscard]] std::string Cleaned(const QString& text) {
    return THexBin::TrimBlanks(TTalmirMySQLTools::SanitizeQuotes(text.toStdString()));
}

} // namespace

std::string YearOfBirthLiteral(const QString& year) {
    const std::string trimmed = THexBin::TrimBlanks(year.toStdString());
    if (const std::optional<std::int32_t> value = ParseWholeNumber(trimmed)) return std::to_string(*value);
    return "NULL";
}

bool IsQuotableId(std::string_view id) noexcept {
    return !id.empty() && id.find_first_of(std::string_view("\"\\\0", 3)) == std::string_view::npos;
}

void TakeOverNames(TFormDatabase& list, QTreeWidget& checklist) {
    const TTalmirMySQLTools& tools = DM->TalmirMySQLTools();
    TDM::UpdateKlassen(checklist, TFormGetNames::colAK - 1);

    std::string lastChecked;
    for (int i = 0; i < checklist.topLevelItemCount(); ++i) {
        const QTreeWidgetItem& item = *checklist.topLevelItem(i);
        if (item.checkState(TFormGetNames::colJahrgang) != Qt::Checked) continue;
        const std::string id = item.text(TFormGetNames::colID).toStdString();
        lastChecked = id;
        if (!IsQuotableId(id)) continue;
        if (tools.RunSQL(DM->ABSQH2(), TTalmirMySQLTools::kOpen, "SELECT * FROM Namen WHERE ID=\"" + id + "\";")) {
            continue;
        }
        // Everything that can go wrong with the values is settled before the row exists, so the
        // UPDATE cannot fail behind a row that holds only its ID.
        const std::string statement =
            "UPDATE Namen SET Name=\"" + Cleaned(item.text(TFormGetNames::colName)) + "\",Vorname=\"" +
            Cleaned(item.text(TFormGetNames::colVorname)) +
            "\",Jahrgang=" + YearOfBirthLiteral(item.text(TFormGetNames::colJahrgang)) + ",AK=\"" +
            Cleaned(item.text(TFormGetNames::colAK)) +
            "\",Disziplin1=\"\",Disziplin2=\"\",Disziplin3=\"\",Staffel=\"\",VereinID=\"" + kVereinId +
            "\" WHERE ID=\"" + id + "\";";
        (void)tools.RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, "INSERT INTO Namen (ID) VALUES(\"" + id + "\")");
        (void)tools.RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, statement);
    }
    DM->ABSQH2().Close();
    DM->ABSDB().FlushBuffers();
    list.EmptyCardForm();
    list.ShowAndLocateDatabase(lastChecked);

    // Every listed registration, not only the new ones: a class typed earlier may not fit the
    // current competition year either.
    const TCompetitionRules rules(tools, DM->ABSQAK(), DM->ABSQDisz(), DM->ABSQCheck());
    std::vector<std::string> unfitting;
    TABSQuery& registrations = DM->ABSQMainGrid();
    if (registrations.Active()) {
        registrations.First();
        while (!registrations.Eof()) {
            const std::string id = registrations.FieldByName("ID").AsString();
            if (!rules.IsAKAllowedForYear(registrations.FieldByName("AK").AsString(),
                                          registrations.FieldByName("Jahrgang").AsString()) &&
                IsQuotableId(id)) {
                unfitting.push_back(id);
            }
            registrations.Next();
        }
    }
    for (const std::string& id : unfitting) {
        (void)tools.RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, "UPDATE Namen SET AK=\"\"WHERE ID=\"" + id + "\";");
    }
    DM->ABSDB().FlushBuffers();
    list.EmptyCardForm();
    list.ShowAndLocateDatabase(lastChecked);
}

void RunImport(TFormDatabase& list, bool older) {
    if (FormGetNames == nullptr) return;
    if (MessageDlg(ImportQuestion(older), TMsgDlgType::Information, mbYes | mbNo) != mbYes) return;
    FormGetNames->SetShowHandler(older ? TFormGetNames::TOpenHandler::Older2009
                                       : TFormGetNames::TOpenHandler::CurrentScheme);
    if (!FormGetNames->ShowModal()) return;
    TakeOverNames(list, FormGetNames->LVRight());
}

void TFormDatabase::MeldungimportierenClick() { RunImport(*this, false); }

void TFormDatabase::ltereMeldungen20091Click() { RunImport(*this, true); }

} // namespace kova::app
