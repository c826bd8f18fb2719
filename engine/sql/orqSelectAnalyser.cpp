// Result columns and the checks of a SELECT (see orqSelectAnalyser.h).
#include "engine/sql/orqSelectAnalyser.h"

#include <cctype>

#include "engine/sql/orqDataConversion.h"
#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqSelectParser.h"
#include "engine/storage/orqConsts.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

bool IsAggregateNode(const TOrqExprNode* Node) {
    return Node != nullptr && Node->ParserToken().Token() == ostAggFunc;
}

TOrqSQLAggFunc AggFuncOf(const TOrqExprNode* Node) {
    const int ordinal = Node->ParserToken().CustomOrdinal();
    return ordinal >= oafUnknown && ordinal <= oafMin ? static_cast<TOrqSQLAggFunc>(ordinal) : oafUnknown;
}

// Types a DISTINCT result cannot compare.
bool IsInvalidDistinctType(TFieldType T) {
    switch (T) {
        case ftBytes:
        case ftVarBytes:
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftCursor:
        case ftADT:
        case ftArray:
        case ftReference:
        case ftDataSet:
            return true;
        default:
            return false;
    }
}

// Type and size of a column; a type a record cannot hold leaves the column's type unknown.
void SetColumnType(TSelectFieldItem& Column, TFieldType Type, int Size) {
    if (IsRecordFieldType(Type)) Column.SetDataType(Type);
    Column.SetIsVariable(Type == ftString);
    if (Size > 0) Column.SetFieldSize(Size);
}

// The source text of an aggregate of a HAVING condition: its recorded text, or for COUNT(*),
// which records none, its name followed by "(*)".
std::string AggregateText(const TOrqExprNode* Node) {
    if (!Node->Args().empty()) return Node->ParserToken().RawTokenText();
    return Node->ParserToken().Text() + "(*)";
}

// Text with the blanks outside quotes removed, so that "SUM( x )" and "sum(x)" compare equal
// ignoring case.
std::string WithoutBlanks(const std::string& Text) {
    std::string out;
    char quote = 0;
    for (char c : Text) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        out.push_back(c);
    }
    return out;
}

// Every field node under Node (left, right and first argument) becomes a Null constant.
void NullFieldNodes(TOrqExprNode* Node) {
    if (Node == nullptr) return;
    if (Node->Kind() == enkField) {
        Node->SetKind(enkConst);
        Node->SetOperator(oeoCONST2);
        Node->SetData(Null());
    }
    NullFieldNodes(Node->Left());
    NullFieldNodes(Node->Right());
    if (!Node->Args().empty()) NullFieldNodes(Node->Args()[0]);
}

// The first field node of the tree under Node (through left and right only) that Fields
// cannot find; null when every one is found.
const TOrqExprNode* FindMissingField(const TOrqExprNode* Node, const TSelectFields& Fields) {
    if (Node == nullptr) return nullptr;
    if (Node->Kind() == enkField && Fields.FindColumn("", VarToStr(Node->Data())) == nullptr) return Node;
    if (const TOrqExprNode* n = FindMissingField(Node->Left(), Fields)) return n;
    return FindMissingField(Node->Right(), Fields);
}

}  // namespace

// --- TSelectFieldItem, TSelectFields ---------------------------------------------------------

void TSelectFieldItem::Assign(const TPersistent* Source) {
    TInternalFieldItem::Assign(Source);
    if (const auto* src = dynamic_cast<const TSelectFieldItem*>(Source))
        FSourceTableItem = src->FSourceTableItem;
}

TSelectFields::TSelectFields(TPersistent* AOwner)
    : TInternalFields(ItemClassOf<TSelectFieldItem>(), AOwner) {}

void TSelectFields::Assign(const TPersistent* Source) {
    const auto* src = dynamic_cast<const TSelectFields*>(Source);
    if (src == nullptr) {
        TInternalFields::Assign(Source);
        return;
    }
    if (src == this) return;
    Clear();
    for (int i = 0; i < src->Count(); ++i) Add()->Assign(src->GetItems(i));
}

TSelectFieldItem* TSelectFields::Add() {
    return static_cast<TSelectFieldItem*>(TInternalFields::Add());
}

TSelectFieldItem* TSelectFields::AddSelectField(const std::string& Name, const std::string& SourceFieldName,
                                                const IOrqTableFields& Fields, int FieldIndex,
                                                TTableNameItem* TableItem) {
    TSelectFieldItem* column = Add();
    const TFieldType type = Fields.FieldType(FieldIndex);
    // A string column offers its writeable size: the stored size less the length marker byte.
    const int size = type == ftString ? Fields.FieldSize(FieldIndex) - 1 : Fields.FieldSize(FieldIndex);
    SetColumnType(*column, type, size);
    column->SetSourceTableItem(TableItem);
    column->SetFieldName(Trim(Name));
    column->SetSourceFieldName(Trim(SourceFieldName));
    return column;
}

