#include "engine/storage/ABSSecurity.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSCipher.h"

#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>

namespace kova {

namespace {

// Keying costs two hashes and two key schedules, far more than enciphering one page. The file
// format keys a fresh cipher per page; a keyed cipher gives the same bytes, so each thread keeps
// the few it used last. Thread-local: the cipher objects are not shared, so page work on several
// threads needs no lock.
class KeyedCipherCache {
public:
    ~KeyedCipherCache() {
        for (Entry& entry : entries_) Wipe(entry);
    }

    // The keyed cipher for (cipherId, password); keys a new one on a miss, evicting the least
    // recently used entry. Raises on an unknown id or a keying failure.
    const TABSBlockCipher& Get(std::uint8_t cipherId, std::string_view password) {
        ++clock_;
        Entry* victim = &entries_[0];
        for (Entry& entry : entries_) {
            if (entry.cipher && entry.cipher->Id() == cipherId && entry.password == password) {
                entry.lastUse = clock_;
                return *entry.cipher;
            }
            if (entry.lastUse < victim->lastUse) victim = &entry;
        }
        Wipe(*victim);
        victim->cipher = TABSBlockCipher::Create(cipherId, password);
        victim->password.assign(password);
        victim->lastUse = clock_;
        return *victim->cipher;
    }

private:
    struct Entry {
        std::string password;
        std::unique_ptr<TABSBlockCipher> cipher;
        std::uint64_t lastUse = 0;
    };

    static void Wipe(Entry& entry) {
        entry.cipher.reset();
        CryptoPP::SecureWipeArray(entry.password.data(), entry.password.size());
        entry.password.clear();
        entry.lastUse = 0;
    }

    std::array<Entry, 4> entries_;
    std::uint64_t clock_ = 0;
};

const TABSBlockCipher& CachedCipher(std::uint8_t cipherId, std::string_view password) {
    thread_local KeyedCipherCache cache;
    return cache.Get(cipherId, password);
}

} // namespace

const char* CipherName(std::uint8_t cipherId) noexcept {
    const TABSCipherInfo* info = FindCipherInfo(cipherId);
    return info != nullptr ? info->Name : "Unknown";
}

bool EncipherBuffer(std::uint8_t cipherId, std::uint8_t* buffer, std::size_t length,
                    std::string_view password) noexcept {
    if (FindCipherInfo(cipherId) == nullptr || (buffer == nullptr && length != 0)) return false;
    try {
        CachedCipher(cipherId, password).Encipher(buffer, length);
        return true;
    } catch (...) {
        return false;
    }
}

bool DecipherBuffer(std::uint8_t cipherId, std::uint8_t* buffer, std::size_t length,
                    std::string_view password) noexcept {
    if (FindCipherInfo(cipherId) == nullptr || (buffer == nullptr && length != 0)) return false;
    try {
        CachedCipher(cipherId, password).Decipher(buffer, length);
        return true;
    } catch (...) {
        return false;
    }
}

void MakePasswordCheckBlock(std::uint8_t* encryptionBlock, const TABSPassword& password) {
    // Built aside and copied in one go, so a failure leaves the caller's block as it was.
    std::array<std::uint8_t, kCheckBlockSize> check;
    bool made = false;
    try {
        CryptoPP::AutoSeededRandomPool random;
        random.GenerateBlock(check.data(), check.size());
        made = true;
    } catch (const CryptoPP::Exception&) {
    }
    const std::uint32_t crc = EngineCrc32(check.data(), check.size());
    if (!made || !EncipherBuffer(password.Cipher, check.data(), check.size(), password.Password)) {
        RaiseError(30444, "Cannot make the password check block. Cipher id = %d", {password.Cipher});
    }
    encryptionBlock[2] = password.Cipher;
    std::copy(check.begin(), check.end(), encryptionBlock + kCheckBlockOffset);
    WriteU32(encryptionBlock + kCheckCrcOffset, crc);
}

bool CheckPassword(const std::uint8_t* encryptionBlock, std::string_view password) {
    std::array<std::uint8_t, kCheckBlockSize> check;
    std::copy_n(encryptionBlock + kCheckBlockOffset, kCheckBlockSize, check.begin());
    const bool deciphered = DecipherBuffer(encryptionBlock[2], check.data(), check.size(), password);
    const bool matches = deciphered && EngineCrc32(check.data(), check.size()) ==
                                           ReadU32(encryptionBlock + kCheckCrcOffset);
    CryptoPP::SecureWipeArray(check.data(), check.size());
    return matches;
}

} // namespace kova
