// The cipher machinery behind page encryption: the table of the eight cipher ids, how a
// password becomes a key, and the chaining mode that enciphers a buffer of any length.
//
// Keying: the password's bytes (no terminator) are hashed with RIPEMD-128 (16 bytes) or
// RIPEMD-256 (32 bytes); the key is the first min(digest length, cipher's maximum key length)
// digest bytes, padded with zero bytes where the cipher needs a fixed key size.
//
// Chaining (E/D the block cipher, n its block size, F an n-byte feedback register that starts
// as n bytes of 0xFF):
//   encipher: Ci = E(Pi xor F), F = Ci xor F            for every full block
//   decipher: Pi = D(Ci) xor F, F = Ci xor F            for every full block
//   remainder of r < n bytes (both ways): out = in xor first r bytes of E(F)
// The output has the length of the input, so a page's data area keeps its size.
//
// Triple DES works on 24-byte blocks: DES-EDE3 (keys = padded key bytes 0-7, 8-15, 16-23) is
// applied to each of the three 8-byte sub-blocks on its own, and the chaining above runs over
// the whole 24-byte block. This arrangement is our choice; files of the application never use
// triple DES, but a reader must still accept the id.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace CryptoPP {
class BlockTransformation;
}

namespace kova {

enum class PasswordHash : std::uint8_t { RIPEMD128, RIPEMD256 };

// What the file format fixes about one cipher id.
struct TABSCipherInfo {
    const char* Name;          // the engine's own name, e.g. "Rijndael_128"
    std::size_t BlockSize;     // n of the chaining mode
    std::size_t MaxKeyLength;  // the digest is cut to this many bytes
    std::size_t FixedKeySize;  // the key is zero-padded to this size; 0 when any length is taken
    PasswordHash Hash;
};

inline constexpr std::size_t kMaxCipherBlockSize = 24;
inline constexpr std::size_t kMaxCipherKeySize = 32;

// The description of `cipherId`, or nullptr for an id outside 0 … 7.
[[nodiscard]] const TABSCipherInfo* FindCipherInfo(std::uint8_t cipherId) noexcept;

// Key bytes made from a password for one cipher id.
struct TABSCipherKey {
    std::array<std::uint8_t, kMaxCipherKeySize> Bytes{};
    std::size_t Length = 0;
};

// Hashes `password` and cuts / pads the digest for `cipherId`. Raises EABSException for an
// unknown id.
[[nodiscard]] TABSCipherKey MakeCipherKey(std::uint8_t cipherId, std::string_view password);

// One keyed cipher with the chaining mode above. Keying is the expensive part (two hashes and
// two key schedules), so a keyed object may be kept and reused; it holds no state between calls
// and its methods are const, but it is not meant to be shared between threads.
class TABSBlockCipher {
public:
    // Keys a cipher for `cipherId` with a key made from `password`. Raises EABSException for
    // an unknown id; lets the cipher library's exception pass when keying fails.
    [[nodiscard]] static std::unique_ptr<TABSBlockCipher> Create(std::uint8_t cipherId,
                                                                 std::string_view password);

    ~TABSBlockCipher();
    TABSBlockCipher(const TABSBlockCipher&) = delete;
    TABSBlockCipher& operator=(const TABSBlockCipher&) = delete;

    [[nodiscard]] std::uint8_t Id() const noexcept { return id_; }
    [[nodiscard]] std::size_t BlockSize() const noexcept { return blockSize_; }

    // Enciphers / deciphers `length` bytes in place. REQUIRES: buffer != nullptr or length == 0.
    void Encipher(std::uint8_t* buffer, std::size_t length) const;
    void Decipher(std::uint8_t* buffer, std::size_t length) const;

private:
    TABSBlockCipher(std::uint8_t id, std::unique_ptr<CryptoPP::BlockTransformation> encryption,
                    std::unique_ptr<CryptoPP::BlockTransformation> decryption, std::size_t subBlocks);

    // One block of BlockSize() bytes through the library cipher (in may equal out).
    void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const;

    std::uint8_t id_;
    std::unique_ptr<CryptoPP::BlockTransformation> encryption_;
    std::unique_ptr<CryptoPP::BlockTransformation> decryption_;
    std::size_t blockSize_;  // library block size × 3 for triple DES, else the library block size
};

} // namespace kova
