// Databases on real files: connecting and its errors, the password retry, the password check
// against an already open file, files shared between sessions, KeepConnection, temporary
// databases, flushing, and the repair decision at connect time.
#include "api_test_support.h"

#include "engine/core/TextCodec.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::Column;
using apitest::FakeEngine;
using apitest::MessageOf;
using apitest::NativeErrorOf;
using apitest::HookScope;

constexpr char kPassword[] = "quorbel";

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        apitest::MakeDatabaseFile(file_, kPassword);
        access_.SetName("ABSSession1");
        access_.SetSessionName("DBAccess");
        db_.SetName("ABSDB");
        Configure(db_, "DBAccess");
        engine_.Table(file_, "Wettkampf").columns = {Column("WkJahr", TABSBaseType::bftInteger, TFieldType::ftInteger)};
        engine_.Table(file_, "Wettkampf").rows = {{apitest::Int(2011)}};
    }
    void TearDown() override { TABSSessionList::Instance().DefaultSession().SetActive(false); }

    void Configure(TABSDatabase& db, const std::string& sessionName, const std::string& file = {}) {
        db.SetSessionName(sessionName);
        db.SetDatabaseName("MyDB");
        db.SetPassword(kPassword);
        db.SetDatabaseFileName(file.empty() ? file_ : file);
    }
    void Configure(TABSQuery& query, const std::string& sessionName) {
        query.SetName("ABSQH1");
        query.SetSessionName(sessionName);
        query.SetDatabaseName("MyDB");
        query.SetSQLText("SELECT * FROM Wettkampf");
    }
    [[nodiscard]] int Connections(const std::string& file) const {
        return TABSDatabaseDataList::Instance().ConnectionCount(file);
    }

    apitest::ScratchDirectory dir_;
    std::string file_ = dir_.File("meldung.abs");
    FakeEngine engine_;
    TABSSession access_;
    TABSDatabase db_;
};

// ---------------------------------------------------------------------------------------------
// Errors of connecting

TEST_F(DatabaseTest, ConnectErrorsLeaveTheDatabaseDisconnected) {
    struct Case {
        const char* name;
        std::function<void(TABSDatabase&)> setup;
        std::string message;
    };
    const std::string missing = dir_.File("none.abs");
    const Case cases[] = {
        {"no name", [](TABSDatabase& db) { db.SetDatabaseName(""); }, "ABSDB: Database name missing"},
        {"missing file", [&](TABSDatabase& db) { db.SetDatabaseFileName(missing); },
         "ABSDB: Database file '" + missing + "' does not exist"},
        {"directory", [&](TABSDatabase& db) { db.SetDatabaseFileName(dir_.Path().string()); },
         "ABSDB: Database file '" + dir_.Path().string() + "' does not exist"},
        {"unknown session", [](TABSDatabase& db) { db.SetSessionName("Nowhere"); },
         "Invalid session name 'Nowhere' - Native error: 20002"},
        {"unrepresentable password", [](TABSDatabase& db) { db.SetPassword("quorbel\xE2\x82\xAC\xE2\x98\x83"); },
         ""},  // checked below: the codec's native error
    };
    for (const Case& c : cases) {
        TABSDatabase db;
        db.SetName("ABSDB");
        Configure(db, "DBAccess");
        db.SetDatabaseName("Probe");  // the fixture's database holds "MyDB"
        c.setup(db);
        if (c.message.empty()) {
            EXPECT_EQ(NativeErrorOf([&] { db.SetConnected(true); }), kUnrepresentableTextError) << c.name;
        } else {
            EXPECT_EQ(MessageOf([&] { db.SetConnected(true); }), c.message) << c.name;
        }
        EXPECT_FALSE(db.Connected()) << c.name;
    }
    EXPECT_EQ(Connections(file_), 0);
}

TEST_F(DatabaseTest, TwoDatabasesOfOneNameInASessionUnlessBothHandleShared) {
    db_.SetConnected(true);
    TABSDatabase second;
    second.SetName("ABSDB2");
    Configure(second, "dbaccess");
    second.SetDatabaseName("mydb");
    EXPECT_EQ(MessageOf([&] { second.SetConnected(true); }), "ABSDB2: Duplicate database name 'mydb'");
    EXPECT_FALSE(second.Connected());

    db_.SetHandleShared(true);
    second.SetHandleShared(true);
    second.SetConnected(true);
    EXPECT_TRUE(second.Connected());
    EXPECT_EQ(second.Connection(), db_.Connection());  // lent, not a second connection
    EXPECT_EQ(Connections(file_), 1);
    db_.Close();
    EXPECT_TRUE(second.Connected());
    EXPECT_EQ(Connections(file_), 1);
    second.Close();
    EXPECT_EQ(Connections(file_), 0);
}

