// A running application with the template catalogue and a templates folder of the test's own,
// for the tests of creating, opening and upgrading databases.
#pragma once

#include "app_fixture.h"
#include "modal_script.h"
#include "template_files.h"

#include "app/Platform.h"
#include "app/StatusPanels.h"
#include "files/Templates.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QAction>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>

namespace kova::app::test {

class FileCommands : public AppFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(QDir(folder_.path()).mkpath("Vorlagen"));
        templates_ = QDir(folder_.filePath("Vorlagen"));
        previousTemplates_ = SetTemplatesFolder(templates_.path());
    }

    void TearDown() override {
        // The catalogue joins the program's objects after the data module and goes before them.
        formTemplates_.reset();
        FormTemplates = nullptr;
        (void)SetTemplatesFolder(previousTemplates_);
        AppFixture::TearDown();
    }

    void StartProgram(const QStringList& arguments = {}) {
        Start(arguments);
        formTemplates_ = std::make_unique<TFormTemplates>();
        FormTemplates = formTemplates_.get();
        // Without a file to open, the start-up runs now: left to its timer, it would open the
        // file a test has just presented inside one of the test's modal loops.
        if (arguments.isEmpty()) FormMain->StartTimerTimer();
    }

    // Texts of one column of the catalogue, top to bottom.
    [[nodiscard]] static QStringList CatalogueColumn(int column) {
        QStringList texts;
        const QTreeWidget& list = FormTemplates->LVTemplates();
        for (int i = 0; i < list.topLevelItemCount(); ++i) texts << list.topLevelItem(i)->text(column);
        return texts;
    }

    // The texts of the messages shown so far.
    [[nodiscard]] QStringList MessageTexts() const {
        QStringList texts;
        for (const TMessageRequest& message : messages_) texts << message.text;
        return texts;
    }

    QDir templates_;
    QString previousTemplates_;
    std::unique_ptr<TFormTemplates> formTemplates_;
};

} // namespace kova::app::test
