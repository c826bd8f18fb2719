// orqExprTree: parsed expressions. A TOrqExpr owns every node of one expression through a
// single chain (FirstNode -> Next -> ...); nodes point at their operands (Left, Right, Args)
// but never own them, so a tree may share operands (BETWEEN compares one operand twice) and is
// freed exactly once, by walking the chain. By convention the tree's root is moved to the head
// of the chain (SetAsFirstNode).
//
// Node shapes (Kind / Operator / Data; unnamed properties keep their creation values):
//   field f, t.f          enkField / oeoFIELD2 / name; TokenArgs = [table-name token] for t.f;
//                         Tables = a copy of the table item; the field's type and size
//   outer field           enkFunc / oeoOUTERFIELD / name; Tables = the outer table
//   number                enkConst / oeoCONST2 / double; ftFloat
//   string                enkConst / oeoCONST2 / text; ftString, its length
//   NULL                  enkConst / oeoISBLANK / Null
//   TRUE, FALSE           enkConst / oeoCONST2 / Boolean
//   CURRENT_DATE/TIME/TIMESTAMP  enkConst / oeoFUNC2 / unassigned; ftDate, ftTime, ftDateTime
//   parameter :name       enkParam / oeoPARAMETER / name until bound, then the value
//   comparison            enkRelOperator / oeoEQ..oeoLE; Left (the field when one is), Right
//   IS [NOT] NULL         enkLogicalOperator / oeoISBLANK, oeoNOTBLANK; Left
//   NOT, AND, OR          enkLogicalOperator / oeoNOT (Left), oeoAND, oeoOR (Left, Right)
//   [NOT] IN              enkNonRelPredicate / oeoIN; Left = value; Args = elements or one
//                         subquery node; token ostIn or ostNotIn
//   [NOT] LIKE            enkNonRelPredicate / oeoLIKE; Left = value, Right = pattern; ESCAPE
//                         expression appended to Left's Args; token ostLike or ostNotLike
//   arithmetic, ||        enkArithOperator / oeoADD, oeoSUB, oeoMUL, oeoDIV; Left, Right
//   SUBSTRING(s FROM a [FOR b])  enkFunc / oeoFUNC2 / name; Left = s, Right = a, Args = [b]
//   UPPER(s), LOWER(s)    enkFunc / oeoFUNC2 / name; Right = s
//   TRIM(...)             enkFunc / oeoFUNC2 / name; Left = s, Right = trim character or none
//   aggregates            enkFunc / oeoFUNC2 / DISTINCT flag; Args = [argument] (none for COUNT(*));
//                         token CustomOrdinal = TOrqSQLAggFunc
//   CAST(v AS type)       enkFunc / oeoFUNC2 / "CAST"; Right = v; target type and size
//   EXTRACT(f FROM v)     enkFunc / oeoFUNC2 / "EXTRACT"; Right = v; token CustomOrdinal = f
//   subquery              enkSubquery / oeoSUBQUERY / SELECT text; token CustomOrdinal =
//                         TOrqSubqueryType
#pragma once
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqSQLTypes.h"
#include "engine/sql/orqTableList.h"
#include "host/Variant.h"
#include "host/db/FieldType.h"

namespace ostra {

class TStrings;
class TCustomExprNodeDataProvider;  // the row source of a subquery, set by the query layer

// clang-format off
enum TOrqExprNodeKind : uint8_t {
    enkUnknown = 0, enkField = 1, enkConst = 2, enkParam = 3, enkRelOperator = 4, enkArithOperator = 5,
    enkLogicalOperator = 6, enkFunc = 7, enkNonRelPredicate = 8, enkSubquery = 9
};
// clang-format on

// Dump names of the node kinds, by ordinal.
extern const char* const COrqExprNodeKindNames[10];

// One node of a parsed expression. Owned by its TOrqExpr; its operands are not its own.
class TOrqExprNode {
public:
    TOrqExprNode() = default;
    TOrqExprNode(const TOrqExprNode&) = delete;
    TOrqExprNode& operator=(const TOrqExprNode&) = delete;

