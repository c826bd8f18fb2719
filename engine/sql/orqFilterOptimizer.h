// orqFilterOptimizer: answering a filter or WHERE condition from a table's indexes before any
// row is read.
//
// TFilterOptimizer (the facade) over TExprOptimizerMgr works in four steps on a parsed
// expression (orqExprTree.h):
//   1. OptimizeExprTree simplifies the tree in place: constant folding, date texts read as
//      dates, case folding of string constants for case-insensitive matching, the partial-match
//      marker "*" of string constants, CURRENT_DATE and its kin, and an OR of two opposite
//      ranges on one field that covers every value (A > 5 OR A < 10) becomes TRUE.
//   2. CreateOptimizerTree mirrors every comparison and logical node with an optimizer node
//      that says whether an index answers it (TOrqFilterOptimisationLevel): olFull (the index
//      list is the answer), olPartial (the list holds every row that can match; rows are still
//      evaluated) or olNone (every row must be evaluated). Fixed nodes (nrFixedTrue,
//      nrFixedFalse) are conditions known without reading a row.
//   3. PrepareRecordLists turns each index-answerable node into a list of (record address,
//      record number) pairs by range scans of the index whose first key field is the compared
//      field (TIndexDataInterface).
//   4. CombineRecordLists merges the lists bottom-up: AND intersects, OR unites (no address
//      twice). A fixed-true node stands for every record, a fixed-false one for none.
//
// Which conditions use an index (F a field that is the first key field of an index whose
// case-insensitivity equals the condition's, c a constant that the key can hold):
//   F = c, F <> c, F < c, F <= c, F > c, F >= c, F BETWEEN a AND b, F IN (c1, ...),
//   F IS NULL, F IS NOT NULL                                               olFull
//   F LIKE 'ab%' (a prefix of at least one character before the first wildcard, no ESCAPE),
//   comparisons with a partial-match constant ('ab*')                       olPartial
//   AND: olFull when both sides are; olPartial when one side is above olNone.
//   OR: olFull when both sides are; olNone when either is; olPartial otherwise.
//   NOT, NOT IN, NOT LIKE, fields compared with fields or functions:          olNone
// Index lists keep every null rule of row evaluation: without ExcludeRelopNulls a null value
// is lower than every value (F < c and F <> c list null keys), with it no comparison lists a
// null key. Ranges end where the collation says the compared value or prefix ends, never at a
// guessed "highest character".
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqExprTree.h"
#include "engine/sql/orqOpEvaluator.h"
#include "engine/storage/orqCommon.h"
#include "engine/storage/orqCompoundList.h"
#include "engine/storage/orqSearchKey.h"
#include "host/Variant.h"

namespace ostra {

class TBTree;
class TKeyFields;
class TStrings;

// The deepest expression tree a filter may have once long AND and OR chains are balanced;
// deeper ones are refused rather than evaluated (the row evaluation recurses).
inline constexpr int C_MAXFILTEREXPRDEPTH = 1000;

// What an optimizer node knows about its condition without reading a row.
enum TNodeResultType : uint8_t { nrNone, nrFixedFalse, nrFixedTrue, nrDynamic };

// Range scans on the first key field of one index.
class TIndexDataInterface {
public:
    TIndexDataInterface(const std::string& IndexName, TBTree* BTree);

    // The search type of a relational operator on a key field (mirrored for a descending
    // field, except for =, <> and IN); another operator raises 8581 "Unexpected seek type in
    // Internal Find".
    static TIndexSearchType MapRelOpToSearchType(TOrqExprOperator Operator, bool Descending);
    // Appends, in key order, the records whose first key field satisfies "field Operator
    // Value" (oeoISBLANK, oeoNOTBLANK, oeoEQ, oeoNE, oeoGT, oeoLT, oeoGE, oeoLE, oeoLIKE,
    // oeoIN). With Partial, Value is a prefix: every key that starts with it is listed (for
    // oeoLIKE the prefix is the pattern up to its first wildcard), together with keys that
    // only the row evaluation can tell apart. Null keys follow the rules of the file comment.
    void GetRecordList(TOrqExprOperator Operator, const Variant& Value, TCompoundList& List, bool Partial);
    // Appends, in key order, the records whose first key field lies between Low and High, both
    // included (Operator is oeoGE).
    void GetBetweenRecordList(TOrqExprOperator Operator, const Variant& Low, TCompoundList& List,
                              const Variant& High);
    // Whether a key of this index can hold Value exactly (type conversion without loss; a text
    // no longer than the key field). Conditions with other constants are evaluated per row.
    bool CanHoldValue(const Variant& Value) const;
    // The first key field's type and direction.
    TFieldType KeyType() const;
    bool Descending() const;

