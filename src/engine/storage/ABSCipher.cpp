#include "engine/storage/ABSCipher.h"

#include "engine/core/ABSExcept.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/misc.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <algorithm>

namespace kova {

namespace {

// Indexed by cipher id. The maximum key lengths are those of the ciphers as the file format
// knows them; RIPEMD-128 and RIPEMD-256 digests are never longer than 32 bytes.
constexpr std::array<TABSCipherInfo, 8> kCiphers{{
    {"Rijndael_128", 16, 32, 0, PasswordHash::RIPEMD128},
    {"Rijndael_256", 16, 32, 0, PasswordHash::RIPEMD256},
    {"DES_Single", 8, 8, 0, PasswordHash::RIPEMD128},
    {"DES_Triple", 24, 24, 24, PasswordHash::RIPEMD128},
    {"Blowfish", 8, 56, 0, PasswordHash::RIPEMD256},
    {"Twofish_128", 16, 32, 0, PasswordHash::RIPEMD128},
    {"Twofish_256", 16, 32, 0, PasswordHash::RIPEMD256},
    {"Square", 16, 16, 0, PasswordHash::RIPEMD128},
}};

template <typename Cipher>
std::pair<std::unique_ptr<CryptoPP::BlockTransformation>, std::unique_ptr<CryptoPP::BlockTransformation>>
KeyPair(const TABSCipherKey& key) {
    return {std::make_unique<typename Cipher::Encryption>(key.Bytes.data(), key.Length),
            std::make_unique<typename Cipher::Decryption>(key.Bytes.data(), key.Length)};
}

inline void XorInto(std::uint8_t* target, const std::uint8_t* source, std::size_t length) noexcept {
    for (std::size_t i = 0; i < length; ++i) target[i] ^= source[i];
}

} // namespace

const TABSCipherInfo* FindCipherInfo(std::uint8_t cipherId) noexcept {
    return cipherId < kCiphers.size() ? &kCiphers[cipherId] : nullptr;
}

TABSCipherKey MakeCipherKey(std::uint8_t cipherId, std::string_view password) {
    const TABSCipherInfo* info = FindCipherInfo(cipherId);
    if (info == nullptr) RaiseError(30443, "Unknown cipher id = %d", {cipherId});

    std::array<std::uint8_t, kMaxCipherKeySize> digest{};
    std::size_t digestLength = 0;
    const auto* bytes = reinterpret_cast<const CryptoPP::byte*>(password.data());
    if (info->Hash == PasswordHash::RIPEMD128) {
        CryptoPP::RIPEMD128().CalculateDigest(digest.data(), bytes, password.size());
        digestLength = CryptoPP::RIPEMD128::DIGESTSIZE;
    } else {
        CryptoPP::RIPEMD256().CalculateDigest(digest.data(), bytes, password.size());
        digestLength = CryptoPP::RIPEMD256::DIGESTSIZE;
    }

    TABSCipherKey key;
    key.Length = std::min(digestLength, info->MaxKeyLength);
    std::copy_n(digest.begin(), key.Length, key.Bytes.begin());
    // Bytes beyond the digest are already zero; only the length grows.
    key.Length = std::max(key.Length, info->FixedKeySize);
    CryptoPP::SecureWipeArray(digest.data(), digest.size());
    return key;
}

std::unique_ptr<TABSBlockCipher> TABSBlockCipher::Create(std::uint8_t cipherId, std::string_view password) {
    TABSCipherKey key = MakeCipherKey(cipherId, password);
    std::pair<std::unique_ptr<CryptoPP::BlockTransformation>, std::unique_ptr<CryptoPP::BlockTransformation>>
        keyed;
    std::size_t subBlocks = 1;
    switch (static_cast<int>(cipherId)) {
    case 0:
    case 1:
        // The key length picks the rounds: 10 for 16 bytes, 14 for 32.
        keyed = KeyPair<CryptoPP::Rijndael>(key);
        break;
    case 2: keyed = KeyPair<CryptoPP::DES>(key); break;
    case 3:
        keyed = KeyPair<CryptoPP::DES_EDE3>(key);
        subBlocks = 3;
        break;
    case 4: keyed = KeyPair<CryptoPP::Blowfish>(key); break;
    case 5:
    case 6: keyed = KeyPair<CryptoPP::Twofish>(key); break;
    case 7: keyed = KeyPair<CryptoPP::Square>(key); break;
    default: RaiseError(30443, "Unknown cipher id = %d", {cipherId});
    }
    CryptoPP::SecureWipeArray(key.Bytes.data(), key.Bytes.size());
    return std::unique_ptr<TABSBlockCipher>(
        new TABSBlockCipher(cipherId, std::move(keyed.first), std::move(keyed.second), subBlocks));
}

TABSBlockCipher::TABSBlockCipher(std::uint8_t id, std::unique_ptr<CryptoPP::BlockTransformation> encryption,
                                 std::unique_ptr<CryptoPP::BlockTransformation> decryption,
                                 std::size_t subBlocks)
    : id_(id), encryption_(std::move(encryption)), decryption_(std::move(decryption)),
      blockSize_(encryption_->BlockSize() * subBlocks) {}

TABSBlockCipher::~TABSBlockCipher() = default;

void TABSBlockCipher::EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const {
    // A chaining block of triple DES is three library blocks, each enciphered on its own.
    encryption_->AdvancedProcessBlocks(in, nullptr, out, blockSize_, 0);
}

void TABSBlockCipher::Encipher(std::uint8_t* buffer, std::size_t length) const {
    const std::size_t n = blockSize_;
    std::array<std::uint8_t, kMaxCipherBlockSize> feedback;
    std::fill_n(feedback.begin(), n, std::uint8_t{0xFF});

    // Each block needs the cipher text of the one before: this direction is serial.
    std::size_t offset = 0;
    for (; offset + n <= length; offset += n) {
        std::uint8_t* block = buffer + offset;
        encryption_->AdvancedProcessBlocks(block, feedback.data(), block, n,
                                           CryptoPP::BlockTransformation::BT_XorInput);
        XorInto(feedback.data(), block, n);
    }
    if (offset < length) {
        std::array<std::uint8_t, kMaxCipherBlockSize> keyStream;
        EncryptBlock(feedback.data(), keyStream.data());
        XorInto(buffer + offset, keyStream.data(), length - offset);
    }
}

void TABSBlockCipher::Decipher(std::uint8_t* buffer, std::size_t length) const {
    const std::size_t n = blockSize_;
    std::array<std::uint8_t, kMaxCipherBlockSize> feedback;
    std::fill_n(feedback.begin(), n, std::uint8_t{0xFF});

    // The feedback depends on cipher text only, so the block cipher can work on many blocks at
    // once (the library pipelines them); the cipher text of a chunk is kept to advance F.
    constexpr std::size_t kChunkBlocks = 16;
    std::array<std::uint8_t, kMaxCipherBlockSize * kChunkBlocks> cipherText;
    const std::size_t whole = length / n * n;
    std::size_t offset = 0;
    while (offset < whole) {
        const std::size_t chunk = std::min(whole - offset, n * kChunkBlocks);
        std::uint8_t* blocks = buffer + offset;
        std::copy_n(blocks, chunk, cipherText.begin());
        decryption_->AdvancedProcessBlocks(blocks, nullptr, blocks, chunk,
                                           CryptoPP::BlockTransformation::BT_AllowParallel);
        for (std::size_t at = 0; at < chunk; at += n) {
            XorInto(blocks + at, feedback.data(), n);
            XorInto(feedback.data(), cipherText.data() + at, n);
        }
        offset += chunk;
    }
    if (offset < length) {
        // The remainder is a key stream made with the encryption direction both ways.
        std::array<std::uint8_t, kMaxCipherBlockSize> keyStream;
        EncryptBlock(feedback.data(), keyStream.data());
        XorInto(buffer + offset, keyStream.data(), length - offset);
    }
}

} // namespace kova
