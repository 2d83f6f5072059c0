// A writer killed with SIGKILL at random moments never costs a committed row, and a commit it was
// in the middle of is either all there or not at all.
//
// A forked child runs a long stream of commits (inserts, updates and deletes, alone or several in
// one transaction) on a table with three indexes and a memo, and tells the parent through a pipe
// what each commit will change before it starts and that it returned afterwards. The parent kills
// it, either after a random number of commits plus a random part of the next one (such a kill can
// land inside a write and tear a page), or the child kills itself just before its N-th write or
// size change of a file (N random), which puts kill points on every step of the commit path: the
// journal, the header marking a commit, pages given back, pages written, the header marking the
// end, free-space maps growing the file.
//
// After every kill the parent opens the file (which rolls back a cut commit from its journal) and
// requires: the file does not need repair and the journal is gone; every row of every commit that
// returned is there as that commit left it; the rows the cut commit touched are all as before or
// all as the commit made them; no row is garbled (each carries the CRC of its own content); every
// index passes the integrity check and lists exactly the table's records. The next child goes on
// with the same file.
//
// KOVA_CRASH_KILLS sets the kills per file kind: the default is 100, so 200 in a run (seconds in a
// release build); more give a long run. KOVA_CRASH_SEED varies the writers' plans and kill points
// between runs.
#include "crash_test_support.h"
#include "../forwarding_file_system.h"

#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

namespace kova::testing {
namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// What a commit changes, as the writer announces it

struct RowChange {
    std::int32_t Id = 0;
    std::optional<std::int32_t> Version;  // nothing: the row is deleted
};

struct CommitPlan {
    int Number = 0;
    bool Alone = false;  // one change outside a transaction: the change commits by itself
    std::vector<RowChange> Changes;
};

// The pipe carries lines: "B n", then "P id version" / "D id" per change, then "E n", written in one
// piece before commit n starts; "C n writes" once commit n returned; "X text" when the writer failed.
std::string Announcement(const CommitPlan& plan) {
    std::string text = "B " + std::to_string(plan.Number) + "\n";
    for (const RowChange& change : plan.Changes) {
        text += change.Version ? "P " + std::to_string(change.Id) + " " + std::to_string(*change.Version) + "\n"
                               : "D " + std::to_string(change.Id) + "\n";
    }
    return text + "E " + std::to_string(plan.Number) + "\n";
}

// What the parent learned from one writer.
struct WriterLog {
    std::vector<CommitPlan> Announced;  // complete announcements in order
    int Completed = 0;                  // highest commit that returned
    std::int64_t WritesAtLastCommit = 0;
    std::string Failure;
};

WriterLog ParseWriterLog(const std::string& text) {
    WriterLog log;
    std::istringstream lines(text);
    std::string line;
    std::optional<CommitPlan> open;
    while (std::getline(lines, line)) {
        if (lines.eof()) break;  // a line without its end was cut by the kill
        std::istringstream in(line);
        char tag = 0;
        in >> tag;
        if (tag == 'B') {
            open.emplace();
            in >> open->Number;
        } else if ((tag == 'P' || tag == 'D') && open) {
            RowChange change;
            in >> change.Id;
            if (tag == 'P') {
                std::int32_t version = 0;
                in >> version;
                change.Version = version;
            }
            open->Changes.push_back(change);
        } else if (tag == 'E' && open) {
            log.Announced.push_back(std::move(*open));
            open.reset();
        } else if (tag == 'C') {
            in >> log.Completed >> log.WritesAtLastCommit;
        } else if (tag == 'X') {
            log.Failure = line.substr(2);
        }
    }
    return log;
}

// ---------------------------------------------------------------------------------------------
// The writer (runs in the child)

// Kills the process just before its N-th write or size change of a file.
class KillSwitchFileSystem final : public ForwardingFileSystem {
public:
    explicit KillSwitchFileSystem(std::int64_t killAt) : killAt_(killAt) {}

    [[nodiscard]] std::int64_t Changes() const noexcept { return changes_; }

protected:
    bool WriteReachesFile() override { return BeforeChange(); }
    bool SizeChangeReachesFile() override { return BeforeChange(); }

private:
    bool BeforeChange() {
        if (++changes_ == killAt_) ::kill(::getpid(), SIGKILL);
        return true;
    }