TSelectFieldItem* TSelectFields::FindField(const std::string& Name) const {
    if (Trim(Name).empty()) return nullptr;
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->FieldName(), Name)) return GetItems(i);
    const std::string name = Trim(Name);
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(Trim(GetItems(i)->RawColumnName()), name)) return GetItems(i);
    return nullptr;
}

TSelectFieldItem* TSelectFields::FindColumn(const std::string& Qualifier,
                                            const std::string& ColumnName) const {
    if (TSelectFieldItem* column = FindField(ColumnName)) return column;
    for (int i = 0; i < Count(); ++i) {
        TSelectFieldItem* column = GetItems(i);
        const TTableNameItem* table = column->SourceTableItem();
        const bool qualifierMet =
            Qualifier.empty() || (table != nullptr && (AnsiSameText(table->TableName(), Qualifier) ||
                                                       AnsiSameText(table->CorrelationName(), Qualifier)));
        if (qualifierMet && AnsiSameText(column->SourceFieldName(), ColumnName)) return column;
    }
    return nullptr;
}

bool TSelectFields::ContainsAggregateColumns() const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->HasAggregateFunction()) return true;
    return false;
}

bool TSelectFields::ContainsGroupedOutput() const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->IsGrouped()) return true;
    return false;
}

// --- TOrqSelectAnalyser: columns -------------------------------------------------------------

bool TOrqSelectAnalyser::CheckSelect(TOrqSelectNode* FirstNode, TTableList* TableList) {
    FErrorMsg.clear();
    FFirstNode = FirstNode;
    FTableList = TableList;
    FSelectFields.Clear();
    if (FirstNode == nullptr || TableList == nullptr) return false;

    if (FirstNode->Token() != nullptr && FirstNode->Token()->Token() == ostMult &&
        FirstNode->SelectNodeType() == snGroupColumn) {
        PrepareAllFields();
    } else {
        for (TOrqSelectNode* node = FirstNode; node != nullptr && FErrorMsg.empty(); node = node->Next()) {
            if (node->SelectNodeType() == snGroupColumn) {
                TTableNameItem* table = TableList->FindTable(node->Qualifier());
                // A "t.*" naming no table of the statement would silently give no columns.
                if (table == nullptr || node->Qualifier().empty())
                    FErrorMsg = std::string(SorqTableOrFieldNotFound) + " (" + node->Qualifier() + ".*)";
                else
                    AddFieldsForTable(node->Qualifier(), table);
            } else {
                AnalyseColumnNode(node);
            }
        }
    }
    if (!FErrorMsg.empty()) return false;

    for (int i = 0; i < FSelectFields.Count(); ++i)
        if (FSelectFields.GetItems(i)->DataType() == ftAutoInc)
            FSelectFields.GetItems(i)->SetDataType(ftInteger);

    if (FIsDistinct) {
        if (FSelectFields.Count() > C_MAXDISTINCTCOLUMNS) {
            FErrorMsg =
                std::string(SorqSelectDistinctMaxColsLimit) + " (" + IntToStr(C_MAXDISTINCTCOLUMNS) + ")";
        } else {
            for (int i = FSelectFields.Count() - 1; i >= 0; --i) {
                const TSelectFieldItem* column = FSelectFields.GetItems(i);
                if (IsInvalidDistinctType(column->DataType())) {
                    FErrorMsg =
                        std::string(SorqSelectDistinctInvalidColumnType) + " - " + column->FieldName();
                    break;
                }
            }
        }
    }
    return FErrorMsg.empty();
}

void TOrqSelectAnalyser::PrepareAllFields() {
    for (int i = 0; i < FTableList->Count(); ++i) AddFieldsForTable("", FTableList->Items(i));
}

void TOrqSelectAnalyser::AddFieldsForTable(const std::string& /*Qualifier*/, TTableNameItem* TableItem) {
    const IOrqTableFields* fields = TableItem->TableFields();
    if (fields == nullptr) return;
    for (int i = 0; i < fields->FieldCount(); ++i) {
        const std::string fieldName = fields->FieldName(i);
        std::string name = fieldName;
        for (int n = 1; FSelectFields.FindField(name) != nullptr; ++n) name = fieldName + "_" + IntToStr(n);
        FSelectFields.AddSelectField(name, fieldName, *fields, i, TableItem);
    }
}

