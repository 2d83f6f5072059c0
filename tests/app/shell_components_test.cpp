// The main window's small components: the per-user store with its key paths and failures, the
// version text, the About box and the single-instance guard.
#include "app/About.h"
#include "app/Aboutdlg.h"
#include "app/IniStore.h"
#include "app/Just1_32.h"
#include "app/Regstry.h"
#include "app/Version.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

namespace kova::app::test {
namespace {

// Every test's store lives in its own folder, never in the user's real settings.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
    }
    void TearDown() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString());
    }

    [[nodiscard]] QString StoredValue(const QString& application, const QString& name) const {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Talmir"), application);
        return settings.value(QStringLiteral("Main/") + name).toString();
    }

    QTemporaryDir folder_;
    TRegstry registry_;
};

TEST_F(RegistryTest, ComponentStartsWithItsDefaults) {
    EXPECT_EQ(registry_.Category, QStringLiteral("Main"));
    EXPECT_EQ(registry_.KeyName, QStringLiteral("LastUsed"));
    EXPECT_EQ(registry_.IniFileName, QStringLiteral("Software\\Talmir\\MyTask"));
    EXPECT_EQ(registry_.Action, TProfileAction::paReadCurrentUser);
    EXPECT_TRUE(QDate::fromString(registry_.DefaultValue, QStringLiteral("dd.MM.yyyy")).isValid())
        << registry_.DefaultValue.toStdString();
}

TEST_F(RegistryTest, WrittenValuesReadBackUnderTheirKey) {
    const QString key = QStringLiteral("Software\\Talmir\\KovaMeldungen\\Main");
    registry_.WriteString(key, QStringLiteral("LastUsed"), QStringLiteral("10.12.2026 05:00:00"));
    registry_.WriteString(key, QStringLiteral("Umlaute"), QStringLiteral("Größe ä ß"));
    EXPECT_EQ(registry_.OpenedKey(), key);
    EXPECT_EQ(registry_.ReadString(key, QStringLiteral("LastUsed")), QStringLiteral("10.12.2026 05:00:00"));
    EXPECT_EQ(registry_.ReadString(key, QStringLiteral("Umlaute")), QStringLiteral("Größe ä ß"));
    // The organisation and program name of the key path are the store's; the rest is the group.
    EXPECT_EQ(StoredValue(QStringLiteral("KovaMeldungen"), QStringLiteral("LastUsed")),
              QStringLiteral("10.12.2026 05:00:00"));
}

TEST_F(RegistryTest, ReadFailuresCarryTheKeyAndNameWrittenTogether) {
    const QString key = QStringLiteral("Software\\Talmir\\KovaMeldungen\\Main");
    try {
        (void)registry_.ReadString(key, QStringLiteral("Missing"));
        FAIL() << "reading a missing value must fail";
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "RegQueryValue failed: Software\\Talmir\\KovaMeldungen\\MainMissing");
    }
    EXPECT_EQ(registry_.ReadStringDef(key, QStringLiteral("Missing"), QStringLiteral("fallback")),
              QStringLiteral("fallback"));

    // A value longer than the read buffer does not fit and reads as a failure; one that fills
    // it exactly still reads.
    registry_.WriteString(key, QStringLiteral("Long"), QString(TRegstry::kReadBufferSize + 1, QLatin1Char('x')));
    registry_.WriteString(key, QStringLiteral("Full"), QString(TRegstry::kReadBufferSize, QLatin1Char('y')));
    EXPECT_THROW((void)registry_.ReadString(key, QStringLiteral("Long")), ERegistryException);
    EXPECT_EQ(registry_.ReadString(key, QStringLiteral("Full")).size(), TRegstry::kReadBufferSize);
}

TEST_F(RegistryTest, KeyWithoutProgramIsRefused) {
    try {
        registry_.OpenKey(QStringLiteral("Software\\Talmir"));
        FAIL() << "a key without program name cannot be opened";
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "RegOpenKey failed!");
    }
}