    std::int64_t killAt_;
    std::int64_t changes_ = 0;
};

struct WriterSetup {
    std::string Path;
    std::string Password;
    std::uint64_t Seed = 0;
    std::int64_t KillAtChange = 0;  // 0: only the parent kills
    std::map<std::int32_t, std::int32_t> Rows;  // id -> version, as the parent found the file
    std::int32_t NextId = 1;
};

void Send(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ::_exit(4);
        done += static_cast<std::size_t>(n);
    }
}

// The table stays around a hundred rows: inserts win while it is small, deletes while it is big.
CommitPlan PlanCommit(std::mt19937_64& random, const std::map<std::int32_t, std::int32_t>& rows, std::int32_t& nextId,
                      int number) {
    CommitPlan plan;
    plan.Number = number;
    const int size = random() % 2 == 0 ? 1 : 2 + static_cast<int>(random() % 5);
    plan.Alone = size == 1 && random() % 4 != 0;
    std::set<std::int32_t> touched;
    for (int i = 0; i < size; ++i) {
        const std::size_t live = rows.size() - std::count_if(touched.begin(), touched.end(),
                                                             [&](std::int32_t id) { return rows.contains(id); });
        const int insertShare = live < 40 ? 70 : live > 160 ? 15 : 35;
        const int deleteShare = live < 40 ? 5 : live > 160 ? 45 : 20;
        const int roll = static_cast<int>(random() % 100);
        if (roll < insertShare || live == 0) {
            plan.Changes.push_back({nextId++, 1});
            continue;
        }
        auto it = rows.begin();
        do {
            it = std::next(rows.begin(), static_cast<std::ptrdiff_t>(random() % rows.size()));
        } while (touched.contains(it->first));
        touched.insert(it->first);
        if (roll < insertShare + deleteShare) {
            plan.Changes.push_back({it->first, std::nullopt});
        } else {
            plan.Changes.push_back({it->first, it->second + 1});
        }
    }
    return plan;
}

void WriterBody(const WriterSetup& setup, int fd) {
    KillSwitchFileSystem files(setup.KillAtChange);
    TABSDiskDatabaseData database(setup.Path, files);
    database.SetSleeper([](int) {});
    const TABSSessionID session = database.ConnectSession(ConnectOptions(false, setup.Password)).SessionID;
    TABSDiskDatabaseTables tables(database);
    TABSTableHandle table = tables.OpenTable(session, kRowsTable);

    std::map<std::int32_t, TABSRecordID> where;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        std::vector<std::uint8_t> record = ReadBack(table, id);
        where[ValueOf(*table, record, "ID").GetAsInteger()] = id;
    }
    std::map<std::int32_t, std::int32_t> rows = setup.Rows;
    std::int32_t nextId = setup.NextId;
    std::mt19937_64 random(setup.Seed);
    for (int number = 1;; ++number) {
        const CommitPlan plan = PlanCommit(random, rows, nextId, number);
        Send(fd, Announcement(plan));
        if (!plan.Alone) tables.StartTransaction(session);
        for (const RowChange& change : plan.Changes) {
            const auto old = rows.find(change.Id);
            if (!change.Version) {
                table->DeleteRecord(session, where.at(change.Id));
                where.erase(change.Id);
                rows.erase(old);
                continue;
            }
            const RowImage image = ImageOf(change.Id, *change.Version);
            if (old == rows.end()) {
                std::vector<std::uint8_t> record = table->NewRecordBuffer();
                PutImage(*table, session, record, image);
                where[change.Id] = table->InsertRecord(session, record);
                table->ReleaseRecordBuffer(record, true);
            } else {
                std::vector<std::uint8_t> record = ReadBack(table, where.at(change.Id));
                PutImage(*table, session, record, image, old->second / 2 == *change.Version / 2);
                table->UpdateRecord(session, where.at(change.Id), record);
                table->ReleaseRecordBuffer(record, true);
            }
            rows[change.Id] = *change.Version;
        }
        if (!plan.Alone) tables.Commit(session);
        Send(fd, "C " + std::to_string(number) + " " + std::to_string(files.Changes()) + "\n");
    }
}