    // Copies every property except Next and Args: operands and TokenArgs by reference, the
    // token by SetParserToken, Tables by Assign. Assigning a node to itself does nothing.
    void AssignNode(const TOrqExprNode& Source);
    // Unless Data is Null, converts Data to the type (ftString: text, DataSize := its length;
    // ftSmallint, ftInteger: 32-bit integer; ftBoolean; ftFloat: double; ftCurrency;
    // ftDate, ftDateTime: date-time; other types unchanged); then DataType := T. A value that
    // cannot be converted raises EVariantError.
    void SetAndConvertDataType(TFieldType T);
    // Same size, operators, kinds, scope, type, token type, Data (kind and value), matching
    // flags, table names (in order, case-sensitive), TokenArgs token types, and pairwise
    // equivalent Args. Left and Right are not compared. False for a null Other.
    bool AreNodesEquivalent(const TOrqExprNode* Other) const;
    // Adds this node's dump line (and its Args between "Start Args" and "End Args").
    void Display(const std::string& Indent, TStrings& Lines) const;
    // Dumps Node's Left (Indent + " "), Node, then Node's Right (Indent + " ").
    static void DisplayExprTree(const std::string& Indent, const TOrqExprNode* Node, TStrings& Lines);

    // Size of the result (string length, field size); -1 = unknown.
    int DataSize() const { return FDataSize; }
    void SetDataSize(int v) { FDataSize = v; }
    TOrqExprNode* Left() const { return FLeft; }
    void SetLeft(TOrqExprNode* v) { FLeft = v; }
    TOrqExprNode* Right() const { return FRight; }
    void SetRight(TOrqExprNode* v) { FRight = v; }
    // The next node of the owning expression's chain. Only the owning expression relinks it.
    TOrqExprNode* Next() const { return FNext; }
    void SetNext(TOrqExprNode* v) { FNext = v; }
    TOrqExprOperator Operator() const { return FOperator; }
    void SetOperator(TOrqExprOperator v) { FOperator = v; }
    TOrqExprNodeKind Kind() const { return FKind; }
    void SetKind(TOrqExprNodeKind v) { FKind = v; }
    TOrqExprScopeKind ScopeKind() const { return FScopeKind; }
    void SetScopeKind(TOrqExprScopeKind v) { FScopeKind = v; }
    // Result type; ftUnknown = unknown.
    TFieldType DataType() const { return FDataType; }
    void SetDataType(TFieldType v) { FDataType = v; }
    // Further operands (IN list, function arguments): the list is the node's, the nodes are not.
    std::vector<TOrqExprNode*>& Args() { return FArgs; }
    const std::vector<TOrqExprNode*>& Args() const { return FArgs; }
    void SetArgs(const std::vector<TOrqExprNode*>& v) { FArgs = v; }
    // Extra tokens (the table-name token of t.f): the list is the node's, the tokens are not.
    std::vector<TParserToken*>& TokenArgs() { return FTokenArgs; }
    const std::vector<TParserToken*>& TokenArgs() const { return FTokenArgs; }
    void SetTokenArgs(const std::vector<TParserToken*>& v) { FTokenArgs = v; }
    // The node's own copy of the token it was made from.
    TParserToken& ParserToken() { return FParserToken; }
    const TParserToken& ParserToken() const { return FParserToken; }
    // Copies Text, Token, Section, LineOffset, LineNo and CustomOrdinal of Token (not its raw
    // text) into the node's copy; a null Token changes nothing.
    void SetParserToken(const TParserToken* Token);
    const Variant& Data() const { return FData; }
    void SetData(const Variant& v) { FData = v; }
    bool CaseInsensitiveMatch() const { return FCaseInsensitiveMatch; }
    void SetCaseInsensitiveMatch(bool v) { FCaseInsensitiveMatch = v; }
    bool PartialMatch() const { return FPartialMatch; }
    void SetPartialMatch(bool v) { FPartialMatch = v; }
    // Prefix length for partial matching; -1 = the whole value.
    int PartialLength() const { return FPartialLength; }
    void SetPartialLength(int v) { FPartialLength = v; }
    // The table (or outer table) a field node refers to; owned by the node.
    TTableList& Tables() { return FTables; }
    const TTableList& Tables() const { return FTables; }
    TCustomExprNodeDataProvider* ExprNodeDataProvider() const { return FExprNodeDataProvider; }
    void SetExprNodeDataProvider(TCustomExprNodeDataProvider* v) { FExprNodeDataProvider = v; }
    // The operator and value the node was created with (rewriters may change Operator and Data).
    TOrqExprOperator OriginalOperator() const { return FOriginalOperator; }
    void SetOriginalOperator(TOrqExprOperator v) { FOriginalOperator = v; }
    const Variant& OriginalData() const { return FOriginalData; }
    void SetOriginalData(const Variant& v) { FOriginalData = v; }

private:
    int FDataSize = 0;
    TOrqExprNode* FLeft = nullptr;
    TOrqExprNode* FRight = nullptr;
    TOrqExprNode* FNext = nullptr;
    TOrqExprOperator FOperator = oeoNOTDEFINED;
    TOrqExprNodeKind FKind = enkUnknown;
    TOrqExprScopeKind FScopeKind = oskField;
    TFieldType FDataType = ftUnknown;
    std::vector<TOrqExprNode*> FArgs;
    std::vector<TParserToken*> FTokenArgs;
    TParserToken FParserToken;
    Variant FData;
    bool FCaseInsensitiveMatch = false;
    bool FPartialMatch = false;
    int FPartialLength = 0;
    TTableList FTables;
    TCustomExprNodeDataProvider* FExprNodeDataProvider = nullptr;
    TOrqExprOperator FOriginalOperator = oeoNOTDEFINED;
    Variant FOriginalData;
};

// A parsed expression: the owner of all its nodes.
class TOrqExpr {
public:
    TOrqExpr() = default;
    TOrqExpr(const TOrqExpr&) = delete;
    TOrqExpr& operator=(const TOrqExpr&) = delete;
    ~TOrqExpr() { Clear(); }

