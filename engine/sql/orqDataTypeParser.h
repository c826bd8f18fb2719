// orqDataTypeParser: TOrqDataTypeParser reads one column data type (CHAR(n), NUMERIC(p,s),
// BLOB(n,subtype), ...) with an optional NOT NULL. The schema statement parser uses it for
// column definitions and the expression parser for the target type of CAST; either shares its
// token stream with this parser (SyncCurrToken) and calls ParseDataType at the type keyword.
//
// Types by keyword: CHAR, CHARACTER, VARCHAR String; INT, INTEGER Integer; SMALLINT Smallint;
// DATE Date; TIME Time; TIMESTAMP, DATETIME DateTime; DECIMAL, NUMERIC, FLOAT Float; BOOLEAN
// Boolean; MONEY Currency; BLOB Blob (subtype 1 Memo, 3 FmtMemo, 5 Graphic); AUTOINC AutoInc.
// A size "(n)" is read for String, Float, Time and the blob types, a scale ", s" for Float and
// the blob types. Keywords in InvalidDataTypes are refused; AUTOINC is refused unless the
// caller removes it after Execute.
//
// Errors follow the parser rule (first error kept, never raised): "Unknown Datatype", "Data
// type is invalid", "Data type length/precision not specified", "Data type scale invalid",
// "Missing Right Parenthesis", "Invalid token".
#pragma once
#include "engine/sql/orqBaseParser.h"
#include "host/db/FieldType.h"

namespace ostra {

// Reads a column data type at the current token.
class TOrqDataTypeParser : public TBaseParser {
public:
    // InvalidDataTypes := [ostAutoInc]; with a stack, attaches it with [opoExtSyntax] and moves
    // to the first token unless a current token was handed over. Always answers false: the
    // parse itself is ParseDataType.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Reads the type at the current token into DataType, FieldSize, Scale and NotNull and
    // leaves the current token after it. True when no error was set.
    bool ParseDataType();

    // String, Float, Time, Blob, Memo, Graphic, FmtMemo and TimeStamp take a size.
    static bool IsSpecifiedType(TFieldType T);
    // Float and the four blob types take a scale (the blob subtype).
    static bool TypeIncludesScale(TFieldType T);
    // Scale := 0; FieldSize := 1 for String, else 0.
    void SetDefaultsForDataType(TFieldType T);

    // Decimal places, or the blob subtype; -1 before a type was read.
    int Scale() const { return FScale; }
    void SetScale(int v) { FScale = v; }
    // Length or precision.
    int FieldSize() const { return FFieldSize; }
    void SetFieldSize(int v) { FFieldSize = v; }
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType v) { FDataType = v; }
    // Type keywords refused in the current context.
    const TOrqSQLTokens& InvalidDataTypes() const { return FInvalidDataTypes; }
    void SetInvalidDataTypes(const TOrqSQLTokens& v) { FInvalidDataTypes = v; }
    // A NOT NULL may follow the type.
    bool AllowConstraints() const { return FAllowConstraints; }
    void SetAllowConstraints(bool v) { FAllowConstraints = v; }
    bool NotNull() const { return FNotNull; }
    void SetNotNull(bool v) { FNotNull = v; }

private:
    // The current token as a whole number; false when it is not a number token or not whole.
    bool CurrentNumber(int& Value) const;

    int FScale = -1;
    int FFieldSize = 0;
    TFieldType FDataType = ftUnknown;
    TOrqSQLTokens FInvalidDataTypes{ostAutoInc};
    bool FAllowConstraints = false;
    bool FNotNull = false;
};

}  // namespace ostra
