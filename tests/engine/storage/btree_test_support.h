// Test helpers for the index tests: a page manager that keeps its pages in memory and counts the
// pages in use, so that tests can see pages being made and given back.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSPage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <map>
#include <set>
#include <vector>

namespace kova {
// Readable identifiers in test failures.
inline void PrintTo(const TABSRecordID& id, std::ostream* os) { *os << "(" << id.PageNo << "," << id.Slot << ")"; }
} // namespace kova

namespace kova::testing {

class MemoryPageManager final : public TABSPageManager {
public:
    explicit MemoryPageManager(std::size_t pageSize = 4096) : pageSize_(pageSize) {}
    ~MemoryPageManager() override { ClearAllPages(); }

    [[nodiscard]] std::size_t PageSize() const override { return pageSize_; }
    // Page numbers handed out and not given back (committed or pending in a session).
    [[nodiscard]] std::size_t UsedPageCount() const { return used_.size(); }
    [[nodiscard]] bool IsUsed(TABSPageNo pageNo) const { return used_.contains(pageNo); }
    // Overwrites committed bytes behind the cache (corruption tests).
    void PatchStoredPage(TABSPageNo pageNo, const std::function<void(std::vector<std::uint8_t>&)>& patch) {
        patch(stored_.at(pageNo));
        InvalidateCachedPage(pageNo);
    }

protected:
    TABSPageNo AllocatePageNo() override {
        TABSPageNo pageNo = 0;
        if (!free_.empty()) {
            pageNo = *free_.begin();
            free_.erase(free_.begin());
        } else {
            pageNo = next_++;
        }
        used_.insert(pageNo);
        return pageNo;
    }
    void ReadPageFromStorage(TABSPage& page, bool) override {
        auto it = stored_.find(page.PageNo());
        if (it == stored_.end())
            RaiseError(10471, "Invalid PageNo = %d", {page.PageNo()});
        std::memcpy(page.Buffer(), it->second.data(), pageSize_);
    }
    bool IsCachedPageCurrent(const TABSPage&) override { return true; }
    void BeginCommit() override {}
    void FreePageNo(TABSPageNo pageNo) override { Free(pageNo); }
    void WritePageToStorage(TABSPage& page) override {
        stored_[page.PageNo()].assign(page.Buffer(), page.Buffer() + pageSize_);
    }
    void EndCommit(bool) override {}
    void AbortCommit() noexcept override {}
    void FreePageNos(const std::vector<TABSPageNo>& pageNos) override {
        for (TABSPageNo p : pageNos)
            Free(p);
    }

private:
    void Free(TABSPageNo pageNo) {
        used_.erase(pageNo);
        stored_.erase(pageNo);
        free_.insert(pageNo);
    }

    std::size_t pageSize_;
    TABSPageNo next_ = 0;
    std::set<TABSPageNo> free_;
    std::set<TABSPageNo> used_;
    std::map<TABSPageNo, std::vector<std::uint8_t>> stored_;
};

// A table's records in memory, as the indexes see them through TABSIndexRecordSource.
class FakeTable final : public TABSIndexRecordSource {
public:
    TABSFieldDefs Fields;
    std::map<TABSRecordID, std::vector<std::uint8_t>> Records;
    int Reads = 0;  // ReadRecord calls

    // Adds a field and returns its number.
    std::size_t AddField(const std::string& name, TABSColumnType type, std::int32_t size = 0) {
        Fields.Add(TABSFieldDef(name, type, size));
        return Fields.Count() - 1;
    }
    // A memory record with the given values (null TABSVariant = null field).
    [[nodiscard]] std::vector<std::uint8_t> MakeRecord(const std::vector<TABSVariant>& values) const {
        std::vector<std::uint8_t> record = Fields.NewRecord();
        for (std::size_t i = 0; i < values.size(); ++i)
            Fields.SetValue(record, i, values[i]);
        return record;
    }

    bool ReadRecord(TABSSessionID, const TABSRecordID& id, std::vector<std::uint8_t>& record) override {
        ++Reads;
        auto it = Records.find(id);
        if (it == Records.end())
            return false;
        record = it->second;
        return true;
    }
    void ForEachRecord(TABSSessionID, const RecordVisitor& visit) override {
        for (const auto& [id, record] : Records)
            visit(id, record);
    }
};

inline TABSVariant Int(std::int32_t v) {
    TABSVariant value;
    value.SetAsInteger(v);
    return value;
}

inline TABSVariant Str(const std::string& v) {
    TABSVariant value;
    value.SetAsString(v);
    return value;
}

// Runs `action` and returns the native error code of the EABSException it raises (0 if none).
inline int ErrorCodeOf(const std::function<void()>& action, std::string* message = nullptr) {
    try {
        action();
    } catch (const EABSException& e) {
        if (message != nullptr)
            *message = e.Message();
        return e.NativeError();
    }
    return 0;
}

} // namespace kova::testing
