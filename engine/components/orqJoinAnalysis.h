// orqJoinAnalysis: how a join provider (orqJoinDataProviderUnit.h) matches the rows of its two
// sides.
//
// When the join provider opens, its TJoinAnalyser turns the join condition into a tree of
// TJoinExprNodes and assesses both sides; its TJoinEvaluator then chooses how the matched side
// is found for each row of the driving side and walks the joined rows:
//   hash join        the condition is made only of column = column comparisons between the two
//                    sides under AND and OR, each pair of columns has compatible join keys
//                    (orqJoinKey.h) and the matched side is one table: each comparison's column
//                    on the matched side is loaded into a hash table once, and each driving row
//                    looks its key up; AND intersects the match lists, OR unites them;
//   index range      both join columns are indexed (same type, ascending, case-sensitive) and
//                    the inner table's own condition uses no index: the inner cursor gets a range
//                    on its join index from the lowest to the highest outer key (read at the
//                    ends of the outer's join index), and the rows are then matched by one of
//                    the two other ways, the hash holding only the range;
//   expression loop  anything else: for each driving row the condition, with the driving row's
//                    values put in, becomes an extra filter of a single-table matched side (the
//                    filter engine decides how, through index range scans where it can); a
//                    matched side that is itself a join is walked and the condition evaluated
//                    per pair.
//
// Rows. Inner and cross joins yield the matching pairs. A left join also yields each outer row
// without partner once, with the inner side NULL; a right join walks the inner side and does the
// same for it. A full join does the left join's pass, then walks the inner side and yields each
// inner row that matched nothing in the first pass, with the outer side NULL (the first pass
// records the matched rows in a hash set). A union join yields every outer row with the inner
// side NULL, then every inner row with the outer side NULL. Conditions on a NULL-supplying side
// in the join condition keep their meaning: a row of that side that fails them is no partner.
//
// For an inner join through a hash, the side with more rows is hashed and the other drives.
//
// Internal checks raise EAssertionFailed with the texts given below; 8581 for a logical operator
// other than AND and OR in a hashed condition.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/components/orqJoinDataProviderUnit.h"
#include "engine/sql/orqFilterOptimizer.h"

namespace ostra {

class TIndexDef;
class TOrqBaseHash;
class TStrings;

// How the matched side is found: the expression loop or the hash.
enum TJoinModeType : uint8_t { jmtJoinExpr, jmtHashJoin };

// The text of an optimisation level in the plan report: "None", "Partial", "Full".
const char* JoinOptLevelText(TOrqFilterOptimisationLevel Level);

class TJoinExprNodeEvaluator;

// One node of the analyser's tree: a column = column comparison between the two sides, or a
// logical node over such comparisons.
class TJoinExprNode {
public:
    // True when the subtree is made only of hashable comparisons under AND and OR.
    bool SplitOK = false;
    TJoinExprNode* Right = nullptr;
    TJoinExprNode* Left = nullptr;
    // The expression node it stands for (not owned).
    const TOrqExprNode* ExprNode = nullptr;
    // A comparison's providers and their field items (not owned).
    TOrqBaseJoinDataProvider* LeftProvider = nullptr;
    TOrqBaseJoinDataProvider* RightProvider = nullptr;
    TInternalFieldItem* RightSourceField = nullptr;
    TInternalFieldItem* LeftSourceField = nullptr;
    // The node's hash evaluator in hash mode (owned by the join evaluator).
    TJoinExprNodeEvaluator* Evaluator = nullptr;
    // The indexes whose first key field is the comparison's column; null when none.
    const TIndexDef* RightIndexDef = nullptr;
    const TIndexDef* LeftIndexDef = nullptr;
    // The comparison node: a leaf with both providers.
    bool IsComparison() const { return LeftProvider != nullptr; }
};

// What the analysis learned about one side of a comparison.
struct TJoinExprAnalysis {
    bool IndexedJoin = false;
    TOrqFilterOptimisationLevel ExprOptimizationLevel = olNone;
    int32_t MaximalRecordCount = 0;
    bool AnalysisPossible = false;
    TOrqBaseJoinDataProvider* DataProvider = nullptr;
    int32_t SourceFieldNo = -1;
    const TIndexDef* SourceIndexDef = nullptr;
};

// The plan chosen for one open of a join.
class TJoinPlan {
public:
    // Adds the nine report lines: "Outer : " name, "Inner : " name, "Indexed : ", "Outer range
    // on : ", "Outer Expr exists : ", "Outer Expr opt level : ", "Inner range on : ", "Inner Expr
    // exists : ", "Inner Expr opt level : " (Booleans as "True"/"False").
    void DisplayPlan(TStrings& Lines) const;

