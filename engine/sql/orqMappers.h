// orqMappers: the word mappers that the scanner and the pre-parser consult to recognise
// aggregate functions, data type names and string functions, and to give their tokens the
// ordinal they stand for (a TOrqSQLAggFunc, a field type or a TOrqSQLStrFunc).
// Words compare without regard to case.
#pragma once
#include <string>

#include "engine/sql/orqSQLTypes.h"
#include "host/db/FieldType.h"

namespace ostra {

// A recogniser for a small vocabulary of one- or two-word names.
class TBaseMapper {
public:
    virtual ~TBaseMapper() = default;
    // 0 when Word (followed by NextWord, which may be empty) is not a member, else the number of
    // words the match used; sets WordCount.
    virtual int IsMemberToken(const std::string& Word, const std::string& NextWord);
    // The ordinal Word (and NextWord) maps to; the vocabulary's "unknown" value (0) for a non-member.
    virtual int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) = 0;
    // The number of words the last call matched.
    int WordCount() const { return FWordCount; }

protected:
    int FWordCount = 0;
};

// COUNT, AVG, SUM, MAX, MIN.
class TAggFuncMapper : public TBaseMapper {
public:
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
    TOrqSQLAggFunc GetAggFuncType(const std::string& Word);
};

// UPPER, LOWER, SUBSTRING, TRIM.
class TStrFuncMapper : public TBaseMapper {
public:
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
    TOrqSQLStrFunc GetFuncType(const std::string& Word);
};

// Data type names: CHARACTER, CHAR, VARCHAR (ftString); NUMERIC, DECIMAL, DEC, FLOAT, REAL and
// DOUBLE PRECISION (ftFloat; two words when NextWord is PRECISION); INTEGER, INT (ftInteger);
// SMALLINT; DATE; TIME; TIMESTAMP (ftDateTime).
class TDataTypeMapper : public TBaseMapper {
public:
    int GetCustomOrdinal(const std::string& Word, const std::string& NextWord) override;
    TFieldType GetDataType(const std::string& Word, const std::string& NextWord);
};

}  // namespace ostra