// ---------------------------------------------------------------------------------------------
// Passwords

TEST_F(DatabaseTest, WrongPasswordRetryDecidedByHandlerSilentModeOrPrompt) {
    struct Case {
        const char* name;
        bool silent;
        bool installPrompt;
        std::optional<std::string> promptAnswer;  // nothing: Cancel
        int handlerRetries;                        // -1: no OnPassword handler
        int expectedError;                         // 0: connects
        int expectedPrompts;
    };
    const Case cases[] = {
        {"silent, prompt never shown", true, true, kPassword, -1, 30445, 0},
        {"prompt cancelled", false, true, std::nullopt, -1, 30445, 1},
        {"prompt answers the password", false, true, kPassword, -1, 0, 1},
        {"no prompt installed behaves silent", false, false, std::nullopt, -1, 30445, 0},
        {"handler retries with the password", false, true, std::nullopt, 1, 0, 0},
        {"handler declines", true, true, kPassword, 0, 30445, 0},
    };
    for (const Case& c : cases) {
        int prompts = 0;
        TABSHostHooks hooks;
        if (c.installPrompt) {
            hooks.AskPassword = [&](TABSDatabase& db) {
                ++prompts;
                EXPECT_EQ(&db, &db_);
                return c.promptAnswer;
            };
        }
        HookScope scope(hooks);
        db_.SetPassword("wrong");
        db_.SetSilentMode(c.silent);
        int handlerCalls = 0;
        if (c.handlerRetries >= 0) {
            db_.Events().OnPassword = [&](TABSDatabase& db, bool& retry) {
                ++handlerCalls;
                if (c.handlerRetries > 0) db.SetPassword(kPassword);
                retry = c.handlerRetries > 0;
            };
        } else {
            db_.Events().OnPassword = nullptr;
        }
        EXPECT_EQ(NativeErrorOf([&] { db_.SetConnected(true); }), c.expectedError) << c.name;
        EXPECT_EQ(db_.Connected(), c.expectedError == 0) << c.name;
        EXPECT_EQ(prompts, c.expectedPrompts) << c.name;
        EXPECT_EQ(handlerCalls, c.handlerRetries >= 0 ? 1 : 0) << c.name;
        if (c.expectedError == 0) {
            EXPECT_EQ(db_.Password(), kPassword) << c.name;
        }
        db_.Close();
        EXPECT_EQ(Connections(file_), 0) << c.name;
    }
}

TEST_F(DatabaseTest, WrongPasswordMessage) {
    db_.SetPassword("Quorbel");
    db_.SetSilentMode(true);
    EXPECT_EQ(MessageOf([&] { db_.SetConnected(true); }),
              "Cannot open database because incorrect password - Native error: 30445");
}

TEST_F(DatabaseTest, SecondConnectionMustKnowThePasswordTheFileWasOpenedWith) {
    TABSSession templ;
    templ.SetSessionName("Template");
    TABSDatabase other;
    Configure(other, "Template");
    db_.SetConnected(true);

    other.SetPassword("Quorbel");  // the case differs
    EXPECT_EQ(MessageOf([&] { other.SetConnected(true); }), "Database password is invalid. - Native error: 20298");
    EXPECT_FALSE(other.Connected());
    EXPECT_EQ(Connections(file_), 1);

    // Not a wrong password for the file, so no prompt either.
    int prompts = 0;
    TABSHostHooks hooks;
    hooks.AskPassword = [&](TABSDatabase&) -> std::optional<std::string> {
        ++prompts;
        return std::string(kPassword);
    };
    HookScope scope(hooks);
    EXPECT_EQ(NativeErrorOf([&] { other.SetConnected(true); }), 20298);
    EXPECT_EQ(prompts, 0);

    other.SetPassword(kPassword);
    other.SetConnected(true);
    EXPECT_EQ(Connections(file_), 2);
}

// ---------------------------------------------------------------------------------------------
// Sharing and lifetime

