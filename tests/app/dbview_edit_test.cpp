// The registration list window's editing commands through the entry form: new, edit, copy and
// erase, each confirmed and cancelled; the write-back statement; the year of birth that may not
// go into it; and hostile names stored cleaned without touching other rows.
#include "dbview_fixture.h"

#include <QTableView>

namespace kova::app::test {
namespace {

using TRow = std::vector<std::string>;

class Editing : public ListWindow {
protected:
    // The entry form will be confirmed with these inputs.
    void ConfirmWith(const QString& name, const QString& firstName, const QString& year, const QString& className,
                     const QString& d1, const QString& d2, const QString& d3, const QString& relay) {
        answerer_->ok = true;
        answerer_->fill = [=](TFormMeldung& form) {
            form.EdName().setText(name);
            form.EdVorname().setText(firstName);
            form.EdJahrgang().setText(year);
            Choose(form.CBAK(), className);
            Choose(form.CBDisz1(), d1);
            Choose(form.CBDisz2(), d2);
            Choose(form.CBDisz3(), d3);
            Choose(form.CBStaffel(), relay);
        };
    }
    void Cancel() {
        answerer_->ok = false;
        answerer_->fill = nullptr;
    }
    // The registrations but `id`.
    std::map<std::string, TRow> Others(const std::string& id) {
        auto all = Registrations();
        all.erase(id);
        return all;
    }
    // The registration that is in `after` but not in `before`.
    static std::string Added(const std::map<std::string, TRow>& before, const std::map<std::string, TRow>& after) {
        std::string added;
        for (const auto& [id, row] : after) {
            if (before.count(id) == 0) {
                EXPECT_TRUE(added.empty()) << "more than one new row";
                added = id;
            }
        }
        return added;
    }
};

// ---- New ----

TEST_F(Editing, NewConfirmedStoresCodesAndBecomesCurrent) {
    const auto before = Registrations();
    ConfirmWith("Berg", "Lena", "2000", QStringLiteral("Mädchen 10/11"), "Ballwurf", "Sprint 50 m", "-",
                "Staffel 4x50 m");
    W().SBNameNewClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    const auto after = Registrations();
    const std::string id = Added(before, after);
    ASSERT_EQ(id.size(), 9U);
    EXPECT_EQ(id[0], 'N');
    EXPECT_EQ(answerer_->showings[0].id.toStdString(), id);  // the form was filled from the new card
    EXPECT_TRUE(answerer_->showings[0].inputs.name.isEmpty());
    EXPECT_EQ(after.at(id), (TRow{id, "Berg", "Lena", "2000", "W41", "BAL", "SPR", "-", "STA", "V00000001"}));
    EXPECT_EQ(Card("LbId").toStdString(), id);
    EXPECT_EQ(GridCurrentId(), id);
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("5 Einträge"));
    // The statement as it went to the engine: no blanks after the commas, the year unquoted.
    EXPECT_EQ(LastH1Statement(), "UPDATE Namen SET Name=\"Berg\",Vorname=\"Lena\",Jahrgang=2000,AK=\"W41\","
                                 "Disziplin1=\"BAL\",Disziplin2=\"SPR\",Disziplin3=\"-\",Staffel=\"STA\",VereinID=\"V00000001\" WHERE ID=\"" + id + "\";");
}

TEST_F(Editing, NewCancelledLeavesNoRowAndMakesTheFirstRowCurrent) {
    SelectRow("N11678950");
    const auto before = Registrations();
    Cancel();
    W().SBNameNewClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    EXPECT_EQ(Registrations(), before);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678801"));
    EXPECT_EQ(GridCurrentId(), "N11678801");
    EXPECT_EQ(LastH1Statement(), "DELETE FROM Namen WHERE ID=\"" + answerer_->showings[0].id.toStdString() + "\";");
}

// ---- Edit ----

TEST_F(Editing, EditConfirmedChangesThatRowOnlyAndKeepsItCurrent) {
    SelectRow("N11678868");
    const auto others = Others("N11678868");
    ConfirmWith("Maier-Lang", "Eva Marie", "2001", "Jungen 12/13", "Weitsprung", "Ballwurf", "Sprint 50 m", "-");
    W().SBNameEditClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    EXPECT_EQ(answerer_->showings[0].id, QStringLiteral("N11678868"));
    EXPECT_EQ(answerer_->showings[0].inputs.name, QStringLiteral("Maier"));
    const TRow row = Registrations().at("N11678868");
    EXPECT_EQ(TRow(row.begin() + 1, row.begin() + 7),
              (TRow{"Maier-Lang", "Eva Marie", "2001", "M31", "WEI", "BAL"}));
    EXPECT_EQ(Others("N11678868"), others);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678868"));
    EXPECT_EQ(Card("LbNameVorname"), QStringLiteral("Maier-Lang, Eva Marie"));
    EXPECT_EQ(GridCurrentId(), "N11678868");
}

TEST_F(Editing, EditCancelledChangesNothingAndKeepsTheRegistrationCurrent) {
    SelectRow("N11678902");
    const auto before = Registrations();
    Cancel();
    W().SBNameEditClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    EXPECT_EQ(Registrations(), before);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678902"));
    EXPECT_EQ(GridCurrentId(), "N11678902");
}

// ---- Copy and edit ----

TEST_F(Editing, CopyOpensWithTheCopiedCardAndAddsARegistration) {
    SelectRow("N11678902");
    const auto before = Registrations();
    answerer_->ok = true;  // confirm what the form was filled with, changing only the year
    answerer_->fill = [](TFormMeldung& form) { form.EdJahrgang().setText("2001"); };
    W().SBNameCopyEditClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    const TFormMeldung::TInputs& shown = answerer_->showings[0].inputs;
    EXPECT_EQ(shown.name, QStringLiteral("Kopie: Maier"));
    EXPECT_EQ(shown.firstName, QStringLiteral("Anna"));
    EXPECT_EQ(shown.year, QStringLiteral("2000"));
    EXPECT_EQ(shown.className, QStringLiteral("Mädchen 10/11"));
    EXPECT_EQ(shown.discipline1, QStringLiteral("Ballwurf"));
    EXPECT_EQ(shown.relay, QStringLiteral("Staffel 4x50 m"));

    const auto after = Registrations();
    const std::string id = Added(before, after);
    ASSERT_FALSE(id.empty());
    EXPECT_NE(id, "N11678902");
    EXPECT_EQ(answerer_->showings[0].id.toStdString(), id);
    const TRow& copy = after.at(id);
    EXPECT_EQ(TRow(copy.begin() + 1, copy.begin() + 6), (TRow{"Kopie: Maier", "Anna", "2001", "W41", "BAL"}));
    EXPECT_EQ(copy[8], "STA");
    EXPECT_EQ(copy[9], "V00000001");
    EXPECT_EQ(Others(id), before);  // the original is untouched
    EXPECT_EQ(Card("LbId").toStdString(), id);
    EXPECT_EQ(GridCurrentId(), id);
}

TEST_F(Editing, CopyCancelledLeavesNoRowAndMakesTheFirstRowCurrent) {
    SelectRow("N11678868");
    const auto before = Registrations();
    Cancel();
    W().SBNameCopyEditClick();
    ASSERT_EQ(answerer_->showings.size(), 1U);
    EXPECT_EQ(answerer_->showings[0].inputs.name, QStringLiteral("Kopie: Maier"));
    EXPECT_EQ(Registrations(), before);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678801"));
    EXPECT_EQ(GridCurrentId(), "N11678801");
}

// ---- Erase ----

TEST_F(Editing, EraseAsksWithTheCardAndDeletesOnlyOnYes) {
    SelectRow("N11678801");
    const auto before = Registrations();
    answer_ = mbNo;
    W().SBEraseClick();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Confirmation);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Bestätigung"));
    EXPECT_EQ(messages_[0].buttons, static_cast<unsigned>(mbYes | mbNo));
    EXPECT_EQ(messages_[0].text, QStringLiteral("Soll der Eintrag N11678801 mit den Daten\r\rAlbers, Tom\r1999\r"
                                                "Jungen 12/13\r\rgelöscht werden?"));
    EXPECT_EQ(Registrations(), before);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678801"));

