// Table locks: the compatibility of the seven lock kinds between sessions of two openings of
// one file (as two programs) and of one opening, retries and pauses, the exclusive kind, the
// commit's write locks and the errors.
#include "engine/storage/ABSTableLocks.h"

#include "engine/storage/ABSDiskEngine.h"
#include "internal_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kova {
namespace {

using testing::AddTable;
using testing::ConnectOptions;
using testing::CreateOptions;
using testing::NativeErrorOf;
using testing::QuickDatabase;
using testing::ScratchDirectory;

// Copy of the compatibility table: row = kind another session holds, column = kind requested.
constexpr int kExpectedCompatibility[7][7] = {
    {1, 1, 1, 1, 1, 1, 0},
    {1, 1, 1, 1, 0, 1, 0},
    {1, 1, 1, 0, 1, 1, 0},
    {1, 1, 0, 0, 0, 1, 0},
    {1, 0, 1, 0, 0, 1, 0},
    {1, 1, 1, 1, 1, 1, 0},
    {0, 0, 0, 0, 0, 0, 0},
};

TEST(TableLockCompatibility, MatchesTheTable) {
    for (int held = 0; held < 7; ++held) {
        for (int requested = 0; requested < 7; ++requested) {
            EXPECT_EQ(TABSDatabaseTableLockManager::IsCompatible(held, requested),
                      kExpectedCompatibility[held][requested] == 1)
                << "held " << held << ", requested " << requested;
        }
    }
    EXPECT_FALSE(TABSDatabaseTableLockManager::IsCompatible(7, 0));
    EXPECT_FALSE(TABSDatabaseTableLockManager::IsCompatible(0, -1));
}

class TableLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        TABSDiskDatabaseData(path_).CreateDatabase(CreateOptions(8));
        first_ = QuickDatabase(path_, &firstPauses_);
        second_ = QuickDatabase(path_, &secondPauses_);
        a_ = first_->ConnectSession(ConnectOptions(true)).SessionID;
        b_ = second_->ConnectSession(ConnectOptions(true)).SessionID;
        a2_ = first_->ConnectSession(ConnectOptions(true)).SessionID;
        table_ = AddTable(*first_, "Namen").TableId;
    }
    void TearDown() override {
        first_->DisconnectSession(a_);
        first_->DisconnectSession(a2_);
        second_->DisconnectSession(b_);
    }

    ScratchDirectory dir_;
    std::string path_ = dir_.File("locks.abs");
    int firstPauses_ = 0;
    int secondPauses_ = 0;
    std::unique_ptr<TABSDiskDatabaseData> first_;
    std::unique_ptr<TABSDiskDatabaseData> second_;
    TABSSessionID a_ = -1;   // session of the first opening
    TABSSessionID a2_ = -1;  // another session of the first opening
    TABSSessionID b_ = -1;   // session of the second opening
    std::int32_t table_ = 0;
};

TEST_F(TableLockTest, EveryCellOfTheTableBetweenTwoPrograms) {
    for (int held = 0; held < 7; ++held) {
        for (int requested = 0; requested < 7; ++requested) {
            ASSERT_TRUE(first_->LockTable(a_, table_, held, 1)) << "held " << held;
            const bool granted = second_->LockTable(b_, table_, requested, 1);
            EXPECT_EQ(granted, kExpectedCompatibility[held][requested] == 1)
                << "held " << held << ", requested " << requested;
            if (granted) {
                ASSERT_TRUE(second_->UnlockTable(b_, table_, requested));
            }
            ASSERT_TRUE(first_->UnlockTable(a_, table_, held));
        }
    }
}

TEST_F(TableLockTest, EveryCellOfTheTableBetweenSessionsOfOneProgram) {
    for (int held = 0; held < 7; ++held) {
        for (int requested = 0; requested < 7; ++requested) {
            ASSERT_TRUE(first_->LockTable(a_, table_, held, 1)) << "held " << held;
            const bool granted = first_->LockTable(a2_, table_, requested, 1);
            EXPECT_EQ(granted, kExpectedCompatibility[held][requested] == 1)
                << "held " << held << ", requested " << requested;
            if (granted) {
                ASSERT_TRUE(first_->UnlockTable(a2_, table_, requested));
            }
            ASSERT_TRUE(first_->UnlockTable(a_, table_, held));
        }
    }
}

TEST_F(TableLockTest, KindThreeMayIgnoreAHeldWriteLock) {
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockWrite, 1));
    EXPECT_FALSE(second_->LockTable(b_, table_, 3, 1));
    EXPECT_TRUE(second_->LockTable(b_, table_, 3, 1, /*ignoreWriteLock=*/true));
    ASSERT_TRUE(second_->UnlockTable(b_, table_, 3));
    // The flag concerns only kind 2: a held kind 4 still blocks kind 3.
    ASSERT_TRUE(first_->LockTable(a_, table_, 4, 1));
    EXPECT_FALSE(second_->LockTable(b_, table_, 3, 1, true));
    ASSERT_TRUE(first_->UnlockTable(a_, table_, 4));
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockWrite));
}