    TBTree* BTree() const { return FBTree; }
    const std::string& IndexName() const { return FIndexName; }
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int Value) { FItemIndex = Value; }
    // Comparisons list no null key (the rows would evaluate to unknown).
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }

private:
    // One end of a key range; Value may be Null (null keys sort first in an ascending field).
    struct TBound {
        bool Has = false;
        Variant Value;
        bool Inclusive = true;
    };
    // Appends the keys from Low to High in value order, listed in key order.
    void ListRange(const TBound& Low, const TBound& High, bool ExcludeNulls, TCompoundList& List);
    // The least text above every text that starts with Prefix, in this index's collation and
    // field size.
    std::string PrefixUpperBound(const std::string& Prefix) const;

    std::string FIndexName;
    TBTree* FBTree;
    int FItemIndex = 0;
    bool FExcludeRelopNulls = false;
};

// One index offered to the optimizer.
struct TIndexQueryItem {
    const TKeyFields* KeyFields = nullptr;  // not owned
    std::string IndexName;
    std::unique_ptr<TIndexDataInterface> IndexInterface;
};

// The indexes offered to the optimizer, in the table's index order.
class TIndexQueryMgr {
public:
    // Adds an index over BTree (its key fields are the tree's).
    TIndexQueryItem& Add(const std::string& IndexName, TBTree* BTree);
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TIndexQueryItem& Items(int i) { return *FItems.at(static_cast<size_t>(i)); }
    // The first index whose leading key fields carry Names in order (whole names, ignoring
    // case), whose string key fields among them match CaseInsensitive; null when none.
    TIndexQueryItem* FindIndexForFields(const std::vector<std::string>& Names, bool CaseInsensitive);
    // Every index interface's ExcludeRelopNulls := Value.
    void SetExcludeRelopNulls(bool Value);

private:
    std::vector<std::unique_ptr<TIndexQueryItem>> FItems;
};

// One node of the optimizer tree: what the indexes know about one expression node.
struct TExprOptimizerNode {
    TExprOptimizerNode* Left = nullptr;
    TExprOptimizerNode* Right = nullptr;
    const TOrqExprNode* ExprNode = nullptr;
    TIndexDataInterface* IndexInterface = nullptr;  // the index answering it; none above leaves
    TNodeResultType NodeResultType = nrDynamic;
    TOrqFilterOptimisationLevel OptimisationLevel = olNone;
    TCompoundList RecordList;  // the node's records (every record for nrFixedTrue)
};

// The value range a condition imposes on one field.
struct TExprFieldLimits {
    std::string FieldName;
    bool Assessed = false;
    Variant Min, Max;
    bool MinSet = false, MaxSet = false;
};

// Builds and evaluates the optimizer tree of one expression.
class TExprOptimizerMgr {
public:
    TExprOptimizerMgr();
    ~TExprOptimizerMgr();
    TExprOptimizerMgr(const TExprOptimizerMgr&) = delete;
    TExprOptimizerMgr& operator=(const TExprOptimizerMgr&) = delete;

