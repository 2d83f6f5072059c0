// Page encryption: keying, the eight ciphers, the chaining mode, the page CRC and the password
// check block. Expected cipher texts are computed here independently, with the library's ECB
// mode and keys derived by hand, so that a wrong hash, key length, cipher or chaining shows.
#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSCipher.h"
#include "engine/storage/ABSSecurity.h"

#include <cryptopp/aes.h>
#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/modes.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kova {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPageDataSize = 4056;

Bytes RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes Ripemd128(std::string_view text) {
    Bytes digest(CryptoPP::RIPEMD128::DIGESTSIZE);
    CryptoPP::RIPEMD128().CalculateDigest(digest.data(), reinterpret_cast<const CryptoPP::byte*>(text.data()),
                                          text.size());
    return digest;
}

Bytes Ripemd256(std::string_view text) {
    Bytes digest(CryptoPP::RIPEMD256::DIGESTSIZE);
    CryptoPP::RIPEMD256().CalculateDigest(digest.data(), reinterpret_cast<const CryptoPP::byte*>(text.data()),
                                          text.size());
    return digest;
}

// ECB over `blockSize` bytes with the given key, built directly on the library.
using EcbFunction = std::function<Bytes(const Bytes& key, const Bytes& in, bool encrypt)>;

template <typename Cipher>
Bytes Ecb(const Bytes& key, const Bytes& in, bool encrypt) {
    Bytes out(in.size());
    if (encrypt) {
        typename CryptoPP::ECB_Mode<Cipher>::Encryption e(key.data(), key.size());
        e.ProcessData(out.data(), in.data(), in.size());
    } else {
        typename CryptoPP::ECB_Mode<Cipher>::Decryption d(key.data(), key.size());
        d.ProcessData(out.data(), in.data(), in.size());
    }
    return out;
}

// What the file format says about each id, written out independently of the engine's table.
struct CipherCase {
    std::uint8_t id;
    const char* name;
    std::size_t blockSize;
    std::function<Bytes(std::string_view)> key;
    EcbFunction ecb;
};

void PrintTo(const CipherCase& c, std::ostream* os) { *os << c.name; }

