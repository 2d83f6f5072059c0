// A randomized run of inserts, updates and deletes against a table with several indexes and two
// BLOB fields, inside and outside transactions that commit or roll back. After every step the
// table must equal an in-memory model and its trees must pass the integrity check; after the
// run the reopened file must equal the model too.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSCompression.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

namespace kova::testing {
namespace {

using C = TABSColumnType;

struct ModelRow {
    std::string Code;          // unique
    std::string Name;          // may be empty (null)
    double Score = 0;
    std::string Memo;          // through the compressed stream; empty = null
    std::vector<std::uint8_t> Data;  // raw; empty = null
};

using Model = std::map<std::int64_t, ModelRow>;  // by ID

constexpr int kID = 0, kCode = 1, kName = 2, kScore = 3, kMemo = 4, kData = 5;

TABSTableDefinition ModelDefinition() {
    TABSFieldDef memo("Memo", C::actMemo);
    memo.BlobCompressionAlgorithm = kCompressionZlib;
    memo.BlobCompressionMode = 5;
    memo.BlobBlockSize = 3000;
    TABSIndexDef byName("ByName", 0, {TABSIndexColumn{"Name", false, true}});
    TABSIndexDef byScore("ByScore", 0, {TABSIndexColumn{"Score", true}, TABSIndexColumn{"Code"}});
    return Definition({Field("ID", C::actAutoInc), Field("Code", C::actString, 12), Field("Name", C::actString, 30),
                       Field("Score", C::actDouble), memo, Field("Data", C::actBlob)},
                      {Index("PK", {"ID"}, true, true), Index("UQCode", {"Code"}, true), byName, byScore});
}

class Runner {
public:
    Runner(TableDatabase& db, std::uint32_t seed) : db_(db), random_(seed) {}

    void Open() { table_ = db_.Open("T"); }
    void Close() { table_.Close(); }
    [[nodiscard]] Model& Rows() { return model_; }
    [[nodiscard]] TABSTableHandle& Table() { return table_; }

    std::string RandomText(std::size_t maxLength, const char* alphabet = "abcdefghijKLMNOPäöüß ") {
        const std::string letters = alphabet;
        std::string text;
        const std::size_t length = Pick(0, maxLength);
        while (Utf8Length(text) < length) {
            // Multi-byte letters count as one character.
            const std::size_t at = Pick(0, letters.size() - 1);
            std::size_t end = at + 1;
            while (end < letters.size() && (static_cast<unsigned char>(letters[end]) & 0xC0) == 0x80) ++end;
            std::size_t start = at;
            while (start > 0 && (static_cast<unsigned char>(letters[start]) & 0xC0) == 0x80) --start;
            text += letters.substr(start, end - start);
        }
        return text;
    }

    std::vector<std::uint8_t> RandomBytes() {
        // Mostly small values sharing pages, sometimes values that need pages of their own.
        const std::size_t size = Pick(0, 4) == 0 ? Pick(4000, 12000) : Pick(0, 300);
        std::vector<std::uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(Pick(0, 255));
        return bytes;
    }

    ModelRow RandomRow() {
        ModelRow row;
        row.Code = "C" + std::to_string(nextCode_++);
        row.Name = RandomText(30);
        row.Score = static_cast<double>(Pick(0, 40)) / 4.0;
        row.Memo = Pick(0, 2) == 0 ? std::string() : RandomText(Pick(0, 3) == 0 ? 5000 : 200, "lorem ipsum dolor");
        row.Data = RandomBytes();
        return row;
    }

    void Fill(std::vector<std::uint8_t>& record, const ModelRow& row, bool blobs) {
        const auto& fields = table_->FieldDefs();
        TABSVariant v;
        v.SetAsString(row.Code);
        fields.SetValue(record, kCode, v);
        v.SetAsString(row.Name);
        fields.SetValue(record, kName, v);
        v.SetAsDouble(row.Score);
        fields.SetValue(record, kScore, v);
        if (!blobs) return;
        auto stream = table_->OpenBlobStream(Session(), record, kMemo, TABSBlobOpenMode::Write);
        stream->SetSize(0);  // marks the stream changed even when the new text is empty
        ASSERT_EQ(stream->Write(row.Memo.data(), row.Memo.size()), row.Memo.size());
        table_->StoreBlobStream(Session(), record, *stream);
        TABSRawBlob raw;
        raw.UncompressedSize = static_cast<std::int64_t>(row.Data.size());
        raw.StoredBytes = row.Data;
        table_->SetBlobRaw(Session(), record, kData, raw);
    }

    void Insert() {
        ModelRow row = RandomRow();
        auto record = table_->NewRecordBuffer();
        Fill(record, row, true);
        const TABSRecordID id = table_->InsertRecord(Session(), record);
        const std::int64_t key = table_->FieldDefs().GetValue(record, kID).GetAsLargeInt();
        ASSERT_FALSE(model_.contains(key)) << "auto-increment value " << key << " handed out twice";
        model_[key] = row;
        ids_[key] = id;
        table_->ReleaseRecordBuffer(record, true);
    }

    void InsertDuplicate() {
        if (model_.empty()) return;
        ModelRow row = RandomRow();
        row.Code = std::next(model_.begin(), static_cast<long>(Pick(0, model_.size() - 1)))->second.Code;
        auto record = table_->NewRecordBuffer();
        Fill(record, row, true);
        EXPECT_EQ(NativeErrorOf([&] { (void)table_->InsertRecord(Session(), record); }), kUniqueViolationError);
        table_->ReleaseRecordBuffer(record, true);
    }

