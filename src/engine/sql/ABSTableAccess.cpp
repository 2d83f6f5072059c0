#include "engine/sql/ABSTableAccess.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSDiskTableData.h"
#include "engine/storage/ABSPseudoDatabases.h"

#include <mutex>
#include <random>

namespace kova {

namespace {

std::mutex& RandomMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<std::uint32_t()>& RandomSource() {
    static std::function<std::uint32_t()> source;
    return source;
}

[[nodiscard]] bool IsTemporaryDatabase(const TABSExecutionContext& context) {
    return context.Data == &TemporaryDatabase();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Where tables live

TABSTableAccess::Place TABSTableAccess::Locate(const TABSTableName& table) const {
    Place place;
    if (table.memory) {
        place.pseudo = &MemoryDatabase();
        place.session = 0;
        return place;
    }
    if (!table.database.empty()) {
        // Only the connection's own database and the two pseudo databases are reachable by name.
        if (SameObjectName(table.database, kMemoryDatabaseName)) {
            place.pseudo = &MemoryDatabase();
            place.session = 0;
            return place;
        }
        if (SameObjectName(table.database, kTemporaryDatabaseName)) {
            place.pseudo = &TemporaryDatabase();
            place.session = 0;
            return place;
        }
        if (!SameObjectName(table.database, context_->DatabaseName)) {
            RaiseError(kOtherDatabaseNotSupportedError, "Database '%s' is not available to this statement",
                       {table.database});
        }
    }
    if (context_->Tables) {
        place.disk = context_->Tables;
        place.session = context_->SessionID;
        return place;
    }
    place.pseudo = IsTemporaryDatabase(*context_) ? static_cast<TABSPseudoDatabaseData*>(&TemporaryDatabase())
                                                  : static_cast<TABSPseudoDatabaseData*>(&MemoryDatabase());
    place.session = 0;
    return place;
}

TABSSessionID TABSTableAccess::SessionFor(const TABSTableName& table) const noexcept {
    if (table.memory || !context_->Tables) return 0;
    if (!table.database.empty() && !SameObjectName(table.database, context_->DatabaseName)) return 0;
    return context_->SessionID;
}

TABSDiskDatabaseTables& TABSTableAccess::RequireDisk() const {
    if (!context_->Tables) RaiseError(kOtherDatabaseNotSupportedError, "Database '%s' is not available to this statement",
                                      {context_->DatabaseName});
    return *context_->Tables;
}

bool TABSTableAccess::TableExists(const TABSTableName& table) const {
    const Place place = Locate(table);
    if (place.disk) return place.disk->Database().FindTable(table.name).has_value();
    return place.pseudo->TableExists(table.name);
}

TABSTableHandle TABSTableAccess::OpenTable(const TABSTableName& table, bool exclusive) const {
    const Place place = Locate(table);
    if (place.disk) return place.disk->OpenTable(place.session, table.name, exclusive);
    return place.pseudo->OpenTable(place.session, table.name, exclusive);
}

void TABSTableAccess::CreateTable(const TABSTableName& table, TABSTableDefinition definition) const {
    const Place place = Locate(table);
    if (place.disk) {
        place.disk->CreateTable(table.name, std::move(definition));
    } else if (place.pseudo == &MemoryDatabase()) {
        (void)MemoryDatabase().CreateTable(table.name, std::move(definition));
    } else {
        (void)TemporaryDatabase().CreateTable(table.name, std::move(definition), context_->InMemory);
    }
}

void TABSTableAccess::DropTable(const TABSTableName& table) const {
    const Place place = Locate(table);
    if (place.disk) {
        place.disk->DropTable(place.session, table.name);
    } else {
        place.pseudo->DropTable(table.name);
    }
}

void TABSTableAccess::RenameTable(const TABSTableName& table, const std::string& newName) const {
    const Place place = Locate(table);
    if (place.disk) {
        place.disk->RenameTable(place.session, table.name, newName);
    } else {
        place.pseudo->RenameTable(table.name, newName);
    }
}

void TABSTableAccess::RenameField(const TABSTableName& table, const std::string& oldName,
                                  const std::string& newName) const {
    const Place place = Locate(table);
    TABSDiskDatabaseTables& disk = place.disk ? *place.disk : RequireDisk();
    disk.RenameField(place.session, table.name, oldName, newName);
}

void TABSTableAccess::AddIndex(const TABSTableName& table, TABSIndexDef index) const {
    const Place place = Locate(table);
    if (place.disk) {
        place.disk->AddIndex(place.session, table.name, std::move(index));
        return;
    }
    TABSTableHandle handle = place.pseudo->OpenTable(place.session, table.name);
    auto& pseudo = static_cast<TABSPseudoTableData&>(handle.Table());
    std::lock_guard lock(pseudo.Mutex());
    (void)pseudo.IndexManager().AddIndex(place.session, std::move(index));
}

void TABSTableAccess::DropIndex(const TABSTableName& table, const std::string& indexName) const {
    const Place place = Locate(table);
    if (place.disk) {
        place.disk->DropIndex(place.session, table.name, indexName);
        return;
    }
    TABSTableHandle handle = place.pseudo->OpenTable(place.session, table.name);
    auto& pseudo = static_cast<TABSPseudoTableData&>(handle.Table());
    std::lock_guard lock(pseudo.Mutex());
    pseudo.IndexManager().DropIndex(place.session, indexName);
}

void TABSTableAccess::EmptyTable(const TABSTableName& table) const {
    TABSTableHandle handle = OpenTable(table);
    handle->EmptyTable(handle.Session());
}

// ---------------------------------------------------------------------------------------------
// Transactions

bool TABSTableAccess::InTransaction() const {
    return context_->Tables && context_->Tables->InTransaction(context_->SessionID);
}

void TABSTableAccess::StartTransaction() const { RequireDisk().StartTransaction(context_->SessionID); }

void TABSTableAccess::Commit(bool flushFileBuffers) const {
    RequireDisk().Commit(context_->SessionID, flushFileBuffers);
}

void TABSTableAccess::Rollback() const { RequireDisk().Rollback(context_->SessionID); }

// ---------------------------------------------------------------------------------------------
// Temporary result tables

TABSTableName TABSTableAccess::TemporaryTableName(const std::string& name) {
    TABSTableName table;
    table.database = kTemporaryDatabaseName;
    table.name = name;
    return table;
}

std::string TABSTableAccess::CreateTemporaryTable(TABSTableDefinition definition, const std::string& prefix) const {
    TABSTemporaryDatabaseData& temp = TemporaryDatabase();
    // The draw and the creation race with other statements of the process: a name taken in
    // between shows up as 30395 and is drawn again.
    for (;;) {
        std::string name = prefix + std::to_string(Random(1000000));
        if (temp.TableExists(name)) continue;
        try {
            (void)temp.CreateTable(name, definition, context_->InMemory);
            return name;
        } catch (const EABSException& e) {
            if (e.NativeError() != kPseudoTableExistsError) throw;
        }
    }
}

TABSTableHandle TABSTableAccess::OpenTemporaryTable(const std::string& name) const {
    return TemporaryDatabase().OpenTable(0, name);
}

void TABSTableAccess::DropTemporaryTable(const std::string& name) const noexcept {
    try {
        TemporaryDatabase().DropTable(name, /*force=*/true);
    } catch (...) {
        // already gone, or out of memory while dropping: nothing a caller could do about it
    }
}

void TABSTableAccess::SetRandomSource(std::function<std::uint32_t()> random) {
    std::lock_guard lock(RandomMutex());
    RandomSource() = std::move(random);
}

std::uint32_t TABSTableAccess::Random(std::uint32_t below) {
    std::lock_guard lock(RandomMutex());
    if (RandomSource()) return RandomSource()() % below;
    static std::mt19937 engine{std::random_device{}()};
    return std::uniform_int_distribution<std::uint32_t>(0, below - 1)(engine);
}

// ---------------------------------------------------------------------------------------------
// Field values

TABSVariant ReadFieldValue(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record,
                           std::size_t fieldNo) {
    const TABSFieldDefs& fields = table.FieldDefs();
    const TABSFieldDef& field = fields[fieldNo];
    if (!field.IsBlob()) return fields.GetValue(record, fieldNo);
    TABSVariant value;
    if (fields.IsNull(record, fieldNo)) {
        value.SetType(field.StorageType);
        return value;
    }
    auto stream = table.OpenBlobStream(session, record, static_cast<int>(fieldNo), TABSBlobOpenMode::Read);
    std::string bytes(static_cast<std::size_t>(stream->Size()), '\0');
    if (stream->Read(bytes.data(), bytes.size()) != bytes.size()) {
        RaiseError(kBlobReadError, "Cannot read BLOB field '%s'", {field.Name});
    }
    switch (field.StorageType) {
        case TABSBaseType::bftMemo:
            value.SetAsString(Cp1252ToUtf8(bytes), TABSBaseType::bftMemo);
            break;
        case TABSBaseType::bftWideMemo: {
            std::u16string wide(bytes.size() / 2, u'\0');
            for (std::size_t i = 0; i < wide.size(); ++i) {
                wide[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                                (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
            }
            value.SetAsWideString(wide, TABSBaseType::bftWideMemo);
            break;
        }
        default:
            value.SetAsBlob(bytes);
            break;
    }
    return value;
}

void WriteFieldValue(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record,
                     std::size_t fieldNo, const TABSVariant& value) {
    const TABSFieldDefs& fields = table.FieldDefs();
    const TABSFieldDef& field = fields[fieldNo];
    if (!field.IsBlob()) {
        fields.SetValue(record, fieldNo, value);
        return;
    }
    // Encode first, so that a value that cannot be stored leaves the record as it was.
    std::string bytes;
    const bool isNull = value.IsNull();
    if (!isNull) {
        switch (field.StorageType) {
            case TABSBaseType::bftMemo:
                bytes = Utf8ToCp1252(value.GetAsString());
                break;
            case TABSBaseType::bftWideMemo: {
                const std::u16string wide = value.GetAsWideString();
                bytes.resize(wide.size() * 2);
                for (std::size_t i = 0; i < wide.size(); ++i) {
                    bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
                    bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
                }
                break;
            }
            default:
                bytes = value.GetAsBytes();
                break;
        }
    }
    auto stream = table.OpenBlobStream(session, record, static_cast<int>(fieldNo), TABSBlobOpenMode::Write);
    stream->SetSize(0);  // marks the stream changed even when the new value is empty
    if (!bytes.empty() && stream->Write(bytes.data(), bytes.size()) != bytes.size()) {
        RaiseError(kBlobReadError, "Cannot write BLOB field '%s'", {field.Name});
    }
    table.StoreBlobStream(session, record, *stream);
    fields.SetNullFlag(record, fieldNo, isNull);
}

// ---------------------------------------------------------------------------------------------
// TABSRecordRowSource

TABSRecordRowSource::TABSRecordRowSource(TABSTableData& table, TABSSessionID session, std::string alias)
    : table_(&table), session_(session), alias_(std::move(alias)), values_(table.FieldDefs().Count()),
      decoded_(table.FieldDefs().Count(), false) {}

void TABSRecordRowSource::SetRecord(std::span<std::uint8_t> record) {
    record_ = record;
    std::fill(decoded_.begin(), decoded_.end(), false);
}

std::optional<TABSColumnInfo> TABSRecordRowSource::FindColumn(std::string_view qualifier, std::string_view name) const {
    if (!qualifier.empty() && !SameObjectName(qualifier, table_->TableName()) &&
        !(!alias_.empty() && SameObjectName(qualifier, alias_))) {
        return std::nullopt;
    }
    const TABSFieldDefs& fields = table_->FieldDefs();
    const int index = fields.IndexOf(name);
    if (index < 0) return std::nullopt;
    const TABSFieldDef& field = fields[static_cast<std::size_t>(index)];
    return TABSColumnInfo{static_cast<std::size_t>(index), field.StorageType, field.Size};
}

const TABSVariant& TABSRecordRowSource::ColumnValue(std::size_t index) const {
    if (!decoded_[index]) {
        values_[index] = ReadFieldValue(*table_, session_, record_, index);
        decoded_[index] = true;
    }
    return values_[index];
}

} // namespace kova
