#include "sheets/xls/Crypto.h"

#include <array>
#include <cstring>
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <vector>

namespace sheets::xls {

namespace {

constexpr std::size_t kBlockSize = 1024;

// Passwords are hashed as UTF-16LE without a terminator.
std::vector<std::uint8_t> utf16le(const std::string& utf8)
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    auto put = [&](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            len = 3;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < utf8.size()) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(utf8[i + 3]) & 0x3Fu);
            len = 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return out;
}

// RC4 re-keyed every 1024 bytes of the stream, with a key made from the block number. The two
// methods differ only in how that key is made.
class Rc4Decryptor : public Decryptor {
public:
    void decrypt(std::uint64_t streamPos, std::uint8_t* data, std::size_t n) override
    {
        while (n > 0) {
            const std::uint64_t block = streamPos / kBlockSize;
            const auto offset = static_cast<std::size_t>(streamPos % kBlockSize);
            if (block != block_ || offset < offset_ || !keyed_) {
                rekey(static_cast<std::uint32_t>(block));
            }
            discard(offset - offset_);
            const std::size_t take = std::min(n, kBlockSize - offset);
            arcfour_crypt(&rc4_, take, data, data);
            offset_ = offset + take;
            data += take;
            streamPos += take;
            n -= take;
        }
    }

    // Decrypts the verifier and its hash with the key of block 0 and compares.
    bool verify(const std::uint8_t* verifier, const std::uint8_t* verifierHash,
                std::size_t hashSize)
    {
        std::array<std::uint8_t, 16> plain{};
        std::array<std::uint8_t, 20> hash{};
        rekey(0);
        arcfour_crypt(&rc4_, plain.size(), plain.data(), verifier);
        arcfour_crypt(&rc4_, hashSize, hash.data(), verifierHash);
        keyed_ = false;
        std::array<std::uint8_t, 20> expected{};
        hashOf(plain.data(), plain.size(), expected.data());
        return std::memcmp(hash.data(), expected.data(), hashSize) == 0;
    }

protected:
    virtual void blockKey(std::uint32_t block, std::uint8_t* key, std::size_t& keyLength) = 0;
    virtual void hashOf(const std::uint8_t* data, std::size_t n, std::uint8_t* out) = 0;

private:
    void rekey(std::uint32_t block)
    {
        std::array<std::uint8_t, 32> key{};
        std::size_t length = 0;
        blockKey(block, key.data(), length);
        arcfour_set_key(&rc4_, length, key.data());
        block_ = block;
        offset_ = 0;
        keyed_ = true;
    }

    void discard(std::size_t n)
    {
        std::array<std::uint8_t, 256> sink{};
        while (n > 0) {
            const std::size_t take = std::min(n, sink.size());
            arcfour_crypt(&rc4_, take, sink.data(), sink.data());
            n -= take;
            offset_ += take;
        }
    }

    arcfour_ctx rc4_{};
    std::uint64_t block_ = 0;
    std::size_t offset_ = 0;
    bool keyed_ = false;
};

// Office 97/2000 RC4 ([MS-OFFCRYPTO] 2.3.6): MD5 of the password, salted and truncated.
class StandardRc4 final : public Rc4Decryptor {
public:
    StandardRc4(const std::vector<std::uint8_t>& password, const std::uint8_t* salt)
    {
        std::array<std::uint8_t, MD5_DIGEST_SIZE> h0{};
        md5_ctx md5{};
        md5_init(&md5);
        md5_update(&md5, password.size(), password.data());
        md5_digest(&md5, h0.size(), h0.data());
        md5_init(&md5);
        for (int i = 0; i < 16; ++i) {
            md5_update(&md5, 5, h0.data());
            md5_update(&md5, 16, salt);
        }
        std::array<std::uint8_t, MD5_DIGEST_SIZE> h1{};
        md5_digest(&md5, h1.size(), h1.data());
        std::memcpy(base_.data(), h1.data(), base_.size());
    }

protected:
    void blockKey(std::uint32_t block, std::uint8_t* key, std::size_t& keyLength) override
    {
        const std::array<std::uint8_t, 4> b = {
            static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8),
            static_cast<std::uint8_t>(block >> 16), static_cast<std::uint8_t>(block >> 24)};
        md5_ctx md5{};
        md5_init(&md5);
        md5_update(&md5, base_.size(), base_.data());
        md5_update(&md5, b.size(), b.data());
        md5_digest(&md5, MD5_DIGEST_SIZE, key);
        keyLength = MD5_DIGEST_SIZE;
    }
    void hashOf(const std::uint8_t* data, std::size_t n, std::uint8_t* out) override
    {
        md5_ctx md5{};
        md5_init(&md5);
        md5_update(&md5, n, data);
        md5_digest(&md5, MD5_DIGEST_SIZE, out);
    }

