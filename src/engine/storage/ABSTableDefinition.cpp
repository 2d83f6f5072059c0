#include "engine/storage/ABSTableDefinition.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/TextCodec.h"

#include <cstring>

namespace kova {

namespace {

using B = TABSBaseType;

constexpr std::uint8_t kTrue = 0xFF;
constexpr std::size_t kMaxNameLength = 255;

[[noreturn]] void RaiseInvalid() { RaiseError(kInvalidTableHeaderError, "Invalid table header data"); }

std::string NameBytes(const std::string& utf8) {
    std::string bytes = Utf8ToCp1252(utf8);
    if (bytes.size() > kMaxNameLength) {
        RaiseError(kObjectNameTooLongError, "Name '%s' is too long. Maximum length is %d characters",
                   {utf8, static_cast<int>(kMaxNameLength)});
    }
    return bytes;
}

class Writer {
public:
    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void Flag(bool v) { U8(v ? kTrue : 0); }
    void I32(std::int32_t v) { Put(v); }
    void I64(std::int64_t v) { Put(v); }
    void Raw(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    void Name(const std::string& utf8) {
        const std::string bytes = NameBytes(utf8);
        U8(static_cast<std::uint8_t>(bytes.size()));
        Raw(bytes.data(), bytes.size());
    }
    // A name preceded by a count n = length + 1 that covers its own length byte.
    void CountedName(const std::string& utf8, bool wideCount) {
        const std::string bytes = NameBytes(utf8);
        if (wideCount) {
            I32(static_cast<std::int32_t>(bytes.size() + 1));
        } else {
            U8(static_cast<std::uint8_t>(bytes.size() + 1));
        }
        Name(utf8);
    }
    void Value(const TABSVariant& value) {
        U8(static_cast<std::uint8_t>(value.BaseType()));
        U8(value.IsNull() ? 1 : 0);
        if (value.IsNull()) return;
        const std::vector<std::uint8_t> data = ValueBytes(value);
        I32(static_cast<std::int32_t>(data.size()));
        Raw(data.data(), data.size());
    }
    [[nodiscard]] std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    template <typename T>
    void Put(T v) {
        std::uint8_t b[sizeof(T)];
        WriteLE(b, v);
        Raw(b, sizeof b);
    }

    static std::vector<std::uint8_t> ValueBytes(const TABSVariant& value) {
        const B type = value.BaseType();
        if (IsBinaryType(type)) {
            const std::string& raw = value.TextData();
            return {raw.begin(), raw.end()};
        }
        if (type == B::bftMemo) {
            const std::string text = Utf8ToCp1252(value.TextData());
            std::vector<std::uint8_t> out(text.begin(), text.end());
            out.push_back(0);
            return out;
        }
        if (type == B::bftWideMemo) {
            TABSVariant wide;
            wide.SetAsWideString(value.WideData());
            std::vector<std::uint8_t> out(wide.DataSize());
            wide.WriteToBuffer(out);
            return out;
        }
        std::vector<std::uint8_t> out(value.DataSize());
        value.WriteToBuffer(out);
        return out;
    }

    std::vector<std::uint8_t> bytes_;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    std::uint8_t U8() { return *Take(1).data(); }
    bool Flag() { return U8() != 0; }
    std::int32_t I32() { return ReadI32(Take(4).data()); }
    std::int64_t I64() { return ReadI64(Take(8).data()); }
    std::span<const std::uint8_t> Take(std::size_t count) {
        if (count > bytes_.size() - pos_) RaiseInvalid();
        auto part = bytes_.subspan(pos_, count);
        pos_ += count;
        return part;
    }
    std::string Name() {
        const std::size_t length = U8();
        const auto chars = Take(length);
        return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(chars.data()), chars.size()));
    }
    std::string CountedName(bool wideCount) {
        const std::int64_t count = wideCount ? I32() : U8();
        if (count < 1) RaiseInvalid();
        const auto body = Take(static_cast<std::size_t>(count));
        // The count covers a length byte and the characters; trust the count where they disagree.
        const std::size_t length = std::min<std::size_t>(body[0], body.size() - 1);
        return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(body.data() + 1), length));
    }
    TABSVariant Value() {
        const auto type = static_cast<B>(U8());
        const bool isNull = Flag();
        TABSVariant value;
        if (static_cast<int>(type) > kBaseTypeCount) RaiseInvalid();
        value.SetType(type);
        if (isNull) return value;
        const std::int32_t length = I32();
        if (length < 0) RaiseInvalid();
        const auto data = Take(static_cast<std::size_t>(length));
        const std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size());
        switch (type) {
        case B::bftUnknown:
            break;
        case B::bftBlob:
            value.SetAsBlob(raw);
            break;
        case B::bftBytes:
        case B::bftVarBytes:
            value.SetAsBytes(raw, type);
            break;
        case B::bftMemo:
            value.ReadFromBuffer(B::bftString, data);
            value.SetAsString(value.GetAsString(), B::bftMemo);
            break;
        case B::bftWideMemo:
            value.ReadFromBuffer(B::bftWideString, data);
            value.SetAsWideString(value.WideData(), B::bftWideMemo);
            break;
        default:
            if (!IsTextType(type) && static_cast<std::size_t>(length) < BaseTypeValueSize(type)) RaiseInvalid();
            value.ReadFromBuffer(type, data);
            break;
        }
        return value;
    }
    [[nodiscard]] bool AtEnd() const noexcept { return pos_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

void EncodeField(Writer& w, const TABSFieldDef& f) {
    w.Name(f.Name);
    w.I32(f.ObjectID);
    w.U8(static_cast<std::uint8_t>(f.StorageType));
    w.U8(static_cast<std::uint8_t>(f.ColumnType));
    w.I32(f.Size);
    w.U8(f.IsBlob() ? f.BlobCompressionAlgorithm : 0);
    w.U8(f.IsBlob() ? f.BlobCompressionMode : 0);
    w.I32(f.IsBlob() ? f.BlobBlockSize : kDefaultBlobBlockSize);
    w.I64(f.AutoincIncrement);
    w.I64(f.AutoincInitialValue);
    w.I64(f.AutoincMinValue);
    w.I64(f.AutoincMaxValue);
    w.U8(f.AutoincCycled ? 1 : 0);
    w.Value(f.DefaultValue);
}

TABSFieldDef DecodeField(Reader& r) {
    TABSFieldDef f;
    f.Name = r.Name();
    f.ObjectID = r.I32();
    const std::uint8_t storage = r.U8();
    const std::uint8_t column = r.U8();
    if (storage < 1 || storage > kBaseTypeCount || column < 1 || column > kColumnTypeCount) RaiseInvalid();
    f.StorageType = static_cast<B>(storage);
    f.ColumnType = static_cast<TABSColumnType>(column);
    f.Size = r.I32();
    if (f.Size < 0) RaiseInvalid();
    f.BlobCompressionAlgorithm = r.U8();
    f.BlobCompressionMode = r.U8();
    f.BlobBlockSize = r.I32();
    f.AutoincIncrement = r.I64();
    f.AutoincInitialValue = r.I64();
    f.AutoincMinValue = r.I64();
    f.AutoincMaxValue = r.I64();
    f.AutoincCycled = r.U8() != 0;
    f.DefaultValue = r.Value();
    return f;
}

void EncodeIndex(Writer& w, const TABSIndexDef& d) {
    w.Name(d.Name);
    w.I32(d.ObjectID);
    w.U8(d.Kind);
    w.Flag(d.Unique);
    w.Flag(d.Primary);
    w.I32(static_cast<std::int32_t>(d.Columns.size()));
    w.I32(d.RootPageNo);
    for (const TABSIndexColumn& c : d.Columns) {
        w.Name(c.FieldName);
        w.Flag(c.Descending);
        w.Flag(c.CaseInsensitive);
        w.I32(c.Parameter);
    }
}

TABSIndexDef DecodeIndex(Reader& r) {
    TABSIndexDef d;
    d.Name = r.Name();
    d.ObjectID = r.I32();
    d.Kind = r.U8();
    d.Unique = r.Flag();
    d.Primary = r.Flag();
    const std::int32_t columns = r.I32();
    if (columns < 0) RaiseInvalid();
    d.RootPageNo = r.I32();
    for (std::int32_t i = 0; i < columns; ++i) {
        TABSIndexColumn c;
        c.FieldName = r.Name();
        c.Descending = r.Flag();
        c.CaseInsensitive = r.Flag();
        c.Parameter = r.I32();
        d.Columns.push_back(std::move(c));
    }
    return d;
}

void EncodeConstraint(Writer& w, const TABSConstraintDef& c) {
    const TABSConstraintKind kind = c.Kind();
    const bool keyed = kind == TABSConstraintKind::PrimaryKey || kind == TABSConstraintKind::Unique;
    w.U8(static_cast<std::uint8_t>(kind));
    w.Name(c.Name);
    w.I32(c.ObjectID);
    for (const TABSConstraintRef& ref : c.Refs) w.I32(ref.ID);
    for (const TABSConstraintRef& ref : c.Refs) w.CountedName(ref.Name, keyed);
    if (kind == TABSConstraintKind::Check) {
        const auto& check = static_cast<const TABSConstraintDefCheck&>(c);
        w.Value(check.MinValue);
        w.Value(check.MaxValue);
    }
    if (keyed) {
        const auto& unique = static_cast<const TABSConstraintDefUnique&>(c);
        w.I32(static_cast<std::int32_t>(unique.Columns.size()));
        for (const TABSConstraintRef& col : unique.Columns) {
            w.I32(col.ID);
            w.CountedName(col.Name, true);
        }
    }
}

std::unique_ptr<TABSConstraintDef> DecodeConstraint(Reader& r) {
    const std::uint8_t kind = r.U8();
    std::unique_ptr<TABSConstraintDef> def;
    switch (kind) {
    case 0: def = std::make_unique<TABSConstraintDefPrimary>(); break;
    case 2: def = std::make_unique<TABSConstraintDefUnique>(); break;
    case 3: def = std::make_unique<TABSConstraintDefNotNull>(); break;
    case 4: def = std::make_unique<TABSConstraintDefCheck>(); break;
    default: RaiseError(kUnknownConstraintTypeError, "Unknown Constraint Type: '%d'", {static_cast<int>(kind)});
    }
    const bool keyed = kind == 0 || kind == 2;
    def->Name = r.Name();
    def->ObjectID = r.I32();
    for (TABSConstraintRef& ref : def->Refs) ref.ID = r.I32();
    for (TABSConstraintRef& ref : def->Refs) ref.Name = r.CountedName(keyed);
    if (kind == 4) {
        auto& check = static_cast<TABSConstraintDefCheck&>(*def);
        check.MinValue = r.Value();
        check.MaxValue = r.Value();
    }
    if (keyed) {
        auto& unique = static_cast<TABSConstraintDefUnique&>(*def);
        const std::int32_t columns = r.I32();
        if (columns < 0) RaiseInvalid();
        for (std::int32_t i = 0; i < columns; ++i) {
            TABSConstraintRef col;
            col.ID = r.I32();
            col.Name = r.CountedName(true);
            unique.Columns.push_back(std::move(col));
        }
    }
    return def;
}

// Counts read from a file bound the loops that follow them; a count beyond the bytes left is
// corruption, not a reason to allocate.
std::int32_t ReadCount(Reader& r) {
    const std::int32_t count = r.I32();
    if (count < 0 || count > 1'000'000) RaiseInvalid();
    return count;
}

} // namespace

