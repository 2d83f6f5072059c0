// The open database: creating its files, connecting sessions in both modes, the table list as
// the sessions see it, commits and rollbacks, and two real processes sharing one file.
#include "engine/storage/ABSDiskEngine.h"

#include "engine/core/ByteOrder.h"
#include "internal_test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::AddTable;
using testing::ConnectOptions;
using testing::CreateOptions;
using testing::NativeErrorOf;
using testing::QuickDatabase;
using testing::RunInChildProcess;
using testing::ScratchDirectory;

class DiskDatabaseTest : public ::testing::Test {
protected:
    void Create(std::int32_t maxConnections = kDefaultMaxConnections) {
        TABSDiskDatabaseData(path_).CreateDatabase(CreateOptions(maxConnections));
    }

    ScratchDirectory dir_;
    std::string path_ = dir_.File("db.abs");
};

// ---------------------------------------------------------------------------------------------
// Creating and opening

TEST_F(DiskDatabaseTest, NewDatabaseHasDirectorySessionsFileAndTableListInPages2To4) {
    Create(7);
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    const TABSDatabaseFileInfo info = db->FileInfo();
    EXPECT_EQ(info.TotalPageCount, 6);
    EXPECT_EQ(info.LastUsedPageNo, 4);
    EXPECT_EQ(info.CommitCounter, 1);
    EXPECT_EQ(db->MaxConnections(), 7);
    EXPECT_EQ(db->TableCount(), 0u);

    TABSSystemDirectory directory(db->PageManager());
    directory.Open();
    const auto entries = directory.ReadEntries(connection.SessionID);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Id, TABSSystemDirectory::kTableListEntry);
    EXPECT_EQ(entries[0].FirstPageNo, 4);
    EXPECT_EQ(entries[1].Id, TABSSystemDirectory::kSessionsFileEntry);
    EXPECT_EQ(entries[1].FirstPageNo, 3);
    db->DisconnectSession(connection.SessionID);
    EXPECT_FALSE(db->IsOpen());
}

TEST_F(DiskDatabaseTest, SystemDirectoryMustComeOutAsPage2) {
    TABSDiskPageManager pages;
    pages.CreateDatabaseFile(path_, TABSPassword{});
    TABSPageHandle taken = pages.AddPage(kSystemSessionID, TABSPageType::TableRecord);  // takes page 2
    ASSERT_EQ(taken.PageNo(), 2);
    taken.Release();
    TABSSystemDirectory directory(pages);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { directory.Create(kSystemSessionID); }, &message), 30392);
    EXPECT_EQ(message, "Error Creating SystemDirectory. SystemDirectoryPageNo=2. Real PageNo=3.");
}

TEST_F(DiskDatabaseTest, SlotCountIsTheSmallerOfHeaderSizeAndChainBytes) {
    struct Case {
        std::int32_t HeaderSize;
        std::int32_t Slots;
    };
    const Case cases[] = {{100, 100}, {500, 500}, {10000, 4046}};
    for (const Case& c : cases) {
        Create();
        {
            TABSDiskPageManager pages;
            (void)pages.OpenDatabaseFile(path_, TABSPassword{}, TABSOpenOptions{});
            std::uint8_t size[4];
            WriteI32(size, c.HeaderSize);
            pages.DirectWritePage(3, 40 + 1, size);  // stored size of the sessions file header
        }
        auto db = QuickDatabase(path_);
        const TABSConnection connection = db->ConnectSession(ConnectOptions(true));
        EXPECT_EQ(db->MaxConnections(), c.Slots) << "header size " << c.HeaderSize;
        db->DisconnectSession(connection.SessionID);
    }
}

TEST_F(DiskDatabaseTest, WrongPasswordFailsAndLeavesTheDatabaseClosed) {
    TABSDiskDatabaseData(path_).CreateDatabase(CreateOptions(kDefaultMaxConnections, "quorbel"));
    auto db = QuickDatabase(path_);
    EXPECT_EQ(NativeErrorOf([&] { (void)db->ConnectSession(ConnectOptions(false, "Quorbel")); }), 30445);
    EXPECT_FALSE(db->IsOpen());
    EXPECT_EQ(db->ConnectionCount(), 0);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false, "quorbel"));
    EXPECT_TRUE(db->IsEncrypted());
    db->DisconnectSession(connection.SessionID);
}