    // Simplifies the tree under Root in place (step 1 of the file comment).
    void OptimizeExprTree(TOrqExprNode* Root);
    // Frees any previous optimizer tree and builds the one of Root (step 2).
    void CreateOptimizerTree(const TOrqExprNode* Root);
    // Fills the record lists of the index-answerable nodes (step 3); nothing at olNone.
    void PrepareRecordLists();
    // Combines the lists bottom-up into the root's list (step 4). A fixed-true root's list is
    // AllRecords.
    void CombineRecordLists(const TCompoundList& AllRecords);
    // Whether the root is fixed true: every record is an answer (its list needs AllRecords).
    bool RootIsFixedTrue() const;
    void AssessExprFieldLimits(TExprFieldLimits& Limits) const;
    // One line per node with an index, in pre-order: the operator's debug name, with the index
    // interface as the object.
    void ListIndexRequests(TStrings& Strings) const;
    int GetNodeCount() const { return static_cast<int>(FNodes.size()); }
    // The number of records in the root's list; EAssertionFailed "Assertion failure" without root.
    int GetResultSetCount() const;
    // Frees the optimizer tree.
    void Clear();
    // The number of levels of the tree under Root (operands and Args included); 0 for none.
    static int ExprTreeDepth(const TOrqExprNode* Root);

    TExprOptimizerNode* Root() const { return FRoot; }
    TIndexQueryMgr* IndexQueryMgr() const { return FIndexQueryMgr; }
    void SetIndexQueryMgr(TIndexQueryMgr* Value) { FIndexQueryMgr = Value; }
    // Row evaluation treats comparisons with nulls as unknown; the lists follow.
    bool ExcludeRelopNulls() const { return FExcludeRelopNulls; }
    void SetExcludeRelopNulls(bool Value) { FExcludeRelopNulls = Value; }
    // No index is used: every node stays at olNone (a full scan), for checks and diagnostics.
    bool ForceFullScan() const { return FForceFullScan; }
    void SetForceFullScan(bool Value) { FForceFullScan = Value; }

private:
    void OptimizeExprNode(TOrqExprNode* Node, int Depth);
    void CheckForRedundantNodes(TOrqExprNode* Node);
    TExprOptimizerNode* InternalCreateOptimizerNode(const TOrqExprNode* Node, int Depth);
    void InternalCreateBinaryOptimizerNode(TExprOptimizerNode* Node);
    void InternalCreateUnaryOptimizerNode(TExprOptimizerNode* Node);
    void CombineLevels(TExprOptimizerNode* Node);
    void PrepareNodeList(TExprOptimizerNode* Node);
    void CombineNode(TExprOptimizerNode* Node, const TCompoundList& AllRecords);
    // The index whose first key field is FieldName with that case-insensitivity; null when none.
    TIndexDataInterface* MatchFieldsToIndex(const std::string& FieldName, bool CaseInsensitive) const;

    std::vector<std::unique_ptr<TExprOptimizerNode>> FNodes;
    TExprOptimizerNode* FRoot = nullptr;
    TIndexQueryMgr* FIndexQueryMgr = nullptr;
    bool FExcludeRelopNulls = false;
    bool FForceFullScan = false;
    TOrqOpEvaluator FOpEvaluator;
};

// The optimizer's facade for the filter evaluator.
class TFilterOptimizer {
public:
    explicit TFilterOptimizer(TIndexQueryMgr* IndexQueryMgr);

    void SetExprRoot(TOrqExprNode* Root) { FExprRoot = Root; }
    TOrqExprNode* ExprRoot() const { return FExprRoot; }
    // Simplifies the expression and builds the optimizer tree; false (and no tree) when the
    // simplified tree is deeper than C_MAXFILTEREXPRDEPTH.
    bool AnalyzeExpr();
    // The record lists of the index-answerable nodes; EAssertionFailed "Expr root is not
    // assigned" without expression.
    void PrepareResultLists();
    void CombineResultLists(const TCompoundList& AllRecords) { FMgr.CombineRecordLists(AllRecords); }
    // The root's level; olNone without root.
    TOrqFilterOptimisationLevel GetBaseOptimisationLevel() const;
    // The root's list; null without root.
    const TCompoundList* GetResultSetList() const;
    int GetResultSetCount() const { return FMgr.GetResultSetCount(); }
    bool RootIsFixedTrue() const { return FMgr.RootIsFixedTrue(); }
    bool AssessExprFieldLimits(TExprFieldLimits& Limits) const;
    void Clear() { FMgr.Clear(); }
    TExprOptimizerMgr& Mgr() { return FMgr; }

private:
    TIndexQueryMgr* FIndexQueryMgr;
    TOrqExprNode* FExprRoot = nullptr;
    TExprOptimizerMgr FMgr;
};

}  // namespace ostra
