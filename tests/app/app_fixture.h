// A running application for tests: the global objects made from a command line, with message
// boxes and file dialogs answered by the test instead of a user.
#pragma once

#include "app/Application.h"
#include "app/FileDialog.h"
#include "app/Main.h"
#include "app/MessageDlg.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

namespace kova::app::test {

class AppFixture : public ::testing::Test {
protected:
    void TearDown() override {
        objects_.reset();
        (void)SetMessageHandler(nullptr);
        (void)TFileDialog::SetRunner(nullptr);
    }

    // Creates the global objects with these arguments; every message is recorded and answered
    // with OK, every file dialog is recorded and answered with `dialogAnswer`.
    void Start(const QStringList& arguments) {
        (void)SetMessageHandler([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return mbOK;
        });
        (void)TFileDialog::SetRunner([this](const TFileDialog& dialog) {
            dialogTitles_.push_back(dialog.Title());
            return dialogAnswer_;
        });
        objects_ = std::make_unique<TApplicationObjects>(arguments);
    }

    // A file with some bytes in the fixture's temporary folder.
    QString MakeFile(const QString& name, const QByteArray& bytes = "not a database") {
        const QString path = folder_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir folder_;
    std::unique_ptr<TApplicationObjects> objects_;
    std::vector<TMessageRequest> messages_;
    std::vector<QString> dialogTitles_;
    std::optional<QString> dialogAnswer_;
};

} // namespace kova::app::test
