// The schema statement parser (see orqSchemaManipulationParser.h).
#include "engine/sql/orqSchemaManipulationParser.h"

#include "engine/sql/orqDataTypeParser.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqRestructureDefs.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/db/IndexDefs.h"

namespace ostra {

TOrqSchemaManipulationParser::TOrqSchemaManipulationParser() {
    SetEndTokens(TOrqSQLTokens{ostUnknown, ostEnd});
}

TOrqSchemaManipulationParser::~TOrqSchemaManipulationParser() = default;

void TOrqSchemaManipulationParser::ClearRequest() {
    FColumnTokens.clear();
    FAddedFields.Clear();
    FDroppedFields.Clear();
    FAlteredFields.Clear();
    FIndexColumns.Clear();
    FIndexColumnTokens.clear();
    FOperation = ddUnknown;
    FIndexOptions = TIndexOptions();
    FTemporaryTable = false;
    FTableName.clear();
    FIndexName.clear();
}

const TParserToken* TOrqSchemaManipulationParser::IndexColumnToken(int Index) const {
    return Index >= 0 && Index < static_cast<int>(FIndexColumnTokens.size())
               ? FIndexColumnTokens[static_cast<std::size_t>(Index)]
               : nullptr;
}

const TOrqSchemaManipulationParser::TColumnTokens& TOrqSchemaManipulationParser::TokensOf(
    const TInternalFieldItem* Item) const {
    static const TColumnTokens none;
    auto it = FColumnTokens.find(Item);
    return it == FColumnTokens.end() ? none : it->second;
}

void TOrqSchemaManipulationParser::SetNamedError(const TParserToken* Token, const char* Msg,
                                                 const std::string& Name) {
    SetError(Token, std::string(Msg) + " : " + Name);
}

bool TOrqSchemaManipulationParser::HasNameToken() const {
    return CurrToken() != nullptr && CurrentTokenType() != ostEnd && CurrentTokenType() != ostUnknown;
}

// --- Statements ------------------------------------------------------------------------------

bool TOrqSchemaManipulationParser::Execute(const TOrqParserOptions& Options, TParserStack* Stack) {
    TBaseParser::Execute(Options, Stack);
    ClearRequest();

    switch (CurrentTokenType()) {
        case ostCreate:
            NextToken();
            // CREATE TEMPORARY TABLE is the usual order; TEMPORARY after TABLE is read as well.
            if (CurrentTokenType() == ostTemporary && PeekAtTokenType(0) == ostTable) {
                FTemporaryTable = true;
                NextToken();
            }
            if (CurrentTokenType() == ostTable) {
                FOperation = ddCreateTable;
                NextToken();
                if (CurrentTokenType() == ostTemporary) {
                    FTemporaryTable = true;
                    NextToken();
                }
                ParseTableName();
                if (!HasParseError()) ParseColumnDefinitions();
            } else {
                FOperation = ddCreateIndex;
                if (CurrentTokenType() == ostUnique) {
                    FIndexOptions.Include(ixUnique);
                    NextToken();
                }
                if (CurrentTokenType() == ostDescending) {
                    FIndexOptions.Include(ixDescending);
                    NextToken();
                } else if (CurrentTokenType() == ostAscending) {
                    NextToken();
                }
                if (CurrentTokenType() == ostIndex)
                    ParseIndexDefinition();
                else
                    SetError(CurrToken(), SorqInvalidCreateStatement);
            }
            break;
        case ostAlter:
            NextToken();
            if (CurrentTokenType() != ostTable) {
                SetError(CurrToken(), SorqInvalidAlterTableStatement);
                break;
            }
            FOperation = ddAlterTable;
            NextToken();
            if (CurrentTokenType() == ostTemporary) {
                FTemporaryTable = true;
                NextToken();
            }
            ParseTableName();
            if (!HasParseError()) ParseAlterColumns();
            break;
        case ostDrop:
            NextToken();
            if (CurrentTokenType() == ostTable) {
                FOperation = ddDropTable;
            } else if (CurrentTokenType() == ostIndex) {
                FOperation = ddDropIndex;
            } else {
                SetError(CurrToken(), SorqInvalidDropStatement);
                break;
            }
            NextToken();
            if (CurrentTokenType() == ostTemporary) {
                FTemporaryTable = true;
                NextToken();
            }
            ParseTableName();
            if (FOperation == ddDropIndex && !HasParseError() && HasNameToken()) {
                if (TokenSymbolIs("primary")) {
                    FIndexName.clear();
                    FIndexOptions.Include(ixPrimary);
                } else {
                    FIndexName = TokenName();
                }
                NextToken();
            }
            break;
        default:
            // The parser engine only sends CREATE, ALTER and DROP statements here.
            break;
    }

    if (!HasParseError() && !AtEndToken()) SetError(CurrToken(), SorqSchemaStatementTerminateErr);
    return !HasParseError();
}

void TOrqSchemaManipulationParser::ParseTableName() {
    if (!HasNameToken()) {
        // A statement without its table cannot be meant: refuse it here rather than hand an
        // empty name to the table layer.
        SetError(CurrToken(), SorqMissingTableReference);
        return;
    }
    FTableName = TokenName();
    NextToken();
}

bool TOrqSchemaManipulationParser::TakeColumnName(std::string& Name, const TParserToken*& Token) {
    if (!HasNameToken() || CurrentTokenType() == ostComma || CurrentTokenType() == ostRParen) {
        SetError(CurrToken(), SorqMissingColumnSpecifier);
        return false;
    }
    Token = CurrToken();
    Name = TokenName();
    NextToken();
    return true;
}

void TOrqSchemaManipulationParser::ParseColumnDefinitions() {
    if (CurrentTokenType() != ostLParen) {
        SetError(CurrToken(), SorqLParenMissing);
        return;
    }
    NextToken();
    do {
        std::string name;
        const TParserToken* token = nullptr;
        if (!TakeColumnName(name, token)) break;
        TInternalFieldItem* item = ParseColumnDataDefinition(name, FAddedFields);
        FColumnTokens[item].Name = token;
        if (CurrentTokenType() == ostComma) NextToken();
    } while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostRParen &&
             CurrentTokenType() != ostPrimaryKey);