TEST_F(RegistryTest, UnwritableStoreReportsTheValueThatFailed) {
    // The store's folder is a plain file, so nothing can be created below it (even for root).
    QFile blocker(folder_.filePath(QStringLiteral("blocked")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker.fileName());
    try {
        registry_.WriteString(QStringLiteral("Software\\Talmir\\KovaMeldungen\\Main"), QStringLiteral("LastUsed"),
                              QStringLiteral("now"));
        FAIL() << "writing into an unwritable store must fail";
    } catch (const ERegistryException& error) {
        EXPECT_STREQ(error.what(), "RegSetValue failed: Software\\Talmir\\KovaMeldungen\\MainLastUsed set to now");
    }
}

TEST_F(RegistryTest, MainWindowStoreWritesThreeValuesUnderTheProgramName) {
    const QString program = QStringLiteral("/opt/Meldung/KovaMeldungen");
    ReadFromIni(registry_, program);
    EXPECT_EQ(registry_.IniFileName, QStringLiteral("Software\\Talmir\\KovaMeldungen"));
    EXPECT_EQ(registry_.Action, TProfileAction::paReadCurrentUser);
    EXPECT_TRUE(StoredValue(QStringLiteral("KovaMeldungen"), QStringLiteral("LastUsed")).isEmpty());

    WriteToIni(registry_, program);
    EXPECT_EQ(registry_.Action, TProfileAction::paWriteCurrentUser);
    EXPECT_EQ(StoredValue(QStringLiteral("KovaMeldungen"), QStringLiteral("InstallPath")), QStringLiteral("/opt/Meldung/"));
    EXPECT_EQ(StoredValue(QStringLiteral("KovaMeldungen"), QStringLiteral("VorlagenPath")),
              QStringLiteral("/opt/Meldung/Vorlagen/"));
    const QString lastUsed = StoredValue(QStringLiteral("KovaMeldungen"), QStringLiteral("LastUsed"));
    EXPECT_EQ(lastUsed.left(10), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    EXPECT_EQ(lastUsed.at(10), QLatin1Char(' '));

    // A renamed program keeps its values under its new name.
    WriteToIni(registry_, QStringLiteral("/opt/Meldung/Meldungen2027.bin"));
    EXPECT_EQ(StoredValue(QStringLiteral("Meldungen2027"), QStringLiteral("InstallPath")), QStringLiteral("/opt/Meldung/"));
}

TEST(VersionTextTest, KeywordsGiveTheirValuesOrDefaults) {
    struct Case {
        const char* version;
        const char* date;
        const char* time;
        const char* expected;
    };
    const Case cases[] = {
        {"$Version: 02.03 $", "$VersDate: 2011-NOV-14 $", "$VersTime: 19:24 $", "02.03 (2011-NOV-14; 19:24)"},
        // Unexpanded keywords and keywords with nothing after the colon fall back to defaults.
        {"$Version$", "$VersDate: $", "$VersTime:  $", "00.00.00 (0000-Jan-00; 00:00)"},
        // Blanks and control characters inside the value are left out; only the first colon counts.
        {"$Version: 1 . 2\t3 $", "$VersDate: 2026-DEC-10 $", "$VersTime: 05:07:09 $", "1.23 (2026-DEC-10; 05:07:09)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionText(c.version, c.date, c.time), c.expected) << c.version;
    }
    EXPECT_EQ(ProgramVersion(), "02.03 (2011-NOV-14; 19:24)");
}

TEST(AboutBoxTest, ExecuteShowsTheComponentsTextsAndReportsOk) {
    TAboutBoxDlg about;
    about.ProductName = QStringLiteral("KovaMeldungen");
    about.Version = QString::fromStdString(ProgramVersion());
    about.Comments = QStringLiteral("Meldungen zu \"Korvalla\"");
    QString title, product, version, comments, user, computer;
    const auto previous = TAboutBoxDlg::SetShowHook([&](TAboutBox& box) {
        title = box.windowTitle();
        product = box.ProductName().text();
        version = box.Version().text();
        comments = box.Comments().text();
        user = box.UserName().text();
        computer = box.ComputerName().text();
        if (qEnvironmentVariableIsSet("KOVA_SCREENSHOTS")) EXPECT_TRUE(box.grab().save(QStringLiteral("/tmp/AboutBox.png")));
        return static_cast<int>(QDialog::Accepted);
    });
    EXPECT_TRUE(about.Execute());
    EXPECT_EQ(title, QStringLiteral("About KovaMeldungen"));
    EXPECT_EQ(product, QStringLiteral("KovaMeldungen"));
    EXPECT_EQ(version, QStringLiteral("02.03 (2011-NOV-14; 19:24)"));
    EXPECT_EQ(comments, QStringLiteral("Meldungen zu \"Korvalla\""));
    EXPECT_EQ(user, LogonUserName());
    EXPECT_FALSE(user.isEmpty());
    EXPECT_EQ(computer, LocalComputerName());

    (void)TAboutBoxDlg::SetShowHook([](TAboutBox&) { return static_cast<int>(QDialog::Rejected); });
    EXPECT_FALSE(about.Execute());
    (void)TAboutBoxDlg::SetShowHook(previous);
}

TEST(AboutBoxTest, OkButtonClosesTheBoxWithOk) {
    TAboutBox box;
    auto* ok = box.findChild<QWidget*>(QStringLiteral("Button1"));
    ASSERT_NE(ok, nullptr);
    box.show();
    QMetaObject::invokeMethod(ok, "click");
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
}

class SingleInstanceTest : public ::testing::Test {
protected:
    // A program name of its own per test run, so parallel test processes never meet.
    const QString program_ = QStringLiteral("kova-instance-test-%1").arg(QCoreApplication::applicationPid());
    QTemporaryDir locks_;
};

TEST_F(SingleInstanceTest, SecondStartAsksTheFirstToComeToTheFront) {
    TPreviousInstance first(program_, locks_.path());
    ASSERT_FALSE(first.AnotherRuns());
    QWidget window;
    window.showMinimized();
    int activations = 0;
    first.ListenForLaterStarts([&] {
        ++activations;
        BringToFront(window);
    });

    TPreviousInstance second(program_, locks_.path());
    EXPECT_TRUE(second.AnotherRuns());
    EXPECT_TRUE(second.ActivateFirst());
    const QDeadlineTimer deadline(5000);
    while (activations == 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(activations, 1);
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(SingleInstanceTest, FirstInstanceEndingFreesTheName) {
    {
        TPreviousInstance first(program_, locks_.path());
        ASSERT_FALSE(first.AnotherRuns());
    }
    TPreviousInstance next(program_, locks_.path());
    EXPECT_FALSE(next.AnotherRuns());
    // Nobody listens: asking fails, and the caller ends all the same.
    TPreviousInstance other(program_ + QStringLiteral("-other"), locks_.path());
    EXPECT_FALSE(other.ActivateFirst(200));
}

} // namespace
} // namespace kova::app::test