[[noreturn]] void RunWriter(const WriterSetup& setup, int fd) {
    int code = 0;
    try {
        WriterBody(setup, fd);
    } catch (const std::exception& e) {
        std::string text = e.what();
        std::replace(text.begin(), text.end(), '\n', ' ');
        Send(fd, "X " + text + "\n");
        code = 3;
    }
    ::_exit(code);
}

// ---------------------------------------------------------------------------------------------
// The parent's side of one writer

std::size_t ThreadCount() {
    std::size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

class WriterProcess {
public:
    // Forks the writer. The caller must hold no open database: the child would share its file
    // description, and with it its byte-range locks.
    explicit WriterProcess(const WriterSetup& setup) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            RunWriter(setup, fds[1]);
        }
        ::close(fds[1]);
        fd_ = fds[0];
        if (pid_ < 0) throw std::runtime_error("fork failed");
    }
    ~WriterProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            (void)::waitpid(pid_, &status, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    WriterProcess(const WriterProcess&) = delete;
    WriterProcess& operator=(const WriterProcess&) = delete;

    // Reads what arrives until `deadline`; false once the writer's end is closed.
    bool Pump(Clock::time_point deadline) {
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return true;
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n' && i > 0 && lineStart_ < output_.size() && output_[lineStart_] == 'C') {
                    ++completed_;
                    lastCompletion_ = Clock::now();
                }
                output_.push_back(buffer[i]);
                if (buffer[i] == '\n') lineStart_ = output_.size();
            }
            if (Clock::now() >= deadline) return true;
        }
    }

    [[nodiscard]] int Completed() const noexcept { return completed_; }
    [[nodiscard]] Clock::time_point LastCompletion() const noexcept { return lastCompletion_; }
    void Kill() { ::kill(pid_, SIGKILL); }

    // Reads to the end and reaps the child (killing it when it outlives `limit`); the wait status.
    int Finish(std::chrono::seconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Pump(deadline)) {
            if (Clock::now() >= deadline) {
                hung_ = true;
                Kill();
            }
        }
        int status = 0;
        (void)::waitpid(pid_, &status, 0);
        reaped_ = true;
        return status;
    }
    [[nodiscard]] bool Hung() const noexcept { return hung_; }
    [[nodiscard]] const std::string& Output() const noexcept { return output_; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    bool reaped_ = false;
    bool hung_ = false;
    std::string output_;
    std::size_t lineStart_ = 0;
    int completed_ = 0;
    Clock::time_point lastCompletion_ = Clock::now();
};

// ---------------------------------------------------------------------------------------------
// The parent's model and the check after a kill

using RowState = std::optional<std::int32_t>;  // version, or nothing when the row does not exist

struct Figures {
    int Kills = 0;
    int KillsBySwitch = 0;
    int CommitsCompleted = 0;
    int RolledBack = 0;        // kills inside a commit, which the next opening rolled back
    int CutCommitsLanded = 0;  // kills after a commit was complete on disk but before it returned
    std::int64_t RowsChecked = 0;
};

class CrashModel {
public:
    std::map<std::int32_t, std::int32_t> Rows;  // committed: id -> version
    std::int32_t NextId = 1;

    // Applies the commits that returned; returns the changes of the cut commit (empty when none).
    std::map<std::int32_t, RowState> Advance(const WriterLog& log) {
        std::map<std::int32_t, RowState> pending;
        for (const CommitPlan& plan : log.Announced) {
            for (const RowChange& change : plan.Changes) NextId = std::max(NextId, change.Id + 1);
            if (plan.Number <= log.Completed) {
                for (const RowChange& change : plan.Changes) {
                    if (change.Version) {
                        Rows[change.Id] = *change.Version;
                    } else {
                        Rows.erase(change.Id);
                    }
                }
            } else if (plan.Number == log.Completed + 1) {
                for (const RowChange& change : plan.Changes) pending[change.Id] = change.Version;
            }
        }
        return pending;
    }

    [[nodiscard]] RowState StateOf(std::int32_t id) const {
        const auto it = Rows.find(id);
        return it == Rows.end() ? RowState{} : RowState{it->second};
    }
};