void TOrqSelectAnalyser::AnalyseColumnNode(TOrqSelectNode* Node) {
    TOrqExpr* expr = Node->Expr();
    TOrqExprNode* root = expr != nullptr ? expr->FirstNode() : nullptr;
    if (root == nullptr) return;

    TSelectFieldItem* column = FSelectFields.Add();
    std::string name = Trim(Node->OutputColumnName());
    if (name.empty()) name = Trim(Node->RawColumnName());
    column->SetFieldName(name);
    TFieldType type = root->DataType();
    // TRUE and FALSE carry no type of their own.
    if (type == ftUnknown && root->Kind() == enkConst && VarType(root->Data()) == varBoolean)
        type = ftBoolean;
    SetColumnType(*column, type, root->DataSize());
    column->SetRawColumnName(Node->RawColumnName());

    const bool aggregate = Node->SelectNodeType() == snAggFunc || expr->ExprContainsToken(ostAggFunc);
    column->SetHasAggregateFunction(aggregate);
    if (!aggregate) {
        column->SetExprRoot(root);
    } else {
        column->SetCustomQualifier(Node->Qualifier());
        // A column keeps one accumulator: a second aggregate in it (SUM(a) + COUNT(b)) would be
        // given the first one's value, so such a column is refused.
        int aggregates = 0;
        for (const TOrqExprNode* node = root; node != nullptr; node = node->Next())
            if (node->ParserToken().Token() == ostAggFunc) ++aggregates;
        if (aggregates > 1) {
            FErrorMsg = std::string(SorqOneAggregatePerColumn) + " - " + Trim(Node->RawColumnName());
            return;
        }
        TOrqExprNode* aggNode = root;
        if (!IsAggregateNode(root)) {
            // The aggregate sits inside a larger expression (SUM(x) * 2, UPPER(MAX(s))).
            aggNode = expr->FindNodeWithToken(ostAggFunc);
            Assert(aggNode != nullptr, "failed to find AggFunc expr node");
            column->SetAggExprRoot(root);
        }
        Assert(aggNode->Args().size() <= 1, "Node expr args count is not as expected");
        // COUNT(*) has no argument: the aggregate node itself is evaluated.
        column->SetExprRoot(aggNode->Args().empty() ? aggNode : aggNode->Args()[0]);
        column->SetAggFunc(AggFuncOf(aggNode));
        column->SetDistinctQuantifier(VarType(aggNode->Data()) == varBoolean && aggNode->Data().AsBoolean());
        if (column->AggFunc() == oafCount) column->SetDataType(ftInteger);
        // The mean of whole numbers is seldom whole: an integer column would round it.
        const TFieldType t = column->DataType();
        if (column->AggFunc() == oafAvg && aggNode == root &&
            (t == ftSmallint || t == ftInteger || t == ftWord || t == ftLargeint || t == ftAutoInc))
            column->SetDataType(ftFloat);
    }

    if (root->Kind() == enkField && root->Tables().Count() > 0) {
        const TTableNameItem* resolved = root->Tables().Items(0);
        TTableNameItem* table =
            FTableList->FindTableAndCorrelationName(resolved->TableName(), resolved->CorrelationName());
        if (table != nullptr) {
            // The name the expression parser resolved, without qualifier or quotes.
            const std::string sourceName = VarToStr(root->Data());
            Assert(table->HasField(sourceName), "The Field name cannot be found " + column->FieldName());
            column->SetSourceTableItem(table);
            column->SetSourceFieldName(sourceName);
            column->SetExprRoot(nullptr);
        }
    }
}

// --- TOrqSelectAnalyser: checks --------------------------------------------------------------

namespace {

// Both are plain columns read from the same column of the same table reference.
bool SameSourceColumn(const TSelectFieldItem& A, const TSelectFieldItem& B) {
    const TTableNameItem* ta = A.SourceTableItem();
    const TTableNameItem* tb = B.SourceTableItem();
    return A.ExprRoot() == nullptr && B.ExprRoot() == nullptr && !A.HasAggregateFunction() &&
           !B.HasAggregateFunction() && ta != nullptr && tb != nullptr && AnsiSameText(ta->TableName(), tb->TableName()) &&
           AnsiSameText(ta->CorrelationName(), tb->CorrelationName()) &&
           AnsiSameText(A.SourceFieldName(), B.SourceFieldName());
}

}  // namespace