    bool InnerExprExists = false;
    bool OuterRangeOn = false;
    bool IndexedJoin = false;
    bool InnerRangeOn = false;
    bool OuterExprExists = false;
    std::string OuterProviderName;
    std::string InnerProviderName;
    TOrqFilterOptimisationLevel InnerExprOptLevel = olNone;
    TOrqFilterOptimisationLevel OuterExprOptLevel = olNone;
};

// Turns a join condition into join nodes and assesses both sides.
class TJoinAnalyser {
public:
    TJoinAnalyser();
    ~TJoinAnalyser();
    TJoinAnalyser(const TJoinAnalyser&) = delete;
    TJoinAnalyser& operator=(const TJoinAnalyser&) = delete;

    // The condition := a clone of Root (none for nil).
    void SetJoinExpr(const TOrqExprNode* Root);
    void SetInnerProvider(TOrqBaseJoinDataProvider* Value) { FInnerProvider = Value; }
    void SetOuterProvider(TOrqBaseJoinDataProvider* Value) { FOuterProvider = Value; }
    void SetProvider(TOrqStdJoinDataProvider* Value) { FProvider = Value; }
    void SetJoinType(TOrqJoinType Value) { FJoinType = Value; }
    // Builds the join node tree of the condition (nodes of an earlier build are freed).
    // Comparisons whose columns cannot be matched through join keys (same side on both ends,
    // incompatible types, a column no side knows) become nodes that are not SplitOK.
    void CreateAnalyserTree();
    // With a root: the assessment of the root comparison's left and right side. False without
    // root.
    bool AnalyseJoin(TJoinExprAnalysis& Left, TJoinExprAnalysis& Right);
    // A root exists and it is SplitOK.
    bool CanHashJoin() const;
    // For an inner join of two single-table providers: the one with more rows becomes the
    // inner (hashed) side; with equal counts, the one with a condition becomes the outer.
    void DetermineInnerProvider();
    // Frees the nodes; no root.
    void Clear();

    TOrqBaseJoinDataProvider* InnerProvider() const { return FInnerProvider; }
    TOrqBaseJoinDataProvider* OuterProvider() const { return FOuterProvider; }
    TOrqStdJoinDataProvider* Provider() const { return FProvider; }
    TOrqJoinType JoinType() const { return FJoinType; }
    TJoinExprNode* Root() const { return FRoot; }
    const TOrqExprNode* JoinExprRoot() const;
    // Every node, in allocation order.
    const std::vector<std::unique_ptr<TJoinExprNode>>& Nodes() const { return FNodes; }

private:
    TJoinExprNode* InternalParseJoinNode(const TOrqExprNode* Node);
    // A comparison node when both fields resolve to different providers with compatible keys;
    // else null.
    TJoinExprNode* ParseComparison(const TOrqExprNode* Node);
    void InternalCheckNodeSplitOK(TJoinExprNode* Node);
    void InternalAssessJoinExpr(TOrqBaseJoinDataProvider* Provider, TInternalFieldItem* Field,
                                TJoinExprAnalysis& Analysis, const TIndexDef* IndexDef);

    std::unique_ptr<TOrqExpr> FJoinExpr;
    TOrqBaseJoinDataProvider* FInnerProvider = nullptr;
    TOrqBaseJoinDataProvider* FOuterProvider = nullptr;
    TJoinExprNode* FRoot = nullptr;
    std::vector<std::unique_ptr<TJoinExprNode>> FNodes;
    TOrqJoinType FJoinType = jtInnerJoin;
    TOrqStdJoinDataProvider* FProvider = nullptr;
};

// The hash side of one comparison: the matched table's column in a hash, and the matches of the
// current driving row's key.
class TJoinExprNodeEvaluator {
public:
    explicit TJoinExprNodeEvaluator(TJoinExprNode* Node);
    ~TJoinExprNodeEvaluator();
    TJoinExprNodeEvaluator(const TJoinExprNodeEvaluator&) = delete;
    TJoinExprNodeEvaluator& operator=(const TJoinExprNodeEvaluator&) = delete;

    // Loads the hash with the join keys of the column of Provider's side of the node over the
    // rows Provider's bridge reaches, sized from their number. EAssertionFailed "TJoinExprNodeEvaluator - source node is not assigned",
    // "TJoinExprNodeEvaluator - InnerProvider is not assigned", "Hash table SourceFieldName could
    // not be set".
    void Prepare(TOrqNonJoinDataProvider* Provider);
    // The match list := the addresses whose key equals Key, sorted; empty for a NULL key.
    void SetSourceKey(const char* Key, int Length, bool IsNull);
    // Reads the driving side's key of the node from the current row and calls SetSourceKey.
    void LoadSourceKeyFromDrivingRow();
    // True when the matched table had no filter at load time or Addr passed it.
    bool CheckRecordInExpr(uint32_t Addr) const;

