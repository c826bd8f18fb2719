// orqSchemaManipulationParser: TOrqSchemaManipulationParser reads one schema statement and
// records what it asks for; the query layer then opens the target table, has the request
// checked against the table (ValidateTableChanges) and written into the table's restructure
// requests (SetRestructureFieldDefs, SetRestructureIndexDefs), and creates, restructures or
// drops the table.
//
// Statements:
//   CREATE [TEMPORARY] TABLE name ( coldef {, coldef} [, PRIMARY KEY (col {, col})] )
//   ALTER TABLE [TEMPORARY] name alteration {, alteration}
//       alteration = ADD [COLUMN] col type | DROP [COLUMN] col | ALTER [COLUMN] col TO newname
//                  | ALTER [COLUMN] col TYPE type
//   CREATE [UNIQUE] [ASC | DESC] INDEX name ON [TEMPORARY] table ( col {, col} )
//   DROP TABLE [TEMPORARY] name
//   DROP INDEX [TEMPORARY] table ( PRIMARY | indexname )
//   coldef = col type [NOT NULL]; type as orqDataTypeParser.h reads it (AUTOINC allowed).
//
// The request: AddedFields (columns of CREATE TABLE and of ADD), DroppedFields (names),
// AlteredFields (FieldName is the new name of a rename; SourceField the old name;
// FieldGeneratorID the kind, aoAlterName or aoAlterType), IndexColumns (names, ";"-joined by
// GetIndexFieldsAsText), IndexOptions, IndexName, TableName, TemporaryTable (the table lives
// in the in-memory database). The parser remembers the token of every named column so that
// the later checks report their errors at the column's position.
//
// Errors follow the parser rule (first one kept, with its position where it has one).
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/StringList.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TIndexDefs;
class TRestructureFieldDefs;
class TRestructureIndexDefs;
class TOrqDataTypeParser;

enum TSQLSchemaManipulationOp : uint8_t {
    ddUnknown = 0,
    ddCreateTable = 1,
    ddAlterTable = 2,
    ddCreateIndex = 3,
    ddDropTable = 4,
    ddDropIndex = 5
};

// The kind of one ALTER TABLE alteration; aoAlterName and aoAlterType are stored in the
// FieldGeneratorID of an AlteredFields entry.
enum TAlterColumnOperation : uint8_t {
    aoUnknown = 0,
    aoAdd = 1,
    aoDrop = 2,
    aoAlterAny = 3,
    aoAlterName = 4,
    aoAlterType = 5
};

// The message set when tokens follow a complete schema statement.
inline constexpr char SorqSchemaStatementTerminateErr[] = "Schema statement incorrectly terminated";

// Reads CREATE/ALTER/DROP statements into a restructure request (see the opening comment).
class TOrqSchemaManipulationParser : public TBaseParser {
public:
    TOrqSchemaManipulationParser();
    ~TOrqSchemaManipulationParser() override;

    // Parses one statement from Stack. True when no error was set.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;

    // Checks the request against the existing table: ALTER TABLE against TableFields, CREATE
    // and DROP INDEX against IndexDefs (which must be given). CREATE TABLE passes; any other
    // operation fails. True when the checks passed and no error is set.
    bool ValidateTableChanges(const TInternalFields* TableFields, const TIndexDefs* IndexDefs);
    // ALTER TABLE only: deletes the dropped columns, appends the added ones, renames or
    // retypes the altered ones.
    void SetRestructureFieldDefs(TRestructureFieldDefs& Defs) const;
    // DROP INDEX deletes the index, CREATE INDEX appends it, ALTER TABLE renames columns
    // inside every index.
    void SetRestructureIndexDefs(TRestructureIndexDefs& Defs) const;
    // The index columns joined with ";".
    std::string GetIndexFieldsAsText() const;

    // The checks behind ValidateTableChanges; each sets its error and answers false on failure.
    bool CheckAddedFields(const TInternalFields* TableFields);
    bool CheckDroppedFields(const TInternalFields* TableFields);
    bool CheckAlteredFields(const TInternalFields* TableFields);
    bool CheckIndexFields(const TInternalFields* TableFields);
    // Whether IndexDefs holds the requested index (searched from the last definition: by name
    // ignoring case; an empty IndexName matches an unnamed definition when the primary option
    // is requested). With SetErrorIfFound a match sets "Index already exists".
    bool CheckIndexExists(const TIndexDefs* IndexDefs, bool SetErrorIfFound);

    TInternalFields& AddedFields() { return FAddedFields; }
    const TInternalFields& AddedFields() const { return FAddedFields; }
    TInternalFields& DroppedFields() { return FDroppedFields; }
    const TInternalFields& DroppedFields() const { return FDroppedFields; }
    TInternalFields& AlteredFields() { return FAlteredFields; }
    const TInternalFields& AlteredFields() const { return FAlteredFields; }
    const TStringList& IndexColumns() const { return FIndexColumns; }
    // The token at which index column Index was named.
    const TParserToken* IndexColumnToken(int Index) const;
    TIndexOptions IndexOptions() const { return FIndexOptions; }
    void SetIndexOptions(TIndexOptions v) { FIndexOptions = v; }
    TSQLSchemaManipulationOp Operation() const { return FOperation; }
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    const std::string& IndexName() const { return FIndexName; }
    void SetIndexName(const std::string& v) { FIndexName = v; }
    bool TemporaryTable() const { return FTemporaryTable; }
    void SetTemporaryTable(bool v) { FTemporaryTable = v; }

private:
    // Where a column entry was named: its own name, and for a rename the old name.
    struct TColumnTokens {
        const TParserToken* Name = nullptr;
        const TParserToken* Source = nullptr;
    };

    // The parse steps.
    void ParseColumnDefinitions();
    // Adds an entry to Fields and reads its data type with a data type parser over this
    // parser's tokens; on success the entry gets Name, the type, size, scale and NOT NULL.
    // Returns the entry.
    TInternalFieldItem* ParseColumnDataDefinition(const std::string& Name, TInternalFields& Fields);
    void ParseAlterColumns();
    void ParseIndexDefinition();
    void ParsePrimaryIndexDefinition();
    void ParseIndexColumns();
    // The current token as the name of a table (an end marker sets "Syntax error. Expected
    // table name"); moves past it.
    void ParseTableName();
    // The current token as a column name; false (with "Column specification is missing") at
    // ",", ")" or an end marker. Moves past it.
    bool TakeColumnName(std::string& Name, const TParserToken*& Token);
    // The current token exists and is not an end marker.
    bool HasNameToken() const;

    void ClearRequest();
    const TColumnTokens& TokensOf(const TInternalFieldItem* Item) const;
    // Sets "<Msg> : <Name>" at Token.
    void SetNamedError(const TParserToken* Token, const char* Msg, const std::string& Name);

    TInternalFields FAddedFields;
    TInternalFields FDroppedFields;
    TInternalFields FAlteredFields;
    TStringList FIndexColumns;
    std::vector<const TParserToken*> FIndexColumnTokens;
    TIndexOptions FIndexOptions;
    TSQLSchemaManipulationOp FOperation = ddUnknown;
    std::string FTableName;
    std::string FIndexName;
    bool FTemporaryTable = false;
    std::unordered_map<const TInternalFieldItem*, TColumnTokens> FColumnTokens;
};

}  // namespace ostra