bool TOrqSelectAnalyser::CheckGroupedColumns(TGroupByItems* Items) {
    FErrorMsg.clear();
    if (Items == nullptr) return true;
    for (int i = 0; i < Items->Count(); ++i) {
        TGroupByItem* item = Items->Items(i);
        item->SetResultSetIndex(-1);
        TSelectFieldItem* column = FSelectFields.FindColumn(item->TableName(), item->FieldName());
        if (column == nullptr) {
            FErrorMsg = std::string(SorqGroupByColumnNotFound) + " : " + item->FieldName();
            return false;
        }
        column->SetIsGrouped(true);
        // The same table column may be listed again (SELECT b.*, CODE ... GROUP BY CODE): every
        // listing of it is grouped output.
        for (int j = 0; j < FSelectFields.Count(); ++j)
            if (SameSourceColumn(*FSelectFields.GetItems(j), *column)) FSelectFields.GetItems(j)->SetIsGrouped(true);
        item->SetResultSetIndex(i);
    }
    if (!FSelectFields.ContainsAggregateColumns() && Items->Count() == 0) return true;
    for (int i = 0; i < FSelectFields.Count(); ++i) {
        const TSelectFieldItem* column = FSelectFields.GetItems(i);
        if (!column->HasAggregateFunction() && !column->IsGrouped()) {
            FErrorMsg = std::string(SorqNonAggColumnNotInGroupBy) + " : " + column->FieldName();
            return false;
        }
    }
    return true;
}

TSelectFieldItem* TOrqSelectAnalyser::FindAggregateColumn(const TOrqExprNode* Node) const {
    const std::string text = AggregateText(Node);
    if (TSelectFieldItem* column = FSelectFields.FindColumn("", text)) return column;
    // The same aggregate written with other blanks or letter case.
    const std::string key = WithoutBlanks(text);
    for (int i = 0; i < FSelectFields.Count(); ++i) {
        TSelectFieldItem* column = FSelectFields.GetItems(i);
        if (column->HasAggregateFunction() && AnsiSameText(WithoutBlanks(column->RawColumnName()), key))
            return column;
    }
    return nullptr;
}

bool TOrqSelectAnalyser::CheckHavingExpr(TOrqExpr* HavingExpr) {
    FErrorMsg.clear();
    if (HavingExpr == nullptr || HavingExpr->FirstNode() == nullptr) return true;
    // Each aggregate reads the result column that computes it. One that no column computes
    // would have no value at all (and so drop every group): it is an error.
    for (TOrqExprNode* n = HavingExpr->FirstNode(); n != nullptr; n = n->Next()) {
        if (!IsAggregateNode(n) || n->Kind() == enkField) continue;
        const TSelectFieldItem* column = FindAggregateColumn(n);
        if (column == nullptr) {
            FErrorMsg = std::string(SorqHavingFieldNotInResult) + ": " + AggregateText(n);
            return false;
        }
        n->SetKind(enkField);
        n->SetOperator(oeoFIELD2);
        n->SetData(Variant(column->FieldName()));
        n->SetDataType(column->DataType());
        n->SetDataSize(column->FieldSize());
        if (!n->Args().empty()) NullFieldNodes(n->Args()[0]);
    }
    if (const TOrqExprNode* missing = FindMissingField(HavingExpr->FirstNode(), FSelectFields)) {
        FErrorMsg = std::string(SorqHavingFieldNotInResult) + ": " + VarToStr(missing->Data());
        return false;
    }
    return true;
}

bool TOrqSelectAnalyser::CheckOrderByColumns(TOrderByItems* Items) {
    FErrorMsg.clear();
    if (Items == nullptr) return true;
    for (int i = 0; i < Items->Count() && FErrorMsg.empty(); ++i) {
        const TOrderByItem* item = Items->Items(i);
        if (item->SortKey().empty()) {
            // A column number: 1 .. the column count.
            if (item->FieldIndex() < 1 || item->FieldIndex() > FSelectFields.Count())
                FErrorMsg =
                    std::string(SorqOrderByColumnIndexOutOfRange) + " : " + IntToStr(item->FieldIndex());
            continue;
        }
        const std::string& key = item->SortKey();
        const std::size_t dot = key.find('.');
        const std::string qualifier = dot == std::string::npos ? std::string() : key.substr(0, dot);
        const std::string name = dot == std::string::npos ? key : key.substr(dot + 1);
        if (FSelectFields.FindColumn(qualifier, name) == nullptr)
            FErrorMsg = std::string(SorqOrderByColumnNotPresent) + " : " + key;
    }
    return FErrorMsg.empty();
}

bool TOrqSelectAnalyser::ValidateUnionSelectFields(const TInternalFields* Fields) {
    FErrorMsg.clear();
    if (Fields == nullptr) return false;
    if (Fields->Count() != FSelectFields.Count()) {
        FErrorMsg = SorqUnionColumnCountError;
        return false;
    }
    for (int i = 0; i < Fields->Count(); ++i) {
        const TFieldType memberType = Fields->GetIndex(i)->DataType();
        const TFieldType ownType = FSelectFields.GetItems(i)->DataType();
        if (!TOrqDataConversionValidator::CheckDataConversionValid(memberType, ownType)) {
            FErrorMsg = std::string(SorqTypeConversionErr) + " " + FieldTypeName(memberType) + " -> " +
                        FieldTypeName(ownType);
            return false;
        }
    }
    return true;
}

}  // namespace ostra