std::vector<std::uint8_t> TABSTableDefinition::Encode() const {
    Writer w;
    w.I32(static_cast<std::int32_t>(Fields.Count()));
    for (const TABSFieldDef& f : Fields) EncodeField(w, f);
    w.I32(static_cast<std::int32_t>(Indexes.PersistentCount()));
    for (const TABSIndexDef& d : Indexes) {
        if (!d.Temporary) EncodeIndex(w, d);
    }
    w.I32(static_cast<std::int32_t>(Constraints.Count()));
    for (std::size_t i = 0; i < Constraints.Count(); ++i) EncodeConstraint(w, Constraints[i]);
    w.I32(RecordPageIndexRoot);
    w.I32(BlobPageIndexRoot);
    return w.Take();
}

TABSTableDefinition TABSTableDefinition::Decode(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    TABSTableDefinition def;
    const std::int32_t fields = ReadCount(r);
    for (std::int32_t i = 0; i < fields; ++i) def.Fields.Add(DecodeField(r));
    const std::int32_t indexes = ReadCount(r);
    for (std::int32_t i = 0; i < indexes; ++i) def.Indexes.Add(DecodeIndex(r));
    const std::int32_t constraints = ReadCount(r);
    for (std::int32_t i = 0; i < constraints; ++i) def.Constraints.AddLoaded(DecodeConstraint(r));
    def.RecordPageIndexRoot = r.I32();
    def.BlobPageIndexRoot = r.I32();
    def.Fields.ComputeLayout();
    return def;
}

