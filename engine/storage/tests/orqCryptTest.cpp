// Crypto primitives against published vectors and against values computed with independent
// tools (sha1sum, a second Blowfish implementation, zlib's crc32) when these tests were written.
#include "engine/storage/orqCrypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace ostra;

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = static_cast<const uint8_t*>(data)[i];
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

// The usual hex form of a digest, from the stored form (each 4-byte word reversed).
std::string UsualForm(const uint8_t* stored) {
    uint8_t usual[20];
    for (int w = 0; w < 5; ++w)
        for (int i = 0; i < 4; ++i) usual[4 * w + i] = stored[4 * w + 3 - i];
    return ToHex(usual, 20);
}

std::string Sha1Usual(const std::string& message) {
    uint8_t digest[20];
    TSha1Stream stream;
    stream.Write(message.data(), static_cast<int64_t>(message.size()));
    stream.GetDigest(digest);
    return UsualForm(digest);
}

std::string PatternMessage(int length) {
    std::string m;
    for (int i = 0; i < length; ++i) m.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
    return m;
}

TBlowfishData KeyedBlowfish(const std::string& hexKey, const void* iv = nullptr) {
    std::vector<uint8_t> key = FromHex(hexKey);
    TBlowfishData data;
    EXPECT_TRUE(BlowfishInit(data, key.data(), static_cast<int>(key.size() * 8), iv));
    return data;
}

}  // namespace

TEST(Sha1, AbcIsStoredWithEachWordReversed) {
    uint8_t digest[20];
    GetSHA1FromString("abc", digest);
    EXPECT_EQ(ToHex(digest, 20), "363e99a96a81064771253eba6cc250789dd8d09c");
    EXPECT_EQ(UsualForm(digest), "a9993e364706816aba3e25717850c26c9cd0d89d");

    std::memset(digest, 0x55, sizeof digest);
    GetSHA1FromString("", digest);
    EXPECT_EQ(ToHex(digest, 20), std::string(40, '0'));
}