TEST_F(DatabaseTest, TwoSessionsWithTheSameDatabaseNameShareOneOpenFile) {
    std::filesystem::create_directory(dir_.Path() / "sub");
    TABSSession templ;
    templ.SetSessionName("Template");
    TABSDatabase templateDb;
    Configure(templateDb, "Template", (dir_.Path() / "sub" / ".." / "meldung.abs").string());
    TABSQuery inAccess;
    Configure(inAccess, "DBAccess");
    TABSQuery inTemplate;
    Configure(inTemplate, "Template");

    const std::size_t filesBefore = TABSDatabaseDataList::Instance().OpenFileCount();
    inAccess.Open();
    inTemplate.Open();
    EXPECT_EQ(inAccess.Database(), &db_);
    EXPECT_EQ(inTemplate.Database(), &templateDb);
    EXPECT_EQ(TABSDatabaseDataList::Instance().OpenFileCount(), filesBefore + 1);
    EXPECT_EQ(Connections(file_), 2);
    EXPECT_EQ(&db_.Connection()->Data(), &templateDb.Connection()->Data());

    templateDb.Close();
    EXPECT_FALSE(inTemplate.Active());
    EXPECT_TRUE(inAccess.Active());
    EXPECT_EQ(Connections(file_), 1);
    db_.Close();
    EXPECT_EQ(TABSDatabaseDataList::Instance().OpenFileCount(), filesBefore);
}

TEST_F(DatabaseTest, SameFileNameKeepsTheConnectionAnotherClosesQueriesFirst) {
    TABSQuery query;
    Configure(query, "DBAccess");
    query.Open();
    db_.SetDatabaseFileName(file_);
    EXPECT_TRUE(db_.Connected());
    EXPECT_TRUE(query.Active());

    std::vector<std::string> events;
    query.Events().BeforeClose = [&](TABSDataSet&) { events.push_back(db_.Connected() ? "close, connected" : "close"); };
    db_.SetDatabaseFileName(dir_.File("other.abs"));
    EXPECT_EQ(events, std::vector<std::string>{"close, connected"});
    EXPECT_FALSE(db_.Connected());
    EXPECT_FALSE(query.Active());
    EXPECT_FALSE(query.Prepared());
    EXPECT_EQ(db_.ReferenceCount(), 0);
    EXPECT_EQ(Connections(file_), 0);
}

TEST_F(DatabaseTest, KeepConnectionOffClosesTheFileWithTheLastQuery) {
    db_.SetKeepConnection(false);
    TABSQuery first;
    Configure(first, "DBAccess");
    TABSQuery second;
    Configure(second, "DBAccess");

    first.Open();
    second.Open();
    EXPECT_EQ(db_.ReferenceCount(), 2);
    first.Close();
    EXPECT_TRUE(db_.Connected());
    EXPECT_EQ(Connections(file_), 1);
    second.Close();
    EXPECT_FALSE(db_.Connected());
    EXPECT_EQ(Connections(file_), 0);

    // The next use opens the file again, with the password check.
    first.Open();
    EXPECT_EQ(Connections(file_), 1);
    first.Close();
    EXPECT_EQ(Connections(file_), 0);

    TABSQuery insert;
    Configure(insert, "DBAccess");
    insert.SetSQLText("INSERT INTO Wettkampf (WkJahr) VALUES (2012);");
    insert.ExecSQL();
    EXPECT_FALSE(db_.Connected());
    EXPECT_EQ(engine_.Table(file_, "Wettkampf").rows.size(), 2u);

    db_.SetPassword("wrong");
    db_.SetSilentMode(true);
    EXPECT_EQ(NativeErrorOf([&] { first.Open(); }), 30445);
    EXPECT_FALSE(first.Active());
}

TEST_F(DatabaseTest, KeepConnectionOnKeepsTheFileOpen) {
    TABSQuery query;
    Configure(query, "DBAccess");
    query.Open();
    query.Close();
    EXPECT_TRUE(db_.Connected());
    EXPECT_EQ(db_.ReferenceCount(), 0);
    EXPECT_EQ(Connections(file_), 1);
    db_.SetKeepConnection(false);  // unused: disconnects at once
    EXPECT_FALSE(db_.Connected());
}

