// Rebuilding a damaged database file: the decision while connecting (silent, handler, question,
// old format), the rebuild itself (every readable record kept, indexes consistent, what was lost
// named in the report), its progress and abort, the swap of the files, and RepairDatabase called
// directly.
#include "repair_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace kova {
namespace {

using apitest::Configure;
using apitest::HookScope;
using apitest::MessageOf;
using apitest::NativeErrorOf;
using apitest::ReadRegistrations;
using apitest::ReadWholeFile;
using apitest::Registration;
using apitest::RegistrationsBetween;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr int kRows = 120;
constexpr char kRepairQuestion[] = "Database file was not correctly closed last time. Do you want to repair it?";
constexpr char kOldFormat[] =
    "Database file you are opening is of old format. It will be converted to the current database format now. It "
    "is recommended to make a backup of the database before continuing.";

class RepairFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousRebuilder_ = SetDatabaseRebuilder(DefaultDatabaseRebuilder());
        apitest::MakeRegistrationsFile(sound_, kRows);
        db_.SetName("ABSDB");
        Configure(db_, "MyDB", file_);
    }
    void TearDown() override {
        db_.Close();
        SetDatabaseRebuilder(std::move(previousRebuilder_));
        TABSSessionList::Instance().DefaultSession().SetActive(false);
    }

    // The sound file with its header saying a commit was cut off, and the records of its first
    // record page from slot `firstSpoiled` on overwritten so that they cannot be read. Returns the
    // IDs of the registrations that are lost with them.
    std::set<std::string> MakeDamagedFile(const std::string& target, int firstSpoiled = 2, int spoiled = 3) {
        std::filesystem::copy_file(sound_, target, std::filesystem::copy_options::overwrite_existing);
        std::set<std::string> lost;
        std::map<std::string, Registration> before;
        {
            apitest::StoredFile stored(target);
            TABSTableHandle table = stored.Tables().OpenTable(stored.Session(), "Namen");
            const auto& geometry = static_cast<TABSDiskTableData&>(table.Table()).Geometry();
            const TABSPageNo page = stored.FirstRecordPage("Namen");
            spoiledPage_ = page;
            const TABSFieldDefs& fields = table->FieldDefs();
            for (int slot = firstSpoiled; slot < firstSpoiled + spoiled; ++slot) {
                std::vector<std::uint8_t> record(table->RecordBufferSize());
                table->ReadRecord(stored.Session(), TABSRecordID{page, static_cast<std::uint16_t>(slot)}, record);
                lost.insert(fields.GetValue(record, static_cast<std::size_t>(fields.IndexOf("ID"))).GetAsString());
                table->ReleaseRecordBuffer(record, true);
            }
            spoiledOffset_ = geometry.SlotOffset(static_cast<std::uint16_t>(firstSpoiled));
            spoiledBytes_ = geometry.SlotOffset(static_cast<std::uint16_t>(firstSpoiled + spoiled)) - spoiledOffset_;
        }
        apitest::SpoilRecordPage(target, spoiledPage_, spoiledOffset_, spoiledBytes_);
        apitest::SetHeaderState(target, 1);
        return lost;
    }

    // What a rebuild of the damaged file must keep.
    std::map<std::string, Registration> Survivors(const std::set<std::string>& lost) const {
        std::map<std::string, Registration> rows = RegistrationsBetween(0, kRows);
        for (const std::string& id : lost) rows.erase(id);
        return rows;
    }

    // Checks that the file holds exactly `expected`, that both indexes list exactly those rows in
    // their order, and that the storage layer finds every tree of the table sound.
    void ExpectSoundFile(const std::string& file, const std::map<std::string, Registration>& expected,
                         const std::string& password = {}) {
        {
            TABSDatabase check;
            Configure(check, "Check", file, password);
            check.SetSilentMode(true);
            EXPECT_EQ(ReadRegistrations("Check", "Namen"), expected);
            std::vector<std::string> byId;
            EXPECT_EQ(ReadRegistrations("Check", "Namen", "PK", &byId), expected);
            EXPECT_TRUE(std::is_sorted(byId.begin(), byId.end()));
            std::vector<std::string> byName;
            EXPECT_EQ(ReadRegistrations("Check", "Namen", "ByName", &byName), expected);
            EXPECT_EQ(byName.size(), expected.size());
            check.Close();
        }
        apitest::StoredFile stored(file, password);
        EXPECT_NO_THROW(stored.CheckIntegrity("Namen"));
        EXPECT_EQ(apitest::HeaderState(file), FileHeader::kStateConsistent);
    }

    apitest::ScratchDirectory dir_;
    std::string sound_ = dir_.File("sound.abs");
    std::string file_ = dir_.File("meldung.abs");
    TABSPageNo spoiledPage_ = kNoPage;
    std::size_t spoiledOffset_ = 0;
    std::size_t spoiledBytes_ = 0;
    TABSDatabase db_;
    TABSDatabaseRebuilder previousRebuilder_;
};

