#include "engine/storage/ABSStream.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace kova {

std::size_t TABSMemoryStream::Read(void* buffer, std::size_t count) {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    if (count == 0 || position_ >= size) return 0;
    const std::size_t n = std::min(count, static_cast<std::size_t>(size - position_));
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += static_cast<std::int64_t>(n);
    return n;
}

std::size_t TABSMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const std::size_t end = static_cast<std::size_t>(position_) + count;
    if (end > bytes_.size()) bytes_.resize(end);  // also zero-fills a gap before the position
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = static_cast<std::int64_t>(end);
    return count;
}

bool TABSMemoryStream::Seek(std::int64_t position) {
    if (position < 0) return false;
    position_ = position;
    return true;
}

void TABSMemoryStream::SetSize(std::int64_t newSize) {
    assert(newSize >= 0);
    newSize = std::max<std::int64_t>(newSize, 0);
    bytes_.resize(static_cast<std::size_t>(newSize));
    position_ = std::min(position_, newSize);
}

} // namespace kova