TEST_F(DatabaseTest, TemporaryDatabasesFollowTheSessionsKeepConnections) {
    const std::string open = dir_.File("open.abs");
    apitest::MakeDatabaseFile(open, "");
    engine_.Table(open, "T").columns = {Column("A", TABSBaseType::bftInteger, TFieldType::ftInteger)};
    TABSSession session;
    session.SetSessionName("Loose");

    for (const bool keep : {true, false}) {
        session.SetKeepConnections(keep);
        TABSQuery query;
        query.SetSessionName("Loose");
        query.SetDatabaseName(open);
        query.SetSQLText("SELECT * FROM T");
        query.Open();
        ASSERT_EQ(session.TemporaryDatabaseCount(), 1u);
        TABSDatabase* temporary = query.Database();
        EXPECT_TRUE(temporary->Temporary());
        EXPECT_EQ(temporary->KeepConnection(), keep);
        EXPECT_TRUE(temporary->SilentMode());
        query.Close();
        EXPECT_EQ(session.TemporaryDatabaseCount(), keep ? 1u : 0u) << keep;
        EXPECT_EQ(Connections(open), keep ? 1 : 0) << keep;
        session.SetActive(false);
        EXPECT_EQ(Connections(open), 0);
    }
}

TEST_F(DatabaseTest, DatasetFindsTheExplicitDatabaseByNameElseATemporaryOne) {
    TABSQuery query;
    Configure(query, "DBAccess");
    query.SetDatabaseName(file_);
    db_.SetDatabaseName(file_);  // a database may carry the file name as its alias
    query.Open();
    EXPECT_EQ(query.Database(), &db_);
    query.Close();

    db_.Close();
    db_.SetDatabaseName("Renamed");
    TABSQuery direct;
    Configure(direct, "DBAccess");
    direct.SetDatabaseName(file_);
    EXPECT_EQ(NativeErrorOf([&] { direct.Open(); }), 30445);  // temporary: empty password, silent
    EXPECT_EQ(access_.TemporaryDatabaseCount(), 0u);
}

TEST_F(DatabaseTest, ExplicitDatabaseReplacesAnUnusedTemporaryOfItsName) {
    TABSQuery query;
    Configure(query, "DBAccess");
    query.SetDatabaseName("Late");
    db_.SetDatabaseName("Other");
    // No database "Late" yet: the session makes one, which takes its name as the file name.
    EXPECT_EQ(MessageOf([&] { query.Open(); }), "Database file 'Late' does not exist");
    EXPECT_EQ(access_.TemporaryDatabaseCount(), 0u);

    // With a file it can open, the temporary one stays (KeepConnections is on) once unused.
    const std::string open = dir_.File("open.abs");
    apitest::MakeDatabaseFile(open, "");
    engine_.Table(open, "Wettkampf").columns = {Column("WkJahr", TABSBaseType::bftInteger, TFieldType::ftInteger)};
    query.SetDatabaseName(open);
    query.Open();
    query.Close();
    ASSERT_EQ(access_.TemporaryDatabaseCount(), 1u);

    TABSDatabase late;
    late.SetSessionName("DBAccess");
    late.SetDatabaseName(open);
    late.SetDatabaseFileName(open);
    late.SetConnected(true);  // no duplicate: the unused temporary one gives way
    EXPECT_EQ(access_.TemporaryDatabaseCount(), 0u);
    query.Open();
    EXPECT_EQ(query.Database(), &late);

    // A temporary database in use does not give way.
    late.Close();
    late.SetDatabaseName("Third");
    query.SetDatabaseName(open);
    query.Open();  // a temporary "open" again, now in use
    TABSDatabase clash;
    clash.SetName("Clash");
    clash.SetSessionName("DBAccess");
    clash.SetDatabaseName(open);
    clash.SetDatabaseFileName(open);
    EXPECT_EQ(MessageOf([&] { clash.SetConnected(true); }), "Clash: Duplicate database name '" + open + "'");
}

// ---------------------------------------------------------------------------------------------
// Properties taken from the file, flushing, creating, pseudo databases

TEST_F(DatabaseTest, ReadOnlyAndMaxConnectionsComeFromTheFile) {
    const std::string small = dir_.File("small.abs");
    TABSDatabase maker;
    maker.SetDatabaseFileName(small);
    maker.SetPassword(kPassword);
    maker.SetMaxConnections(7);
    maker.CreateDatabase();
    ASSERT_EQ(::chmod(small.c_str(), 0444), 0);

    db_.SetDatabaseFileName(small);
    EXPECT_EQ(db_.MaxConnections(), 500);
    engine_.Table(small, "Wettkampf").columns = {Column("WkJahr", TABSBaseType::bftInteger, TFieldType::ftInteger)};
    TABSQuery query;
    Configure(query, "DBAccess");
    query.Open();
    EXPECT_TRUE(db_.ReadOnly());
    EXPECT_EQ(db_.MaxConnections(), 7);
    ASSERT_TRUE(db_.FileSettings().has_value());
    EXPECT_TRUE(db_.FileSettings()->Encrypted);
    EXPECT_TRUE(query.ReadOnly());
    ASSERT_FALSE(engine_.contexts.empty());
    EXPECT_TRUE(engine_.contexts.back().ReadOnly);
}