    answer_ = mbYes;
    SelectRow("N11678902");
    W().SBEraseClick();
    auto expected = before;
    expected.erase("N11678902");
    EXPECT_EQ(Registrations(), expected);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678801"));  // the first row
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("3 Einträge"));
}

// ---- The year of birth ----

TEST_F(Editing, AYearThatIsNoWholeNumberIsNeverWritten) {
    // Texts the year field holds (at most four characters) that are no whole number.
    const QString years[] = {"", "   ", "abc", "19 9", "1,AK", "1e3", "20.1", "-", "0x1F", "1\"", "--1", "1-2"};
    for (const QString& year : years) {
        SCOPED_TRACE(year.toStdString());
        // Edit: the row stays as it was.
        SelectRow("N11678868");
        const auto before = Registrations();
        messages_.clear();
        ConfirmWith("Neu", "Name", year, QStringLiteral("Mädchen 10/11"), "Ballwurf", "-", "-", "-");
        W().SBNameEditClick();
        ASSERT_EQ(messages_.size(), 1U);
        EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
        EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("Jahrgang")));
        EXPECT_EQ(Registrations(), before);
        EXPECT_EQ(Card("LbId"), QStringLiteral("N11678868"));

        // New: no row is left behind.
        messages_.clear();
        W().SBNameNewClick();
        EXPECT_EQ(messages_.size(), 1U);
        EXPECT_EQ(Registrations(), before);
    }
}