// ---------------------------------------------------------------------------------------------
// Sessions

TEST_F(DiskDatabaseTest, FiveHundredMultiUserConnectionsAndNoMore) {
    Create();
    auto db = QuickDatabase(path_);
    std::set<TABSSessionID> sessions;
    for (int i = 0; i < 500; ++i) {
        const TABSConnection connection = db->ConnectSession(ConnectOptions(true));
        EXPECT_EQ(connection.SessionID, i);
        EXPECT_FALSE(connection.ReadOnly);
        sessions.insert(connection.SessionID);
    }
    EXPECT_EQ(sessions.size(), 500u);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)db->ConnectSession(ConnectOptions(true)); }, &message), 20094);
    EXPECT_EQ(message,
              "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");

    // Another opening of the file (another program) finds no slot either.
    auto other = QuickDatabase(path_);
    EXPECT_EQ(NativeErrorOf([&] { (void)other->ConnectSession(ConnectOptions(true)); }), 20094);
    EXPECT_FALSE(other->IsOpen());

    // A freed slot is the next one handed out, here and there.
    db->DisconnectSession(17);
    EXPECT_EQ(other->ConnectSession(ConnectOptions(true)).SessionID, 17);
    db->DisconnectSession(250);
    EXPECT_EQ(db->ConnectSession(ConnectOptions(true)).SessionID, 250);
    other->DisconnectSession(17);
}

TEST_F(DiskDatabaseTest, SingleUserFirstComerOwnsTheFileOthersReadOnly) {
    Create();
    auto first = QuickDatabase(path_);
    const TABSConnection owner = first->ConnectSession(ConnectOptions(false));
    EXPECT_EQ(owner.SessionID, 0);
    EXPECT_FALSE(owner.ReadOnly);
    EXPECT_TRUE(first->IsExclusiveOwner());
    // More connections of the owning process share session 0 and its rights.
    const TABSConnection again = first->ConnectSession(ConnectOptions(false));
    EXPECT_EQ(again.SessionID, 0);
    EXPECT_FALSE(again.ReadOnly);

    auto second = QuickDatabase(path_);
    const TABSConnection reader = second->ConnectSession(ConnectOptions(false));
    EXPECT_EQ(reader.SessionID, 0);
    EXPECT_TRUE(reader.ReadOnly);
    EXPECT_FALSE(second->IsExclusiveOwner());

    auto third = QuickDatabase(path_);
    EXPECT_EQ(NativeErrorOf([&] { (void)third->ConnectSession(ConnectOptions(true)); }), 20094);

    // The owner's first disconnection keeps the file; the last releases it.
    first->DisconnectSession(0);
    EXPECT_EQ(NativeErrorOf([&] { (void)third->ConnectSession(ConnectOptions(true)); }), 20094);
    first->DisconnectSession(0);
    EXPECT_FALSE(first->IsOpen());
    const TABSConnection multi = third->ConnectSession(ConnectOptions(true));
    EXPECT_EQ(multi.SessionID, 0);
    third->DisconnectSession(multi.SessionID);
    second->DisconnectSession(reader.SessionID);
}

TEST_F(DiskDatabaseTest, OneProcessCannotMixTheModes) {
    Create();
    struct Case {
        bool First;
        bool Second;
    };
    for (const Case c : {Case{true, false}, Case{false, true}}) {
        auto db = QuickDatabase(path_);
        const TABSConnection connection = db->ConnectSession(ConnectOptions(c.First));
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)db->ConnectSession(ConnectOptions(c.Second)); }, &message), 20235);
        EXPECT_EQ(message, "Cannot open database in multi-user and signle-user mode at the same time");
        EXPECT_EQ(db->ConnectionCount(), 1);
        db->DisconnectSession(connection.SessionID);
    }
}