TEST_F(DatabaseTest, FlushBuffersNeedsAConnection) {
    EXPECT_EQ(MessageOf([&] { db_.FlushBuffers(); }), "ABSDB: Cannot perform this operation on a closed database");
    db_.SetConnected(true);
    EXPECT_NO_THROW(db_.FlushBuffers());
    EXPECT_TRUE(db_.Connected());
}

TEST_F(DatabaseTest, CreatingAFileThatIsOpenInTheProcessFails) {
    db_.SetConnected(true);
    TABSDatabase maker;
    maker.SetDatabaseFileName(file_);
    EXPECT_EQ(NativeErrorOf([&] { maker.CreateDatabase(); }), 10461);
    EXPECT_EQ(MessageOf([&] { db_.CreateDatabase(); }), "ABSDB: Cannot perform this operation on an open database");
}

TEST_F(DatabaseTest, PseudoDatabasesNeedNoFile) {
    const std::size_t filesBefore = TABSDatabaseDataList::Instance().OpenFileCount();
    TABSDatabase memory;
    memory.SetSessionName("DBAccess");
    memory.SetDatabaseName("Mem");
    memory.SetDatabaseFileName("memory");
    memory.SetConnected(true);
    EXPECT_TRUE(memory.Connected());
    EXPECT_TRUE(memory.Connection()->IsPseudo());
    EXPECT_EQ(&memory.Connection()->Data(), TABSDatabaseDataList::Instance().PseudoDatabase("MEMORY").get());
    EXPECT_EQ(TABSDatabaseDataList::Instance().OpenFileCount(), filesBefore);
    EXPECT_NO_THROW(memory.FlushBuffers());
    EXPECT_FALSE(memory.FileSettings().has_value());
}

// ---------------------------------------------------------------------------------------------
// Files that need attention

class RepairTest : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        previousRebuilder_ = SetDatabaseRebuilder(nullptr);
    }
    void TearDown() override {
        SetDatabaseRebuilder(std::move(previousRebuilder_));
        SetOpenPromptsSuppressed(false);
        DatabaseTest::TearDown();
    }

    // Header bytes: format version (float64) at 18, state at 42.
    static void Patch(const std::string& file, std::size_t offset, const void* bytes, std::size_t count) {
        std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
        stream.seekp(static_cast<std::streamoff>(offset));
        stream.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    }
    static void SetState(const std::string& file, std::uint8_t state) { Patch(file, 42, &state, 1); }
    static void SetVersion(const std::string& file, double version) { Patch(file, 18, &version, sizeof version); }
    static std::uint8_t State(const std::string& file) {
        std::ifstream stream(file, std::ios::binary);
        stream.seekg(42);
        return static_cast<std::uint8_t>(stream.get());
    }

    // A rebuild that copies the file and marks the copy sound.
    void InstallCopyingRebuilder(bool succeed, std::string log) {
        SetDatabaseRebuilder([this, succeed, log](TABSDatabase& db, const std::string& newFileName, std::string& out) {
            rebuilds_.push_back(newFileName);
            EXPECT_FALSE(db.Connected());
            EXPECT_TRUE(OpenPromptsSuppressed());
            std::filesystem::copy_file(db.DatabaseFileName(), newFileName);
            SetState(newFileName, 2);
            SetVersion(newFileName, 5.14);
            out = log;
            return succeed;
        });
    }

    std::vector<std::string> rebuilds_;
    TABSDatabaseRebuilder previousRebuilder_;
};