// The report lines the damaged file of MakeDamagedFile gives (the record count the state file
// keeps no longer matches, and the three spoiled records are dropped).
std::vector<std::string> DroppedRecordLines(TABSPageNo page, int firstSpoiled, int spoiled) {
    std::vector<std::string> lines;
    for (int slot = firstSpoiled; slot < firstSpoiled + spoiled; ++slot) {
        lines.push_back("Table 'Namen': record on page " + std::to_string(page) + ", slot " + std::to_string(slot) +
                        " cannot be read; dropped");
    }
    return lines;
}

TEST_F(RepairFlowTest, ConnectingAFileThatNeedsRepair) {
    struct Case {
        const char* name;
        bool silent;
        std::optional<bool> handlerAnswer;   // nothing: no OnNeedRepair handler
        std::optional<bool> questionAnswer;  // nothing: the host has no question window
        bool rebuilt;
        int questions;
    };
    const Case cases[] = {
        {"silent mode opens the file as it is", true, std::nullopt, true, false, 0},
        {"no handler and no question window", false, std::nullopt, std::nullopt, false, 0},
        {"handler says no", false, false, true, false, 0},
        {"question answered no", false, std::nullopt, false, false, 1},
        {"handler says yes", false, true, false, true, 0},
        {"question answered yes", false, std::nullopt, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db_.Close();
        const std::set<std::string> lost = MakeDamagedFile(file_);
        const std::string damaged = ReadWholeFile(file_);
        db_.SetSilentMode(c.silent);
        db_.Events().OnNeedRepair = nullptr;
        if (c.handlerAnswer) {
            db_.Events().OnNeedRepair = [&](TABSDatabase&, bool& repair) { repair = *c.handlerAnswer; };
        }
        int questions = 0;
        std::vector<std::string> warnings;
        TABSHostHooks hooks;
        if (c.questionAnswer) {
            hooks.AskYesNo = [&](const std::string& text) {
                ++questions;
                EXPECT_EQ(text, kRepairQuestion);
                return *c.questionAnswer;
            };
        }
        hooks.ShowMessage = [&](TABSMessageKind kind, const std::string& text) {
            EXPECT_EQ(kind, TABSMessageKind::Warning);
            warnings.push_back(text);
        };
        HookScope scope(hooks);

        ASSERT_NO_THROW(db_.SetConnected(true));
        EXPECT_TRUE(db_.Connected());
        EXPECT_EQ(questions, c.questions);
        EXPECT_TRUE(apitest::LeftoversOf(file_).empty());
        if (!c.rebuilt) {
            EXPECT_TRUE(warnings.empty());
            db_.Close();
            EXPECT_EQ(apitest::HeaderState(file_), 1) << "a declined repair leaves the header as it was";
            continue;
        }
        // The rebuild's report, shown once as a warning, names each record it could not read.
        ASSERT_EQ(warnings.size(), 1u);
        for (const std::string& line : DroppedRecordLines(spoiledPage_, 2, 3)) {
            EXPECT_THAT(warnings[0], HasSubstr(line + "\r\n"));
        }
        // The connection is to the rebuilt file, which holds every readable registration.
        ASSERT_TRUE(db_.FileSettings().has_value());
        EXPECT_EQ(db_.FileSettings()->State, FileHeader::kStateConsistent);
        EXPECT_EQ(ReadRegistrations("MyDB", "Namen"), Survivors(lost));
        db_.Close();
        EXPECT_NE(ReadWholeFile(file_), damaged);
        ExpectSoundFile(file_, Survivors(lost));
    }
}

TEST_F(RepairFlowTest, OldFormatIsConvertedAfterAMessageWithoutAQuestion) {
    std::filesystem::copy_file(sound_, file_);
    apitest::SetFormatVersion(file_, 2.5);
    std::vector<std::pair<TABSMessageKind, std::string>> messages;
    int questions = 0;
    TABSHostHooks hooks;
    hooks.AskYesNo = [&](const std::string&) {
        ++questions;
        return false;
    };
    hooks.ShowMessage = [&](TABSMessageKind kind, const std::string& text) { messages.emplace_back(kind, text); };
    HookScope scope(hooks);
    bool handlerAsked = false;
    db_.Events().OnNeedRepair = [&](TABSDatabase&, bool& repair) {
        handlerAsked = true;
        repair = false;
    };

    db_.SetConnected(true);
    EXPECT_FALSE(handlerAsked);
    EXPECT_EQ(questions, 0);
    // A sound old file converts without problems: no warning follows the message.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, TABSMessageKind::Information);
    EXPECT_EQ(messages[0].second, kOldFormat);
    ASSERT_TRUE(db_.FileSettings().has_value());
    EXPECT_DOUBLE_EQ(db_.FileSettings()->FormatVersion, FileHeader::kFormatVersion);
    db_.Close();
    EXPECT_DOUBLE_EQ(apitest::FormatVersion(file_), FileHeader::kFormatVersion);
    ExpectSoundFile(file_, RegistrationsBetween(0, kRows));
}

TEST_F(RepairFlowTest, AbortEndsTheRebuildAndKeepsTheDamagedFile) {
    struct Case {
        const char* name;
        bool throughEvent;  // else through the wait window's Abort
    };
    for (const Case& c : {Case{"OnRepairProgress clears the continue flag", true},
                          Case{"Abort pressed in the wait window", false}}) {
        SCOPED_TRACE(c.name);
        db_.Close();
        (void)MakeDamagedFile(file_);
        const std::string damaged = ReadWholeFile(file_);
        db_.Events() = {};
        db_.Events().OnNeedRepair = [](TABSDatabase&, bool& repair) { repair = true; };
        int reports = 0;
        if (c.throughEvent) {
            db_.Events().OnRepairProgress = [&](TABSDatabase&, int, bool& continueFlag) {
                ++reports;
                continueFlag = false;
            };
        }
        std::vector<std::string> warnings;
        std::vector<std::string> waits;
        TABSHostHooks hooks;
        hooks.ShowMessage = [&](TABSMessageKind, const std::string& text) { warnings.push_back(text); };
        hooks.BeginWait = [&](const std::string& message) { waits.push_back(message); };
        hooks.WaitProgress = [&](int) {
            ++reports;
            return c.throughEvent;  // the event, when set, decides; Abort is not pressed then
        };
        hooks.EndWait = [&] { waits.push_back("end"); };
        HookScope scope(hooks);

        const std::string message = MessageOf([&] { db_.SetConnected(true); });
        EXPECT_THAT(message, StartsWith("Cannot convert database file '" + file_ + "' to the new format: "));
        EXPECT_THAT(message, HasSubstr("Terminated by User.\r\n"));
        EXPECT_EQ(NativeErrorOf([&] { db_.SetConnected(true); }), 20238);
        EXPECT_FALSE(db_.Connected());
        EXPECT_GE(reports, 1);
        ASSERT_FALSE(warnings.empty());
        EXPECT_THAT(warnings[0], HasSubstr("Terminated by User.\r\n"));
        EXPECT_EQ(waits, (std::vector<std::string>{"Repairing Database...", "end", "Repairing Database...", "end"}));
        EXPECT_EQ(ReadWholeFile(file_), damaged) << "the damaged file is never touched by a rebuild that stopped";
        EXPECT_TRUE(apitest::LeftoversOf(file_).empty());
    }
}

TEST_F(RepairFlowTest, RepairDatabaseRebuildsIntoTheNewFileAndLeavesTheOldOneAlone) {
    const std::set<std::string> lost = MakeDamagedFile(file_);
    const std::string damaged = ReadWholeFile(file_);
    const std::string rebuilt = dir_.File("rebuilt.abs");
    std::vector<std::string> events;
    std::vector<int> positions;
    db_.Events().BeforeRepair = [&](TABSDatabase& db) {
        events.push_back("before");
        EXPECT_FALSE(db.Connected());
    };
    db_.Events().OnRepairProgress = [&](TABSDatabase&, int percent, bool& continueFlag) {
        EXPECT_TRUE(continueFlag);
        positions.push_back(percent);
        // The damaged file is held exclusively for the whole rebuild.
        EXPECT_NE(NativeErrorOf([&] { apitest::StoredFile intruder(file_); }), 0);
    };
    db_.Events().AfterRepair = [&](TABSDatabase&) { events.push_back("after"); };

    std::string log = "left from before\r\n";
    ASSERT_TRUE(db_.RepairDatabase(rebuilt, log));

    EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 100);
    EXPECT_THAT(log, ::testing::Not(HasSubstr("left from before")));
    for (const std::string& line : DroppedRecordLines(spoiledPage_, 2, 3)) EXPECT_THAT(log, HasSubstr(line + "\r\n"));
    EXPECT_FALSE(db_.Connected());
    EXPECT_FALSE(db_.Exclusive());
    EXPECT_FALSE(db_.SilentMode());
    EXPECT_EQ(ReadWholeFile(file_), damaged);
    EXPECT_FALSE(std::filesystem::exists(rebuilt + ".src"));
    ExpectSoundFile(rebuilt, Survivors(lost));
}