private:
    std::array<std::uint8_t, 5> base_{};
};

// RC4 through the CryptoAPI ([MS-OFFCRYPTO] 2.3.5): SHA-1 of salt and password; a 40-bit key
// is padded with zeros to 128 bits.
class CryptoApiRc4 final : public Rc4Decryptor {
public:
    CryptoApiRc4(const std::vector<std::uint8_t>& password, const std::uint8_t* salt,
                 std::size_t keyBits)
        : keyBytes_(keyBits / 8)
    {
        sha1_ctx sha{};
        sha1_init(&sha);
        sha1_update(&sha, 16, salt);
        sha1_update(&sha, password.size(), password.data());
        sha1_digest(&sha, h0_.size(), h0_.data());
    }

protected:
    void blockKey(std::uint32_t block, std::uint8_t* key, std::size_t& keyLength) override
    {
        const std::array<std::uint8_t, 4> b = {
            static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8),
            static_cast<std::uint8_t>(block >> 16), static_cast<std::uint8_t>(block >> 24)};
        std::array<std::uint8_t, SHA1_DIGEST_SIZE> h{};
        sha1_ctx sha{};
        sha1_init(&sha);
        sha1_update(&sha, h0_.size(), h0_.data());
        sha1_update(&sha, b.size(), b.data());
        sha1_digest(&sha, h.size(), h.data());
        if (keyBytes_ == 5) {
            std::memcpy(key, h.data(), 5);
            std::memset(key + 5, 0, 11);
            keyLength = 16;
        } else {
            std::memcpy(key, h.data(), keyBytes_);
            keyLength = keyBytes_;
        }
    }
    void hashOf(const std::uint8_t* data, std::size_t n, std::uint8_t* out) override
    {
        sha1_ctx sha{};
        sha1_init(&sha);
        sha1_update(&sha, n, data);
        sha1_digest(&sha, SHA1_DIGEST_SIZE, out);
    }

private:
    std::array<std::uint8_t, SHA1_DIGEST_SIZE> h0_{};
    std::size_t keyBytes_;
};

} // namespace

std::unique_ptr<Decryptor> makeDecryptor(const std::uint8_t* data, std::size_t size, bool biff8,
                                         bool hasPassword, const std::string& password)
{
    // BIFF5 knows only XOR obfuscation, and so does a BIFF8 FILEPASS of type 0.
    if (!biff8 || size < 6 || le16(data) != 1) {
        return nullptr;
    }
    std::vector<std::string> candidates = {kDefaultPassword};
    if (hasPassword && password != kDefaultPassword) {
        candidates.push_back(password);
    }
    const std::uint16_t major = le16(data + 2);
    const std::uint16_t minor = le16(data + 4);
    if (major == 1 && minor == 1) {
        if (size < 6 + 48) {
            return nullptr;
        }
        const std::uint8_t* salt = data + 6;
        for (const std::string& pw : candidates) {
            auto d = std::make_unique<StandardRc4>(utf16le(pw), salt);
            if (d->verify(data + 22, data + 38, 16)) {
                return d;
            }
        }
        return nullptr;
    }
    if (major >= 2 && major <= 4 && minor == 2) {
        // Flags, then the header's size, the header, then the verifier.
        if (size < 14) {
            return nullptr;
        }
        const std::uint32_t headerSize = le32(data + 10);
        if (headerSize < 20 || headerSize > size - 14) {
            return nullptr;
        }
        const std::uint8_t* header = data + 14;
        const std::uint32_t algId = le32(header + 8);
        std::uint32_t keyBits = le32(header + 16);
        if (keyBits == 0) {
            keyBits = 40;
        }
        const std::size_t verifierAt = 14 + headerSize;
        if ((algId != 0 && algId != 0x6801) || keyBits < 40 || keyBits > 128 || keyBits % 8 != 0 ||
            size - verifierAt < 4 + 16 + 16 + 4 + 20) {
            return nullptr;
        }
        const std::uint8_t* v = data + verifierAt;
        if (le32(v) != 16) {
            return nullptr;
        }
        const std::uint8_t* salt = v + 4;
        const std::uint32_t hashSize = le32(v + 36);
        if (hashSize != 20) {
            return nullptr;
        }
        for (const std::string& pw : candidates) {
            auto d = std::make_unique<CryptoApiRc4>(utf16le(pw), salt, keyBits);
            if (d->verify(v + 20, v + 40, 20)) {
                return d;
            }
        }
    }
    return nullptr;
}

} // namespace sheets::xls