TEST_F(TableLockTest, LocksAreCountedPerSessionAndKind) {
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockOpen, 1));
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockOpen, 1));
    EXPECT_EQ(first_->TableLockManager().HeldCount(table_, a_, kTableLockOpen), 2);
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockOpen));
    EXPECT_FALSE(second_->LockTable(b_, table_, kTableLockExclusive, 1));  // one count left
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockOpen));
    EXPECT_TRUE(second_->LockTable(b_, table_, kTableLockExclusive, 1));
    EXPECT_FALSE(first_->UnlockTable(a_, table_, kTableLockOpen));  // not held any more
    ASSERT_TRUE(second_->UnlockTable(b_, table_, kTableLockExclusive));
}

TEST_F(TableLockTest, ExclusiveHolderMayTakeFurtherKindsItself) {
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockExclusive, 1));
    EXPECT_TRUE(first_->LockTable(a_, table_, kTableLockOpen, 1));
    EXPECT_FALSE(first_->LockTable(a2_, table_, kTableLockOpen, 1));
    EXPECT_FALSE(second_->LockTable(b_, table_, kTableLockOpen, 1));
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockExclusive));
    // The open lock stays and is compatible with another one.
    EXPECT_EQ(first_->TableLockManager().HeldCount(table_, a_, kTableLockOpen), 1);
    EXPECT_TRUE(second_->LockTable(b_, table_, kTableLockOpen, 1));
    EXPECT_FALSE(second_->LockTable(b_, table_, kTableLockExclusive, 1));
    ASSERT_TRUE(second_->UnlockTable(b_, table_, kTableLockOpen));
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockOpen));
}

TEST_F(TableLockTest, FailedRequestsRetryWithRandomPausesBetweenTries) {
    std::vector<int> pauses;
    TABSDatabaseTableLockManager manager(true, [&](int milliseconds) { pauses.push_back(milliseconds); });
    TABSTableLocksFile file(second_->PageManager());
    file.Open(second_->GetTable("Namen").LocksPageNo);
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockExclusive, 1));

    EXPECT_FALSE(manager.LockTable(file, table_, b_, kTableLockOpen, 7));
    ASSERT_EQ(pauses.size(), 6u);  // between the seven tries
    for (const int pause : pauses) {
        EXPECT_GE(pause, 50);
        EXPECT_LE(pause, 99);
    }
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockExclusive));
    pauses.clear();
    EXPECT_TRUE(manager.LockTable(file, table_, b_, kTableLockOpen, 7));
    EXPECT_TRUE(pauses.empty());
    ASSERT_TRUE(manager.UnlockTable(file, table_, b_, kTableLockOpen));
}

TEST_F(TableLockTest, OpeningALockedTableFailsAfterFiftyTries) {
    ASSERT_TRUE(first_->LockTable(a_, table_, kTableLockExclusive, 1));
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { second_->LockTableForOpen(b_, table_, false); }, &message), 20209);
    EXPECT_EQ(message, "Cannot open table 'Namen'. Table is locked");
    EXPECT_EQ(secondPauses_, kTableLockAttemptsAtOpen - 1);
    ASSERT_TRUE(first_->UnlockTable(a_, table_, kTableLockExclusive));

    first_->LockTableForOpen(a_, table_, false);
    EXPECT_EQ(NativeErrorOf([&] { second_->LockTableForOpen(b_, table_, true); }, &message), 20208);
    EXPECT_EQ(message, "Cannot access table 'Namen' in exclusive mode. Probably the table is open by another user");
    first_->UnlockTableForOpen(a_, table_, false);
    second_->LockTableForOpen(b_, table_, true);
    second_->UnlockTableForOpen(b_, table_, true);
}

TEST_F(TableLockTest, SlotOutsideTheLockFileFails) {
    TABSTableLocksFile file(first_->PageManager());
    file.Open(first_->GetTable("Namen").LocksPageNo);
    EXPECT_EQ(file.SlotCount(), 8);
    TABSDatabaseTableLockManager manager(true, [](int) {});
    std::string message;
    for (const TABSSessionID slot : {8, 9, kSystemSessionID}) {
        EXPECT_EQ(NativeErrorOf([&] { (void)manager.LockTable(file, table_, slot, 0, 1); }, &message), 20200) << slot;
        EXPECT_EQ(message, "Cannot set table lock. Try to repair database or to increase number of allowed connections");
    }
    EXPECT_TRUE(manager.LockTable(file, table_, 7, 0, 1));
    ASSERT_TRUE(manager.UnlockTable(file, table_, 7, 0));
}