std::string Describe(const RowState& state) { return state ? "version " + std::to_string(*state) : "absent"; }

class CrashKillTest : public ::testing::TestWithParam<const char*> {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("crash.abs");
    std::string password_ = GetParam();
    CrashModel model_;
    Figures figures_;

    void CreateFile() {
        TableDatabase db(path_, true, false, nullptr, password_);
        db.Tables().CreateTable(kRowsTable, RowsDefinition());
    }

    // Opens the file after a kill and holds it against the model. Afterwards the model is what
    // the file holds.
    void CheckFile(const std::map<std::int32_t, RowState>& pending) {
        TableDatabase db(path_, false, false, nullptr, password_);
        ASSERT_FALSE(db.Database().NeedsRepair()) << "the kill left the file needing repair";
        ASSERT_FALSE(std::filesystem::exists(TABSCommitJournal::NameFor(path_))) << "the journal outlived the opening";
        const bool rolledBack = db.Database().PageManager().RolledBackCutCommit();
        if (rolledBack) ++figures_.RolledBack;
        if (std::getenv("KOVA_CRASH_VERBOSE") != nullptr) {
            std::cerr << "round " << figures_.Kills << (rolledBack ? " rolled back" : " clean") << ", pending:";
            for (const auto& [id, change] : pending) std::cerr << " " << id << "->" << Describe(change);
            std::cerr << "\n";
        }
        TABSTableHandle table = db.Open(kRowsTable);
        const std::map<std::int32_t, StoredRow> rows = ReadAllRows(table);
        figures_.RowsChecked += static_cast<std::int64_t>(rows.size());
        EXPECT_EQ(table->RecordCount(db.Session()), rows.size());

        std::set<std::int32_t> ids;
        for (const auto& [id, version] : model_.Rows) ids.insert(id);
        for (const auto& [id, change] : pending) ids.insert(id);
        for (const auto& [id, row] : rows) ids.insert(id);
        int asBefore = 0;
        int asCut = 0;
        std::map<std::int32_t, std::int32_t> found;
        for (const std::int32_t id : ids) {
            const auto stored = rows.find(id);
            RowState actual;
            if (stored != rows.end()) {
                const StoredRow& row = stored->second;
                ASSERT_TRUE(row.Intact()) << "row " << id << " is garbled (version " << row.Image.Version << ", note of "
                                          << row.Image.Note.size() << " bytes"
                                          << (pending.contains(id) ? ", touched by the cut commit" : "") << ")";
                ASSERT_EQ(row.Image, ImageOf(id, row.Image.Version)) << "row " << id << " is no version the writer stored";
                actual = row.Image.Version;
                found[id] = row.Image.Version;
            }
            const RowState before = model_.StateOf(id);
            const auto change = pending.find(id);
            if (change == pending.end()) {
                ASSERT_EQ(actual, before) << "row " << id << ": " << Describe(actual) << " instead of "
                                          << Describe(before);
                continue;
            }
            ASSERT_TRUE(actual == before || actual == change->second)
                << "row " << id << " of the cut commit: " << Describe(actual) << ", neither " << Describe(before)
                << " nor " << Describe(change->second);
            if (before == change->second) continue;
            ++(actual == before ? asBefore : asCut);
        }
        EXPECT_FALSE(asBefore > 0 && asCut > 0)
            << "the cut commit reached the file in part: " << asCut << " rows changed, " << asBefore << " not";
        EXPECT_FALSE(rolledBack && asCut > 0) << "the rollback left rows of the cut commit";
        if (asCut > 0) ++figures_.CutCommitsLanded;

        // Auto-increment values stay unique.
        std::set<std::int64_t> seqs;
        for (const auto& [id, row] : rows) EXPECT_TRUE(seqs.insert(row.Seq).second) << "Seq " << row.Seq << " repeats";
        ExpectSoundIndexes(table, rows);
        model_.Rows = std::move(found);
    }

