#include "engine/storage/ABSZlib.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"

#include <zlib.h>

#include <climits>

namespace kova {

namespace {

constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

[[noreturn]] void RaiseZlibError(int code) {
    RaiseError(kErrorZlibLibrary, "Compression Error %d", {code});
}

// Ends the zlib stream on every way out of the calling function.
template <int (*End)(z_streamp)>
class StreamGuard {
public:
    explicit StreamGuard(z_stream& stream) : stream_(stream) {}
    ~StreamGuard() { End(&stream_); }
    StreamGuard(const StreamGuard&) = delete;
    StreamGuard& operator=(const StreamGuard&) = delete;

private:
    z_stream& stream_;
};

} // namespace

std::optional<std::vector<std::uint8_t>> ZlibCompress(int level, const std::uint8_t* input, std::size_t length) {
    if (length == 0 || length > UINT_MAX) return std::nullopt;
    z_stream stream{};
    const int init = deflateInit2(&stream, level, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY);
    if (init != Z_OK) RaiseZlibError(init);
    StreamGuard<deflateEnd> guard(stream);

    // deflateBound is large enough for one call with finish to complete.
    std::vector<std::uint8_t> output(deflateBound(&stream, static_cast<uLong>(length)));
    stream.next_in = const_cast<Bytef*>(input);  // zlib's interface is not const-correct
    stream.avail_in = static_cast<uInt>(length);
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = deflate(&stream, Z_FINISH);
    if (result == Z_STREAM_ERROR) RaiseZlibError(result);
    if (result != Z_STREAM_END || stream.total_out == 0) return std::nullopt;
    output.resize(stream.total_out);
    return output;
}

std::optional<std::vector<std::uint8_t>> ZlibDecompress(const std::uint8_t* input, std::size_t length,
                                                        std::size_t expectedLength) {
    if (length == 0 || expectedLength == 0 || length > UINT_MAX || expectedLength > UINT_MAX) return std::nullopt;
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(length);
    const int init = inflateInit2(&stream, kWindowBits);
    if (init != Z_OK) RaiseZlibError(init);
    StreamGuard<inflateEnd> guard(stream);

    std::vector<std::uint8_t> output(expectedLength);
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&stream, Z_FINISH);
    if (result == Z_MEM_ERROR || result == Z_STREAM_ERROR) RaiseZlibError(result);
    // Z_DATA_ERROR / Z_NEED_DICT: corrupt; Z_BUF_ERROR: truncated input or more output than
    // expected. All are faults of the data, reported to the caller.
    if (result != Z_STREAM_END || stream.total_out == 0) return std::nullopt;
    output.resize(stream.total_out);
    return output;
}

} // namespace kova