    if (!HasParseError() && CurrentTokenType() == ostPrimaryKey) ParsePrimaryIndexDefinition();
    if (HasParseError()) return;
    if (CurrentTokenType() != ostRParen) {
        SetError(CurrToken(), SorqRParenMissing);
        return;
    }
    NextToken();
}

TInternalFieldItem* TOrqSchemaManipulationParser::ParseColumnDataDefinition(const std::string& Name,
                                                                            TInternalFields& Fields) {
    TInternalFieldItem* item = Fields.Add();
    TOrqDataTypeParser typeParser;
    StartHelper(typeParser);
    typeParser.Execute(TOrqParserOptions{opoExtSyntax}, Stack());
    typeParser.SetInvalidDataTypes(TOrqSQLTokens());
    typeParser.SetAllowConstraints(true);
    if (typeParser.ParseDataType()) {
        item->SetFieldName(Name);
        item->SetDataType(typeParser.DataType());
        item->SetFieldSize(typeParser.FieldSize());
        if (typeParser.Scale() >= 0) item->SetNumDecimalPlaces(typeParser.Scale());
        item->SetRequired(typeParser.NotNull());
    } else {
        SetError(typeParser.ErrorToken(), typeParser.ErrorMsg());
    }
    SyncCurrToken(typeParser);
    return item;
}

void TOrqSchemaManipulationParser::ParseAlterColumns() {
    do {
        TAlterColumnOperation op = aoUnknown;
        switch (CurrentTokenType()) {
            case ostAddWord:
                op = aoAdd;
                break;
            case ostDrop:
                op = aoDrop;
                break;
            case ostAlter:
                op = aoAlterAny;
                break;
            case ostComma:
                SetError(CurrToken(), SorqMissingColumnSpecifier);
                return;
            default:
                SetError(CurrToken(), SorqInvalidToken);
                return;
        }
        NextToken();
        if (CurrentTokenType() == ostColumn) NextToken();
        std::string name;
        const TParserToken* token = nullptr;
        if (!TakeColumnName(name, token)) return;

        if (op == aoAdd) {
            FColumnTokens[ParseColumnDataDefinition(name, FAddedFields)].Name = token;
        } else if (op == aoDrop) {
            TInternalFieldItem* item = FDroppedFields.Add();
            item->SetFieldName(name);
            FColumnTokens[item].Name = token;
        } else if (CurrentTokenType() == ostTo) {
            NextToken();
            std::string newName;
            const TParserToken* newToken = nullptr;
            if (!TakeColumnName(newName, newToken)) return;
            TInternalFieldItem* item = FAlteredFields.Add();
            item->SetSourceField(name);
            item->SetFieldName(newName);
            item->SetFieldGeneratorID(aoAlterName);
            FColumnTokens[item] = TColumnTokens{newToken, token};
        } else if (CurrentTokenType() == ostType) {
            NextToken();
            TInternalFieldItem* item = ParseColumnDataDefinition(name, FAlteredFields);
            item->SetFieldGeneratorID(aoAlterType);
            FColumnTokens[item].Name = token;
        } else {
            SetError(CurrToken(), SorqInvalidToken);
        }
        if (CurrentTokenType() == ostComma) NextToken();
    } while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostRParen &&
             CurrentTokenType() != ostPrimaryKey);
}