TEST_F(Editing, WholeYearsAreWrittenAsNumbers) {
    const std::pair<QString, std::string> years[] = {{"2003", "2003"}, {" 12 ", "12"}, {"0", "0"}, {"-5", "-5"}};
    for (const auto& [typed, stored] : years) {
        SelectRow("N11678950");
        ConfirmWith("Zeller", "Bea", typed, QStringLiteral("Mädchen 10/11"), "-", "-", "-", "-");
        W().SBNameEditClick();
        EXPECT_EQ(Registrations().at("N11678950")[3], stored) << typed.toStdString();
    }
    EXPECT_TRUE(messages_.empty());
}

// ---- Hostile names ----

TEST_F(Editing, HostileNamesAreStoredCleanedAndChangeNoOtherRow) {
    struct Case {
        QString typed;
        QString stored;  // before the field's limit cuts it
    };
    const Case cases[] = {
        {QStringLiteral("O\"Brien"), QStringLiteral("O'Brien")},
        {QStringLiteral("  Back\\slash\t"), QStringLiteral("Backslash")},
        {QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\""), QStringLiteral("x', Jahrgang=1900 WHERE ID<>'")},
        {QStringLiteral("a and b from c where"), QStringLiteral("a and b from c where")},
        {QString::fromUtf16(u"Nu\u0000ll", 5), QStringLiteral("Null")},
        {QStringLiteral("Müßig Äöü"), QStringLiteral("Müßig Äöü")},
        {QStringLiteral("\";DELETE FROM Namen"), QStringLiteral("';DELETE FROM Namen")},
        {QString(500, QChar(u'W')), QString(500, QChar(u'W'))},
    };
    for (const Case& c : cases) {
        SelectRow("N11678902");
        const auto others = Others("N11678902");
        ConfirmWith(c.typed, c.typed, "2000", QStringLiteral("Mädchen 10/11"), "Ballwurf", "-", "-", "-");
        W().SBNameEditClick();
        const int nameLimit = FormMeldung->EdName().maxLength();
        const int firstNameLimit = FormMeldung->EdVorname().maxLength();
        SCOPED_TRACE(c.typed.left(40).toStdString());
        const TRow row = Registrations().at("N11678902");
        EXPECT_EQ(QString::fromStdString(row[1]), c.stored.left(nameLimit));
        EXPECT_EQ(QString::fromStdString(row[2]), c.stored.left(firstNameLimit));
        EXPECT_EQ(row[3], "2000");
        EXPECT_EQ(Others("N11678902"), others);
        EXPECT_EQ(Card("LbName"), c.stored.left(nameLimit));
    }
    EXPECT_TRUE(messages_.empty());
}

// A failing write-back of a new registration removes the row made for it before the error is
// shown.
TEST_F(Editing, AFailedWriteBackOfANewRegistrationLeavesNoRow) {
    const auto before = Registrations();
    // Text without a single-byte form is refused by the engine.
    ConfirmWith(QString::fromUtf16(u"\u4E2D"), "Li", "2000", QStringLiteral("Mädchen 10/11"), "-", "-", "-", "-");
    RunGuarded([this] { W().SBNameNewClick(); });
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("Native error")));
    EXPECT_EQ(Registrations(), before);
}

} // namespace
} // namespace kova::app::test
