// orqJoinKey: the byte form in which a join's hash table holds a column value, so that two
// values the expression evaluator calls equal give the same bytes and two values it calls
// different give different bytes.
//
// The stored bytes of a record (orqRecordLayout.h) cannot be compared as they stand: an Integer
// 7 and a Float 7.0 are equal to the evaluator but have different bytes, and a String is
// followed by zero fill whose length depends on the field. A join key is therefore built per
// kind of value:
//
//   | kind      | field types                                    | key bytes                    |
//   |-----------|------------------------------------------------|------------------------------|
//   | number    | Smallint, Word, Integer, AutoInc, Float, Currency | 8: the value as an IEEE double (-0 as +0) |
//   | string    | String                                         | the text up to its first zero byte |
//   | boolean   | Boolean                                        | 1: 0 or 1                    |
//   | date      | Date, Time, DateTime (each a kind of its own)  | 8: the stored double          |
//
// Two columns can be joined through a hash only when their kinds agree (JoinKeysCompatible);
// other pairs, blobs and Bytes are compared by the evaluator instead. Strings compare equal under
// both collations exactly when their bytes are equal, so the text itself is the key.
#pragma once
#include <cstdint>
#include <string>

#include "host/db/FieldType.h"

namespace ostra {

// The kinds of join keys (see the file comment); jkNone cannot be hashed.
enum TJoinKeyKind : uint8_t { jkNone, jkNumber, jkString, jkBoolean, jkDate, jkTime, jkDateTime };

// The kind of key a column of type Type gives.
TJoinKeyKind JoinKeyKindOf(TFieldType Type);
// True when columns of types A and B can be matched through their join keys.
bool JoinKeysCompatible(TFieldType A, TFieldType B);
// Key := the join key of a stored value of type Type (Data its value bytes in a record, Length
// the bytes the cursor reports for it). False, with Key untouched, for a type that has no key.
bool BuildJoinKey(TFieldType Type, const uint8_t* Data, int Length, std::string& Key);

}  // namespace ostra