Bytes Cut(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

const std::vector<CipherCase>& Ciphers() {
    static const std::vector<CipherCase> cases{
        {0, "Rijndael_128", 16, [](std::string_view p) { return Ripemd128(p); }, Ecb<CryptoPP::AES>},
        {1, "Rijndael_256", 16, [](std::string_view p) { return Ripemd256(p); }, Ecb<CryptoPP::AES>},
        {2, "DES_Single", 8, [](std::string_view p) { return Cut(Ripemd128(p), 8); }, Ecb<CryptoPP::DES>},
        // 16 digest bytes padded with 8 zero bytes; the three DES keys are bytes 0-7, 8-15, 16-23.
        {3, "DES_Triple", 24, [](std::string_view p) { return Cut(Ripemd128(p), 24); }, Ecb<CryptoPP::DES_EDE3>},
        {4, "Blowfish", 8, [](std::string_view p) { return Ripemd256(p); }, Ecb<CryptoPP::Blowfish>},
        {5, "Twofish_128", 16, [](std::string_view p) { return Ripemd128(p); }, Ecb<CryptoPP::Twofish>},
        {6, "Twofish_256", 16, [](std::string_view p) { return Ripemd256(p); }, Ecb<CryptoPP::Twofish>},
        {7, "Square", 16, [](std::string_view p) { return Ripemd128(p); }, Ecb<CryptoPP::Square>},
    };
    return cases;
}

Bytes Xor(const Bytes& a, const Bytes& b) {
    Bytes out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
    return out;
}

// The chaining mode written out block by block on top of ECB.
Bytes ReferenceEncipher(const CipherCase& c, std::string_view password, const Bytes& plain) {
    const Bytes key = c.key(password);
    const std::size_t n = c.blockSize;
    Bytes feedback(n, 0xFF);
    Bytes out;
    std::size_t offset = 0;
    for (; offset + n <= plain.size(); offset += n) {
        const Bytes block(plain.begin() + offset, plain.begin() + offset + n);
        const Bytes cipherText = c.ecb(key, Xor(block, feedback), true);
        out.insert(out.end(), cipherText.begin(), cipherText.end());
        feedback = Xor(cipherText, feedback);
    }
    if (offset < plain.size()) {
        const Bytes stream = c.ecb(key, feedback, true);
        for (std::size_t i = offset; i < plain.size(); ++i) out.push_back(plain[i] ^ stream[i - offset]);
    }
    return out;
}

class CipherTest : public ::testing::TestWithParam<CipherCase> {};

TEST_P(CipherTest, MatchesTheChainingModeBuiltOnTheBlockCipher) {
    const CipherCase& c = GetParam();
    for (std::size_t length : {std::size_t{1}, std::size_t{15}, std::size_t{17}, std::size_t{23},
                               std::size_t{25}, std::size_t{48}, kPageDataSize}) {
        SCOPED_TRACE(length);
        const Bytes plain = RandomBytes(length, static_cast<unsigned>(length * 31 + c.id));
        Bytes buffer = plain;
        ASSERT_TRUE(EncipherBuffer(c.id, buffer.data(), buffer.size(), "Korvalla"));
        EXPECT_EQ(buffer, ReferenceEncipher(c, "Korvalla", plain));
        ASSERT_TRUE(DecipherBuffer(c.id, buffer.data(), buffer.size(), "Korvalla"));
        EXPECT_EQ(buffer, plain);
    }
}

TEST_P(CipherTest, FirstBlockIsTheBlockCipherOfPlainXorFF) {
    const CipherCase& c = GetParam();
    const Bytes plain = RandomBytes(c.blockSize * 2, 7);
    Bytes buffer = plain;
    ASSERT_TRUE(EncipherBuffer(c.id, buffer.data(), buffer.size(), "pw"));

    const Bytes key = c.key("pw");
    const Bytes p1(plain.begin(), plain.begin() + c.blockSize);
    const Bytes p2(plain.begin() + c.blockSize, plain.end());
    const Bytes ff(c.blockSize, 0xFF);
    const Bytes c1 = c.ecb(key, Xor(p1, ff), true);
    // The feedback after the first block is C1 xor FF…FF, not C1 as in plain CBC.
    const Bytes c2 = c.ecb(key, Xor(p2, Xor(c1, ff)), true);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.blockSize), c1);
    EXPECT_EQ(Bytes(buffer.begin() + c.blockSize, buffer.end()), c2);
}

TEST_P(CipherTest, PageDataAreaKeepsItsLengthAndItsCrcCatchesAFlippedBit) {
    const CipherCase& c = GetParam();
    const Bytes plain = RandomBytes(kPageDataSize, 99);
    const std::uint32_t crc = EngineCrc32(plain.data(), plain.size());
    Bytes page = plain;
    ASSERT_TRUE(EncipherBuffer(c.id, page.data(), page.size(), "Korvalla"));
    ASSERT_EQ(page.size(), kPageDataSize);
    EXPECT_NE(page, plain);

    // A bit in the first block, in the middle, and in the last byte (a remainder for 16-byte
    // and 24-byte blocks).
    for (std::size_t bit : {std::size_t{0}, std::size_t{2000 * 8 + 3}, kPageDataSize * 8 - 1}) {
        SCOPED_TRACE(bit);
        Bytes damaged = page;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        ASSERT_TRUE(DecipherBuffer(c.id, damaged.data(), damaged.size(), "Korvalla"));
        EXPECT_NE(EngineCrc32(damaged.data(), damaged.size()), crc);
    }
    Bytes intact = page;
    ASSERT_TRUE(DecipherBuffer(c.id, intact.data(), intact.size(), "Korvalla"));
    EXPECT_EQ(EngineCrc32(intact.data(), intact.size()), crc);

    Bytes wrongPassword = page;
    ASSERT_TRUE(DecipherBuffer(c.id, wrongPassword.data(), wrongPassword.size(), "korvalla"));
    EXPECT_NE(EngineCrc32(wrongPassword.data(), wrongPassword.size()), crc);
}

