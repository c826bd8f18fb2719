// orqCrypt: the engine's cryptographic primitives.
//
// - TSha1Stream: a write-only stream that computes the SHA-1 digest of what is written to it;
//   the database file keeps the digest of its master key in the security header.
// - Blowfish (16 rounds, 8-byte blocks, the two 32-bit halves of a block big-endian) with ECB,
//   CBC and 8-bit CFB modes; strongly encrypted table pages are Blowfish-CFB.
// - XORCryptBuf: the keyed XOR scrambler of weakly encrypted table pages and table check strings.
// - CalcCRC: CRC-32 of the security header and the database definition record.
//
// Page use (the paged file): every page is scrambled on its own. Weak: XORCryptBuf(page, out,
// OrqWeakCryptKey, PageSize, 71, TableID): the key position starts at 0 on every page and steps
// by (TableID and 100) + 1. Strong: BlowfishEncryptCFB / BlowfishDecryptCFB over the page, then
// BlowfishReset, so every page starts from the same IV (the ECB encryption of eight 0xFF bytes
// under the strong key, set up by BlowfishInit without IV).
//
// Byte order of digests: the five 32-bit state words H0..H4, each stored least significant byte
// first. The digest that is usually written a9 99 3e 36 ... is stored 36 3e 99 a9 ...; stored
// security headers depend on this order.
#pragma once
#include <cstdint>
#include <string>

#include "host/Streams.h"

namespace ostra {

// The weak-encryption key: one fixed 71-character text, the same in every database.
inline constexpr char OrqWeakCryptKey[] = "wq7z;hfk,pbnvye;GqT;XUWPRB4HMJSZ,QWeruvbzo,mkdpt4<7?3R6sdh_vba#lopqsynx";
inline constexpr int OrqWeakCryptKeyLength = 71;
// The strong-encryption key of a database without master key (14 characters).
inline constexpr char OrqDefaultStrongCryptKey[] = "7q!mR2vx8Lp#zK";
inline constexpr int OrqDefaultStrongCryptKeyLength = 14;

// The size of a SHA-1 digest in bytes.
inline constexpr int OrqSha1DigestSize = 20;

// A write-only stream that computes the SHA-1 (FIPS 180-1) of the bytes written to it.
// States: initialised -> bytes added -> GetDigest (which initialises again).
class TSha1Stream : public TStream {
public:
    // A stream with nothing added yet (Initialize).
    TSha1Stream();

    // Forgets everything added (Initialize again).
    void Clear();
    // Reads nothing; returns 0.
    int64_t Read(void* Buffer, int64_t Count) override;
    // Adds Count bytes in order; returns Count (0 for a count of 0 or below).
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Moves nothing; returns the number of bytes added since Initialize.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    // Adds one byte (the most significant byte of a message word first); a full 64-byte block
    // runs UpdateDigest.
    virtual void AddByte(uint8_t B);
    // The digest as a 20-character string of the GetDigest bytes; initialises the stream again.
    virtual std::string GetDigestString();
    // Starts a new message: initial state, nothing added.
    virtual void Initialize();
    // Processes the collected 64-byte block into the state, counts it and clears the block.
    virtual void UpdateDigest();
    // Adds the Count bytes at Data from the last to the first; returns Count.
    virtual int64_t WriteBigEndian(const void* Data, int64_t Count);
    // Pads the message, writes the 20 digest bytes (each state word least significant byte
    // first) to Digest and initialises the stream again.
    virtual void GetDigest(void* Digest);

private:
    uint64_t FBlockCount = 0;   // 64-byte blocks processed
    uint32_t FBytesInBlock = 0; // bytes collected in the current block, 0..63
    uint32_t FW[80] = {};       // message schedule; W[0..15] collect the current block
    uint32_t FH[5] = {};        // state H0..H4
};

// Digest := 20 zero bytes when S is empty, else the SHA-1 digest of the bytes of S.
void GetSHA1FromString(const std::string& S, void* Digest);

// The state of one Blowfish key: IVs, S-boxes and P-array.
struct TBlowfishData {
    uint8_t InitialIV[8] = {};    // the IV the modes start from (BlowfishReset)
    uint8_t IV[8] = {};           // the current IV / CFB feedback register
    uint32_t SBox[4][256] = {};
    uint32_t PArray[18] = {};
};

// Sets up Data for a key of KeyBits bits (1..448, a multiple of 8) at Key. IV: its 8 bytes,
// or nullptr for the ECB encryption of eight 0xFF bytes; the current IV starts equal to it.
// Any other KeyBits leaves Data unchanged and returns false; true when Data was set up.
bool BlowfishInit(TBlowfishData& Data, const void* Key, int KeyBits, const void* IV);

// Encrypts / decrypts one 8-byte block; InBlock and OutBlock may be the same.
void BlowfishEncryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock);
void BlowfishDecryptECB(const TBlowfishData& Data, const void* InBlock, void* OutBlock);

// CBC over Size bytes (in place allowed): whole blocks chain through the current IV, which
// ends as the last ciphertext block; a final partial block of n bytes is XORed with the first n
// bytes of the ECB encryption of the current IV, which it leaves unchanged.
void BlowfishEncryptCBC(TBlowfishData& Data, const void* InData, void* OutData, int Size);
void BlowfishDecryptCBC(TBlowfishData& Data, const void* InData, void* OutData, int Size);

// 8-bit CFB over Size bytes (in place allowed): each byte is XORed with the first byte of the
// ECB encryption of the current IV, which then shifts left one byte and takes the ciphertext byte.
void BlowfishEncryptCFB(TBlowfishData& Data, const void* InData, void* OutData, int Size);
void BlowfishDecryptCFB(TBlowfishData& Data, const void* InData, void* OutData, int Size);

// Current IV := initial IV.
void BlowfishReset(TBlowfishData& Data);
// Wipes the key: fills the IVs, the S-boxes and the P-array with 0xFF bytes.
void BlowfishBurn(TBlowfishData& Data);

// Dst[i] := A[i] xor B[i] for Size bytes (Dst may be A or B).
void XorBlock(const void* A, const void* B, void* Dst, int Size);

// Scrambles (and, called again, unscrambles) Count bytes from Src to Dst (may be the same) with
// Key of KeyLen bytes: Dst[i] := Src[i] xor Key[k], k starting at 0 and stepping by
// (Offset and 100) + 1 modulo KeyLen. Raises EAssertionFailed for a KeyLen below 1.
void XORCryptBuf(const char* Src, char* Dst, const char* Key, int Count, int KeyLen, int Offset);

// CRC-32 (ISO 3309 / ITU-T V.42: reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF,
// final complement) of Len bytes; 0 for no bytes.
uint32_t CalcCRC(const void* Buf, int Len);

}  // namespace ostra