TABSTableState TABSTableState::Initial(const TABSFieldDefs& fields) {
    TABSTableState state;
    state.AutoincValues.resize(fields.Count(), 0);
    for (std::size_t i = 0; i < fields.Count(); ++i) {
        if (fields[i].IsAutoInc()) state.AutoincValues[i] = fields[i].AutoincInitialValue;
    }
    return state;
}

std::vector<std::uint8_t> TABSTableState::Encode() const {
    Writer w;
    w.I32(static_cast<std::int32_t>(AutoincValues.size()));
    for (std::int64_t v : AutoincValues) w.I64(v);
    w.I32(ChangeCounter);
    w.I32(RecordCount);
    return w.Take();
}

TABSTableState TABSTableState::Decode(std::span<const std::uint8_t> bytes, std::size_t fieldCount) {
    if (bytes.size() != EncodedSize(fieldCount)) RaiseInvalid();
    Reader r(bytes);
    TABSTableState state;
    if (r.I32() != static_cast<std::int32_t>(fieldCount)) RaiseInvalid();
    state.AutoincValues.resize(fieldCount);
    for (std::int64_t& v : state.AutoincValues) v = r.I64();
    state.ChangeCounter = r.I32();
    state.RecordCount = r.I32();
    return state;
}

} // namespace kova