TEST_F(RepairTest, FileNotClosedCorrectly) {
    struct Case {
        const char* name;
        bool silent;
        bool quiet;
        std::optional<bool> handlerAnswer;  // nothing: no OnNeedRepair handler
        std::optional<bool> questionAnswer; // nothing: no question hook
        int rebuilder;                      // 0 none, 1 succeeds with a log, 2 fails without one
        int expectedError;
        int expectedQuestions;
        std::vector<std::string> expectedWarnings;
    };
    const Case cases[] = {
        {"silent", true, false, std::nullopt, true, 1, 0, 0, {}},
        {"quiet switch", false, true, std::nullopt, true, 1, 0, 0, {}},
        {"handler says no", false, false, false, true, 1, 0, 0, {}},
        {"question answered no", false, false, std::nullopt, false, 1, 0, 1, {}},
        {"no question hook", false, false, std::nullopt, std::nullopt, 1, 0, 0, {}},
        {"yes, nothing to rebuild with", false, false, std::nullopt, true, 0, 20238, 1, {}},
        {"handler says yes, rebuilt", false, false, true, std::nullopt, 1, 0, 0, {"Table Namen mended"}},
        {"yes, rebuild fails", false, false, std::nullopt, true, 2, 20238, 1, {"Unknown error"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db_.Close();
        apitest::MakeDatabaseFile(file_, kPassword);
        SetState(file_, 1);
        rebuilds_.clear();
        SetDatabaseRebuilder(nullptr);
        if (c.rebuilder == 1) InstallCopyingRebuilder(true, "Table Namen mended");
        if (c.rebuilder == 2) InstallCopyingRebuilder(false, "");
        SetOpenPromptsSuppressed(c.quiet);
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
                EXPECT_EQ(text, "Database file was not correctly closed last time. Do you want to repair it?");
                return *c.questionAnswer;
            };
        }
        hooks.ShowMessage = [&](TABSMessageKind kind, const std::string& text) {
            EXPECT_EQ(kind, TABSMessageKind::Warning);
            warnings.push_back(text);
        };
        HookScope scope(hooks);

        const int error = NativeErrorOf([&] { db_.SetConnected(true); });
        EXPECT_EQ(error, c.expectedError);
        EXPECT_EQ(db_.Connected(), c.expectedError == 0);
        EXPECT_EQ(questions, c.expectedQuestions);
        EXPECT_EQ(warnings, c.expectedWarnings);
        const bool rebuiltOk = c.expectedError == 0 && !c.expectedWarnings.empty();
        EXPECT_EQ(rebuilds_.size(), rebuiltOk || c.rebuilder == 2 ? 1u : 0u);
        for (const std::string& target : rebuilds_) EXPECT_EQ(target, file_ + ".tmp");
        EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
        EXPECT_TRUE(std::filesystem::exists(file_));
        db_.Close();
        EXPECT_EQ(State(file_), rebuiltOk ? 2 : 1);
    }
}

TEST_F(RepairTest, NoRebuildAvailableMessage) {
    SetState(file_, 1);
    TABSHostHooks hooks;
    hooks.AskYesNo = [](const std::string&) { return true; };
    HookScope scope(hooks);
    EXPECT_EQ(MessageOf([&] { db_.SetConnected(true); }),
              "Cannot convert database file '" + file_ +
                  "' to the new format: no database rebuild is available - Native error: 20238");
}

TEST_F(RepairTest, OldFormatIsConvertedAfterAMessageWithoutAQuestion) {
    SetVersion(file_, 2.5);
    InstallCopyingRebuilder(true, "");
    std::vector<std::string> messages;
    int questions = 0;
    TABSHostHooks hooks;
    hooks.AskYesNo = [&](const std::string&) {
        ++questions;
        return false;
    };
    hooks.ShowMessage = [&](TABSMessageKind kind, const std::string& text) {
        EXPECT_EQ(kind, TABSMessageKind::Information);
        messages.push_back(text);
    };
    HookScope scope(hooks);
    db_.Events().OnNeedRepair = [](TABSDatabase&, bool& repair) { repair = false; };  // not asked for old files

    db_.SetConnected(true);
    EXPECT_TRUE(db_.Connected());
    EXPECT_EQ(questions, 0);
    ASSERT_EQ(messages.size(), 1u);  // the empty rebuild log shows no warning
    EXPECT_EQ(messages[0],
              "Database file you are opening is of old format. It will be converted to the current database format "
              "now. It is recommended to make a backup of the database before continuing.");
    EXPECT_EQ(rebuilds_.size(), 1u);
    ASSERT_TRUE(db_.FileSettings().has_value());
    EXPECT_DOUBLE_EQ(db_.FileSettings()->FormatVersion, 5.14);
}

} // namespace
} // namespace kova