TEST_F(DiskDatabaseTest, DisconnectingAnUnknownSessionFails) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(true));
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { db->DisconnectSession(connection.SessionID + 1); }, &message), 20095);
    EXPECT_EQ(message, "Cannot disconnect session");
    EXPECT_TRUE(db->IsOpen());
    db->DisconnectSession(connection.SessionID);
    EXPECT_EQ(NativeErrorOf([&] { db->DisconnectSession(connection.SessionID); }), 20095);
}

TEST_F(DiskDatabaseTest, ReadOnlyConnectionCannotCommitChanges) {
    Create();
    auto owner = QuickDatabase(path_);
    const TABSConnection ownerConnection = owner->ConnectSession(ConnectOptions(false));
    auto reader = QuickDatabase(path_);
    const TABSConnection readerConnection = reader->ConnectSession(ConnectOptions(false));
    ASSERT_TRUE(readerConnection.ReadOnly);

    TABSTableEntry entry;
    entry.Name = "Namen";
    reader->AddTableEntry(kSystemSessionID, entry);
    EXPECT_EQ(NativeErrorOf([&] { reader->Commit(kSystemSessionID); }), 20236);
    reader->Rollback(kSystemSessionID);
    EXPECT_FALSE(reader->FindTable("Namen").has_value());
    reader->Commit(kSystemSessionID);  // nothing to write: fine
    reader->DisconnectSession(readerConnection.SessionID);
    owner->DisconnectSession(ownerConnection.SessionID);
}

// ---------------------------------------------------------------------------------------------
// Table list

TEST_F(DiskDatabaseTest, TableListKeepsCreationOrderAcrossRenameDeleteAndReopen) {
    Create();
    std::vector<TABSTableEntry> made;
    {
        auto db = QuickDatabase(path_);
        const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
        for (const char* name : {"Wettkampf", "Klassen", "Namen", "Settings"}) made.push_back(AddTable(*db, name));
        db->RenameTableEntry(kSystemSessionID, "KLASSEN", "Altersklassen");
        db->DeleteTableEntry(kSystemSessionID, "namen");
        db->Commit(kSystemSessionID);
        db->DisconnectSession(connection.SessionID);
    }
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Wettkampf", "Altersklassen", "Settings"}));
    const TABSTableEntry renamed = db->GetTable("altersklassen");
    EXPECT_EQ(renamed.TableId, made[1].TableId);
    EXPECT_EQ(renamed.MetaDataPageNo, made[1].MetaDataPageNo);
    EXPECT_EQ(renamed.MostUpdatedPageNo, made[1].MostUpdatedPageNo);
    EXPECT_EQ(renamed.LocksPageNo, made[1].LocksPageNo);
    EXPECT_EQ(db->GetTable("SETTINGS"), (TABSTableEntry{"Settings", made[3].TableId, made[3].MetaDataPageNo,
                                                        made[3].MostUpdatedPageNo, made[3].LocksPageNo}));
    EXPECT_FALSE(db->FindTable("Namen").has_value());
    EXPECT_FALSE(db->FindTable("Klassen").has_value());
    // Table ids come from the object counter: distinct and rising.
    EXPECT_LT(made[0].TableId, made[1].TableId);
    EXPECT_LT(made[2].TableId, made[3].TableId);
    db->DisconnectSession(connection.SessionID);
}

TEST_F(DiskDatabaseTest, TableListEntryBytes) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    const TABSTableEntry first = AddTable(*db, "Klassen");
    const TABSTableEntry second = AddTable(*db, "Übung");
    TABSInternalDBTransactedAccessFile list(db->PageManager(), TABSPageType::TableList);
    list.OpenFile(4);
    const std::vector<std::uint8_t> content = list.ReadFile(connection.SessionID);
    ASSERT_EQ(content.size(), 2u * 272u);
    EXPECT_EQ(content[0], 7);
    EXPECT_EQ(std::string(content.begin() + 1, content.begin() + 8), "Klassen");
    EXPECT_EQ(ReadI32(&content[256]), first.TableId);
    EXPECT_EQ(ReadI32(&content[260]), first.MetaDataPageNo);
    EXPECT_EQ(ReadI32(&content[264]), first.MostUpdatedPageNo);
    EXPECT_EQ(ReadI32(&content[268]), first.LocksPageNo);
    // The second name is Windows-1252: "Ü" is the one byte 0xDC.
    EXPECT_EQ(content[272], 5);
    EXPECT_EQ(std::string(content.begin() + 273, content.begin() + 278), "\xDC" "bung");
    EXPECT_EQ(ReadI32(&content[272 + 256]), second.TableId);
    db->DisconnectSession(connection.SessionID);
}

