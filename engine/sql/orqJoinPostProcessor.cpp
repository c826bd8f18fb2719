// Join conditions of USING and NATURAL joins (see orqJoinPostProcessor.h).
#include "engine/sql/orqJoinPostProcessor.h"

#include <vector>

#include "engine/sql/orqSelectParser.h"

#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/Variant.h"

namespace ostra {

bool TJoinPostProcessor::ProcessJoinTree(TOrqTableRefNode* Node) {
    Assert(FTableList != nullptr, "Join post processor table list is not assigned");
    FErrorMsg.clear();
    return InternalProcessNode(Node);
}

bool TJoinPostProcessor::InternalProcessNode(TOrqTableRefNode* Node) {
    if (Node == nullptr) return true;
    if (!InternalProcessNode(Node->Left())) return false;
    if (!InternalProcessNode(Node->Right())) return false;
    if (!IsJoinTableRef(Node->JoinType())) return FErrorMsg.empty();
    Assert(Node->Left() != nullptr && Node->Right() != nullptr, "Join node operands are not assigned");

    TStringList columns;
    columns.AddStrings(Node->UsingColumnList());
    if (Node->IsNaturalJoin() && columns.Count() == 0) {
        GetCommonColumns(Node, columns);
        if (columns.Count() == 0 && Node->Expr().FirstNode() == nullptr) {
            FErrorMsg = SorqNaturalJoinNoCommonColumns;
            return false;
        }
    }

    for (int i = 0; i < columns.Count() && FErrorMsg.empty(); ++i) {
        const std::string column = columns.Strings(i);
        const TOrqTableRefNode* left = FindTableRefNodeForField(column, Node->Left());
        const TOrqTableRefNode* right = FindTableRefNodeForField(column, Node->Right());
        if (left == nullptr || right == nullptr) {
            FErrorMsg = SorqJoinFieldNotInTables + column;
            break;
        }
        TJoinField leftField, rightField;
        if (FindJoinField(column, left->Text(), left->CorrelationName(), leftField) &&
            FindJoinField(column, right->Text(), right->CorrelationName(), rightField))
            CreateJoinExpr(&leftField, &rightField, Node);
    }
    if (FErrorMsg.empty()) CheckConditionColumns(Node);
    return FErrorMsg.empty();
}

void TJoinPostProcessor::CheckConditionColumns(TOrqTableRefNode* Node) {
    std::vector<const TOrqTableRefNode*> tables;
    CollectTables(Node, tables);
    for (TOrqExprNode* f = Node->Expr().FirstNode(); f != nullptr; f = f->Next()) {
        if (f->Kind() != enkField) continue;
        const std::string name = VarToStr(f->Data());
        const TParserToken* qualifier = f->TokenArgs().empty() ? nullptr : f->TokenArgs()[0];
        const TTableNameItem* holder = nullptr;
        int holders = 0;
        bool unknownFields = false;
        for (const TOrqTableRefNode* table : tables) {
            if (qualifier != nullptr && !table->IsNamed(qualifier->Text())) continue;
            const TTableNameItem* item = FindTableItem(table->Text(), table->CorrelationName());
            // A table whose fields are not known cannot refuse the column.
            if (item == nullptr || item->TableFields() == nullptr) {
                unknownFields = true;
            } else if (item->HasField(name)) {
                holder = item;
                ++holders;
            }
        }
        if (unknownFields || (qualifier != nullptr && holders > 0)) continue;
        if (holders == 0) {
            FErrorMsg = SorqJoinFieldNotInTables + (qualifier != nullptr ? qualifier->Text() + "." + name : name);
            return;
        }
        if (holders > 1) {
            FErrorMsg = std::string(SorqAmbiguousFieldName) + ": " + name;
            return;
        }
        // An unqualified column of one of the tables is read from that table, as if qualified.
        f->TokenArgs().push_back(Node->NewQualifierToken(holder->ReferenceName()));
        if (f->Tables().Count() == 0) f->Tables().Add()->Assign(holder);
    }
}

const TTableNameItem* TJoinPostProcessor::FindTableItem(const std::string& TableName,
                                                        const std::string& CorrelationName) const {
    const TTableNameItem* item = nullptr;
    if (!CorrelationName.empty()) item = FTableList->FindTable(CorrelationName);
    if (item == nullptr && !TableName.empty()) item = FTableList->FindTable(TableName);
    return item;
}

TOrqTableRefNode* TJoinPostProcessor::FindTableRefNodeForField(const std::string& Name,
                                                               TOrqTableRefNode* Node) const {
    if (Node == nullptr) return nullptr;
    if (Node->JoinType() == trTableName) {
        const TTableNameItem* item = FindTableItem(Node->Text(), Node->CorrelationName());
        return item != nullptr && item->HasField(Name) ? Node : nullptr;
    }
    if (!IsJoinTableRef(Node->JoinType())) return nullptr;
    if (TOrqTableRefNode* found = FindTableRefNodeForField(Name, Node->Left())) return found;
    return FindTableRefNodeForField(Name, Node->Right());
}

bool TJoinPostProcessor::FindJoinField(const std::string& FieldName, const std::string& TableName,
                                       const std::string& CorrelationName, TJoinField& Field) {
    Assert(!TableName.empty() || !CorrelationName.empty(), "Neither join table/correlation names is set");
    Field = TJoinField();
    const TTableNameItem* item = FindTableItem(TableName, CorrelationName);
    if (item == nullptr) {
        FErrorMsg = "Join ON field not found: " + TableName + " : " + CorrelationName;
        return false;
    }
    const int index = item->TableFields() != nullptr ? item->TableFields()->IndexOfField(FieldName) : -1;
    if (index < 0) {
        FErrorMsg = "Field (" + FieldName + ") not found in table " + TableName;
        return false;
    }
    Field.Table = item;
    Field.FieldIndex = index;
    return true;
}

bool TJoinPostProcessor::CreateJoinExpr(const TJoinField* Field1, const TJoinField* Field2,
                                        TOrqTableRefNode* Node) {
    if (Field1 == nullptr || Field2 == nullptr || Field1->Table == nullptr || Field2->Table == nullptr)
        return FErrorMsg.empty();
    TOrqExpr& expr = Node->Expr();
    // By convention the root heads the chain; the new nodes go in front of it.
    TOrqExprNode* oldRoot = expr.FirstNode();

    auto fieldNode = [&](const TJoinField& field) -> TOrqExprNode* {
        const TTableNameItem* table = field.Table;
        const std::string name = table->TableFields()->FieldName(field.FieldIndex);
        TParserToken token;
        token.SetToken(ostFieldName);
        token.SetText(name);
        TOrqExprNode* node = expr.NewFieldNode(enkField, oeoFIELD2, Variant(name), nullptr, nullptr, &token,
                                               table->GetFieldType(name), table->GetFieldSize(name));
        if (node == nullptr) return nullptr;
        // Qualified by its own table, so that a column both operands hold is read from the
        // right one.
        node->TokenArgs().push_back(Node->NewQualifierToken(table->ReferenceName()));
        node->Tables().Add()->Assign(table);
        return node;
    };

    TOrqExprNode* first = fieldNode(*Field1);
    TOrqExprNode* second = fieldNode(*Field2);
    if (first == nullptr || second == nullptr) return FErrorMsg.empty();

    TParserToken eqToken;
    eqToken.SetToken(ostCompOperator);
    eqToken.SetText("=");
    TOrqExprNode* root = expr.NewNode(enkRelOperator, oeoEQ, Variant(), second, first, &eqToken);
    if (root == nullptr) return FErrorMsg.empty();
    root->SetDataType(ftBoolean);

    if (oldRoot != nullptr) {
        TParserToken andToken;
        andToken.SetToken(ostAnd);
        andToken.SetText("AND");
        TOrqExprNode* andNode = expr.NewNode(enkLogicalOperator, oeoAND, Variant(), oldRoot, root, &andToken);
        if (andNode == nullptr) return FErrorMsg.empty();
        andNode->SetDataType(ftBoolean);
        root = andNode;
    }
    expr.SetAsFirstNode(root);
    return FErrorMsg.empty();
}

void TJoinPostProcessor::CollectTables(const TOrqTableRefNode* Node,
                                       std::vector<const TOrqTableRefNode*>& Tables) const {
    if (Node == nullptr) return;
    if (Node->JoinType() == trTableName) {
        Tables.push_back(Node);
        return;
    }
    if (!IsJoinTableRef(Node->JoinType())) return;
    CollectTables(Node->Left(), Tables);
    CollectTables(Node->Right(), Tables);
}

void TJoinPostProcessor::GetCommonColumns(const TOrqTableRefNode* Node, TStringList& Columns) const {
    std::vector<const TOrqTableRefNode*> leftTables;
    CollectTables(Node->Left(), leftTables);
    for (const TOrqTableRefNode* ref : leftTables) {
        const TTableNameItem* item = FindTableItem(ref->Text(), ref->CorrelationName());
        if (item == nullptr || item->TableFields() == nullptr) continue;
        const IOrqTableFields* fields = item->TableFields();
        for (int i = 0; i < fields->FieldCount(); ++i) {
            const std::string name = fields->FieldName(i);
            bool listed = false;
            for (int j = 0; j < Columns.Count() && !listed; ++j)
                listed = AnsiSameText(Columns.Strings(j), name);
            if (!listed && FindTableRefNodeForField(name, Node->Right()) != nullptr) Columns.Add(name);
        }
    }
}

}  // namespace ostra