TEST_P(CipherTest, PasswordCheckBlockAcceptsOnlyTheRightPassword) {
    const CipherCase& c = GetParam();
    std::array<std::uint8_t, kEncryptionBlockSize> block{};
    WriteI16(block.data(), static_cast<std::int16_t>(kEncryptionBlockSize));
    MakePasswordCheckBlock(block.data(), TABSPassword{"Secret", c.id});

    EXPECT_EQ(block[2], c.id);
    EXPECT_EQ(ReadI16(block.data()), static_cast<std::int16_t>(kEncryptionBlockSize));
    // The check block is stored enciphered: its bytes do not carry the stored CRC.
    EXPECT_NE(EngineCrc32(block.data() + kCheckBlockOffset, kCheckBlockSize), ReadU32(block.data() + kCheckCrcOffset));

    struct Attempt {
        const char* password;
        bool accepted;
    };
    for (const Attempt& a : {Attempt{"Secret", true}, Attempt{"secret", false}, Attempt{"Secret ", false},
                             Attempt{"", false}}) {
        SCOPED_TRACE(a.password);
        EXPECT_EQ(CheckPassword(block.data(), a.password), a.accepted);
    }

    auto damaged = block;
    damaged[kCheckBlockOffset + 100] ^= 0x10;
    EXPECT_FALSE(CheckPassword(damaged.data(), "Secret"));
}

INSTANTIATE_TEST_SUITE_P(AllIds, CipherTest, ::testing::ValuesIn(Ciphers()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CipherKnownAnswer, RijndaelOneBlockIsAes128EcbOfPlainXorFF) {
    const std::string password = "Korvalla";
    const Bytes plain{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    Bytes expected(16);
    {
        const Bytes key = Ripemd128(password);
        CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption aes(key.data(), key.size());
        aes.ProcessData(expected.data(), Xor(plain, Bytes(16, 0xFF)).data(), 16);
    }
    Bytes buffer = plain;
    ASSERT_TRUE(EncipherBuffer(0, buffer.data(), buffer.size(), password));
    EXPECT_EQ(buffer, expected);
}

TEST(CipherKeying, DigestIsCutAndPaddedPerCipher) {
    // Published digests of "abc".
    const Bytes r128{0xc1, 0x4a, 0x12, 0x19, 0x9c, 0x66, 0xe4, 0xba, 0x84, 0x63, 0x6b, 0x0f, 0x69, 0x14, 0x4c, 0x77};
    const Bytes r256{0xaf, 0xbd, 0x6e, 0x22, 0x8b, 0x9d, 0x8c, 0xbb, 0xce, 0xf5, 0xca, 0x2d, 0x03, 0xe6, 0xdb, 0xa1,
                     0x0a, 0xc0, 0xbc, 0x7d, 0xcb, 0xe4, 0x68, 0x0e, 0x1e, 0x42, 0xd2, 0xe9, 0x75, 0x45, 0x9b, 0x65};
    struct Case {
        std::uint8_t id;
        Bytes key;
    };
    const std::vector<Case> cases{
        {0, r128}, {1, r256}, {2, Cut(r128, 8)}, {3, Cut(r128, 24)},
        {4, r256}, {5, r128}, {6, r256},         {7, r128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        const TABSCipherKey key = MakeCipherKey(c.id, "abc");
        EXPECT_EQ(Bytes(key.Bytes.begin(), key.Bytes.begin() + key.Length), c.key);
    }
}

TEST(CipherKeying, UnknownIdIsRefused) {
    try {
        (void)MakeCipherKey(8, "abc");
        FAIL() << "nothing raised";
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), 30443);
        EXPECT_EQ(e.Message(), "Unknown cipher id = 8");
    }
}

TEST(CipherNames, EveryIdHasTheEngineName) {
    for (const CipherCase& c : Ciphers()) EXPECT_STREQ(CipherName(c.id), c.name);
    EXPECT_STREQ(CipherName(8), "Unknown");
    EXPECT_STREQ(CipherName(255), "Unknown");
}

TEST(CipherFailures, ReportFalseAndLeaveTheBufferAlone) {
    const Bytes plain = RandomBytes(64, 3);
    for (std::uint8_t id : {std::uint8_t{8}, std::uint8_t{200}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(id));
        Bytes buffer = plain;
        EXPECT_FALSE(EncipherBuffer(id, buffer.data(), buffer.size(), "pw"));
        EXPECT_FALSE(DecipherBuffer(id, buffer.data(), buffer.size(), "pw"));
        EXPECT_EQ(buffer, plain);
    }
    EXPECT_FALSE(EncipherBuffer(0, nullptr, 16, "pw"));
    EXPECT_FALSE(DecipherBuffer(0, nullptr, 16, "pw"));
    EXPECT_TRUE(EncipherBuffer(0, nullptr, 0, "pw"));
}

TEST(PasswordCheck, UnknownCipherIsRefused) {
    std::array<std::uint8_t, kEncryptionBlockSize> block{};
    try {
        MakePasswordCheckBlock(block.data(), TABSPassword{"Secret", 9});
        FAIL() << "nothing raised";
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), 30444);
    }
    EXPECT_EQ(block, (std::array<std::uint8_t, kEncryptionBlockSize>{}));

    MakePasswordCheckBlock(block.data(), TABSPassword{"Secret", 0});
    block[2] = 9;  // a file naming a cipher that does not exist
    EXPECT_FALSE(CheckPassword(block.data(), "Secret"));
}