TEST_F(DiskDatabaseTest, TableNamesCompareWithoutCase) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    for (const char* name : {"Settings", "Übung", "Straße", "Namen"}) (void)AddTable(*db, name);
    struct Case {
        const char* Asked;
        const char* Found;  // nullptr: no table
    };
    const Case cases[] = {
        {"SETTINGS", "Settings"}, {"settings", "Settings"}, {"übung", "Übung"},   {"ÜBUNG", "Übung"},
        {"STRAßE", "Straße"},     {"STRASSE", nullptr},     {"Name", nullptr},     {"Namen ", nullptr},
        {"Ωmega", nullptr},
    };
    for (const Case& c : cases) {
        const auto entry = db->FindTable(c.Asked);
        if (c.Found == nullptr) {
            EXPECT_FALSE(entry.has_value()) << c.Asked;
        } else {
            ASSERT_TRUE(entry.has_value()) << c.Asked;
            EXPECT_EQ(entry->Name, c.Found) << c.Asked;
        }
    }
    db->DisconnectSession(connection.SessionID);
}

TEST_F(DiskDatabaseTest, TableListErrors) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    (void)AddTable(*db, "Settings");
    (void)AddTable(*db, "Namen");
    TABSTableEntry duplicate;
    duplicate.Name = "SETTINGS";
    struct Case {
        const char* Name;
        std::function<void()> Call;
        int Code;
        std::string Message;
    };
    const Case cases[] = {
        {"add existing", [&] { db->AddTableEntry(kSystemSessionID, duplicate); }, 30395,
         "Cannot create table. Table 'SETTINGS' already exists"},
        {"look up missing", [&] { (void)db->GetTable("Verein"); }, 30396, "Table 'Verein' not exists."},
        {"rename missing", [&] { db->RenameTableEntry(kSystemSessionID, "Verein", "X"); }, 30397,
         "Table 'Verein' not exists."},
        {"rename onto another", [&] { db->RenameTableEntry(kSystemSessionID, "Namen", "settings"); }, 30395,
         "Cannot create table. Table 'settings' already exists"},
        {"delete missing", [&] { db->DeleteTableEntry(kSystemSessionID, "Verein"); }, 30405,
         "Table 'Verein' not exists."},
        {"name over 255 bytes", [&] { db->RenameTableEntry(kSystemSessionID, "Namen", std::string(256, 'n')); },
         30398, "Table name '" + std::string(256, 'n') + "' is too long. Maximum length is 255 characters"},
        {"name outside Windows-1252", [&] { db->RenameTableEntry(kSystemSessionID, "Namen", "Ωmega"); }, 30053, ""},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(c.Call, &message), c.Code) << c.Name;
        if (!c.Message.empty()) {
            EXPECT_EQ(message, c.Message) << c.Name;
        }
    }
    // Renaming a table to another spelling of its own name is allowed; 255 bytes are fine.
    db->RenameTableEntry(kSystemSessionID, "Namen", "NAMEN");
    db->RenameTableEntry(kSystemSessionID, "NAMEN", std::string(255, 'n'));
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Settings", std::string(255, 'n')}));
    db->DisconnectSession(connection.SessionID);
}

TEST_F(DiskDatabaseTest, RollbackOfAFailedCreationRestoresTheTableList) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection connection = db->ConnectSession(ConnectOptions(false));
    (void)AddTable(*db, "Settings");
    const std::int32_t pagesBefore = db->FileInfo().LastUsedPageNo;

    TABSTableEntry entry;
    entry.Name = "Namen";
    entry.TableId = db->NextObjectID();
    entry.LocksPageNo = db->CreateTableLocksFile(kSystemSessionID);
    db->AddTableEntry(kSystemSessionID, entry);
    EXPECT_TRUE(db->FindTable("Namen").has_value());
    db->Rollback(kSystemSessionID);

    EXPECT_FALSE(db->FindTable("Namen").has_value());
    EXPECT_EQ(db->TableNames(), std::vector<std::string>{"Settings"});
    EXPECT_EQ(db->PageManager().LastUsedPageNo(), pagesBefore);
    db->DisconnectSession(connection.SessionID);
}

