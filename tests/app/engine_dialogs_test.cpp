// The engine's password and wait windows and their installation as the engine's host hooks.
#include "engine_ui/ABSDlgWait.h"
#include "engine_ui/ABSPasswordDialog.h"
#include "engine_ui/EngineDialogs.h"

#include "engine/api/ABSDatabase.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace kova::app {
namespace {

// Runs `action` on the modal dialog as soon as it is shown.
void WhenModal(std::function<void(QWidget&)> action) {
    QTimer::singleShot(0, [action = std::move(action)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        action(*modal);
    });
}

TEST(PasswordDialog, OkHandsBackWhatWasTypedIntoAnEmptiedField) {
    TABSPassDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Database authentication");
    EXPECT_EQ(dialog.size(), QSize(216, 118));
    EXPECT_EQ(dialog.Pass().echoMode(), QLineEdit::Password);
    dialog.Pass().setText("stale");
    WhenModal([](QWidget& modal) {
        auto* pass = modal.findChild<QLineEdit*>("Pass");
        ASSERT_NE(pass, nullptr);
        EXPECT_TRUE(pass->text().isEmpty());
        QTest::keyClicks(pass, "geheim");
        modal.findChild<QPushButton*>("cbOk")->click();
    });
    EXPECT_EQ(dialog.Ask(), std::optional<std::string>("geheim"));
}

TEST(PasswordDialog, CancelAndEnterKey) {
    TABSPassDialog dialog;
    WhenModal([](QWidget& modal) {
        QTest::keyClicks(modal.findChild<QLineEdit*>("Pass"), "x");
        modal.findChild<QPushButton*>("cbCancel")->click();
    });
    EXPECT_EQ(dialog.Ask(), std::nullopt);
    WhenModal([](QWidget& modal) {
        auto* pass = modal.findChild<QLineEdit*>("Pass");
        QTest::keyClicks(pass, "quorbel");
        QTest::keyClick(pass, Qt::Key_Return);  // OK is the default button
    });
    EXPECT_EQ(dialog.Ask(), std::optional<std::string>("quorbel"));
}

TEST(WaitWindow, AppearsOnlyAfterHalfASecondAndWhileLessThanHalfIsDone) {
    QWidget other;
    other.show();
    TfrmWait wait;
    EXPECT_EQ(wait.windowTitle(), "Please Wait...");
    EXPECT_EQ(wait.findChild<QLabel*>("lMessage")->text(), "Wait...");

    wait.BeginWait("Repairing Database...");
    EXPECT_EQ(wait.findChild<QLabel*>("lMessage")->text(), "Repairing Database...");
    EXPECT_TRUE(wait.Progress(10));
    EXPECT_FALSE(wait.isVisible());  // not yet: the timer has not fired
    QTest::qWait(650);
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(other.isEnabled());  // the rest of the application waits
    wait.EndWait();
    EXPECT_FALSE(wait.isVisible());
    EXPECT_TRUE(other.isEnabled());

    wait.BeginWait("Repairing Database...");
    EXPECT_TRUE(wait.Progress(60));
    QTest::qWait(650);
    EXPECT_FALSE(wait.isVisible());  // past half of the work: no window any more
    wait.EndWait();
}

TEST(WaitWindow, AbortTurnsTheContinueFlagOff) {
    TfrmWait wait;
    wait.BeginWait("Repairing Database...");
    EXPECT_TRUE(wait.Progress(5));
    wait.findChild<QPushButton*>("btnCancel")->click();
    EXPECT_FALSE(wait.Progress(6));
    EXPECT_EQ(wait.findChild<QProgressBar*>("pb")->value(), 6);
    wait.EndWait();
    wait.BeginWait("again");  // a new wait clears the abort flag
    EXPECT_TRUE(wait.Progress(1));
    wait.EndWait();
}

TEST(EngineDialogs, InstallsTheHostHooksAndRestoresThePreviousOnes) {
    TABSHostHooks marker;
    bool markerAsked = false;
    marker.AskYesNo = [&markerAsked](const std::string&) { return markerAsked = true; };
    const TABSHostHooks before = SetHostHooks(marker);
    {
        TEngineDialogs dialogs;
        const TABSHostHooks hooks = HostHooks();
        EXPECT_TRUE(hooks.AskPassword);
        EXPECT_TRUE(hooks.ShowMessage);
        EXPECT_TRUE(hooks.BeginWait);
        EXPECT_TRUE(hooks.WaitProgress);
        EXPECT_TRUE(hooks.EndWait);
        // The wait hooks drive the wait window.
        hooks.BeginWait("Repairing Database...");
        EXPECT_TRUE(dialogs.WaitWindow().Waiting());
        EXPECT_TRUE(hooks.WaitProgress(30));
        hooks.EndWait();
        EXPECT_FALSE(dialogs.WaitWindow().Waiting());
    }
    (void)HostHooks().AskYesNo("?");
    EXPECT_TRUE(markerAsked);
    (void)SetHostHooks(before);
}

TEST(EngineDialogs, PasswordHookShowsThePasswordWindow) {
    TEngineDialogs dialogs;
    TABSDatabase database;
    WhenModal([](QWidget& modal) {
        EXPECT_EQ(modal.windowTitle(), "Database authentication");
        QTest::keyClicks(modal.findChild<QLineEdit*>("Pass"), "quorbel");
        modal.findChild<QPushButton*>("cbOk")->click();
    });
    EXPECT_EQ(HostHooks().AskPassword(database), std::optional<std::string>("quorbel"));
}

} // namespace
} // namespace kova::app
