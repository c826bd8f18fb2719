// orqCommon: the engine's small shared pieces.
//
// - the shared enumerations (sort order, encryption level, filter optimisation level, index key
//   type, key-field comparison marker, data compression mode) with their display-name tables;
// - the string-compare routines that give a table its collation (TDBStringCompareFunction),
//   the number compare and the pointer-value compare behind sorted lists;
// - the LIKE pattern matcher;
// - what the engine asks of the operating system: user, computer, thread, tick count,
//   system description and last error text;
// - the two size calculators used by table headers and index keys;
// - field-name list conversion and the 8-bit to wide-character copy.
//
// The containers live beside it: orqLists.h (TSortedList, TStackList), orqCompoundList.h
// (TCompoundList) and orqHash.h (TOrqBaseHash, THashCollection).
//
// None of these routines keeps state or takes a lock. The compare routines sit in the inner
// loops of index, sort and filter code and do not allocate (the wide one only for texts of
// more than 512 characters).
#pragma once
#include <cstdint>
#include <string>

#include "host/db/FieldType.h"

namespace ostra {

class TStrings;

// ---------------------------------------------------------------------------------------------
// Shared enumerations (values in declaration order, from 0)

// The collation of a database or table; selects its string-compare routine:
// soANSI -> DBANSICompareStrings, soASCII -> DBASCIICompareStrings.
enum TSortOrder : uint8_t { soANSI, soASCII };
inline constexpr const char* CSortOrderNames[] = {"ANSI sort order", "ASCII sort order"};

// The page protection of a table: none, XOR-scrambled, Blowfish-encrypted.
enum TEncryptionLevel : uint8_t { encNone, encWeak, encStrong };
inline constexpr const char* CEncryptionLevelNames[] = {"None", "Weak", "Strong"};

// How far a filter expression is answered from indexes.
enum TOrqFilterOptimisationLevel : uint8_t { olNone, olPartial, olFull };
inline constexpr const char* CFilterOptLevelNames[] = {"None", "Partial", "Full"};

// The key-entry layout of an index.
enum TIndexKeyType : uint8_t { ikFixed, ikMinStringLen };

// Per-key-field comparison markers of searches: force before all, compare, force after all.
enum TFieldComparisonValue : uint8_t { fcForceBOF, fcDefault, fcForceEOF };

// The compression recorded with fields and blob settings; stored only, never carried out.
enum TDataCompressionMode : uint8_t { dcNone, dcZLib, dcCustom, dcUnknown };

// ---------------------------------------------------------------------------------------------
// Comparers

// A collation over 8-bit strings given by pointer and byte length (no terminator needed).
// Negative, 0 or positive as S1 sorts before, equal to or after S2. Partial: compare only the
// common length (a key prefix search); otherwise a string that is a prefix of the other sorts first.
using TDBStringCompareFunction = int (*)(const char* S1, const char* S2, int Len1, int Len2,
                                         bool CaseInsensitive, bool Partial);

// soANSI: the fixed dictionary order of host/Collation.h over the full length of both strings
// (case ignored when CaseInsensitive); equal texts of different length differ by Len1 - Len2.
int DBANSICompareStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                         bool Partial);

// soASCII: byte order (bytes unsigned) over the first min(Len1, Len2) bytes, a zero byte ending
// the compare; ASCII letters compared as upper case when CaseInsensitive; when equal and not
// Partial, Len1 - Len2. No length limit.
int DBASCIICompareStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                          bool Partial);

// Wide (UTF-16) strings, lengths in bytes: with Partial both are cut to min(Len1, Len2) bytes,
// otherwise taken whole; compared in the soANSI order of their Windows-1252 forms. Characters
// without a 1252 form break ties by their UTF-16 code units, so different texts never compare equal.
int DBCompareWideStrings(const char* S1, const char* S2, int Len1, int Len2, bool CaseInsensitive,
                         bool Partial);

// The order of sorted pointer lists: -1, 0 or 1 as Item1's value is below, equal to or above
// Item2's, compared as unsigned numbers (record addresses are unsigned 32-bit values).
int AscendingListSort(void* Item1, void* Item2);

// -1 when A < B, 1 when A > B, else 0 (also when either is NaN).
int CompareReals(double A, double B);

// ---------------------------------------------------------------------------------------------
// Pattern matching

// The LIKE test, case-sensitive and byte-wise: "%" matches any run of characters (also none),
// "_" exactly one character; every other pattern character matches itself. There is no escape
// character; C1 and C2 are accepted and not used. A zero byte ends a string.
bool MatchPatternedStrings(const std::string& Value, const std::string& Pattern, char C1 = '%',
                           char C2 = '_');

// ---------------------------------------------------------------------------------------------
// Operating-system routines

// Path with a trailing path delimiter ("/") added when missing; an empty path stays empty.
std::string OrqIncludeTrailingBackslash(const std::string& Path);
// The login name of the process's user (at most 255 characters); "" when it cannot be read.
std::string GetCurrentUser();
// The computer's host name (at most 255 characters); "" when it cannot be read.
std::string GetCurrentComputer();
// The calling thread's kernel thread identifier.
uint32_t GetCurrentThreadIdVal();
// The millisecond tick count (wraps at 32 bits).
uint32_t GetMSTimeMarker();
// A description of the operating system: "Linux: " + Format(" %d.%d.%d ", [kernel major,
// minor, patch]) + " " + the kernel build text (at most 128 characters); "unknown" when the
// system cannot be asked.
std::string GetOSDetails();
// The message text of the calling thread's last error as the platform layer recorded it
// (platform/LastError.h); "The error type could not be determined" when there is none.
// Param is not used.
std::string GetOSErrorMsg(const void* Param = nullptr);

// ---------------------------------------------------------------------------------------------
// Size calculators

// The size of a table header: 256 for 0 to 34 indexes. A count for which 48 + 6 * IndexCount is
// not within 1..255 raises Exception "Debug check -  header size <> 256".
int CalcTableHeaderSize(int IndexCount);

// The bytes of a fixed-width value: Smallint, Word 2; Integer, AutoInc 4; Boolean 1; Float,
// Currency, BCD, Date, Time, DateTime 8; 0 for any other type.
int FixedValueSize(TFieldType FieldType);

// The bytes a field takes in an index key apart from a string's characters: String, Smallint,
// Word, WideString 2 (a string's size marker); Integer, AutoInc 4; Boolean 1; Float, Currency,
// BCD, Date, Time, DateTime 8. Any other type raises Exception "Error in setting CoreDataSize -
// field type not found: " followed by the framework's name of the type.
int CalculateCoreDataSize(TFieldType FieldType);

// ---------------------------------------------------------------------------------------------
// Field names and strings

// Empties List, then adds one entry per ";"-separated name of a non-empty Names. Blanks inside
// and around names stay; empty names between separators give empty entries.
void ConvertFieldNamesToList(const std::string& Names, TStrings* List);

// Copies S as UTF-16 into Dest, a buffer of DestSize characters, with a terminating zero; when S
// has DestSize characters or more only its first DestSize - 1 are copied. Nothing is written
// when DestSize < 1.
void StringLToWideChar(const std::string& S, char16_t* Dest, int DestSize);

}  // namespace ostra