    // One writer: started, killed, checked. `bySwitch` lets the child kill itself at a write.
    void RunRound(std::mt19937_64& random, bool bySwitch, double& changesPerCommit, double commitMicros) {
        WriterSetup setup;
        setup.Path = path_;
        setup.Password = password_;
        setup.Seed = random();
        setup.Rows = model_.Rows;
        setup.NextId = model_.NextId;
        const int commitsBeforeKill = static_cast<int>(random() % 12);
        if (bySwitch) {
            const auto span = static_cast<std::int64_t>(changesPerCommit * (commitsBeforeKill + 1)) + 1;
            setup.KillAtChange = 1 + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(span));
        }
        ASSERT_EQ(ThreadCount(), 1u) << "forking needs a process without other threads";
        WriterProcess writer(setup);
        if (!bySwitch) {
            // Wait for the chosen number of commits, then kill somewhere inside the next ones.
            const auto limit = Clock::now() + std::chrono::seconds(30);
            while (writer.Completed() < commitsBeforeKill && Clock::now() < limit) {
                if (!writer.Pump(Clock::now() + std::chrono::milliseconds(5))) break;
            }
            const auto delay = std::chrono::microseconds(
                static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(commitMicros * 1.5 + 1)));
            std::this_thread::sleep_for(delay);
            writer.Kill();
        }
        const int status = writer.Finish(std::chrono::seconds(30));
        ASSERT_FALSE(writer.Hung()) << "the writer did not finish";
        const WriterLog log = ParseWriterLog(writer.Output());
        ASSERT_EQ(log.Failure, "") << "the writer failed";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended with status " << status;
        ++figures_.Kills;
        if (bySwitch) ++figures_.KillsBySwitch;
        figures_.CommitsCompleted += log.Completed;
        if (log.Completed > 0) {
            changesPerCommit = 0.8 * changesPerCommit + 0.2 * static_cast<double>(log.WritesAtLastCommit) / log.Completed;
        }
        CheckFile(model_.Advance(log));
    }
};

int KillsPerFileKind() {
    if (const char* text = std::getenv("KOVA_CRASH_KILLS")) {
        const int kills = std::atoi(text);
        if (kills > 0) return kills;
    }
    return 100;
}

TEST_P(CrashKillTest, EveryCommittedRowSurvivesEveryKill) {
    CreateFile();
    std::uint64_t seed = 0xC0FFEEull;
    if (const char* text = std::getenv("KOVA_CRASH_SEED")) seed = std::strtoull(text, nullptr, 10);
    std::mt19937_64 random(std::hash<std::string>{}(password_) ^ seed);
    double changesPerCommit = 12;
    double commitMicros = 3000;
    const int kills = KillsPerFileKind();
    const auto start = Clock::now();
    for (int round = 0; round < kills && !HasFatalFailure(); ++round) {
        const int commitsBefore = figures_.CommitsCompleted;
        const auto roundStart = Clock::now();
        RunRound(random, round % 2 == 1, changesPerCommit, commitMicros);
        const int commits = figures_.CommitsCompleted - commitsBefore;
        if (commits > 2) {
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - roundStart).count();
            commitMicros = 0.7 * commitMicros + 0.3 * static_cast<double>(micros) / commits;
        }
    }
    const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(figures_.Kills, kills);
    // The kill points must reach into commits, or the test proves little.
    EXPECT_GT(figures_.RolledBack, kills / 10);
    std::cout << "[ figures  ] " << (password_.empty() ? "plain" : "enciphered") << " file: " << figures_.Kills
              << " kills (" << figures_.KillsBySwitch << " at a chosen write), " << figures_.CommitsCompleted
              << " commits completed, " << figures_.RolledBack << " cut commits rolled back, "
              << figures_.CutCommitsLanded << " complete on disk before they returned, " << figures_.RowsChecked
              << " rows checked, " << model_.Rows.size() << " rows at the end, " << seconds << " s\n";
    RecordProperty("kills", figures_.Kills);
    RecordProperty("commits", figures_.CommitsCompleted);
    RecordProperty("rolled_back", figures_.RolledBack);
    RecordProperty("rows_checked", static_cast<int>(figures_.RowsChecked));
}

INSTANTIATE_TEST_SUITE_P(FileKinds, CrashKillTest, ::testing::Values("", "geheim"),
                         [](const auto& info) { return std::string(*info.param ? "Enciphered" : "Plain"); });

} // namespace
} // namespace kova::testing