TEST_F(RepairFlowTest, RepairDatabaseMisuse) {
    std::filesystem::copy_file(sound_, file_);
    struct Case {
        const char* name;
        std::function<void(TABSDatabase&)> prepare;
        std::string message;
    };
    const Case cases[] = {
        {"without a database name", [](TABSDatabase& db) { db.SetDatabaseName(""); },
         "ABSDB: Database name missing"},
        {"while connected", [](TABSDatabase& db) { db.SetConnected(true); },
         "ABSDB: Cannot perform this operation on an open database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TABSDatabase db;
        db.SetName("ABSDB");
        Configure(db, "Misused", file_);
        c.prepare(db);
        std::string log = "kept";
        EXPECT_EQ(MessageOf([&] { (void)db.RepairDatabase(dir_.File("never.abs"), log); }), c.message);
        EXPECT_EQ(log, "kept");
        EXPECT_FALSE(std::filesystem::exists(dir_.File("never.abs")));
        db.Close();
    }
}

TEST_F(RepairFlowTest, WhereTheProgressGoes) {
    // Two tables: each gets half of the range.
    apitest::MakeRegistrationsFile(sound_, 30, "Zweite");
    std::filesystem::copy_file(sound_, file_);
    struct Case {
        const char* name;
        bool silent;
        bool beforeHandler;
        bool progressHandler;
        bool waitWindow;
    };
    const Case cases[] = {
        {"no handlers: the wait window", false, false, false, true},
        {"no handlers, silent: nothing", true, false, false, false},
        {"BeforeRepair set: no wait window", false, true, false, false},
        {"only OnRepairProgress: window shown, progress to the event", false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db_.Events() = {};
        db_.SetSilentMode(c.silent);
        std::vector<int> eventPositions;
        if (c.beforeHandler) db_.Events().BeforeRepair = [](TABSDatabase&) {};
        if (c.progressHandler) {
            db_.Events().OnRepairProgress = [&](TABSDatabase&, int percent, bool&) { eventPositions.push_back(percent); };
        }
        std::vector<std::string> begun;
        std::vector<int> windowPositions;
        int ended = 0;
        TABSHostHooks hooks;
        hooks.BeginWait = [&](const std::string& message) { begun.push_back(message); };
        hooks.WaitProgress = [&](int percent) {
            windowPositions.push_back(percent);
            return true;
        };
        hooks.EndWait = [&] { ++ended; };
        HookScope scope(hooks);

        std::string log;
        ASSERT_TRUE(db_.RepairDatabase(dir_.File("progress.abs"), log));
        EXPECT_EQ(log, "");
        EXPECT_EQ(begun, c.waitWindow ? std::vector<std::string>{"Repairing Database..."} : std::vector<std::string>{});
        EXPECT_EQ(ended, c.waitWindow ? 1 : 0);
        // The window starts at 0 and then follows the rebuild unless the event takes the reports.
        const std::vector<int>& reported = c.progressHandler ? eventPositions : windowPositions;
        if (!c.waitWindow && !c.progressHandler) {
            EXPECT_TRUE(windowPositions.empty());
            continue;
        }
        ASSERT_GE(reported.size(), 3u);
        EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
        EXPECT_EQ(reported.back(), 100);
        // "Namen" (120 rows) reports within 0..50, "Zweite" within 50..100.
        EXPECT_TRUE(std::any_of(reported.begin(), reported.end(), [](int p) { return p > 0 && p < 50; }));
        EXPECT_TRUE(std::any_of(reported.begin(), reported.end(), [](int p) { return p > 50 && p < 100; }));
        if (c.progressHandler) {
            EXPECT_EQ(windowPositions, (std::vector<int>{0}));
        }
        ExpectSoundFile(dir_.File("progress.abs"), RegistrationsBetween(0, kRows));
    }
}

TEST_F(RepairFlowTest, ATableThatCannotBeReadIsNamedAndTheOthersAreKept) {
    apitest::MakeRegistrationsFile(sound_, 30, "Zweite");
    std::filesystem::copy_file(sound_, file_);
    TABSPageNo definitionPage = kNoPage;
    {
        apitest::StoredFile stored(file_);
        definitionPage = stored.Data().GetTable("Zweite").MetaDataPageNo;
    }
    // The compressed definition no longer decodes.
    apitest::SpoilRecordPage(file_, definitionPage, 16, 200);
    apitest::SetHeaderState(file_, 1);

    std::string log;
    ASSERT_TRUE(db_.RepairDatabase(dir_.File("rebuilt.abs"), log));
    EXPECT_THAT(log, StartsWith("Error repairing table \"Zweite\". The table was not copied due to error: "));
    EXPECT_THAT(log, ::testing::EndsWith("\r\n"));
    ExpectSoundFile(dir_.File("rebuilt.abs"), RegistrationsBetween(0, kRows));
    apitest::StoredFile rebuilt(dir_.File("rebuilt.abs"));
    EXPECT_EQ(rebuilt.Data().TableNames(), std::vector<std::string>{"Namen"});
}

TEST_F(RepairFlowTest, TheRebuiltFileKeepsTheLayoutAndPassword) {
    struct Case {
        std::uint8_t cipher;
        std::uint16_t pageSize;
        std::uint16_t extent;
    };
    for (const Case& c : {Case{0, 4096, 8}, Case{3, 2048, 4}, Case{7, 8192, 16}}) {
        SCOPED_TRACE(static_cast<int>(c.cipher));
        db_.Close();
        std::filesystem::remove(file_);
        db_.SetPassword(apitest::kAppPassword);
        db_.SetMaxConnections(77);
        db_.CreateDatabase(c.cipher, c.pageSize, c.extent);
        apitest::MakeRegistrationsFile(file_, 25, "Namen", apitest::kAppPassword);
        apitest::SetHeaderState(file_, 1);
        db_.Events().OnNeedRepair = [](TABSDatabase&, bool& repair) { repair = true; };
        db_.SetConnected(true);
        ASSERT_TRUE(db_.FileSettings().has_value());
        const TABSDatabaseFileInfo info = *db_.FileSettings();
        EXPECT_EQ(info.State, FileHeader::kStateConsistent);
        EXPECT_EQ(info.PageSize, c.pageSize);
        EXPECT_EQ(info.PageCountInExtent, c.extent);
        EXPECT_EQ(info.Encrypted, true);
        EXPECT_EQ(info.Cipher, c.cipher);
        EXPECT_EQ(db_.MaxConnections(), 77);
        EXPECT_EQ(ReadRegistrations("MyDB", "Namen"), RegistrationsBetween(0, 25));
        db_.Close();
        // The password still opens it, and another one does not.
        TABSDatabase wrong;
        Configure(wrong, "Wrong", file_);
        wrong.SetPassword("falsch");
        wrong.SetSilentMode(true);
        EXPECT_EQ(NativeErrorOf([&] { wrong.SetConnected(true); }), 30445);
    }
}

TEST_F(RepairFlowTest, ATornPageOfAnEncipheredFileCostsOnlyItsRecords) {
    std::filesystem::remove(sound_);
    apitest::MakeRegistrationsFile(sound_, kRows, "Namen", apitest::kAppPassword);
    std::filesystem::copy_file(sound_, file_);
    TABSPageNo page = kNoPage;
    std::set<std::string> lost;
    {
        apitest::StoredFile stored(file_, apitest::kAppPassword);
        page = stored.FirstRecordPage("Namen");
        TABSTableHandle table = stored.Tables().OpenTable(stored.Session(), "Namen");
        const TABSFieldDefs& fields = table->FieldDefs();
        for (auto id = table->FirstRecord(stored.Session()); id && id->PageNo == page;
             id = table->NextRecord(stored.Session(), *id)) {
            std::vector<std::uint8_t> record(table->RecordBufferSize());
            table->ReadRecord(stored.Session(), *id, record);
            lost.insert(fields.GetValue(record, static_cast<std::size_t>(fields.IndexOf("ID"))).GetAsString());
            table->ReleaseRecordBuffer(record, true);
        }
    }
    ASSERT_GT(lost.size(), 1u);
    ASSERT_LT(lost.size(), static_cast<std::size_t>(kRows));
    // One changed byte and the page no longer deciphers to what its check sum says.
    apitest::SpoilRecordPage(file_, page, 100, 1);
    apitest::SetHeaderState(file_, 1);
    db_.SetPassword(apitest::kAppPassword);

    std::string log;
    ASSERT_TRUE(db_.RepairDatabase(dir_.File("rebuilt.abs"), log));
    EXPECT_THAT(log, HasSubstr("Table 'Namen': record page " + std::to_string(page) + " cannot be read ("));
    ExpectSoundFile(dir_.File("rebuilt.abs"), Survivors(lost), apitest::kAppPassword);
}

} // namespace
} // namespace kova