TEST(Sha1, StandardMessagesAndThePaddingBoundaries) {
    EXPECT_EQ(Sha1Usual("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // The padding fits in the block up to 55 bytes and spills into a second one from 56.
    const std::pair<int, const char*> cases[] = {
        {55, "ddf57317ef34bfee3b6df83d359098930eb278bc"}, {56, "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
        {57, "11a02dcf95859677a62e75024067c22b165d890f"}, {58, "3d6024b3f7b1c01a5c62497022ea6e33b89d2cf3"},
        {59, "5850f256241b06d25bc20b9dc85d7944ce96fa1a"}, {60, "4a72dc48088734d6ee17cccbb158de29744e9733"},
        {61, "92b2db0c849997e88b21b8a509eecaa46f00c6b8"}, {62, "363c4d8b28918eacfb4b945bafd31cb62997a5cd"},
        {63, "c55856749bef509bdfe6bfebfc7bf4e793e82132"}, {64, "bede92be29c3874e1b54ddc77988d606fc857a8e"},
        {65, "b05a80522b053d6dc7e0a517d0e70212c7dad11f"}, {119, "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
        {120, "82134b02fb3f702491be9bed581eeab59334acb2"},
    };
    for (auto [length, expected] : cases) EXPECT_EQ(Sha1Usual(PatternMessage(length)), expected) << length;
}

TEST(Sha1, StreamBehaviour) {
    TSha1Stream stream;
    // A million 'a' in uneven pieces; Seek reports the bytes added, Read nothing.
    std::string piece(997, 'a');
    int64_t added = 0;
    while (added < 1000000) {
        int64_t n = std::min<int64_t>(997, 1000000 - added);
        EXPECT_EQ(stream.Write(piece.data(), n), n);
        added += n;
    }
    EXPECT_EQ(stream.Seek(0, soFromBeginning), 1000000);
    EXPECT_EQ(stream.Size(), 1000000);
    char c;
    EXPECT_EQ(stream.Read(&c, 1), 0);
    EXPECT_EQ(stream.Write(&c, 0), 0);
    uint8_t digest[20];
    stream.GetDigest(digest);
    EXPECT_EQ(UsualForm(digest), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");

    // GetDigest started a new message.
    EXPECT_EQ(stream.Seek(0, soFromCurrent), 0);
    stream.Write("abc", 3);
    std::string first = stream.GetDigestString();
    ASSERT_EQ(first.size(), 20u);
    EXPECT_EQ(UsualForm(reinterpret_cast<const uint8_t*>(first.data())), "a9993e364706816aba3e25717850c26c9cd0d89d");

    // WriteBigEndian adds the bytes last first; Clear forgets what was added.
    stream.Write("xyz", 3);
    stream.Clear();
    EXPECT_EQ(stream.WriteBigEndian("cba", 3), 3);
    EXPECT_EQ(stream.GetDigestString(), first);
    stream.AddByte('a');
    stream.AddByte('b');
    stream.AddByte('c');
    EXPECT_EQ(stream.GetDigestString(), first);
}

TEST(Blowfish, StandardEcbVectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"0000000000000000", "0000000000000000", "4ef997456198dd78"},
        {"ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
        {"3000000000000000", "1000000000000001", "7d856f9a613063f2"},
        {"1111111111111111", "1111111111111111", "2466dd878b963c9d"},
        {"0123456789abcdef", "1111111111111111", "61f9c3802281b096"},
        {"fedcba9876543210", "0123456789abcdef", "0aceab0fc6a0a28d"},
        {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a"
         "2b2c2d2e2f303132333435363738",
         "0000000000000000", "ad9f57f87c8855c1"},  // the longest key, 448 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        TBlowfishData data = KeyedBlowfish(c.key);
        std::vector<uint8_t> block = FromHex(c.plain);
        BlowfishEncryptECB(data, block.data(), block.data());  // in place
        EXPECT_EQ(ToHex(block.data(), 8), c.cipher);
        BlowfishDecryptECB(data, block.data(), block.data());
        EXPECT_EQ(ToHex(block.data(), 8), c.plain);
    }
}

TEST(Blowfish, VariableKeyLengths) {
    // Key F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677 cut to 1..24 bytes, plain FEDCBA9876543210.
    const char* expected[] = {
        "f9ad597c49db005e", "e91d21c1d961a6d6", "e9c2b70a1bc65cf3", "be1e639408640f05", "b39e44481bdb1e6e",
        "9457aa83b1928c0d", "8bb77032f960629d", "e87a244e2cc85e82", "15750e7a4f4ec577", "122ba70b3ab64ae0",
        "3a833c9affc537f6", "9409da87a90f6bf2", "884f80625060b8b4", "1f85031c19e11968", "79d9373a714ca34f",
        "93142887ee3be15c", "03429e838ce2d14b", "a4299e27469ff67b", "afd5aed1c1bc96a8", "10851c0e3858da9f",
        "e6f51ed79b9db21f", "64a6e14afd36b46f", "80c7d7d45a5479ad", "05044b62fa52d080",
    };
    const std::string key = "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677";
    std::vector<uint8_t> plain = FromHex("fedcba9876543210");
    for (int n = 1; n <= 24; ++n) {
        TBlowfishData data = KeyedBlowfish(key.substr(0, 2 * n));
        uint8_t out[8];
        BlowfishEncryptECB(data, plain.data(), out);
        EXPECT_EQ(ToHex(out, 8), expected[n - 1]) << n << " key bytes";
    }
}

TEST(Blowfish, InitRefusesInvalidKeySizesAndSetsTheIV) {
    TBlowfishData data = KeyedBlowfish("0123456789abcdef");
    TBlowfishData before = data;
    uint8_t key[57] = {1, 2, 3};
    for (int bits : {0, -8, 12, 456, 512}) {
        EXPECT_FALSE(BlowfishInit(data, key, bits, nullptr)) << bits;
        EXPECT_EQ(std::memcmp(&data, &before, sizeof data), 0) << bits;
    }
    EXPECT_TRUE(BlowfishInit(data, key, 448, nullptr));

    // Without IV the initial IV is the encryption of eight 0xFF bytes; with one it is a copy.
    uint8_t ones[8], expected[8];
    std::memset(ones, 0xFF, 8);
    BlowfishEncryptECB(before, ones, expected);
    EXPECT_EQ(std::memcmp(before.InitialIV, expected, 8), 0);
    EXPECT_EQ(std::memcmp(before.IV, expected, 8), 0);
    const uint8_t iv[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    TBlowfishData withIV = KeyedBlowfish("0123456789abcdef", iv);
    EXPECT_EQ(std::memcmp(withIV.InitialIV, iv, 8), 0);
    EXPECT_EQ(std::memcmp(withIV.IV, iv, 8), 0);

    BlowfishBurn(withIV);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&withIV);
    for (size_t i = 0; i < sizeof withIV; ++i) ASSERT_EQ(bytes[i], 0xFF) << i;
}

TEST(Blowfish, CbcVectorTailAndRoundTrip) {
    const uint8_t iv[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    TBlowfishData data = KeyedBlowfish("0123456789abcdeff0e1d2c3b4a59687", iv);
    uint8_t text[32] = "7654321 Now is the time for ";
    uint8_t cipher[32];
    BlowfishEncryptCBC(data, text, cipher, 32);
    EXPECT_EQ(ToHex(cipher, 32), "6b77b4d63006dee605b156e27403979358deb9e7154616d959f1652bd5ff92cc");
    EXPECT_EQ(std::memcmp(data.IV, cipher + 24, 8), 0);  // the last ciphertext block
    BlowfishReset(data);
    BlowfishDecryptCBC(data, cipher, cipher, 32);  // in place
    EXPECT_EQ(std::memcmp(cipher, text, 32), 0);

    // A partial tail is XORed with the encryption of the current IV, which stays.
    BlowfishReset(data);
    uint8_t tail[29];
    BlowfishEncryptCBC(data, text, tail, 29);
    EXPECT_EQ(ToHex(tail, 24), "6b77b4d63006dee605b156e27403979358deb9e7154616d9");
    uint8_t ivAfter[8], pad[8];
    std::memcpy(ivAfter, data.IV, 8);
    EXPECT_EQ(std::memcmp(ivAfter, tail + 16, 8), 0);
    BlowfishEncryptECB(data, ivAfter, pad);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tail[24 + i], text[24 + i] ^ pad[i]) << i;
    BlowfishReset(data);
    uint8_t back[29];
    BlowfishDecryptCBC(data, tail, back, 29);
    EXPECT_EQ(std::memcmp(back, text, 29), 0);
}

TEST(Blowfish, Cfb8MatchesAReferenceLoopOverEcb) {
    TBlowfishData data = KeyedBlowfish("37215ac09e4410");
    std::mt19937 rng(7);
    std::vector<uint8_t> page(4096);
    for (auto& b : page) b = uint8_t(rng());

    // Reference: the key-stream byte is the first byte of the encrypted register; the register
    // shifts left and takes the ciphertext byte.
    std::vector<uint8_t> expected(page.size());
    uint8_t reg[8];
    std::memcpy(reg, data.InitialIV, 8);
    for (size_t i = 0; i < page.size(); ++i) {
        uint8_t out[8];
        BlowfishEncryptECB(data, reg, out);
        expected[i] = page[i] ^ out[0];
        std::memmove(reg, reg + 1, 7);
        reg[7] = expected[i];
    }

    std::vector<uint8_t> cipher(page.size());
    BlowfishEncryptCFB(data, page.data(), cipher.data(), 4096);
    EXPECT_EQ(cipher, expected);
    EXPECT_EQ(std::memcmp(data.IV, reg, 8), 0);

    // The page round: reset, and the same page encrypts the same way again; decrypt in place.
    BlowfishReset(data);
    std::vector<uint8_t> again = page;
    BlowfishEncryptCFB(data, again.data(), again.data(), 4096);
    EXPECT_EQ(again, expected);
    BlowfishReset(data);
    BlowfishDecryptCFB(data, again.data(), again.data(), 4096);
    EXPECT_EQ(again, page);
}

TEST(XORCryptBuf, KeyStepsFollowTheOffset) {
    // Scrambling zeros reveals the key positions: Offset 96 steps by 97, i.e. 26 through 71 bytes.
    std::vector<char> zeros(6, 0), out(6);
    XORCryptBuf(zeros.data(), out.data(), OrqWeakCryptKey, 6, OrqWeakCryptKeyLength, 96);
    const int positions[] = {0, 26, 52, 7, 33, 59};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], OrqWeakCryptKey[positions[i]]) << i;

    ASSERT_EQ(std::strlen(OrqWeakCryptKey), 71u);
    ASSERT_EQ(std::strlen(OrqDefaultStrongCryptKey), 14u);

    // Pages of tables 4, 5 and 6 step by 5 and scramble alike; table 1 steps by 1.
    std::string page(4096, '\0');
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 13);
    auto scramble = [&](int table) {
        std::string out(page.size(), '\0');
        XORCryptBuf(page.data(), out.data(), OrqWeakCryptKey, 4096, 71, table);
        return out;
    };
    EXPECT_EQ(scramble(4), scramble(5));
    EXPECT_EQ(scramble(4), scramble(6));
    EXPECT_NE(scramble(1), scramble(4));
    EXPECT_NE(scramble(1), page);

    // The same call undoes it, also in place; no step ever leaves the key.
    for (int offset : {0, 1, 4, 32, 37, 96, 100, 2047, -1}) {
        std::string text = scramble(offset);
        XORCryptBuf(text.data(), text.data(), OrqWeakCryptKey, 4096, 71, offset);
        EXPECT_EQ(text, page) << offset;
    }
    EXPECT_THROW(XORCryptBuf(page.data(), page.data(), OrqWeakCryptKey, 10, 0, 1), EAssertionFailed);
}

TEST(CalcCRC, StandardValues) {
    EXPECT_EQ(CalcCRC("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(CalcCRC("abc", 3), 0x352441C2u);
    EXPECT_EQ(CalcCRC("", 0), 0u);
    std::string m = PatternMessage(1000);
    EXPECT_EQ(CalcCRC(m.data(), 1000), 0x17BC2A46u);
}

// Eight bytes at a time give the values of the definition, a bit at a time, for every length
// and start position.
TEST(CalcCRC, MatchesTheBitwiseDefinition) {
    auto bitwise = [](const uint8_t* P, int Len) {
        uint32_t crc = 0xFFFFFFFFu;
        for (int i = 0; i < Len; ++i) {
            crc ^= P[i];
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
        return ~crc;
    };
    std::mt19937 rng(31);
    std::vector<uint8_t> bytes(200);
    for (uint8_t& b : bytes) b = uint8_t(rng());
    for (int start = 0; start < 8; ++start)
        for (int len = 0; len + start <= int(bytes.size()); len += 1 + len / 16)
            ASSERT_EQ(CalcCRC(bytes.data() + start, len), bitwise(bytes.data() + start, len)) << start << " " << len;
}
