// The registration list window on a sample registration database, shown offscreen, with the
// entry form answered by the test and every message box recorded and answered.
#pragma once

#include "app_fixture.h"
#include "registration_db.h"

#include "app/StatusPanels.h"
#include "model/DModule.h"
#include "registrations/DBView.h"
#include "registrations/ErorList.h"
#include "registrations/Meldung.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kova::app::test {

// Answers the entry form each time it is shown: records what it was filled with, lets the test
// change its inputs, then closes it with OK or Cancel.
class EntryFormAnswerer final : public QObject {
public:
    struct TShowing {
        QString id;
        TFormMeldung::TInputs inputs;  // as the list window filled the form
    };

    explicit EntryFormAnswerer(TFormMeldung& form) : form_(form) { form_.installEventFilter(this); }
    ~EntryFormAnswerer() override { form_.removeEventFilter(this); }

    // What the next showings do; without a plan the form is cancelled.
    std::function<void(TFormMeldung&)> fill;
    bool ok = false;
    std::vector<TShowing> showings;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &form_ && event->type() == QEvent::Show) {
            // Answer once the form's own modal loop runs.
            QTimer::singleShot(0, this, [this] {
                showings.push_back({form_.LbId().text(), form_.Inputs()});
                if (fill) fill(form_);
                if (ok) {
                    form_.accept();
                } else {
                    form_.reject();
                }
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TFormMeldung& form_;
};

// Selects the item with this text in a combo box of the entry form (or types it when the box is
// editable); fails the test when there is no such item.
inline void Choose(QComboBox& box, const QString& text) {
    const int index = box.findText(text);
    if (index >= 0) {
        box.setCurrentIndex(index);
    } else if (box.isEditable()) {
        box.setEditText(text);
    } else {
        ADD_FAILURE() << "no item " << text.toStdString() << " in " << box.objectName().toStdString();
    }
}

// The sample database with the "no discipline" entry that the templates carry.
inline std::vector<std::string> SampleSchema() {
    std::vector<std::string> statements = FullSchema();
    statements.push_back("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"-\", 0, \"-\", \"-\")");
    return statements;
}

class ListWindow : public AppFixture {
protected:
    void SetUp() override { Open(SampleSchema()); }

    void TearDown() override {
        if (FormDatabase != nullptr) FormDatabase->hide();
        answerer_.reset();
        if (FormMeldung == ownMeldung_.get()) FormMeldung = nullptr;
        if (FormErrors == ownErrors_.get()) FormErrors = nullptr;
        ownMeldung_.reset();
        ownErrors_.reset();
        AppFixture::TearDown();
    }

    // Makes a database from `statements`, presents it as the main window does and shows the
    // list window (not modally, so the test goes on).
    void Open(const std::vector<std::string>& statements) {
        path_ = folder_.filePath(QStringLiteral("schule%1.abs").arg(++opened_));
        MakeDatabase(path_.toStdString(), statements);
        Start({});
        // The start-up open would show the presented file modally once its timer fires inside
        // one of the test's event loops; the test presents the file itself.
        if (FormMain->StartTimer() != nullptr) FormMain->StartTimer()->stop();
        (void)SetMessageHandler([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return answer_;
        });
        // The application wires the entry form and the error list; a test makes its own when
        // the start-up does not.
        if (FormErrors == nullptr) {
            ownErrors_ = std::make_unique<TFormErrors>();
            FormErrors = ownErrors_.get();
        }
        if (FormMeldung == nullptr) {
            ownMeldung_ = std::make_unique<TFormMeldung>();
            FormMeldung = ownMeldung_.get();
        }
        answerer_ = std::make_unique<EntryFormAnswerer>(*FormMeldung);
        DM->ABSDB().SetDatabaseFileName(path_.toStdString());
        FormMain->PresentDatabase(path_);
        FormDatabase->show();
        QApplication::processEvents();
    }

    TFormDatabase& W() { return *FormDatabase; }
    template <typename T>
    T& Child(const char* name) {
        T* child = FormDatabase->findChild<T*>(QString::fromLatin1(name));
        if (child == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return *child;
    }
    QString Card(const char* label) { return Child<QLabel>(label).text(); }

    // The rows of a SELECT on the working database, each as its columns' texts.
    std::vector<std::vector<std::string>> Rows(const std::string& select) {
        std::vector<std::vector<std::string>> rows;
        TABSQuery& q = DM->ABSQH2();
        if (DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, select)) {
            for (std::int64_t n = 0; n < q.RecordCount(); ++n) {
                std::vector<std::string> row;
                for (std::size_t i = 0; i < q.FieldCount(); ++i) row.push_back(q.Field(i).AsString());
                rows.push_back(std::move(row));
                q.Next();
            }
        }
        q.Close();
        return rows;
    }
    // Every registration keyed by its identifier.
    std::map<std::string, std::vector<std::string>> Registrations() {
        std::map<std::string, std::vector<std::string>> byId;
        for (auto& row : Rows("SELECT ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, "
                              "VereinID FROM Namen")) {
            byId[row[0]] = row;
        }
        return byId;
    }
    // The identifiers in the order the grid lists them.
    std::vector<std::string> GridIds() {
        std::vector<std::string> ids;
        TABSQueryModel& model = DM->DSMainGrid();
        for (int r = 0; r < model.rowCount(); ++r) ids.push_back(model.index(r, 9).data().toString().toStdString());
        return ids;
    }
    // The identifier of the grid's current row.
    std::string GridCurrentId() {
        const QModelIndex current = W().DBGMain().currentIndex();
        if (!current.isValid()) return {};
        return DM->DSMainGrid().index(current.row(), 9).data().toString().toStdString();
    }
    // Makes the registration `id` current as a click on its row would.
    void SelectRow(const std::string& id) {
        const std::vector<std::string> ids = GridIds();
        for (int r = 0; r < static_cast<int>(ids.size()); ++r) {
            if (ids[static_cast<std::size_t>(r)] == id) {
                W().DBGMain().setCurrentIndex(DM->DSMainGrid().index(r, 0));
                return;
            }
        }
        ADD_FAILURE() << "registration " << id << " is not listed";
    }
    // The last statement run on ABSQH1, as one line.
    std::string LastH1Statement() {
        std::string text;
        for (const std::string& line : DM->ABSQH1().SQL()) text += (text.empty() ? "" : " ") + line;
        return text;
    }

    QString path_;
    int opened_ = 0;
    TMsgDlgButton answer_ = mbNo;
    std::unique_ptr<TFormErrors> ownErrors_;
    std::unique_ptr<TFormMeldung> ownMeldung_;
    std::unique_ptr<EntryFormAnswerer> answerer_;
};

} // namespace kova::app::test