    // Frees every node of the chain; FirstNode := none.
    void Clear();
    // A new node at the head of the chain, or none while ErrorMsg is set. It gets Kind,
    // Operator and OriginalOperator, Data and OriginalData, Left, Right, a copy of Token (when
    // given), the expression's matching flags, PartialLength -1, ftUnknown and DataSize -1.
    TOrqExprNode* NewNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                          TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token);
    // NewNode, then DataType and DataSize.
    TOrqExprNode* NewFieldNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                               TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token,
                               TFieldType DataType, int DataSize);
    // Moves Node to the head of the chain; nothing for none or a node not in this chain.
    void SetAsFirstNode(TOrqExprNode* Node);
    // A copy, owned by this expression, of the tree under Node (which may belong to another
    // expression): Node, its Args trees, Left and Right trees are all copied, so the copy shares
    // no node with the source. Returns the copy's root (none for none).
    TOrqExprNode* CloneSubTree(const TOrqExprNode* Node);
    // CloneSubTree, then the copy's root is moved to the head of the chain.
    TOrqExprNode* CloneFromTree(const TOrqExprNode* Node);
    // Some node's token has type T.
    bool ExprContainsToken(TOrqSQLToken T) const { return FindNodeWithToken(T) != nullptr; }
    // The first node in chain order whose token has type T; none when there is none.
    TOrqExprNode* FindNodeWithToken(TOrqSQLToken T) const;
    // Every node whose token has type T gets token type NewT, Operator, Kind and Data := Value
    // (turns aggregate nodes into constants).
    void ResetSpecifiedNodes(TOrqSQLToken T, TOrqSQLToken NewT, TOrqExprNodeKind Kind,
                             TOrqExprOperator Operator, const Variant& Value);
    // Some enkField node's Data equals Name, ignoring case.
    bool ExprContainsField(const std::string& Name) const;
    int GetNodeCount() const;
    // Dumps the tree under FirstNode as DisplayExprTree does, with an empty indent.
    void Display(TStrings& Lines) const;

    TOrqExprNode* FirstNode() const { return FFirstNode; }
    // While non-empty, NewNode creates nothing.
    const std::string& ErrorMsg() const { return FErrorMsg; }
    void SetErrorMsg(const std::string& v) { FErrorMsg = v; }
    bool CaseInsensitiveMatch() const { return FCaseInsensitiveMatch; }
    void SetCaseInsensitiveMatch(bool v) { FCaseInsensitiveMatch = v; }
    bool PartialStringComparisons() const { return FPartialStringComparisons; }
    void SetPartialStringComparisons(bool v) { FPartialStringComparisons = v; }
    // Source text of a value expression (set by the expression parser).
    const std::string& ParsedText() const { return FParsedText; }
    void SetParsedText(const std::string& v) { FParsedText = v; }

private:
    TOrqExprNode* LinkNewNode();

    TOrqExprNode* FFirstNode = nullptr;
    std::string FErrorMsg;
    bool FCaseInsensitiveMatch = false;
    bool FPartialStringComparisons = false;
    std::string FParsedText;
};

}  // namespace ostra