void TOrqSchemaManipulationParser::ParseIndexDefinition() {
    NextToken();  // INDEX
    if (!HasNameToken()) {
        SetError(CurrToken(), SorqInvalidToken);
        return;
    }
    FIndexName = TokenName();
    NextToken();
    if (CurrentTokenType() != ostOn) {
        SetError(CurrToken(), SorqMissingOnToken);
        return;
    }
    NextToken();
    if (CurrentTokenType() == ostTemporary) {
        FTemporaryTable = true;
        NextToken();
    }
    if (!HasNameToken()) {
        SetError(CurrToken(), SorqInvalidToken);
        return;
    }
    FTableName = TokenName();
    NextToken();
    ParseIndexColumns();
}

void TOrqSchemaManipulationParser::ParsePrimaryIndexDefinition() {
    NextToken();  // PRIMARY KEY
    FIndexOptions = TIndexOptions{ixPrimary};
    ParseIndexColumns();
}

void TOrqSchemaManipulationParser::ParseIndexColumns() {
    if (CurrentTokenType() != ostLParen) {
        SetError(CurrToken(), SorqLParenMissing);
        return;
    }
    NextToken();
    if (CurrentTokenType() != ostRParen) {
        do {
            if (CurrentTokenType() == ostComma) {
                SetError(CurrToken(), SorqMissingColumnSpecifier);
                break;
            }
            if (!HasNameToken()) break;  // reported as the missing ")" below
            FIndexColumns.Add(TokenName());
            FIndexColumnTokens.push_back(CurrToken());
            NextToken();
            if (CurrentTokenType() == ostComma) NextToken();
        } while (!HasParseError() && !AtEndToken() && CurrentTokenType() != ostRParen);
    }
    if (HasParseError()) return;
    if (CurrentTokenType() != ostRParen) {
        SetError(CurrToken(), SorqRParenMissing);
        return;
    }
    NextToken();
}

std::string TOrqSchemaManipulationParser::GetIndexFieldsAsText() const {
    std::string text;
    for (int i = 0; i < FIndexColumns.Count(); ++i) {
        if (i > 0) text += ';';
        text += FIndexColumns.Strings(i);
    }
    return text;
}

// --- Checks ----------------------------------------------------------------------------------

bool TOrqSchemaManipulationParser::ValidateTableChanges(const TInternalFields* TableFields,
                                                        const TIndexDefs* IndexDefs) {
    bool ok = false;
    switch (FOperation) {
        case ddCreateTable:
            ok = true;
            break;
        case ddAlterTable:
            Assert(TableFields != nullptr, "Table fields not assigned in ValidateTableChanges");
            ok = CheckAddedFields(TableFields) && CheckDroppedFields(TableFields) &&
                 CheckAlteredFields(TableFields);
            break;
        case ddCreateIndex:
            Assert(IndexDefs != nullptr, "IndexDefs not assigned in ValidateTableChanges");
            Assert(TableFields != nullptr, "Table fields not assigned in ValidateTableChanges");
            ok = CheckIndexFields(TableFields) && !CheckIndexExists(IndexDefs, true);
            break;
        case ddDropIndex:
            Assert(IndexDefs != nullptr, "IndexDefs not assigned in ValidateTableChanges");
            ok = CheckIndexExists(IndexDefs, false);
            if (!ok) SetError(nullptr, SorqIndexNotFound);
            break;
        default:
            break;
    }
    return ok && !HasParseError();
}

