// orqExprParser: TOrqExprParser, the recursive-descent parser of value and search expressions:
// WHERE and HAVING conditions, select columns, join conditions, insert and update values and
// table filters. It builds the node shapes listed in orqExprTree.h, resolves field names
// against a table list, types every node, converts constants to the types of the fields they
// meet, checks the mix of field-level and aggregate-level operands, and hands subqueries and
// references to enclosing queries to its driver through the notification hook.
//
// Grammar, lowest precedence first (binary levels are left-associative):
//   search      level2 { OR level2 }
//   level2      level3 { AND level3 }
//   level3      NOT predicate | predicate
//   predicate   additive [ compop additive | IS [NOT] NULL | [NOT] BETWEEN additive AND additive
//                        | [NOT] IN ( list | subquery ) | [NOT] LIKE charexpr [ESCAPE charexpr] ]
//   additive    multiplicative { (+ | || | -) multiplicative }        (needs opoExtSyntax)
//   multiplicative  primary { (* | /) primary }                       (needs opoExtSyntax)
//   primary     field | t.field | number | string | NULL | TRUE | FALSE | CURRENT_DATE |
//               CURRENT_TIME | CURRENT_TIMESTAMP | :param | ( search ) | CAST | EXTRACT |
//               string function | aggregate | subquery | ALL/ANY/SOME/EXISTS (subquery)
// A comparison always has the field on the left (5 < a is stored as a > 5). BETWEEN becomes
// AND(x >= low, x <= high), NOT BETWEEN OR(x < low, x > high).
//
// Nesting (orqBaseParser.h): every primary and every IN list is one level; the finished tree
// may be no taller than the levels left, a subquery node counting with its statement's height.
//
// The parser never raises for syntax or type errors: it keeps the first error and its token
// (TBaseParser). The one exception is a date or time literal compared with a temporal field
// that cannot be read: it raises engine error 10059 or 10058 (orqDataConversion.h).
//
// Ownership: the parser owns its Expr (a new one at every Execute) unless an external
// expression was handed to ExecuteExternalExpr or ExecuteExternalValueExpr; nodes always
// belong to the expression they were created in.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqTableList.h"
#include "host/db/FieldType.h"

namespace ostra {

// A number token's text as a double, independent of the locale's decimal separator; false for
// text that is no number ("1.2.3", "2..5") or out of range.
bool ReadSQLNumber(const std::string& Text, double& Value);

// The parser of value and search expressions (see the opening comment).
class TOrqExprParser : public TBaseParser {
public:
    TOrqExprParser();
    ~TOrqExprParser() override;

    // Base Execute; a new owned Expr with the matching flags; RootNode := the parsed search
    // expression (none for an empty text). A token left over that is not in ValidEndTokens is
    // "Invalid token" for a field name and "Expression incorrectly terminated" otherwise.
    // True when no error was set.
    bool Execute(const TOrqParserOptions& Options, TParserStack* Stack) override;
    // Like Execute with the nodes going to Expr (not owned); the search expression is parsed
    // even at an end token, and a leftover token not in ValidEndTokens (with tokens still on
    // the stack) is "Expression incorrectly terminated".
    bool ExecuteExternalExpr(TOrqExpr* Expr, const TOrqParserOptions& Options, TParserStack* Stack);
    // The same with a value expression (no comparisons). On success the current token's raw
    // text is cut from ParsedText; in any case Expr's ParsedText := ParsedText.
    bool ExecuteExternalValueExpr(TOrqExpr* Expr, const TOrqParserOptions& Options, TParserStack* Stack);

    // Replace: Expr is cleared and RootNode := a copy of Source's tree. Otherwise RootNode :=
    // Op (oeoAND or oeoOR) of the copy and the current root (just the copy when there is no
    // root). Any other Op raises EAssertionFailed "Unsupported Expr assign operator".
    void CloneFromExpr(const TOrqExpr& Source, bool Replace, TOrqExprOperator Op);

