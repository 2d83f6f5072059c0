#include "engine/storage/ABSCompression.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSBZip2.h"
#include "engine/storage/ABSZlib.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace kova {

namespace {

constexpr std::array<const char*, 4> kAlgorithmNames{"NONE", "ZLIB", "BZIP", "PPM"};

// PPM is known to the file format, but no file of the application asks for it, so values
// compressed with it are refused instead of being read wrongly.
[[noreturn]] void RaisePPMNotSupported() {
    RaiseError(kErrorPPMNotSupported, "Compression algorithm PPM is not supported");
}

} // namespace

std::uint8_t CompressionAlgorithmByName(std::string_view name) noexcept {
    std::array<char, 8> upper{};
    if (name.size() >= upper.size()) return kCompressionNone;
    std::transform(name.begin(), name.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    const std::string_view key(upper.data(), name.size());
    for (std::size_t id = 0; id < kAlgorithmNames.size(); ++id) {
        if (key == kAlgorithmNames[id]) return static_cast<std::uint8_t>(id);
    }
    return kCompressionNone;
}

const char* CompressionAlgorithmName(std::uint8_t algorithm) noexcept {
    return algorithm < kAlgorithmNames.size() ? kAlgorithmNames[algorithm] : kAlgorithmNames[0];
}

std::optional<std::vector<std::uint8_t>> CompressBuffer(std::uint8_t algorithm, std::uint8_t mode,
                                                        const std::uint8_t* input, std::size_t length) {
    if (input == nullptr || length == 0) return std::nullopt;
    switch (algorithm) {
    case kCompressionZlib:
        // Level 0 is zlib's "store"; levels above 9 do not exist.
        return ZlibCompress(std::min<int>(mode, 9), input, length);
    case kCompressionBZip:
        // bzip2 has no block size 0; mode 0 takes the smallest.
        return BZip2Compress(std::clamp<int>(mode, 1, 9), input, length);
    case kCompressionPPM: RaisePPMNotSupported();
    default: return std::nullopt;
    }
}

std::optional<std::vector<std::uint8_t>> DecompressBuffer(std::uint8_t algorithm, const std::uint8_t* input,
                                                          std::size_t length, std::size_t expectedLength) {
    if (input == nullptr || length == 0) return std::nullopt;
    switch (algorithm) {
    case kCompressionZlib: return ZlibDecompress(input, length, expectedLength);
    case kCompressionBZip: return BZip2Decompress(input, length, expectedLength);
    case kCompressionPPM: RaisePPMNotSupported();
    default: return std::nullopt;
    }
}

} // namespace kova
