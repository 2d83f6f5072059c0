// Page encryption: the eight ciphers, how a password becomes a key, the chaining mode and the
// password check block of the file's encryption block.
//
// Encryption block (280 bytes at file offset B + 76):
//   offset 0   int16   block size = 280
//   offset 2   uint8   cipher id (0 when the database has no password)
//   offset 3   uint8   reserved, 0
//   offset 4   256     check block: random bytes, enciphered with the password
//   offset 260 uint32  engine CRC of the 256 plain check bytes
//   offset 264 16      reserved, 0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kova {

enum class CipherId : std::uint8_t {
    Rijndael_128 = 0,
    Rijndael_256 = 1,
    DES_Single = 2,
    DES_Triple = 3,
    Blowfish = 4,
    Twofish_128 = 5,
    Twofish_256 = 6,
    Square = 7,
};

inline constexpr std::uint8_t kCipherIdCount = 8;
inline constexpr std::size_t kEncryptionBlockSize = 280;
inline constexpr std::size_t kCheckBlockOffset = 4;
inline constexpr std::size_t kCheckBlockSize = 256;
inline constexpr std::size_t kCheckCrcOffset = 260;

// The password record: the password as the file knows it (single-byte Windows-1252 text,
// compared case-sensitively) and a cipher id. At creation the record's cipher id is used;
// at open the file's cipher id replaces it.
struct TABSPassword {
    std::string Password;
    std::uint8_t Cipher = 0;
};

// The engine's own name of a cipher id ("Rijndael_128" …); "Unknown" for other ids.
[[nodiscard]] const char* CipherName(std::uint8_t cipherId) noexcept;

// Enciphers / deciphers `length` bytes in place with a key made from `password`. The output has
// the length of the input. Returns false instead of raising when the cipher id is unknown or the
// cipher fails.
[[nodiscard]] bool EncipherBuffer(std::uint8_t cipherId, std::uint8_t* buffer, std::size_t length,
                                  std::string_view password) noexcept;
[[nodiscard]] bool DecipherBuffer(std::uint8_t cipherId, std::uint8_t* buffer, std::size_t length,
                                  std::string_view password) noexcept;

// Fills cipher id, check block and check CRC of a 280-byte encryption block for a new file.
// Raises EABSException when the cipher fails.
void MakePasswordCheckBlock(std::uint8_t* encryptionBlock, const TABSPassword& password);

// Whether `password` deciphers the check block of a 280-byte encryption block (cipher id taken
// from the block) to bytes with the stored check CRC.
[[nodiscard]] bool CheckPassword(const std::uint8_t* encryptionBlock, std::string_view password);

} // namespace kova
