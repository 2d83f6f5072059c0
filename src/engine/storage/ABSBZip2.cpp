#include "engine/storage/ABSBZip2.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"

#include <bzlib.h>

#include <climits>

namespace kova {

namespace {

constexpr int kVerbosity = 0;
constexpr int kDefaultWorkFactor = 0;

[[noreturn]] void RaiseBZip2Error(int code) {
    RaiseError(kErrorBZip2Library, "error %d", {code});
}

bool IsLibraryFailure(int code) {
    return code == BZ_MEM_ERROR || code == BZ_PARAM_ERROR || code == BZ_CONFIG_ERROR || code == BZ_SEQUENCE_ERROR;
}

template <int (*End)(bz_stream*)>
class StreamGuard {
public:
    explicit StreamGuard(bz_stream& stream) : stream_(stream) {}
    ~StreamGuard() { End(&stream_); }
    StreamGuard(const StreamGuard&) = delete;
    StreamGuard& operator=(const StreamGuard&) = delete;

private:
    bz_stream& stream_;
};

std::uint64_t TotalOut(const bz_stream& stream) {
    return (static_cast<std::uint64_t>(stream.total_out_hi32) << 32) | stream.total_out_lo32;
}

} // namespace

std::optional<std::vector<std::uint8_t>> BZip2Compress(int blockSize100k, const std::uint8_t* input,
                                                       std::size_t length) {
    if (length == 0 || length > UINT_MAX) return std::nullopt;
    bz_stream stream{};
    const int init = BZ2_bzCompressInit(&stream, blockSize100k, kVerbosity, kDefaultWorkFactor);
    if (init != BZ_OK) RaiseBZip2Error(init);
    StreamGuard<BZ2_bzCompressEnd> guard(stream);

    // bzip2 never grows its input by more than 1 % + 600 bytes.
    std::vector<std::uint8_t> output(length + length / 100 + 600);
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
    stream.avail_in = static_cast<unsigned>(length);
    stream.next_out = reinterpret_cast<char*>(output.data());
    stream.avail_out = static_cast<unsigned>(output.size());
    int result = BZ_FINISH_OK;
    while (result == BZ_FINISH_OK && stream.avail_out > 0) result = BZ2_bzCompress(&stream, BZ_FINISH);
    if (IsLibraryFailure(result)) RaiseBZip2Error(result);
    if (result != BZ_STREAM_END || TotalOut(stream) == 0) return std::nullopt;
    output.resize(TotalOut(stream));
    return output;
}

std::optional<std::vector<std::uint8_t>> BZip2Decompress(const std::uint8_t* input, std::size_t length,
                                                         std::size_t expectedLength) {
    if (length == 0 || expectedLength == 0 || length > UINT_MAX || expectedLength > UINT_MAX) return std::nullopt;
    bz_stream stream{};
    const int init = BZ2_bzDecompressInit(&stream, kVerbosity, 0);
    if (init != BZ_OK) RaiseBZip2Error(init);
    StreamGuard<BZ2_bzDecompressEnd> guard(stream);

    std::vector<std::uint8_t> output(expectedLength);
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
    stream.avail_in = static_cast<unsigned>(length);
    stream.next_out = reinterpret_cast<char*>(output.data());
    stream.avail_out = static_cast<unsigned>(output.size());
    for (;;) {
        const unsigned inBefore = stream.avail_in;
        const unsigned outBefore = stream.avail_out;
        const int result = BZ2_bzDecompress(&stream);
        if (result == BZ_STREAM_END) break;
        if (IsLibraryFailure(result)) RaiseBZip2Error(result);
        // BZ_DATA_ERROR, BZ_DATA_ERROR_MAGIC: corrupt. No progress: the input ended early or
        // the output would be longer than expected.
        if (result != BZ_OK) return std::nullopt;
        if (stream.avail_in == inBefore && stream.avail_out == outBefore) return std::nullopt;
    }
    if (TotalOut(stream) == 0) return std::nullopt;
    output.resize(TotalOut(stream));
    return output;
}

} // namespace kova