    // ftSmallint, ftInteger, ftWord, ftFloat, ftCurrency, ftBCD, ftAutoInc, ftLargeint.
    static bool IsNumeric(TFieldType T);
    // ftDate, ftTime, ftDateTime.
    static bool IsTemporal(TFieldType T);
    // The node kind an operator makes: relational, logical, arithmetic, field, const, unknown.
    static TOrqExprNodeKind GetExprNodeKind(TOrqExprOperator Op);
    // The operator of a token's text: "<" "<=" "=" ">=" ">" "<>" "+" "||" "-" "*" "/";
    // oeoNOTDEFINED for anything else and for no token.
    static TOrqExprOperator TokenToOperator(const TParserToken* Token);

    TOrqExpr* Expr() const { return FExpr; }
    TOrqExprNode* RootNode() const { return FRootNode; }
    // Tokens that may follow a complete expression; [ostEnd] at first.
    const TOrqSQLTokens& ValidEndTokens() const { return FValidEndTokens; }
    void SetValidEndTokens(const TOrqSQLTokens& v) { FValidEndTokens = v; }
    // The tables the expression may name (not owned; may be none).
    const TTableList* TableList() const { return FTableList; }
    void SetTableList(const TTableList* v) { FTableList = v; }
    // Copied into the expression and so into every node.
    bool CaseInsensitiveMatch() const { return FCaseInsensitiveMatch; }
    void SetCaseInsensitiveMatch(bool v) { FCaseInsensitiveMatch = v; }
    bool PartialStringComparison() const { return FPartialStringComparison; }
    void SetPartialStringComparison(bool v) { FPartialStringComparison = v; }
    // Skips the arithmetic type check.
    bool IgnoreTypeChecks() const { return FIgnoreTypeChecks; }
    void SetIgnoreTypeChecks(bool v) { FIgnoreTypeChecks = v; }
    // A field whose type cannot be found is "Field not found"; EXTRACT operands are checked.
    bool ValidateFields() const { return FValidateFields; }
    void SetValidateFields(bool v) { FValidateFields = v; }
    // No effect (options are given to Execute).
    void SetExprParams(const TOrqParserOptions&) {}

private:
    // Grammar levels (see the opening comment); each returns the node built (none after an error).
    TOrqExprNode* ParseExpr();
    TOrqExprNode* ParseExpr2();
    TOrqExprNode* ParseExpr3();
    TOrqExprNode* ParseExpr4();
    TOrqExprNode* ParseExpr5();
    TOrqExprNode* ParseExpr6();
    TOrqExprNode* ParseExpr7();
    // Reads past ")"; at another token the error "missing )".
    void ReadRParen();
    // Operand { Op Operand }, each step a boolean logical node (OR and AND levels).
    TOrqExprNode* ParseLogicalChain(TOrqSQLToken OpToken, TOrqExprOperator Op,
                                    TOrqExprNode* (TOrqExprParser::*Operand)());
    // The current token when it is one of Ops, read past; none at another token, and none with
    // an error when arithmetic is not enabled.
    const TParserToken* TakeArithOperator(std::initializer_list<TOrqSQLToken> Ops);
    // { (+ | || | -) multiplicative } and { (* | /) primary } after an operand already read.
    TOrqExprNode* ParseAdditiveTail(TOrqExprNode* Left);
    TOrqExprNode* ParseMultiplicativeTail(TOrqExprNode* Left);
    TOrqExprNode* ParseComparison(TOrqExprNode* Left);
    TOrqExprNode* ParseBetween(TOrqExprNode* Left);
    TOrqExprNode* ParseIn(TOrqExprNode* Left);
    TOrqExprNode* ParseLike(TOrqExprNode* Left);
    // Checks shared by comparisons and IS [NOT] NULL once their node is made.
    void FinishPredicate(TOrqExprNode* Node, bool Comparison);
    // One arithmetic node over Left and Right with its type check, size and scope.
    TOrqExprNode* MakeArithNode(const TParserToken* OpToken, TOrqExprNode* Left, TOrqExprNode* Right,
                                bool WithResultSize);
    // Optional "(", a primary, { (+ | ||) primary }, the closing ")"; every node a string.
    TOrqExprNode* ParseCharacterValueExpr();
    // A value expression without the aggregate rules.
    TOrqExprNode* ParseValueExpr();
    // The operand of an aggregate: "(" [DISTINCT | ALL] ( * | value ) ")".
    TOrqExprNode* ParseSetFunctionExpr(bool& Distinct);
    TOrqExprNode* ParseGeneralValueExpr(bool Aggregate, bool& Distinct);
    TOrqExprNode* ParseFieldName(TParserToken* TableToken);
    TOrqExprNode* ParseParameter();
    TOrqExprNode* ParseSubquery(bool Quantified);
    TOrqExprNode* ParseCastExpr();
    TOrqExprNode* ParseExtractExpr();
    TOrqExprNode* ParseStrFunc();
    TOrqExprNode* ParseAggFunc();
    // Reads the CAST target type into Node with a data type parser over the same stack.
    void ParseDataType(TOrqExprNode* Node);

