// Byte streams: the small interface that compressed streams, BLOB values and scratch storage
// are built on, and an in-memory implementation of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova {

// A positioned sequence of bytes. Positions and sizes are signed 64-bit, as in the file.
class TABSStream {
public:
    virtual ~TABSStream() = default;
    TABSStream(const TABSStream&) = delete;
    TABSStream& operator=(const TABSStream&) = delete;

    // Copies up to `count` bytes from the position into `buffer` and moves the position past
    // them. Returns the bytes copied; fewer than `count` only at the end of the stream.
    [[nodiscard]] virtual std::size_t Read(void* buffer, std::size_t count) = 0;

    // Writes `count` bytes at the position and moves the position past them. A position beyond
    // the end first grows the stream (with zero bytes, unless a stream says otherwise). Returns
    // the bytes written; fewer than `count` means the write failed, and callers raise.
    [[nodiscard]] virtual std::size_t Write(const void* buffer, std::size_t count) = 0;

    [[nodiscard]] virtual std::int64_t Position() const = 0;

    // Moves the position; a position beyond the end is allowed. Returns false, leaving the
    // position as it was, when the stream refuses it (a negative position, for one).
    [[nodiscard]] virtual bool Seek(std::int64_t position) = 0;

    [[nodiscard]] virtual std::int64_t Size() const = 0;

    // Cuts the stream or grows it with zero bytes. A position beyond the new end moves to it.
    // REQUIRES: newSize >= 0. Raises when the stream cannot take the new size.
    virtual void SetSize(std::int64_t newSize) = 0;

protected:
    TABSStream() = default;
};

// A stream over a growable block of memory.
class TABSMemoryStream : public TABSStream {
public:
    TABSMemoryStream() = default;
    explicit TABSMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    [[nodiscard]] std::int64_t Position() const override { return position_; }
    [[nodiscard]] bool Seek(std::int64_t position) override;
    [[nodiscard]] std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    void SetSize(std::int64_t newSize) override;

    // The stream's bytes, valid until the next write or resize.
    [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }
    [[nodiscard]] std::vector<std::uint8_t>& Bytes() noexcept { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
};

} // namespace kova