TEST_F(DiskDatabaseTest, MultiUserSeesTablesAnotherOpeningMade) {
    Create();
    auto first = QuickDatabase(path_);
    auto second = QuickDatabase(path_);
    const TABSConnection a = first->ConnectSession(ConnectOptions(true));
    const TABSConnection b = second->ConnectSession(ConnectOptions(true));
    EXPECT_NE(a.SessionID, b.SessionID);
    (void)AddTable(*first, "Namen");
    EXPECT_EQ(second->GetTable("namen").Name, "Namen");
    (void)AddTable(*second, "Klassen");
    EXPECT_EQ(first->TableNames(), (std::vector<std::string>{"Namen", "Klassen"}));
    first->DisconnectSession(a.SessionID);
    second->DisconnectSession(b.SessionID);
}

// ---------------------------------------------------------------------------------------------
// Two processes

TEST_F(DiskDatabaseTest, TwoProcessesShareTheFileInMultiUserMode) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection mine = db->ConnectSession(ConnectOptions(true));
    ASSERT_EQ(mine.SessionID, 0);
    const TABSTableEntry namen = AddTable(*db, "Namen");
    db->LockTableForOpen(mine.SessionID, namen.TableId, /*exclusive=*/true);

    const int childResult = RunInChildProcess([&] {
        auto child = QuickDatabase(path_);
        const TABSConnection connection = child->ConnectSession(ConnectOptions(true));
        if (connection.SessionID != 1) return 1;              // slot 0 is the parent's
        if (!child->FindTable("NAMEN")) return 2;             // committed by the parent
        // The parent has the table exclusively.
        if (NativeErrorOf([&] { child->LockTableForOpen(connection.SessionID, namen.TableId, false); }) != 20209) return 3;
        (void)AddTable(*child, "Klassen");
        child->DisconnectSession(connection.SessionID);
        return 0;
    });
    EXPECT_EQ(childResult, 0);

    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Namen", "Klassen"}));
    // The child's slot was released when it disconnected.
    auto other = QuickDatabase(path_);
    EXPECT_EQ(other->ConnectSession(ConnectOptions(true)).SessionID, 1);
    other->DisconnectSession(1);
    db->UnlockTableForOpen(mine.SessionID, namen.TableId, true);
    db->DisconnectSession(mine.SessionID);
}

TEST_F(DiskDatabaseTest, SecondProcessInSingleUserModeGetsReadOnlyAccess) {
    Create();
    auto db = QuickDatabase(path_);
    const TABSConnection mine = db->ConnectSession(ConnectOptions(false));
    ASSERT_FALSE(mine.ReadOnly);
    (void)AddTable(*db, "Namen");

    const int childResult = RunInChildProcess([&] {
        auto child = QuickDatabase(path_);
        const TABSConnection connection = child->ConnectSession(ConnectOptions(false));
        if (!connection.ReadOnly) return 1;
        if (child->IsExclusiveOwner()) return 2;
        if (!child->FindTable("Namen")) return 3;
        auto multi = QuickDatabase(path_);
        if (NativeErrorOf([&] { (void)multi->ConnectSession(ConnectOptions(true)); }) != 20094) return 4;
        child->DisconnectSession(connection.SessionID);
        return 0;
    });
    EXPECT_EQ(childResult, 0);

    db->DisconnectSession(mine.SessionID);
    // With the owner gone, the next process owns the file.
    const int afterResult = RunInChildProcess([&] {
        auto child = QuickDatabase(path_);
        const TABSConnection connection = child->ConnectSession(ConnectOptions(false));
        const bool owns = !connection.ReadOnly && child->IsExclusiveOwner();
        child->DisconnectSession(connection.SessionID);
        return owns ? 0 : 1;
    });
    EXPECT_EQ(afterResult, 0);
}

} // namespace
} // namespace kova