    // A field beside a constant: the constant takes the field's type and size (a string
    // meeting a temporal field is read as a date or time).
    void CheckDataConversions(TOrqExprNode* Left, TOrqExprNode* Right);
    // Data of a string constant read as a date, time or date-time of type T; raises 10059 or
    // 10058 for unreadable text.
    void ConvertStringValueToTemporal(TOrqExprNode* Node, TFieldType T);
    // The result type of an arithmetic node; a mismatch is an error at OpToken.
    void TypeCheckArithOp(TOrqExprNode* Node, TOrqExprNode* Left, TOrqExprNode* Right,
                          const TParserToken* OpToken);
    static int GetArithResultSize(const TOrqExprNode* Node, const TOrqExprNode* Left,
                                  const TOrqExprNode* Right);
    void GetScopeKind(TOrqExprNode* Node, const TOrqExprNode* Left, const TOrqExprNode* Right);
    void CheckDataConversionValid(TFieldType From, TFieldType To, const TParserToken* Token);

    // Type and size of TableName.FieldName in List; with Report, an unknown table is an error.
    void InternalGetFieldTypeAndSize(const TTableList* List, const std::string& TableName,
                                     const std::string& FieldName, bool Report, TFieldType& Type, int& Size);
    // Asks the driver whether TableName is a table of an enclosing query; on True turns Node
    // into an outer field typed from its own Tables and withdraws the lookup's error.
    void AskOuterTable(TOrqExprNode* Node, const std::string& TableName, const std::string& FieldName,
                       bool LookupSetError);

    // The height of the tree under RootNode is ExprHeight; above COrqMaxNestingLevel (with
    // NestingLevel) it is an error at the first node found too high.
    void CheckTreeHeight();
    // Parse, then the end-token check shared by the external runs.
    bool RunExternal(TOrqExpr* Expr, const TOrqParserOptions& Options, TParserStack* Stack, bool ValueExpr);
    void NewOwnedExpr();
    TOrqExprNode* NewNode(TOrqExprNodeKind Kind, TOrqExprOperator Operator, const Variant& Data,
                          TOrqExprNode* Left, TOrqExprNode* Right, const TParserToken* Token);
    // The current token is of type T.
    bool CurrentIs(TOrqSQLToken T) const { return CurrentTokenType() == T; }

    std::unique_ptr<TOrqExpr> FOwnedExpr;
    TOrqExpr* FExpr = nullptr;
    TOrqExprNode* FRootNode = nullptr;
    TOrqSQLTokens FValidEndTokens{ostEnd};
    const TTableList* FTableList = nullptr;
    bool FCaseInsensitiveMatch = false;
    bool FPartialStringComparison = false;
    bool FIgnoreTypeChecks = false;
    bool FValidateFields = false;
    // The statement heights the driver answered for the subquery nodes of the current run.
    std::unordered_map<const TOrqExprNode*, int> FSubqueryHeights;
};

}  // namespace ostra