bool TOrqSchemaManipulationParser::CheckAddedFields(const TInternalFields* TableFields) {
    for (int i = 0; i < FAddedFields.Count(); ++i) {
        const TInternalFieldItem* item = FAddedFields.GetIndex(i);
        // A name added twice in one statement would leave two columns of that name.
        bool addedBefore = false;
        for (int j = 0; j < i && !addedBefore; ++j)
            addedBefore = AnsiSameText(FAddedFields.GetIndex(j)->FieldName(), item->FieldName());
        if (addedBefore || TableFields->FindField(item->FieldName()) != nullptr) {
            SetNamedError(TokensOf(item).Name, SorqDuplicateField, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TOrqSchemaManipulationParser::CheckDroppedFields(const TInternalFields* TableFields) {
    for (int i = 0; i < FDroppedFields.Count(); ++i) {
        const TInternalFieldItem* item = FDroppedFields.GetIndex(i);
        if (TableFields->FindField(item->FieldName()) == nullptr) {
            SetNamedError(TokensOf(item).Name, SorqFieldNotFound, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TOrqSchemaManipulationParser::CheckAlteredFields(const TInternalFields* TableFields) {
    for (int i = 0; i < FAlteredFields.Count(); ++i) {
        const TInternalFieldItem* item = FAlteredFields.GetIndex(i);
        const TColumnTokens& tokens = TokensOf(item);
        if (item->FieldGeneratorID() == aoAlterName) {
            if (TableFields->FindField(item->FieldName()) != nullptr) {
                SetNamedError(tokens.Name, SorqDuplicateField, item->FieldName());
                return false;
            }
            // The column that is missing is the old one: name it, at its own position.
            if (TableFields->FindField(item->SourceField()) == nullptr) {
                SetNamedError(tokens.Source, SorqFieldNotFound, item->SourceField());
                return false;
            }
        } else if (TableFields->FindField(item->FieldName()) == nullptr) {
            SetNamedError(tokens.Name, SorqFieldNotFound, item->FieldName());
            return false;
        }
    }
    return true;
}

bool TOrqSchemaManipulationParser::CheckIndexFields(const TInternalFields* TableFields) {
    if (FIndexColumns.Count() == 0) {
        SetError(nullptr, SorqNoIndexColumnsSpecified);
        return false;
    }
    for (int i = 0; i < FIndexColumns.Count(); ++i) {
        if (TableFields->FindField(FIndexColumns.Strings(i)) == nullptr) {
            SetNamedError(IndexColumnToken(i), SorqFieldNotFound, FIndexColumns.Strings(i));
            return false;
        }
    }
    return true;
}

bool TOrqSchemaManipulationParser::CheckIndexExists(const TIndexDefs* IndexDefs, bool SetErrorIfFound) {
    for (int i = IndexDefs->Count() - 1; i >= 0; --i) {
        const TIndexDef* def = IndexDefs->Items(i);
        const bool match = FIndexName.empty() ? def->Name().empty() && FIndexOptions.Contains(ixPrimary)
                                              : AnsiSameText(def->Name(), FIndexName);
        if (match) {
            if (SetErrorIfFound) SetError(nullptr, SorqDuplicateIndex);
            return true;
        }
    }
    return false;
}

// --- Applying the request --------------------------------------------------------------------

void TOrqSchemaManipulationParser::SetRestructureFieldDefs(TRestructureFieldDefs& Defs) const {
    if (FOperation != ddAlterTable) return;
    for (int i = Defs.Count() - 1; i >= 0; --i)
        if (FDroppedFields.FindField(Defs.GetItems(i)->Name()) != nullptr) Defs.DeleteItem(i);

    for (int i = 0; i < FAddedFields.Count(); ++i) {
        const TInternalFieldItem* item = FAddedFields.GetIndex(i);
        TRestructureFieldDef* def = Defs.AddFieldDef();
        def->SetName(item->FieldName());
        def->SetDataType(item->DataType());
        def->SetSize(item->FieldSize());
        def->SetPrecision(item->NumDecimalPlaces());
        def->SetRequired(item->Required());
    }

    for (int i = 0; i < FAlteredFields.Count(); ++i) {
        const TInternalFieldItem* item = FAlteredFields.GetIndex(i);
        const bool rename = item->FieldGeneratorID() == aoAlterName;
        TRestructureFieldDef* def = Defs.Find(rename ? item->SourceField() : item->FieldName());
        if (def == nullptr) continue;
        def->SetName(item->FieldName());
        if (rename) {
            def->SetSourceFieldName(item->SourceField());
        } else {
            def->SetDataType(item->DataType());
            def->SetSize(item->FieldSize());
            def->SetPrecision(item->NumDecimalPlaces());
            def->SetRequired(item->Required());
        }
    }
}

void TOrqSchemaManipulationParser::SetRestructureIndexDefs(TRestructureIndexDefs& Defs) const {
    switch (FOperation) {
        case ddDropIndex:
            // The same match as CheckIndexExists: by name, or the unnamed primary index.
            for (int i = Defs.Count() - 1; i >= 0; --i) {
                const TRestructureIndexDef* def = Defs.GetItems(i);
                const bool match = FIndexName.empty()
                                       ? def->Name().empty() && FIndexOptions.Contains(ixPrimary)
                                       : AnsiSameText(def->Name(), FIndexName);
                if (match) {
                    Defs.DeleteItem(i);
                    break;
                }
            }
            break;
        case ddCreateIndex:
            Defs.AddAndSetIndexDef(FIndexName, GetIndexFieldsAsText(), FIndexOptions);
            break;
        case ddAlterTable:
            for (int i = 0; i < FAlteredFields.Count(); ++i) {
                const TInternalFieldItem* item = FAlteredFields.GetIndex(i);
                if (item->FieldGeneratorID() == aoAlterName)
                    Defs.ReplaceFieldName(item->SourceField(), item->FieldName());
            }
            break;
        default:
            break;
    }
}

}  // namespace ostra