    TJoinExprNode* Node() const { return FNode; }
    const std::vector<uint32_t>& MatchList() const { return FMatchList; }
    std::vector<uint32_t>& MatchList() { return FMatchList; }
    bool Prepared() const { return FPrepared; }
    // The side of the node that was hashed: true when it is the node's right side.
    bool HashedRight() const { return FHashedRight; }
    const TOrqBaseHash* Hash() const { return FHash.get(); }

private:
    std::unique_ptr<TOrqBaseHash> FHash;
    TJoinExprNode* FNode = nullptr;
    std::vector<uint32_t> FMatchList;
    std::vector<uint32_t> FFilterList;  // sorted
    bool FFilterActive = false;
    bool FPrepared = false;
    bool FHashedRight = true;
    std::string FKey;      // the driving row's key, reused
    TDataHolder FHolder;   // the driving row's raw value, reused
};

// Chooses the plan of a join and walks its rows.
class TJoinEvaluator {
public:
    TJoinEvaluator();
    ~TJoinEvaluator();
    TJoinEvaluator(const TJoinEvaluator&) = delete;
    TJoinEvaluator& operator=(const TJoinEvaluator&) = delete;

    void SetJoinAnalyser(TJoinAnalyser* Value) { FJoinAnalyser = Value; }
    TJoinModeType JoinModeType() const { return FJoinModeType; }
    void SetJoinModeType(TJoinModeType Value) { FJoinModeType = Value; }
    // Analyses the join, chooses the plan (index range, sides by size, hash or expression
    // loop), writes the plan's lines to the engine's trace log and prepares the walk.
    void AnalyseAndOpenJoin();
    // Prepares pass 1: roles by join type, the hash when possible.
    void Prepare();
    // The first / next joined row; false when there are no more.
    bool FirstRecord();
    bool NextRecord();
    // Frees the node evaluators.
    void Clear();

    const TJoinPlan& Plan() const { return FPlan; }
    int Pass() const { return FPass; }
    TOrqBaseJoinDataProvider* DrivingProvider() const { return FDrivingProvider; }
    TOrqBaseJoinDataProvider* MatchedProvider() const { return FMatchedProvider; }
    TOrqNonJoinDataProvider* HashedProvider() const { return FHashedProvider; }

private:
    // Pass 1 and its roles: the driving side is the outer one (the inner one for a right join).
    void SetFirstPassRoles();
    void InternalPrepare();
    void InternalPrepareNodeEvaluators();
    // The index range mode's inner range from the ends of the outer's join index.
    void SetInnerProviderRange(const TJoinExprAnalysis& Inner, const TJoinExprAnalysis& Outer);
    // Builds the master match list of the current driving row (hash mode).
    void InternalGetNextMatchList();
    // The combined list of a logical node from its children's lists (AND intersects, OR
    // unites); 8581 for another operator.
    void InternalCombineRecordLists(TJoinExprNode* Node);
    // Prepares the matching of the current driving row.
    bool UpdateInnerProviderCursor();
    // The next partner of the current driving row, or its NULL row; false when none is left.
    bool NextMatch();
    bool NextHashMatch();
    bool NextLoopMatch();
    // Evaluates the join condition over the current pair (expression loop over a join).
    bool PairMatches();
    // A NULL row for the current driving row when it found no partner and the join keeps it.
    bool NullRowDue() const;
    // Starts pass 2 of a full or union join; false when the walk is over.
    bool CheckNextPass();
    // Pass 1 of a full join records the matched row; pass 2 rejects a recorded driving row.
    void CheckAddRecID();
    bool CheckPassRecID();
    // The next joined row, from the first driving row when Restart.
    bool Walk(bool Restart);

    TJoinAnalyser* FJoinAnalyser = nullptr;
    TJoinPlan FPlan;
    int32_t FMatchPosition = -1;
    std::vector<std::unique_ptr<TJoinExprNodeEvaluator>> FNodeEvaluators;
    TOrqNonJoinDataProvider* FHashedProvider = nullptr;
    TOrqBaseJoinDataProvider* FMatchedProvider = nullptr;
    TOrqBaseJoinDataProvider* FDrivingProvider = nullptr;
    TJoinModeType FJoinModeType = jmtJoinExpr;
    int FPass = 1;
    // Full join: the matched rows of pass 1 (their CurrentRecordIDAsString).
    std::unordered_set<std::string> FMatchedRecords;
    // The driving side stands on a row whose partners are being walked; that row found a
    // partner; its NULL row was delivered; the matched side was moved to its first row.
    bool FDrivingPositioned = false;
    bool FDrivingMatched = false;
    bool FNullRowDelivered = false;
    bool FMatchedPositioned = false;
    // The master match list of the current driving row and the lists of logical nodes (hash
    // mode).
    std::vector<uint32_t> FMasterList;
    std::unordered_map<const TJoinExprNode*, std::vector<uint32_t>> FCombined;
    // The condition over a pair, for a matched side that is a join (expression loop).
    std::unique_ptr<TExprEvaluator> FPairEvaluator;
};

}  // namespace ostra
