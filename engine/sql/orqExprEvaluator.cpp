// The expression evaluator and the base row sources (see orqExprEvaluator.h).
#include "engine/sql/orqExprEvaluator.h"

#include <cmath>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/db/DataSet.h"
#include "host/db/Field.h"

namespace ostra {

namespace {

bool IsStringType(TFieldType T) {
    return T == ftString || T == ftWideString;
}
bool IsUnknown(const Variant& V) {
    return VarIsEmpty(V) || VarIsNull(V);
}

// The value of a subquery row: its first column.
Variant FirstValue(TDataSet* DataSet) {
    if (DataSet->FieldCount() == 0) return Variant();
    return DataSet->Fields()[0]->AsVariant();
}

// 0, 1 or 2 (two or more) rows; leaves the dataset on its first row.
int CountRowsUpToTwo(TDataSet* DataSet) {
    DataSet->First();
    if (DataSet->Eof()) return 0;
    DataSet->Next();
    const int rows = DataSet->Eof() ? 1 : 2;
    DataSet->First();
    return rows;
}

TCustomExprNodeDataProvider* SubqueryProvider(const TOrqExprNode* Subquery, const char* Missing) {
    TCustomExprNodeDataProvider* provider = Subquery->ExprNodeDataProvider();
    Assert(provider != nullptr, Missing);
    return provider;
}

}  // namespace

// --- TOrqExprDataProvider --------------------------------------------------------------------

TOrqExprDataProvider::TOrqExprDataProvider() : FProviderFields(std::make_unique<TInternalFields>()) {}

TOrqExprDataProvider::~TOrqExprDataProvider() = default;

TInternalFields* TOrqExprDataProvider::GetProviderFields() {
    return FProviderFields.get();
}

Variant TOrqExprDataProvider::GetDataAsVariant(int FieldNo) {
    return Variant();
}

bool TOrqExprDataProvider::IsFieldNull(int FieldNo) {
    return VarIsNull(GetDataAsVariant(FieldNo));
}

void TOrqExprDataProvider::GetDefaultRecordList(TCompoundList& List) {}

void TOrqExprDataProvider::Open() {}

void TOrqExprDataProvider::Refresh() {}

bool TOrqExprDataProvider::MoveToRecord(uint32_t RecNo) {
    return false;
}

bool TOrqExprDataProvider::GetFieldNumber(int, double&) { return false; }

bool TOrqExprDataProvider::StartStorageWalk() { return false; }

bool TOrqExprDataProvider::NextInStorageWalk(uint32_t&) { return false; }

TInternalFieldItem* TOrqExprDataProvider::FindField(const TParserToken* Token, const std::string& Name) {
    TInternalFields* fields = GetProviderFields();
    return fields != nullptr ? fields->FindField(Name) : nullptr;
}

TOrqExprDataProvider* TOrqExprDataProvider::FindProvider(const std::string& Name) {
    return this;
}

bool TOrqExprDataProvider::PassFilterEvent(int RecNo) {
    return false;
}

bool TCustomExprNodeDataProvider::PrepareAndOpen() {
    return false;
}

bool TCustomExprNodeDataProvider::FindFirstValue(const Variant&, const std::function<bool(const Variant&)>&, bool&) {
    return false;
}

// --- TExprEvaluator: the tree ----------------------------------------------------------------

TExprEvaluator::TExprEvaluator() : FOpEvaluator(std::make_unique<TOrqOpEvaluator>()) {}

TExprEvaluator::~TExprEvaluator() {
    Clear();
}

void TExprEvaluator::Clear() {
    FNodes.clear();
    FChain = nullptr;
    FRoot = nullptr;
}

void TExprEvaluator::Prepare(TOrqExprDataProvider* Provider, const TOrqExprNode* Root) {
    Clear();
    FDataProvider = Provider;
    FRoot = BuildNode(Root, true);
}

TExprEvaluatorNode* TExprEvaluator::BuildNode(const TOrqExprNode* N, bool Chained) {
    if (N == nullptr) return nullptr;
    FNodes.push_back(std::make_unique<TExprEvaluatorNode>());
    TExprEvaluatorNode* node = FNodes.back().get();
    node->SetExprNode(N);
    if (Chained) {
        node->SetNext(FChain);
        FChain = node;
    }
    if (N->Kind() == enkField) {
        Assert(FDataProvider != nullptr, "Field not found in TExprEvaluator");
        const std::string name = VarToStr(N->Data());
        if (N->TokenArgs().empty()) {
            node->SetDataProvider(FDataProvider);
            node->SetFieldRef(FDataProvider->FindField(nullptr, name));
        } else {
            const TParserToken* table = N->TokenArgs()[0];
            node->SetDataProvider(FDataProvider->FindProvider(table->Text()));
            Assert(node->DataProvider() != nullptr,
                   "The Evaluator node data provider could not be found: " + table->Text());
            node->SetFieldRef(node->DataProvider()->FindField(table, name));
        }
        Assert(node->FieldRef() != nullptr, "Field not found in TExprEvaluator");
    }
    node->SetLeft(BuildNode(N->Left(), Chained));
    node->SetRight(BuildNode(N->Right(), Chained));
    for (const TOrqExprNode* arg : N->Args()) node->Args().push_back(BuildNode(arg, false));
    return node;
}

void TExprEvaluator::Reset() {
    for (TExprEvaluatorNode* n = FChain; n != nullptr; n = n->Next()) n->SetNodeResult(Null());
}

bool TExprEvaluator::Evaluate() {
    if (FRoot == nullptr) return false;
    if (!FKeepNodeResults) {
        const int answer = EvaluateNumberCondition(FRoot);
        if (answer >= 0) return answer == 1;
    }
    return TOrqOpEvaluator::IsTrue(EvaluateNode(FRoot));
}

int TExprEvaluator::EvaluateNumberCondition(TExprEvaluatorNode* N) {
    if (N->Left() == nullptr || N->Right() == nullptr) return -1;
    const TOrqExprNode* E = N->ExprNode();
    if (E->Kind() == enkRelOperator) {
        bool result = false;
        return EvaluateNumberRelop(N, result) ? int(result) : -1;
    }
    if (E->Kind() != enkLogicalOperator || (E->Operator() != oeoAND && E->Operator() != oeoOR)) return -1;
    const int left = EvaluateNumberCondition(N->Left());
    if (left < 0) return -1;
    const int right = EvaluateNumberCondition(N->Right());
    if (right < 0) return -1;
    return E->Operator() == oeoAND ? int(left && right) : int(left || right);
}

Variant TExprEvaluator::EvaluateValueExpr() {
    if (FRoot == nullptr) return Variant();
    return EvaluateNode(FRoot);
}

// --- TExprEvaluator: nodes -------------------------------------------------------------------

Variant TExprEvaluator::EvaluateNode(TExprEvaluatorNode* N) {
    const TOrqExprNode* E = N->ExprNode();
    const TOrqExprOperator op = E->Operator();
    Variant result;

    if ((op == oeoISBLANK || op == oeoNOTBLANK) && N->Left() != nullptr &&
        N->Left()->ExprNode()->Kind() == enkField) {
        // The row source knows best whether its field is null.
        const bool isNull = N->Left()->DataProvider()->IsFieldNull(N->Left()->FieldRef()->FieldNo());
        result = Variant(op == oeoISBLANK ? isNull : !isNull);
    } else if (E->Kind() == enkRelOperator) {
        result = EvaluateRelop(N);
    } else {
        const Variant left = N->Left() != nullptr ? EvaluateNode(N->Left()) : Null();
        const Variant right = N->Right() != nullptr ? EvaluateNode(N->Right()) : Null();
        switch (E->Kind()) {
            case enkField: {
                result = N->DataProvider()->GetDataAsVariant(N->FieldRef()->FieldNo());
                if (E->CaseInsensitiveMatch() && IsStringType(N->FieldRef()->DataType()) &&
                    VarType(result) == varString)
                    result = Variant(AnsiUpperCase(result.AsString()));
                break;
            }
            case enkConst:
            case enkParam:
                result = E->Data();
                break;
            case enkArithOperator:
                result = FOpEvaluator->EvaluateArithExprValues(op, left, right);
                break;
            case enkLogicalOperator:
                result = FOpEvaluator->EvaluateLogicalExprAsVar(op, left, right);
                break;
            case enkFunc:
                switch (E->ParserToken().Token()) {
                    case ostStrFunc:
                        result = EvaluateStrFunc(N, left, right);
                        break;
                    case ostCast:
                        result = EvaluateCastExpr(E, right);
                        break;
                    case ostExtract:
                        result = EvaluateExtractExpr(E, right);
                        break;
                    default:
                        // Aggregates and outer fields become constants before the rows are read.
                        break;
                }
                break;
            case enkNonRelPredicate:
                switch (E->ParserToken().Token()) {
                    case ostLike:
                    case ostNotLike:
                        result = EvaluateLike(N, left, right);
                        break;
                    case ostIn:
                        result = Variant(EvaluateIn(N, left));
                        break;
                    case ostNotIn:
                        result = Variant(!EvaluateIn(N, left));
                        break;
                    default:
                        break;
                }
                break;
            case enkSubquery:
                switch (E->ParserToken().CustomOrdinal()) {
                    case osqExists:
                        result = EvaluateExists(E);
                        break;
                    case osqUnspecified:
                        result = EvaluateSubqueryValue(E);
                        break;
                    default:
                        break;
                }
                break;
            default:
                break;
        }
    }
    if (FKeepNodeResults) N->SetNodeResult(result);
    return result;
}

Variant TExprEvaluator::EvaluateRelop(TExprEvaluatorNode* N) {
    const TOrqExprOperator op = N->ExprNode()->Operator();
    if (N->Left() == nullptr || N->Right() == nullptr) {
        const Variant left = N->Left() != nullptr ? EvaluateNode(N->Left()) : Null();
        const Variant right = N->Right() != nullptr ? EvaluateNode(N->Right()) : Null();
        return FOpEvaluator->EvaluateRelopExprAsVar(op, left, right, FExcludeRelopNulls);
    }
    const TOrqExprNode* le = N->Left()->ExprNode();
    const TOrqExprNode* re = N->Right()->ExprNode();
    // A subquery operand is compared row by row; it is not evaluated as a value first (that
    // would run it a second time for every row).
    const bool leftSubquery = le->Kind() == enkSubquery;
    const bool rightSubquery = re->Kind() == enkSubquery;
    if (leftSubquery && rightSubquery) return EvaluateDualSubqueries(le, re, op);
    if (leftSubquery) return EvaluateLeftSubquery(le, op, EvaluateNode(N->Right()));
    if (rightSubquery) return EvaluateRightSubquery(re, op, EvaluateNode(N->Left()));

    bool numberResult = false;
    if (EvaluateNumberRelop(N, numberResult)) return Variant(numberResult);
    const Variant left = EvaluateNode(N->Left());
    const Variant right = EvaluateNode(N->Right());
    // Strings compare by the row source's collation. A Null or unknown value has no text: it
    // follows the null rules instead of comparing as an empty string.
    if (IsStringType(le->DataType()) && IsStringType(re->DataType()) && !IsUnknown(left) &&
        !IsUnknown(right)) {
        const int c = CompareStrings(N, left, right);
        return FOpEvaluator->EvaluateRelopExprAsVar(op, Variant(c), Variant(0), FExcludeRelopNulls);
    }
    return FOpEvaluator->EvaluateRelopExprAsVar(op, left, right, FExcludeRelopNulls);
}

void TExprEvaluator::PlanNumberRelop(TExprEvaluatorNode* N) {
    TNumberComparisonPlan& plan = N->NumberPlan();
    plan.State = TNumberComparisonPlan::ncNone;
    TExprEvaluatorNode* field = N->Left();
    TExprEvaluatorNode* constant = N->Right();
    bool swapped = false;
    if (field->ExprNode()->Kind() != enkField) {
        std::swap(field, constant);
        swapped = true;
    }
    if (field->ExprNode()->Kind() != enkField || constant->ExprNode()->Kind() != enkConst ||
        field->DataProvider() == nullptr)
        return;
    // Integers of 32 bits or fewer and Doubles compare exactly as doubles (a NaN unordered), as
    // the Variant rules compare them.
    const Variant& data = constant->ExprNode()->Data();
    double c = 0;
    switch (VarType(data)) {
        case varSmallint:
        case varInteger:
        case varShortInt:
        case varByte:
        case varWord:
        case varDouble:
            c = data.AsDouble();
            break;
        default:
            return;
    }
    TOrqExprOperator op = N->ExprNode()->Operator();
    if (swapped) {
        switch (op) {
            case oeoLT:
                op = oeoGT;
                break;
            case oeoGT:
                op = oeoLT;
                break;
            case oeoLE:
                op = oeoGE;
                break;
            case oeoGE:
                op = oeoLE;
                break;
            default:
                break;
        }
    }
    switch (op) {
        case oeoEQ:
        case oeoNE:
        case oeoLT:
        case oeoLE:
        case oeoGT:
        case oeoGE:
            break;
        default:
            return;
    }
    plan.Field = field;
    plan.Constant = c;
    plan.Op = op;
    plan.State = TNumberComparisonPlan::ncReady;
}

bool TExprEvaluator::EvaluateNumberRelop(TExprEvaluatorNode* N, bool& Result) {
    TNumberComparisonPlan& plan = N->NumberPlan();
    // A general evaluator may see its constants change between rows (parameters bound into the
    // tree): it works the plan out each time. A result generator's tree stays as it is.
    if (FKeepNodeResults || plan.State == TNumberComparisonPlan::ncUnknown) PlanNumberRelop(N);
    if (plan.State != TNumberComparisonPlan::ncReady) return false;
    const double c = plan.Constant;
    double v = 0;
    if (!plan.Field->DataProvider()->GetFieldNumber(plan.Field->FieldRef()->FieldNo(), v)) return false;
    switch (plan.Op) {
        case oeoEQ:
            Result = v == c;
            break;
        case oeoNE:
            Result = !(v == c);
            break;
        case oeoLT:
            Result = v < c;
            break;
        case oeoLE:
            Result = v <= c;
            break;
        case oeoGT:
            Result = v > c;
            break;
        default:
            Result = v >= c;
            break;
    }
    return true;
}

int TExprEvaluator::CompareStrings(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right) {
    Assert(FDBStringCompare != nullptr, "String Comparison method is not assigned");
    const TOrqExprNode* le = N->Left()->ExprNode();
    const TOrqExprNode* re = N->Right()->ExprNode();
    const bool partial = le->PartialLength() > 0 || re->PartialLength() > 0;
    std::string s1 = VarToStr(Left);
    std::string s2 = VarToStr(Right);
    int l1 = le->PartialLength() > 0 ? le->PartialLength() : static_cast<int>(s1.size());
    int l2 = re->PartialLength() > 0 ? re->PartialLength() : static_cast<int>(s2.size());
    // The constant's length limits a partial comparison.
    if (partial) {
        if (le->Kind() == enkField)
            l1 = l2;
        else if (re->Kind() == enkField)
            l2 = l1;
    }
    // A length beyond a value compares zero bytes there (a shorter value never matches a longer
    // prefix) and never reads past the value.
    if (l1 > static_cast<int>(s1.size())) s1.resize(static_cast<std::size_t>(l1), '\0');
    if (l2 > static_cast<int>(s2.size())) s2.resize(static_cast<std::size_t>(l2), '\0');
    return FDBStringCompare(s1.data(), s2.data(), l1, l2, N->ExprNode()->CaseInsensitiveMatch(), partial);
}

Variant TExprEvaluator::EvaluateLike(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right) {
    // A Null or unknown value (or pattern) matches no pattern, and NOT LIKE is False for it too.
    if (IsUnknown(Left) || IsUnknown(Right)) return Variant(false);
    const bool match = MatchPatternedStrings(VarToStr(Left), VarToStr(Right), '%', '_');
    return Variant(N->ExprNode()->ParserToken().Token() == ostNotLike ? !match : match);
}

bool TExprEvaluator::EvaluateIn(TExprEvaluatorNode* N, const Variant& V) {
    const TOrqExprNode* E = N->ExprNode();
    if (E->Args().size() == 1 && E->Args()[0]->Kind() == enkSubquery) {
        TCustomExprNodeDataProvider* provider =
            SubqueryProvider(E->Args()[0], "ExprNodeDataProvider is not assigned");
        if (!provider->PrepareAndOpen()) return false;
        // Each row compares as a list element would, so null exclusion applies here too.
        auto equal = [&](const Variant& Row) {
            return TOrqOpEvaluator::IsTrue(FOpEvaluator->EvaluateRelopExprAsVar(oeoEQ, V, Row, FExcludeRelopNulls));
        };
        if (bool found = false; provider->FindFirstValue(V, equal, found)) return found;
        TDataSet* rows = provider->ProviderDataset();
        for (; !rows->Eof(); rows->Next())
            if (TOrqOpEvaluator::IsTrue(
                    FOpEvaluator->EvaluateRelopExprAsVar(oeoEQ, V, FirstValue(rows), FExcludeRelopNulls)))
                return true;
        return false;
    }
    for (TExprEvaluatorNode* element : N->Args()) {
        if (element == nullptr) continue;
        if (TOrqOpEvaluator::IsTrue(
                FOpEvaluator->EvaluateRelopExprAsVar(oeoEQ, V, EvaluateNode(element), FExcludeRelopNulls)))
            return true;
    }
    return false;
}

// --- TExprEvaluator: subqueries --------------------------------------------------------------

Variant TExprEvaluator::EvaluateLeftSubquery(const TOrqExprNode* Subquery, TOrqExprOperator Op,
                                             const Variant& V) {
    return EvaluateSubqueryCompare(Subquery, Op, V, true, "TExprEvaluator.EvaluateLeftSubquery");
}

Variant TExprEvaluator::EvaluateRightSubquery(const TOrqExprNode* Subquery, TOrqExprOperator Op,
                                              const Variant& V) {
    return EvaluateSubqueryCompare(Subquery, Op, V, false, "TExprEvaluator.EvaluateRightSubquery");
}

Variant TExprEvaluator::EvaluateSubqueryCompare(const TOrqExprNode* Subquery, TOrqExprOperator Op,
                                                const Variant& V, bool SubqueryLeft, const char* Caller) {
    TCustomExprNodeDataProvider* provider =
        SubqueryProvider(Subquery, "ExprNodeDataProvider is not assigned");
    if (!provider->PrepareAndOpen()) return Variant();
    TDataSet* rows = provider->ProviderDataset();
    auto compare = [&](const Variant& row) {
        return SubqueryLeft ? FOpEvaluator->EvaluateRelopExprAsVar(Op, row, V, FExcludeRelopNulls)
                            : FOpEvaluator->EvaluateRelopExprAsVar(Op, V, row, FExcludeRelopNulls);
    };
    switch (Subquery->ParserToken().CustomOrdinal()) {
        case osqAnyOrSome:
            for (rows->First(); !rows->Eof(); rows->Next())
                if (TOrqOpEvaluator::IsTrue(compare(FirstValue(rows)))) return Variant(true);
            return Variant(false);
        case osqAll:
            for (rows->First(); !rows->Eof(); rows->Next())
                if (!TOrqOpEvaluator::IsTrue(compare(FirstValue(rows)))) return Variant(false);
            return Variant(true);
        default: {
            const int count = CountRowsUpToTwo(rows);
            if (count > 1) OrqDatabaseError(9650, Caller, "", nullptr);
            if (count == 0) return Variant();
            if (rows->FieldCount() > 1) OrqDatabaseError(9656, Caller, "", nullptr);
            return compare(FirstValue(rows));
        }
    }
}

Variant TExprEvaluator::EvaluateDualSubqueries(const TOrqExprNode* Left, const TOrqExprNode* Right,
                                               TOrqExprOperator Op) {
    static const char* const Caller = "TExprEvaluator.EvaluateDualSubqueries";
    TCustomExprNodeDataProvider* left = SubqueryProvider(Left, "Left ExprNodeDataProvider is not assigned");
    TCustomExprNodeDataProvider* right =
        SubqueryProvider(Right, "Right ExprNodeDataProvider is not assigned");
    if (!left->PrepareAndOpen()) return Variant();
    const int leftCount = CountRowsUpToTwo(left->ProviderDataset());
    if (leftCount > 1) OrqDatabaseError(9650, Caller, "", nullptr);
    if (!right->PrepareAndOpen()) return Variant();
    const int rightCount = CountRowsUpToTwo(right->ProviderDataset());
    if (rightCount > 1) OrqDatabaseError(9650, Caller, "", nullptr);
    if (leftCount != 1 || rightCount != 1) return Variant();
    return FOpEvaluator->EvaluateRelopExprAsVar(Op, FirstValue(left->ProviderDataset()),
                                                FirstValue(right->ProviderDataset()), FExcludeRelopNulls);
}

Variant TExprEvaluator::EvaluateExists(const TOrqExprNode* Subquery) {
    TCustomExprNodeDataProvider* provider =
        SubqueryProvider(Subquery, "ExprNodeDataProvider is not assigned");
    if (!provider->PrepareAndOpen()) return Variant();
    TDataSet* rows = provider->ProviderDataset();
    rows->First();
    return Variant(!rows->Eof());
}

Variant TExprEvaluator::EvaluateSubqueryValue(const TOrqExprNode* Subquery) {
    static const char* const Caller = "TExprEvaluator.EvaluateSubqueryValue";
    TCustomExprNodeDataProvider* provider =
        SubqueryProvider(Subquery, "ExprNodeDataProvider is not assigned");
    if (!provider->PrepareAndOpen()) return Variant();
    TDataSet* rows = provider->ProviderDataset();
    const int count = CountRowsUpToTwo(rows);
    if (count > 1) OrqDatabaseError(9650, Caller, "", nullptr);
    if (rows->FieldCount() > 1) OrqDatabaseError(9656, Caller, "", nullptr);
    // No row: the value is absent.
    if (count == 0) return Null();
    return FirstValue(rows);
}

// --- TExprEvaluator: functions ---------------------------------------------------------------

Variant TExprEvaluator::EvaluateStrFunc(TExprEvaluatorNode* N, const Variant& Left, const Variant& Right) {
    switch (N->ExprNode()->ParserToken().CustomOrdinal()) {
        case osfSubstring: {
            if (VarIsNull(Left) || VarIsNull(Right)) return Null();
            if (VarIsEmpty(Left) || VarIsEmpty(Right)) return Variant();
            const std::string s = VarToStr(Left);
            int64_t start = Right.AsInteger();
            if (start < 1) start = 1;
            int64_t length = static_cast<int64_t>(s.size());
            if (!N->Args().empty() && N->Args()[0] != nullptr) {
                const Variant lengthValue = EvaluateNode(N->Args()[0]);
                if (VarIsNull(lengthValue)) return Null();
                if (VarIsEmpty(lengthValue)) return Variant();
                length = lengthValue.AsInteger();
            }
            if (start > static_cast<int64_t>(s.size()) || length <= 0) return Variant(std::string());
            return Variant(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
        }
        case osfUpper:
        case osfLower: {
            if (VarIsNull(Right)) return Null();
            if (VarIsEmpty(Right)) return Variant();
            const std::string s = VarToStr(Right);
            return Variant(N->ExprNode()->ParserToken().CustomOrdinal() == osfUpper ? AnsiUpperCase(s)
                                                                                    : AnsiLowerCase(s));
        }
        case osfTrim:
        case osfTrimLeading:
        case osfTrimTrailing:
        case osfTrimBoth: {
            const int kind = N->ExprNode()->ParserToken().CustomOrdinal();
            char trimChar = ' ';
            if (!VarIsNull(Right)) {
                const std::string chars = VarToStr(Right);
                if (chars.empty()) return Variant(std::string());
                trimChar = chars[0];
            }
            if (IsUnknown(Left)) return Variant(std::string());
            std::string s = VarToStr(Left);
            if (kind != osfTrimTrailing) {
                std::size_t first = 0;
                while (first < s.size() && s[first] == trimChar) ++first;
                s.erase(0, first);
            }
            if (kind != osfTrimLeading) {
                std::size_t last = s.size();
                while (last > 0 && s[last - 1] == trimChar) --last;
                s.erase(last);
            }
            return Variant(std::move(s));
        }
        default:
            return Null();
    }
}

Variant TExprEvaluator::EvaluateCastExpr(const TOrqExprNode* E, const Variant& V) {
    if (IsUnknown(V)) return V;
    switch (E->DataType()) {
        case ftString:
        case ftWideString: {
            std::string s = VarToStr(V);
            if (E->DataSize() >= 0 && static_cast<int>(s.size()) > E->DataSize())
                s.resize(static_cast<std::size_t>(E->DataSize()));
            return Variant(std::move(s));
        }
        case ftSmallint:
            return VarAsType(V, varSmallint);
        case ftInteger:
            return VarAsType(V, varInteger);
        case ftBoolean:
            return VarAsType(V, varBoolean);
        case ftFloat:
            return VarAsType(V, varDouble);
        case ftCurrency:
            return VarAsType(V, varCurrency);
        case ftDate:
            return VarFromDateTime(std::trunc(V.AsDateTime()));
        case ftTime: {
            const TDateTime value = V.AsDateTime();
            return VarFromDateTime(std::fabs(value - std::trunc(value)));
        }
        case ftDateTime:
        case ftTimeStamp:
            return VarAsType(V, varDate);
        case ftMemo:
        case ftFmtMemo:
            return Variant(VarToStr(V));
        default:
            OrqDatabaseError(10000, "TExprEvaluator.EvaluateCastExpr", FieldTypeName(E->DataType()), nullptr);
    }
}

Variant TExprEvaluator::EvaluateExtractExpr(const TOrqExprNode* E, const Variant& V) {
    if (IsUnknown(V)) return V;
    const int part = E->ParserToken().CustomOrdinal();
    const TDateTime value = V.AsDateTime();
    int year, month, day, hour, minute, second, msec;
    switch (part) {
        case ostYear:
        case ostMonth:
        case ostDay:
            DecodeDate(value, year, month, day);
            return Variant(static_cast<short>(part == ostYear ? year : part == ostMonth ? month : day));
        case ostHour:
        case ostMinute:
            DecodeTime(value, hour, minute, second, msec);
            return Variant(static_cast<short>(part == ostHour ? hour : minute));
        case ostSecond:
            DecodeTime(value, hour, minute, second, msec);
            return Variant(second + msec / 1000.0);
        default:
            OrqDatabaseError(10000, "TExprEvaluator.EvaluateExtractExpr", SorqInvalidFieldinEXTRACTExpr,
                             nullptr);
    }
}

// --- TExprResultListGenerator ----------------------------------------------------------------

void TExprResultListGenerator::PrepareEvaluator(TExprEvaluator& Evaluator, TOrqExprDataProvider* Provider,
                                                const TOrqExprNode* Root, bool ExcludeRelopNulls) {
    if (Provider->DBStringCompare() == nullptr)
        OrqDatabaseError(10065, "TExprResultListGenerator.CreateResultList", "", nullptr);
    Evaluator.SetDBStringCompare(Provider->DBStringCompare());
    Evaluator.SetExcludeRelopNulls(ExcludeRelopNulls);
    // Only the answer counts: no node keeps its value, so none is reset between records.
    Evaluator.SetKeepNodeResults(false);
    if (Root != nullptr) Evaluator.Prepare(Provider, Root);
}

void TExprResultListGenerator::CreateResultList(TOrqExprDataProvider* Provider, const TOrqExprNode* Root,
                                                const TCompoundList& SourceList, TCompoundList& ResultList,
                                                bool ExcludeRelopNulls) {
    TExprEvaluator evaluator;
    PrepareEvaluator(evaluator, Provider, Root, ExcludeRelopNulls);
    // The result may be the source list itself.
    TCompoundList copy;
    const TCompoundList* list = &SourceList;
    if (&ResultList == &SourceList) {
        copy = SourceList;
        list = &copy;
    }
    const TCompoundList& source = *list;
    ResultList.Clear();
    if (Root == nullptr) {
        ResultList = source;
        return;
    }
    for (int i = 0; i < source.Count(); ++i) {
        // A record the source cannot move to (gone since the list was made) is not a result.
        if (!Provider->MoveToRecord(source.List1()[static_cast<std::size_t>(i)])) continue;
        const auto at = static_cast<std::size_t>(i);
        if (evaluator.Evaluate()) ResultList.Add(source.List1()[at], source.List2()[at]);
    }
}

void TExprResultListGenerator::CreateResultListInStorageOrder(TOrqExprDataProvider* Provider, const TOrqExprNode* Root,
                                                              TCompoundList& ResultList, bool ExcludeRelopNulls) {
    TExprEvaluator evaluator;
    PrepareEvaluator(evaluator, Provider, Root, ExcludeRelopNulls);
    ResultList.Clear();
    uint32_t address = 0;
    while (Provider->NextInStorageWalk(address)) {
        if (Root == nullptr) {
            ResultList.Add(address, 0);
            continue;
        }
        if (evaluator.Evaluate()) ResultList.Add(address, 0);
    }
}

}  // namespace ostra
