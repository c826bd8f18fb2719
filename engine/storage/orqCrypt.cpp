// orqCrypt: SHA-1 stream, Blowfish with its modes, the XOR scrambler and CRC-32.
#include "engine/storage/orqCrypt.h"

#include <array>
#include <cstring>

#include "engine/storage/orqByteOrder.h"
#include "engine/storage/orqCryptTables.h"
#include "host/Exceptions.h"

namespace ostra {
namespace {

constexpr uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void StoreBigEndian(uint32_t v, uint8_t* p) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// ---------------------------------------------------------------------------------------------
// Blowfish core

inline uint32_t F(const TBlowfishData& d, uint32_t x) {
    return ((d.SBox[0][x >> 24] + d.SBox[1][(x >> 16) & 0xFF]) ^ d.SBox[2][(x >> 8) & 0xFF]) + d.SBox[3][x & 0xFF];
}

void EncryptHalves(const TBlowfishData& d, uint32_t& left, uint32_t& right) {
    uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= d.PArray[i];
        r ^= F(d, l);
        r ^= d.PArray[i + 1];
        l ^= F(d, r);
    }
    l ^= d.PArray[16];
    r ^= d.PArray[17];
    left = r;
    right = l;
}

void DecryptHalves(const TBlowfishData& d, uint32_t& left, uint32_t& right) {
    uint32_t l = left, r = right;
    for (int i = 17; i > 1; i -= 2) {
        l ^= d.PArray[i];
        r ^= F(d, l);
        r ^= d.PArray[i - 1];
        l ^= F(d, r);
    }
    l ^= d.PArray[1];
    r ^= d.PArray[0];
    left = r;
    right = l;
}

// The first byte of the ECB encryption of the current IV: the CFB key-stream byte.
uint8_t KeyStreamByte(const TBlowfishData& d) {
    uint32_t l = LoadBigEndian(d.IV), r = LoadBigEndian(d.IV + 4);
    EncryptHalves(d, l, r);
    return uint8_t(l >> 24);
}

// Shifts the CFB register left one byte and appends the ciphertext byte.
void ShiftIn(TBlowfishData& d, uint8_t cipher) {
    std::memmove(d.IV, d.IV + 1, 7);
    d.IV[7] = cipher;
}

// The final partial block of the CBC modes: XORed with the encryption of the current IV.
void CbcTail(TBlowfishData& d, const uint8_t* in, uint8_t* out, int n) {
    uint8_t block[8];
    BlowfishEncryptECB(d, d.IV, block);
    XorBlock(in, block, out, n);
    std::memset(block, 0xFF, sizeof block);
}

// ---------------------------------------------------------------------------------------------
// CRC-32 tables for slicing by 8: CrcTables[0] is the byte table; CrcTables[k][b] is the CRC
// state after byte b followed by k zero bytes, so eight bytes are folded with eight lookups.

using TCrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr TCrcTables MakeCrcTables() {
    TCrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tables[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}
constexpr TCrcTables CrcTables = MakeCrcTables();

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSha1Stream

TSha1Stream::TSha1Stream() { Initialize(); }

void TSha1Stream::Clear() { Initialize(); }

int64_t TSha1Stream::Read(void*, int64_t) { return 0; }

int64_t TSha1Stream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* p = static_cast<const uint8_t*>(Buffer);
    for (int64_t i = 0; i < Count; ++i) AddByte(p[i]);
    return Count;
}

int64_t TSha1Stream::Seek(int64_t, TSeekOrigin) { return static_cast<int64_t>(FBlockCount * 64 + FBytesInBlock); }

void TSha1Stream::AddByte(uint8_t B) {
    FW[FBytesInBlock >> 2] |= uint32_t(B) << (24 - 8 * (FBytesInBlock & 3));
    if (++FBytesInBlock == 64) UpdateDigest();
}

std::string TSha1Stream::GetDigestString() {
    char digest[OrqSha1DigestSize];
    GetDigest(digest);
    return std::string(digest, sizeof digest);
}

void TSha1Stream::Initialize() {
    FBlockCount = 0;
    FBytesInBlock = 0;
    std::memset(FW, 0, sizeof FW);
    FH[0] = 0x67452301u;
    FH[1] = 0xEFCDAB89u;
    FH[2] = 0x98BADCFEu;
    FH[3] = 0x10325476u;
    FH[4] = 0xC3D2E1F0u;
}

void TSha1Stream::UpdateDigest() {
    for (int t = 16; t < 80; ++t) FW[t] = Rotl(FW[t - 3] ^ FW[t - 8] ^ FW[t - 14] ^ FW[t - 16], 1);
    uint32_t a = FH[0], b = FH[1], c = FH[2], d = FH[3], e = FH[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t temp = Rotl(a, 5) + f + e + k + FW[t];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    FH[0] += a;
    FH[1] += b;
    FH[2] += c;
    FH[3] += d;
    FH[4] += e;
    ++FBlockCount;
    FBytesInBlock = 0;
    std::memset(FW, 0, sizeof FW);
}

int64_t TSha1Stream::WriteBigEndian(const void* Data, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* p = static_cast<const uint8_t*>(Data);
    for (int64_t i = Count - 1; i >= 0; --i) AddByte(p[i]);
    return Count;
}

void TSha1Stream::GetDigest(void* Digest) {
    uint64_t bitLength = (FBlockCount * 64 + FBytesInBlock) * 8;
    AddByte(0x80);
    while (FBytesInBlock != 56) AddByte(0);
    for (int shift = 56; shift >= 0; shift -= 8) AddByte(uint8_t(bitLength >> shift));
    auto* out = static_cast<uint8_t*>(Digest);
    for (int i = 0; i < 5; ++i) {
        out[4 * i + 0] = uint8_t(FH[i]);
        out[4 * i + 1] = uint8_t(FH[i] >> 8);
        out[4 * i + 2] = uint8_t(FH[i] >> 16);
        out[4 * i + 3] = uint8_t(FH[i] >> 24);
    }
    Initialize();
}

void GetSHA1FromString(const std::string& S, void* Digest) {
    std::memset(Digest, 0, OrqSha1DigestSize);
    if (S.empty()) return;
    TSha1Stream stream;
    stream.Write(S.data(), static_cast<int64_t>(S.size()));
    stream.GetDigest(Digest);
}

// ---------------------------------------------------------------------------------------------
// Blowfish

bool BlowfishInit(TBlowfishData& Data, const void* Key, int KeyBits, const void* IV) {
    if (KeyBits < 1 || KeyBits > 448 || KeyBits % 8 != 0) return false;
    std::memcpy(Data.PArray, crypt_tables::BlowfishInitialP, sizeof Data.PArray);
    std::memcpy(Data.SBox, crypt_tables::BlowfishInitialS, sizeof Data.SBox);
    const auto* key = static_cast<const uint8_t*>(Key);
    int keyBytes = KeyBits / 8, k = 0;
    for (uint32_t& p : Data.PArray) {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) {
            word = (word << 8) | key[k];
            k = (k + 1) % keyBytes;
        }
        p ^= word;
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        EncryptHalves(Data, l, r);
        Data.PArray[i] = l;
        Data.PArray[i + 1] = r;
    }
    for (auto& box : Data.SBox)
        for (int i = 0; i < 256; i += 2) {
            EncryptHalves(Data, l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    if (IV) {
        std::memcpy(Data.InitialIV, IV, 8);
    } else {
        uint8_t ones[8];
        std::memset(ones, 0xFF, sizeof ones);
        BlowfishEncryptECB(Data, ones, Data.InitialIV);
    }
    std::memcpy(Data.IV, Data.InitialIV, 8);
    return true;
}

void BlowfishEncryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock) {
    const auto* in = static_cast<const uint8_t*>(InBlock);
    uint32_t l = LoadBigEndian(in), r = LoadBigEndian(in + 4);
    EncryptHalves(Data, l, r);
    auto* out = static_cast<uint8_t*>(OutBlock);
    StoreBigEndian(l, out);
    StoreBigEndian(r, out + 4);
}

void BlowfishDecryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock) {
    const auto* in = static_cast<const uint8_t*>(InBlock);
    uint32_t l = LoadBigEndian(in), r = LoadBigEndian(in + 4);
    DecryptHalves(Data, l, r);
    auto* out = static_cast<uint8_t*>(OutBlock);
    StoreBigEndian(l, out);
    StoreBigEndian(r, out + 4);
}

void BlowfishEncryptCBC(TBlowfishData& Data, const void* InData, void* OutData, int Size) {
    const auto* in = static_cast<const uint8_t*>(InData);
    auto* out = static_cast<uint8_t*>(OutData);
    int whole = Size > 0 ? Size / 8 * 8 : 0;
    for (int i = 0; i < whole; i += 8) {
        uint8_t block[8];
        XorBlock(in + i, Data.IV, block, 8);
        BlowfishEncryptECB(Data, block, out + i);
        std::memcpy(Data.IV, out + i, 8);
    }
    if (Size > whole) CbcTail(Data, in + whole, out + whole, Size - whole);
}

void BlowfishDecryptCBC(TBlowfishData& Data, const void* InData, void* OutData, int Size) {
    const auto* in = static_cast<const uint8_t*>(InData);
    auto* out = static_cast<uint8_t*>(OutData);
    int whole = Size > 0 ? Size / 8 * 8 : 0;
    for (int i = 0; i < whole; i += 8) {
        uint8_t cipher[8], block[8];
        std::memcpy(cipher, in + i, 8);  // kept before an in-place decryption overwrites it
        BlowfishDecryptECB(Data, cipher, block);
        XorBlock(block, Data.IV, out + i, 8);
        std::memcpy(Data.IV, cipher, 8);
    }
    if (Size > whole) CbcTail(Data, in + whole, out + whole, Size - whole);
}

void BlowfishEncryptCFB(TBlowfishData& Data, const void* InData, void* OutData, int Size) {
    const auto* in = static_cast<const uint8_t*>(InData);
    auto* out = static_cast<uint8_t*>(OutData);
    for (int i = 0; i < Size; ++i) {
        uint8_t cipher = in[i] ^ KeyStreamByte(Data);
        out[i] = cipher;
        ShiftIn(Data, cipher);
    }
}

void BlowfishDecryptCFB(TBlowfishData& Data, const void* InData, void* OutData, int Size) {
    const auto* in = static_cast<const uint8_t*>(InData);
    auto* out = static_cast<uint8_t*>(OutData);
    for (int i = 0; i < Size; ++i) {
        uint8_t cipher = in[i];
        out[i] = cipher ^ KeyStreamByte(Data);
        ShiftIn(Data, cipher);
    }
}

void BlowfishReset(TBlowfishData& Data) { std::memcpy(Data.IV, Data.InitialIV, 8); }

void BlowfishBurn(TBlowfishData& Data) {
    std::memset(Data.InitialIV, 0xFF, sizeof Data.InitialIV);
    std::memset(Data.IV, 0xFF, sizeof Data.IV);
    std::memset(Data.SBox, 0xFF, sizeof Data.SBox);
    std::memset(Data.PArray, 0xFF, sizeof Data.PArray);
}

// ---------------------------------------------------------------------------------------------
// XOR scrambler and CRC-32

void XorBlock(const void* A, const void* B, void* Dst, int Size) {
    const auto* a = static_cast<const uint8_t*>(A);
    const auto* b = static_cast<const uint8_t*>(B);
    auto* d = static_cast<uint8_t*>(Dst);
    for (int i = 0; i < Size; ++i) d[i] = a[i] ^ b[i];
}

void XORCryptBuf(const char* Src, char* Dst, const char* Key, int Count, int KeyLen, int Offset) {
    if (Count <= 0) return;
    Assert(KeyLen > 0, "XORCryptBuf called without a key");
    int step = (Offset & 100) + 1;
    for (int i = 0, k = 0; i < Count; ++i) {
        Dst[i] = static_cast<char>(Src[i] ^ Key[k]);
        k = (k + step) % KeyLen;
    }
}

uint32_t CalcCRC(const void* Buf, int Len) {
    const auto* p = static_cast<const uint8_t*>(Buf);
    const TCrcTables& t = CrcTables;
    uint32_t crc = 0xFFFFFFFFu;
    for (; Len >= 8; Len -= 8, p += 8) {
        const uint32_t low = Load32(p) ^ crc;
        const uint32_t high = Load32(p + 4);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; Len > 0; --Len, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace ostra