TEST(PasswordCheck, EveryNewBlockHasFreshRandomBytes) {
    std::array<std::uint8_t, kEncryptionBlockSize> first{};
    std::array<std::uint8_t, kEncryptionBlockSize> second{};
    MakePasswordCheckBlock(first.data(), TABSPassword{"Secret", 0});
    MakePasswordCheckBlock(second.data(), TABSPassword{"Secret", 0});
    EXPECT_NE(first, second);
    EXPECT_TRUE(CheckPassword(second.data(), "Secret"));
}

// Keyed ciphers are kept per thread; switching between more (id, password) pairs than are kept
// must still give each pair its own key, on any thread.
TEST(CipherCache, ManyPasswordsAndIdsInTurnKeepTheirOwnKeys) {
    const Bytes plain = RandomBytes(kPageDataSize, 11);
    struct Pair {
        std::uint8_t id;
        std::string password;
    };
    const std::vector<Pair> pairs{{0, "a"}, {0, "b"}, {1, "a"}, {5, "a"}, {0, "c"}, {7, "b"}, {0, "a"}, {2, "a"}};
    std::vector<Bytes> expected;
    for (const Pair& p : pairs) expected.push_back(ReferenceEncipher(Ciphers()[p.id], p.password, plain));

    auto run = [&](int rounds) {
        bool ok = true;
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Bytes buffer = plain;
                ok = ok && EncipherBuffer(pairs[i].id, buffer.data(), buffer.size(), pairs[i].password);
                ok = ok && buffer == expected[i];
                ok = ok && DecipherBuffer(pairs[i].id, buffer.data(), buffer.size(), pairs[i].password);
                ok = ok && buffer == plain;
            }
        }
        return ok;
    };
    EXPECT_TRUE(run(3));

    std::array<bool, 3> results{};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) threads.emplace_back([&, t] { results[t] = run(5); });
    for (auto& thread : threads) thread.join();
    for (bool r : results) EXPECT_TRUE(r);
}

} // namespace
} // namespace kova