    void Update() {
        if (model_.empty()) return;
        auto it = std::next(model_.begin(), static_cast<long>(Pick(0, model_.size() - 1)));
        ModelRow row = it->second;
        const bool blobs = Pick(0, 1) == 0;
        if (Pick(0, 1) == 0) row.Name = RandomText(30);
        row.Score = static_cast<double>(Pick(0, 40)) / 4.0;
        if (Pick(0, 3) == 0) row.Code = "C" + std::to_string(nextCode_++);
        if (blobs) {
            const ModelRow fresh = RandomRow();
            row.Memo = fresh.Memo;
            row.Data = fresh.Data;
        }
        auto record = ReadBack(table_, ids_.at(it->first));
        Fill(record, row, blobs);
        table_->UpdateRecord(Session(), ids_.at(it->first), record);
        table_->ReleaseRecordBuffer(record, true);
        it->second = row;
    }

    void Delete() {
        if (model_.empty()) return;
        auto it = std::next(model_.begin(), static_cast<long>(Pick(0, model_.size() - 1)));
        table_->DeleteRecord(Session(), ids_.at(it->first));
        ids_.erase(it->first);
        model_.erase(it);
    }

    void Begin() {
        if (saved_) return;
        db_.Tables().StartTransaction(Session());
        saved_ = Snapshot{model_, ids_, nextCode_};
    }
    void End(bool commit) {
        if (!saved_) return;
        if (commit) {
            db_.Tables().Commit(Session());
        } else {
            db_.Tables().Rollback(Session());
            model_ = saved_->Rows;
            ids_ = saved_->Ids;
        }
        saved_.reset();
    }

    void Step() {
        const std::size_t dice = Pick(0, 99);
        if (dice < 40 || model_.size() < 5) {
            Insert();
        } else if (dice < 62) {
            Update();
        } else if (dice < 80) {
            Delete();
        } else if (dice < 85) {
            InsertDuplicate();
        } else if (dice < 91) {
            Begin();
        } else {
            End(dice < 96);
        }
    }

    void Check(bool deep) {
        const TABSSessionID s = Session();
        ASSERT_EQ(table_->RecordCount(s), model_.size());
        auto& disk = static_cast<TABSDiskTableData&>(table_.Table());
        const auto counts = IndexEntryCounts(table_);
        ASSERT_EQ(counts.size(), 4u);
        for (const auto& [name, count] : counts) ASSERT_EQ(count, model_.size()) << name;
        disk.CheckIntegrity(s);
        std::size_t seen = 0;
        for (const TABSRecordID& id : PhysicalOrder(table_)) {
            auto record = ReadBack(table_, id);
            const std::int64_t key = table_->FieldDefs().GetValue(record, kID).GetAsLargeInt();
            const auto found = model_.find(key);
            ASSERT_NE(found, model_.end()) << "record " << key << " is not in the model";
            ++seen;
            if (!deep && Pick(0, 9) != 0) continue;
            const ModelRow& row = found->second;
            EXPECT_EQ(ValueOf(*table_, record, "Code").GetAsString(), row.Code);
            EXPECT_EQ(ValueOf(*table_, record, "Name").GetAsString(), row.Name);
            EXPECT_EQ(ValueOf(*table_, record, "Score").GetAsDouble(), row.Score);
            auto memo = table_->OpenBlobStream(s, record, kMemo, TABSBlobOpenMode::Read);
            std::string text(static_cast<std::size_t>(memo->Size()), '\0');
            ASSERT_EQ(memo->Read(text.data(), text.size()), text.size());
            EXPECT_EQ(text, row.Memo) << key;
            memo.reset();
            const TABSRawBlob data = table_->GetBlobRaw(s, record, kData);
            EXPECT_EQ(data.StoredBytes, row.Data) << key;
            table_->ReleaseRecordBuffer(record, true);
        }
        ASSERT_EQ(seen, model_.size());
    }

    TABSSessionID Session() const { return db_.Session(); }

private:
    std::size_t Pick(std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random_);
    }

    struct Snapshot {
        Model Rows;
        std::map<std::int64_t, TABSRecordID> Ids;
        int NextCode = 0;
    };

    TableDatabase& db_;
    std::mt19937 random_;
    TABSTableHandle table_;
    Model model_;
    std::map<std::int64_t, TABSRecordID> ids_;
    std::optional<Snapshot> saved_;
    int nextCode_ = 0;
};

class TableModelTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(TableModelTest, TableFollowsTheModelThroughCommitsAndRollbacks) {
    ScratchDirectory dir;
    const std::string path = dir.File("model.abs");
    Model expected;
    {
        TableDatabase db(path);
        db.Tables().CreateTable("T", ModelDefinition());
        Runner runner(db, GetParam());
        runner.Open();
        for (int step = 0; step < 700; ++step) {
            runner.Step();
            ASSERT_NO_FATAL_FAILURE(runner.Check(false)) << "after step " << step;
            if (::testing::Test::HasFailure()) FAIL() << "after step " << step;
        }
        runner.End(true);
        ASSERT_NO_FATAL_FAILURE(runner.Check(true));
        expected = runner.Rows();
        runner.Close();
    }
    TableDatabase db(path, false);
    Runner reopened(db, GetParam() + 1);
    reopened.Open();
    reopened.Rows() = expected;
    ASSERT_NO_FATAL_FAILURE(reopened.Check(true));
    ASSERT_GT(expected.size(), 50u) << "the run should leave a table of some size";
}

INSTANTIATE_TEST_SUITE_P(Seeds, TableModelTest, ::testing::Values(1u, 2u, 20240917u));

} // namespace
} // namespace kova::testing