TEST_F(TableLockTest, LockBytesSitWhereTheLayoutSaysAndRecordIdsAreStored) {
    TABSTableLocksFile file(second_->PageManager());
    file.Open(second_->GetTable("Namen").LocksPageNo);
    TABSInternalDBDirectAccessFile raw(second_->PageManager(), TABSPageType::TableLocks);
    raw.OpenFile(file.FirstPageNo());
    EXPECT_EQ(raw.GetSize(), 8 * 12);
    for (int kind = 0; kind <= kTableLockRecord; ++kind) {
        ASSERT_TRUE(first_->LockTable(a_, table_, kind, 1)) << kind;
        EXPECT_TRUE(raw.IsByteLocked(kind * 8 + a_)) << kind;
        EXPECT_FALSE(raw.IsByteLocked(kind * 8 + b_)) << kind;
        ASSERT_TRUE(first_->UnlockTable(a_, table_, kind));
        EXPECT_FALSE(raw.IsByteLocked(kind * 8 + a_)) << kind;
    }
    const std::uint8_t recordId[6] = {1, 2, 3, 4, 5, 6};
    file.WriteLockedRecordId(b_, recordId);
    std::uint8_t stored[6] = {};
    raw.DirectReadBuffer(6 * 8 + 6 * b_, stored);
    EXPECT_TRUE(std::equal(std::begin(recordId), std::end(recordId), std::begin(stored)));
    EXPECT_EQ(file.ReadLockedRecordId(b_), (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
}

TEST_F(TableLockTest, CommitLocksModifiedTablesForWriting) {
    TABSInternalDBTransactedAccessFile state(first_->PageManager(), TABSPageType::TableMostUpdated);
    state.OpenFile(first_->GetTable("Namen").MostUpdatedPageNo);
    const std::uint8_t bytes[] = {1, 2, 3};
    state.WriteFile(a_, bytes);
    first_->MarkTableModified(a_, table_);

    ASSERT_TRUE(second_->LockTable(b_, table_, 3, 1));  // kind 3 excludes writers
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { first_->Commit(a_); }, &message), 20233);
    EXPECT_EQ(message, "Cannot commit changes. Locks of modified tables failed");
    EXPECT_EQ(firstPauses_, kTableLockAttemptsAtCommit - 1);
    EXPECT_TRUE(first_->PageManager().SessionHasChanges(a_));

    ASSERT_TRUE(second_->UnlockTable(b_, table_, 3));
    first_->Commit(a_);
    EXPECT_FALSE(first_->PageManager().SessionHasChanges(a_));
    EXPECT_EQ(first_->TableLockManager().HeldCount(table_, a_, kTableLockWrite), 0);
    // The write lock was released: the other program may take kind 3 again.
    EXPECT_TRUE(second_->LockTable(b_, table_, 3, 1));
    ASSERT_TRUE(second_->UnlockTable(b_, table_, 3));
    EXPECT_EQ(state.ReadFile(b_), std::vector<std::uint8_t>(std::begin(bytes), std::end(bytes)));
}

TEST_F(TableLockTest, DisconnectReleasesTheSessionsLocks) {
    ASSERT_TRUE(first_->LockTable(a2_, table_, kTableLockExclusive, 1));
    EXPECT_FALSE(second_->LockTable(b_, table_, kTableLockOpen, 1));
    first_->DisconnectSession(a2_);
    EXPECT_TRUE(second_->LockTable(b_, table_, kTableLockOpen, 1));
    ASSERT_TRUE(second_->UnlockTable(b_, table_, kTableLockOpen));
    a2_ = first_->ConnectSession(ConnectOptions(true)).SessionID;  // for TearDown
}

TEST(SingleUserTableLocks, EveryRequestSucceedsAtOnce) {
    ScratchDirectory dir;
    const std::string path = dir.File("single.abs");
    TABSDiskDatabaseData(path).CreateDatabase(CreateOptions());
    int pauses = 0;
    auto db = QuickDatabase(path, &pauses);
    const TABSSessionID session = db->ConnectSession(ConnectOptions(false)).SessionID;
    const std::int32_t table = AddTable(*db, "Namen").TableId;
    EXPECT_TRUE(db->LockTable(session, table, kTableLockExclusive, 1));
    EXPECT_TRUE(db->LockTable(session, table, kTableLockExclusive, 1));
    db->LockTableForOpen(session, table, true);
    EXPECT_EQ(pauses, 0);
    db->DisconnectSession(session);
}

} // namespace
} // namespace kova
