// The three word mappers (see orqMappers.h). Each vocabulary is a short table of upper-case
// ASCII words; a word is upper-cased once and compared with the table.
#include "engine/sql/orqMappers.h"

#include <utility>

#include "host/Collation.h"

namespace ostra {
namespace {

template <typename T, std::size_t N>
T Lookup(const std::pair<const char*, T> (&table)[N], const std::string& word, T unknown) {
    const std::string upper = AnsiUpperCase(word);
    for (const auto& entry : table)
        if (upper == entry.first) return entry.second;
    return unknown;
}

constexpr std::pair<const char*, TOrqSQLAggFunc> kAggFuncs[] = {
    {"COUNT", oafCount}, {"AVG", oafAvg}, {"SUM", oafSum}, {"MAX", oafMax}, {"MIN", oafMin}};

constexpr std::pair<const char*, TOrqSQLStrFunc> kStrFuncs[] = {
    {"UPPER", osfUpper}, {"LOWER", osfLower}, {"SUBSTRING", osfSubstring}, {"TRIM", osfTrim}};

// clang-format off
constexpr std::pair<const char*, TFieldType> kDataTypes[] = {
    {"CHARACTER", ftString}, {"CHAR", ftString},       {"VARCHAR", ftString}, {"NUMERIC", ftFloat},
    {"DECIMAL", ftFloat},    {"DEC", ftFloat},         {"INTEGER", ftInteger}, {"INT", ftInteger},
    {"SMALLINT", ftSmallint}, {"FLOAT", ftFloat},      {"REAL", ftFloat},     {"DOUBLE PRECISION", ftFloat},
    {"DATE", ftDate},        {"TIME", ftTime},         {"TIMESTAMP", ftDateTime}};
// clang-format on

}  // namespace

int TBaseMapper::IsMemberToken(const std::string& Word, const std::string& NextWord) {
    FWordCount = 1;
    return GetCustomOrdinal(Word, NextWord) != 0 ? FWordCount : 0;
}

TOrqSQLAggFunc TAggFuncMapper::GetAggFuncType(const std::string& Word) {
    return Lookup(kAggFuncs, Word, oafUnknown);
}
int TAggFuncMapper::GetCustomOrdinal(const std::string& Word, const std::string&) {
    return GetAggFuncType(Word);
}

TOrqSQLStrFunc TStrFuncMapper::GetFuncType(const std::string& Word) {
    return Lookup(kStrFuncs, Word, osfUnknown);
}
int TStrFuncMapper::GetCustomOrdinal(const std::string& Word, const std::string&) {
    return GetFuncType(Word);
}

TFieldType TDataTypeMapper::GetDataType(const std::string& Word, const std::string& NextWord) {
    if (AnsiSameText(Word, "DOUBLE") && AnsiSameText(NextWord, "PRECISION")) {
        FWordCount = 2;
        return ftFloat;
    }
    return Lookup(kDataTypes, Word, ftUnknown);
}
int TDataTypeMapper::GetCustomOrdinal(const std::string& Word, const std::string& NextWord) {
    return GetDataType(Word, NextWord);
}

}  // namespace ostra
