// orqFilterOptimizer: simplification, the optimizer tree, index range scans and list combination.
#include "engine/sql/orqFilterOptimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "host/Collation.h"
#include "host/DateTime.h"
#include "host/Exceptions.h"
#include "host/StringList.h"

namespace ostra {

namespace {

bool IsStringField(TFieldType T) { return T == ftString || T == ftWideString || T == ftFixedChar; }

bool IsConst(const TOrqExprNode* N) { return N != nullptr && N->Kind() == enkConst; }
bool IsField(const TOrqExprNode* N) { return N != nullptr && N->Kind() == enkField; }

// A condition whose value is True, False or unknown, never Null.
bool IsConditionNode(const TOrqExprNode* N) {
    return N != nullptr &&
           (N->Kind() == enkLogicalOperator || N->Kind() == enkRelOperator || N->Kind() == enkNonRelPredicate);
}

bool IsOrderingOp(TOrqExprOperator Op, bool Greater) {
    return Greater ? (Op == oeoGT || Op == oeoGE) : (Op == oeoLT || Op == oeoLE);
}

// A comparison of a field (left) with a constant (right), neither with operands of its own.
bool IsLeafRelopNode(const TOrqExprNode* N) {
    return N != nullptr && N->Kind() == enkRelOperator && IsField(N->Left()) && IsConst(N->Right()) &&
           N->Left()->Left() == nullptr && N->Left()->Right() == nullptr && N->Right()->Left() == nullptr &&
           N->Right()->Right() == nullptr;
}

std::string QualifiedFieldName(const TOrqExprNode* Field) {
    std::string s = Field->TokenArgs().empty() ? "" : Field->TokenArgs()[0]->Text() + ".";
    return s + VarToStr(Field->Data());
}

// The text of a LIKE pattern before its first wildcard.
std::string LikePrefix(const std::string& Pattern) {
    return Pattern.substr(0, std::min(Pattern.find('%'), Pattern.find('_')));
}

// Children before parents, each node once, without recursion (trees may be very deep).
std::vector<TOrqExprNode*> PostOrder(TOrqExprNode* Root) {
    std::vector<TOrqExprNode*> order;
    std::unordered_set<const TOrqExprNode*> seen;
    std::vector<std::pair<TOrqExprNode*, bool>> stack;
    if (Root != nullptr) stack.emplace_back(Root, false);
    while (!stack.empty()) {
        auto [node, expanded] = stack.back();
        stack.pop_back();
        if (expanded) {
            order.push_back(node);
            continue;
        }
        if (!seen.insert(node).second) continue;
        stack.emplace_back(node, true);
        if (node->Right() != nullptr) stack.emplace_back(node->Right(), false);
        if (node->Left() != nullptr) stack.emplace_back(node->Left(), false);
        for (TOrqExprNode* a : node->Args())
            if (a != nullptr) stack.emplace_back(a, false);
    }
    return order;
}

// Chains of one operator longer than this are rebalanced.
constexpr size_t C_REBALANCECHAIN = 16;

// Rebuilds a long left- or right-leaning chain of AND (or OR) nodes as a balanced tree of the
// same nodes; three-valued AND and OR are associative and commutative, so the value stays.
// Adds the chain's nodes to Done.
void RebalanceChain(TOrqExprNode* Top, std::unordered_set<const TOrqExprNode*>& Done) {
    const TOrqExprOperator op = Top->Operator();
    const TOrqSQLToken token = Top->ParserToken().Token();
    auto inChain = [&](const TOrqExprNode* N) {
        return N != nullptr && N->Kind() == enkLogicalOperator && N->Operator() == op &&
               N->ParserToken().Token() == token && N->Left() != nullptr && N->Right() != nullptr;
    };
    std::vector<TOrqExprNode*> joints, operands, stack{Top};
    while (!stack.empty()) {
        TOrqExprNode* n = stack.back();
        stack.pop_back();
        if (inChain(n)) {
            joints.push_back(n);
            Done.insert(n);
            stack.push_back(n->Right());
            stack.push_back(n->Left());
        } else {
            operands.push_back(n);
        }
    }
    if (operands.size() <= C_REBALANCECHAIN) return;
    // joints[0] is Top and stays the root; the others are handed out as inner joints.
    size_t nextJoint = 1;
    auto build = [&](auto&& self, size_t From, size_t To, TOrqExprNode* Joint) -> TOrqExprNode* {
        if (To - From == 1) return operands[From];
        TOrqExprNode* j = Joint != nullptr ? Joint : joints[nextJoint++];
        const size_t mid = From + (To - From) / 2;
        j->SetLeft(self(self, From, mid, nullptr));
        j->SetRight(self(self, mid, To, nullptr));
        return j;
    };
    build(build, 0, operands.size(), Top);
}

bool VariantIsNumberLike(const Variant& V) {
    const TVarType t = VarType(V) & varTypeMask;
    return t == varSmallint || t == varInteger || t == varSingle || t == varDouble || t == varCurrency ||
           t == varDate || t == varShortInt || t == varByte || t == varWord || t == varLongWord || t == varInt64;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIndexDataInterface

TIndexDataInterface::TIndexDataInterface(const std::string& IndexName, TBTree* BTree)
    : FIndexName(IndexName), FBTree(BTree) {}

TFieldType TIndexDataInterface::KeyType() const { return FBTree->KeyFields().GetIndex(0)->DataType(); }

bool TIndexDataInterface::Descending() const { return FBTree->KeyFields().GetIndex(0)->Descending(); }

TIndexSearchType TIndexDataInterface::MapRelOpToSearchType(TOrqExprOperator Operator, bool Descending) {
    TIndexSearchType s;
    switch (Operator) {
        case oeoNOTBLANK:
        case oeoGT:
            s = stGT;
            break;
        case oeoLT:
            s = stLT;
            break;
        case oeoGE:
            s = stGE;
            break;
        case oeoISBLANK:
        case oeoEQ:
        case oeoNE:
        case oeoLE:
        case oeoLIKE:
        case oeoIN:
            s = stLE;
            break;
        default:
            OrqDatabaseError(8581, "TIndexDataInterface.MapRelOpToSearchType", "Unexpected seek type in Internal Find",
                             nullptr);
    }
    if (Descending && Operator != oeoEQ && Operator != oeoNE && Operator != oeoIN) {
        switch (s) {
            case stLT: s = stGT; break;
            case stGT: s = stLT; break;
            case stLE: s = stGE; break;
            case stGE: s = stLE; break;
            default: break;
        }
    }
    return s;
}

bool TIndexDataInterface::CanHoldValue(const Variant& Value) const {
    if (VarIsNull(Value) || VarIsEmpty(Value)) return false;
    const TKeyFieldItem& field = *FBTree->KeyFields().GetIndex(0);
    const bool isString = VarType(Value) == varString;
    switch (field.DataType()) {
        case ftString:
            return isString && static_cast<int>(Value.AsString().size()) <= field.FieldSize();
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc: {
            if (!VariantIsNumberLike(Value)) return false;
            const double d = Value.AsDouble();
            const double lo = field.DataType() == ftSmallint ? -32768.0
                              : field.DataType() == ftWord   ? 0.0
                                                             : double(std::numeric_limits<int32_t>::min());
            const double hi = field.DataType() == ftSmallint ? 32767.0
                              : field.DataType() == ftWord   ? 65535.0
                                                             : double(std::numeric_limits<int32_t>::max());
            return std::floor(d) == d && d >= lo && d <= hi;
        }
        case ftFloat:
        case ftDate:
        case ftTime:
        case ftDateTime:
            return VariantIsNumberLike(Value) && !std::isnan(Value.AsDouble());
        case ftBoolean:
            return VarType(Value) == varBoolean;
        default:
            // Wide strings, currency and BCD keys are compared by rows only.
            return false;
    }
}

std::string TIndexDataInterface::PrefixUpperBound(const std::string& Prefix) const {
    const TKeyFieldItem& field = *FBTree->KeyFields().GetIndex(0);
    TDBStringCompareFunction compare = FBTree->DBStringCompare();
    // The greatest single character in this collation; every text that starts with Prefix
    // sorts at or below Prefix followed by that character up to the field's size.
    char top = '\x01';
    for (int c = 2; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        if (compare(&ch, &top, 1, 1, field.CaseInsensitive(), false) > 0) top = ch;
    }
    std::string bound = Prefix;
    if (static_cast<int>(bound.size()) < field.FieldSize()) bound.append(size_t(field.FieldSize()) - bound.size(), top);
    return bound;
}

void TIndexDataInterface::ListRange(const TBound& Low, const TBound& High, bool ExcludeNulls, TCompoundList& List) {
    TBTree& tree = *FBTree;
    const int count = tree.KeyFields().Count();
    // In key order: the start of the run and its end.
    TBound start = Low, end = High;
    if (Descending()) std::swap(start, end);
    const TBound nullEdge{true, Null(), false};
    if (ExcludeNulls && !Low.Has) (Descending() ? end : start) = nullEdge;

    // A bound compares the first key field only (a search settles on the edge of the run of
    // equal values); no bound starts before every key.
    TSearchModifier firstField;
    firstField.SetLimitedSearch(true);
    firstField.SetIncludedKeyFieldCount(1);
    auto search = [&](const TBound& B, bool AtStart) {
        if (!B.Has) {
            TKeyMarkerList markers(size_t(count), AtStart ? fcForceBOF : fcForceEOF);
            tree.ConstructKeyBufFromVariants(Null(), &markers);
            return tree.IndexSearch(AtStart ? stGE : stLE, nullptr) == 0;
        }
        tree.ConstructKeyBufFromVariants(B.Value, nullptr);
        const TIndexSearchType type = AtStart ? (B.Inclusive ? stGE : stGT) : (B.Inclusive ? stLE : stLT);
        return tree.IndexSearch(type, &firstField) == 0;
    };

    uint32_t stopAddress = 0;
    std::vector<uint8_t> endEntry;
    if (end.Has) {
        if (!search(end, false)) return;
        const uint8_t* entry = tree.GetCurrentKeyBuf();
        endEntry.assign(entry, entry + tree.MaximumKeySize());
        stopAddress = tree.GetRecAddr();
    }
    if (!search(start, true)) return;
    if (end.Has && tree.CompareKeys(0, nullptr, nullptr, tree.GetCurrentKeyBuf(), endEntry.data()) > 0) return;
    bool flag = false;
    tree.ListMatchingRecords(nullptr, 0, stopAddress, stGE, true, List, flag);
}

void TIndexDataInterface::GetRecordList(TOrqExprOperator Operator, const Variant& Value, TCompoundList& List,
                                        bool Partial) {
    const bool excludeNulls = FExcludeRelopNulls;
    const bool stringKey = IsStringField(KeyType());
    auto bound = [](const Variant& V, bool Inclusive) { return TBound{true, V, Inclusive}; };
    const TBound none;
    if (Operator == oeoLIKE) {
        const std::string prefix = LikePrefix(Value.AsString());
        ListRange(bound(prefix, true), bound(PrefixUpperBound(prefix), true), true, List);
        return;
    }
    const bool prefixRange = Partial && stringKey && VarType(Value) == varString;
    switch (Operator) {
        case oeoISBLANK:
            ListRange(bound(Null(), true), bound(Null(), true), false, List);
            break;
        case oeoNOTBLANK:
            ListRange(none, none, true, List);
            break;
        case oeoEQ:
        case oeoIN:
            if (prefixRange)
                ListRange(bound(Value, true), bound(PrefixUpperBound(Value.AsString()), true), true, List);
            else
                ListRange(bound(Value, true), bound(Value, true), true, List);
            break;
        case oeoNE:
            // Both sides of the equal run; a null is below every value unless nulls are excluded.
            ListRange(none, bound(Value, false), excludeNulls, List);
            ListRange(bound(Value, false), none, true, List);
            break;
        case oeoGT:
            ListRange(bound(Value, prefixRange), none, true, List);
            break;
        case oeoGE:
            ListRange(bound(Value, true), none, true, List);
            break;
        case oeoLT:
            if (prefixRange)
                ListRange(none, bound(PrefixUpperBound(Value.AsString()), true), excludeNulls, List);
            else
                ListRange(none, bound(Value, false), excludeNulls, List);
            break;
        case oeoLE:
            if (prefixRange)
                ListRange(none, bound(PrefixUpperBound(Value.AsString()), true), excludeNulls, List);
            else
                ListRange(none, bound(Value, true), excludeNulls, List);
            break;
        default:
            MapRelOpToSearchType(Operator, false);  // raises for operators without a range
    }
}

void TIndexDataInterface::GetBetweenRecordList(TOrqExprOperator Operator, const Variant& Low, TCompoundList& List,
                                               const Variant& High) {
    (void)Operator;
    ListRange(TBound{true, Low, true}, TBound{true, High, true}, true, List);
}

// ---------------------------------------------------------------------------------------------
// TIndexQueryMgr

TIndexQueryItem& TIndexQueryMgr::Add(const std::string& IndexName, TBTree* BTree) {
    auto item = std::make_unique<TIndexQueryItem>();
    item->KeyFields = &BTree->KeyFields();
    item->IndexName = IndexName;
    item->IndexInterface = std::make_unique<TIndexDataInterface>(IndexName, BTree);
    item->IndexInterface->SetItemIndex(Count());
    FItems.push_back(std::move(item));
    return *FItems.back();
}

TIndexQueryItem* TIndexQueryMgr::FindIndexForFields(const std::vector<std::string>& Names, bool CaseInsensitive) {
    for (auto& item : FItems) {
        const TKeyFields& keys = *item->KeyFields;
        if (keys.Count() < static_cast<int>(Names.size())) continue;
        bool match = true;
        for (size_t i = 0; i < Names.size() && match; ++i) {
            const TKeyFieldItem* key = keys.GetIndex(static_cast<int>(i));
            // Whole names: "Name" does not match the key field "FirstName".
            match = key->PhysicalFieldNo() >= 0 && AnsiSameText(key->FieldName(), Names[i]) &&
                    (!IsStringField(key->DataType()) || key->CaseInsensitive() == CaseInsensitive);
        }
        if (match) return item.get();
    }
    return nullptr;
}

void TIndexQueryMgr::SetExcludeRelopNulls(bool Value) {
    for (auto& item : FItems) item->IndexInterface->SetExcludeRelopNulls(Value);
}

// ---------------------------------------------------------------------------------------------
// TExprOptimizerMgr: simplification

TExprOptimizerMgr::TExprOptimizerMgr() = default;
TExprOptimizerMgr::~TExprOptimizerMgr() = default;

void TExprOptimizerMgr::OptimizeExprTree(TOrqExprNode* Root) {
    for (TOrqExprNode* node : PostOrder(Root)) OptimizeExprNode(node, 0);
    // Long AND and OR chains become balanced trees, so that no later walk goes deep. Parents
    // come first, and each chain is handled once from its top.
    std::vector<TOrqExprNode*> nodes = PostOrder(Root);
    std::unordered_set<const TOrqExprNode*> done;
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        TOrqExprNode* node = *it;
        if (node->Kind() == enkLogicalOperator && (node->Operator() == oeoAND || node->Operator() == oeoOR) &&
            done.count(node) == 0)
            RebalanceChain(node, done);
    }
}

void TExprOptimizerMgr::OptimizeExprNode(TOrqExprNode* Node, int) {
    TOrqExprNode* left = Node->Left();
    TOrqExprNode* right = Node->Right();
    auto becomeConst = [&](const Variant& V, TFieldType T) {
        Node->SetKind(enkConst);
        Node->SetOperator(oeoCONST2);
        Node->SetDataType(T);
        Node->SetData(V);
        Node->SetLeft(nullptr);
        Node->SetRight(nullptr);
    };
    if (left != nullptr && right != nullptr) {
        if (Node->Kind() == enkArithOperator && IsConst(left) && IsConst(right)) {
            // A failing operation (a zero divisor) is left to the row evaluation, which reports
            // it as it would without simplification.
            try {
                const Variant v = FOpEvaluator.EvaluateArithExprValues(Node->Operator(), left->Data(), right->Data());
                becomeConst(v, left->DataType());
            } catch (const Exception&) {
            }
            return;
        }
        // Two texts compare by the table's collation, so only the rows fold them.
        if (Node->Kind() == enkRelOperator && IsConst(left) && IsConst(right) && !IsStringField(left->DataType()) &&
            !IsStringField(right->DataType()) && left->PartialLength() <= 0 && right->PartialLength() <= 0) {
            becomeConst(FOpEvaluator.EvaluateRelopExprAsVar(Node->Operator(), left->Data(), right->Data(),
                                                            FExcludeRelopNulls),
                        ftBoolean);
            return;
        }
        if (Node->Kind() == enkLogicalOperator) CheckForRedundantNodes(Node);
        return;
    }
    if (left != nullptr || right != nullptr || Node->Kind() != enkConst) return;
    const TFieldType type = Node->DataType();
    if (Node->Operator() == oeoFUNC2) {
        switch (Node->ParserToken().Token()) {
            case ostCurrentDate:
                Node->SetData(VarFromDateTime(Date()));
                break;
            case ostCurrentTime:
                Node->SetData(VarFromDateTime(Time()));
                break;
            case ostCurrentTimestamp:
                Node->SetData(VarFromDateTime(Now()));
                break;
            default:
                break;
        }
        return;
    }
    if ((type == ftDate || type == ftTime || type == ftDateTime) && VarType(Node->Data()) == varString) {
        const std::string text = Node->Data().AsString();
        if (text.empty())
            Node->SetData(Null());
        else
            Node->SetData(VarFromDateTime(type == ftDate   ? StrToDate(text)
                                          : type == ftTime ? StrToTime(text)
                                                           : StrToDateTime(text)));
        return;
    }
    if (IsStringField(type) && VarType(Node->Data()) == varString) {
        std::string text = Node->Data().AsString();
        if (Node->CaseInsensitiveMatch()) text = AnsiUpperCase(text);
        if (Node->PartialMatch() && text.size() > 1 && text.back() == '*') {
            text.pop_back();
            Node->SetPartialLength(static_cast<int>(text.size()));
        }
        Node->SetData(Variant(text));
    }
}

void TExprOptimizerMgr::CheckForRedundantNodes(TOrqExprNode* Node) {
    if (Node->Operator() != oeoOR) return;
    TOrqExprNode* a = Node->Left();
    TOrqExprNode* b = Node->Right();
    if (!IsLeafRelopNode(a) || !IsLeafRelopNode(b)) return;
    // Only two ranges of one field cover every row; with nulls excluded a null row is unknown.
    if (FExcludeRelopNulls || !AnsiSameText(QualifiedFieldName(a->Left()), QualifiedFieldName(b->Left()))) return;
    const Variant& x = a->Right()->Data();
    const Variant& y = b->Right()->Data();
    // Texts order by the table's collation, which only the rows know.
    if (!VariantIsNumberLike(x) || !VariantIsNumberLike(y) || a->Right()->PartialLength() > 0 ||
        b->Right()->PartialLength() > 0)
        return;
    bool redundant = false;
    if (IsOrderingOp(a->Operator(), true) && IsOrderingOp(b->Operator(), false))
        redundant = x.AsDouble() < y.AsDouble();
    else if (IsOrderingOp(a->Operator(), false) && IsOrderingOp(b->Operator(), true))
        redundant = x.AsDouble() > y.AsDouble();
    if (!redundant) return;
    for (TOrqExprNode* child : {a, b}) {
        child->SetOperator(oeoCONST2);
        child->SetKind(enkConst);
        child->SetDataType(ftBoolean);
        child->SetData(Variant(true));
        child->SetLeft(nullptr);
        child->SetRight(nullptr);
    }
    Node->SetOperator(oeoEQ);
    Node->SetKind(enkRelOperator);
    Node->SetDataType(ftBoolean);
    Node->SetData(Variant(true));
}

// ---------------------------------------------------------------------------------------------
// TExprOptimizerMgr: the optimizer tree

void TExprOptimizerMgr::Clear() {
    FNodes.clear();
    FRoot = nullptr;
}

void TExprOptimizerMgr::CreateOptimizerTree(const TOrqExprNode* Root) {
    Clear();
    if (FForceFullScan) return;
    FRoot = InternalCreateOptimizerNode(Root, 0);
}

TIndexDataInterface* TExprOptimizerMgr::MatchFieldsToIndex(const std::string& FieldName, bool CaseInsensitive) const {
    if (FIndexQueryMgr == nullptr) return nullptr;
    TIndexQueryItem* item = FIndexQueryMgr->FindIndexForFields({FieldName}, CaseInsensitive);
    return item != nullptr ? item->IndexInterface.get() : nullptr;
}

TExprOptimizerNode* TExprOptimizerMgr::InternalCreateOptimizerNode(const TOrqExprNode* Node, int Depth) {
    if (Node == nullptr) return nullptr;
    const bool booleanConst = Node->Kind() == enkConst && VarType(Node->Data()) == varBoolean;
    if (!booleanConst && Node->Kind() != enkRelOperator && Node->Kind() != enkArithOperator &&
        Node->Kind() != enkLogicalOperator && Node->Kind() != enkNonRelPredicate)
        return nullptr;
    FNodes.push_back(std::make_unique<TExprOptimizerNode>());
    TExprOptimizerNode* node = FNodes.back().get();
    node->ExprNode = Node;
    if (booleanConst) {
        // TRUE and FALSE (also what folding left) are known for every row.
        node->NodeResultType = Node->Data().AsBoolean() ? nrFixedTrue : nrFixedFalse;
        node->OptimisationLevel = olFull;
        return node;
    }
    if (Node->Right() != nullptr)
        InternalCreateBinaryOptimizerNode(node);
    else
        InternalCreateUnaryOptimizerNode(node);
    // Only logical operators combine their operands' lists.
    if (Node->Kind() == enkLogicalOperator && Node->Operator() != oeoISBLANK && Node->Operator() != oeoNOTBLANK) {
        node->Left = InternalCreateOptimizerNode(Node->Left(), Depth + 1);
        node->Right = InternalCreateOptimizerNode(Node->Right(), Depth + 1);
        CombineLevels(node);
    }
    return node;
}

void TExprOptimizerMgr::InternalCreateBinaryOptimizerNode(TExprOptimizerNode* Node) {
    const TOrqExprNode* e = Node->ExprNode;
    const TOrqExprNode* left = e->Left();
    const TOrqExprNode* right = e->Right();
    const TOrqExprOperator op = e->Operator();
    if (e->Kind() == enkRelOperator && IsConst(left) && IsConst(right)) {
        // Only a rewritten OR leaves a comparison of two constants (TRUE = TRUE).
        const Variant v = FOpEvaluator.EvaluateRelopExprAsVar(op, left->Data(), right->Data(), FExcludeRelopNulls);
        Node->NodeResultType = TOrqOpEvaluator::IsTrue(v) ? nrFixedTrue : nrFixedFalse;
        Node->OptimisationLevel = olFull;
        return;
    }
    if (!IsField(left) || !IsConst(right)) return;
    const bool like = e->Kind() == enkNonRelPredicate && op == oeoLIKE;
    if (!like && !(e->Kind() == enkRelOperator && op >= oeoISBLANK && op <= oeoLE)) return;
    TIndexDataInterface* index = MatchFieldsToIndex(VarToStr(left->Data()), e->CaseInsensitiveMatch());
    if (index == nullptr) return;
    const bool stringKey = IsStringField(index->KeyType());
    // The row evaluation compares two texts by the collation and anything else by value: the
    // index answers only where it compares the same way.
    if (stringKey != IsStringField(right->DataType())) return;
    const bool partial = right->PartialLength() > 0;
    if (like) {
        // A pattern that starts with a fixed text; ESCAPE changes what the wildcards are.
        if (e->ParserToken().Token() != ostLike || VarType(right->Data()) != varString || !left->Args().empty())
            return;
        const std::string prefix = LikePrefix(right->Data().AsString());
        if (prefix.empty() || !index->CanHoldValue(Variant(prefix))) return;
        Node->IndexInterface = index;
        Node->OptimisationLevel = olPartial;
        return;
    }
    if (!index->CanHoldValue(right->Data())) return;
    // The complement of a prefix range is no candidate list.
    if (partial && op == oeoNE) return;
    Node->IndexInterface = index;
    Node->OptimisationLevel = partial ? olPartial : olFull;
}

void TExprOptimizerMgr::InternalCreateUnaryOptimizerNode(TExprOptimizerNode* Node) {
    const TOrqExprNode* e = Node->ExprNode;
    const TOrqExprNode* left = e->Left();
    if (left == nullptr) return;
    const TOrqExprOperator op = e->Operator();
    if (op == oeoISBLANK || op == oeoNOTBLANK) {
        if (IsConditionNode(left)) {
            // A condition is True, False or unknown, never null.
            Node->NodeResultType = op == oeoISBLANK ? nrFixedFalse : nrFixedTrue;
            Node->OptimisationLevel = olFull;
            return;
        }
        if (!IsField(left)) return;
        const std::string name = VarToStr(left->Data());
        TIndexDataInterface* index = MatchFieldsToIndex(name, false);
        if (index == nullptr) index = MatchFieldsToIndex(name, true);
        if (index == nullptr) return;
        Node->IndexInterface = index;
        Node->OptimisationLevel = olFull;
        return;
    }
    if (op == oeoIN && e->Kind() == enkNonRelPredicate && IsField(left) && e->ParserToken().Token() == ostIn &&
        !e->Args().empty()) {
        TIndexDataInterface* index = MatchFieldsToIndex(VarToStr(left->Data()), e->CaseInsensitiveMatch());
        if (index == nullptr) return;
        const bool stringKey = IsStringField(index->KeyType());
        for (const TOrqExprNode* a : e->Args())
            if (!IsConst(a) || a->Left() != nullptr || !index->CanHoldValue(a->Data()) ||
                stringKey != (VarType(a->Data()) == varString))
                return;
        Node->IndexInterface = index;
        Node->OptimisationLevel = olFull;
    }
}

void TExprOptimizerMgr::CombineLevels(TExprOptimizerNode* Node) {
    const TOrqExprOperator op = Node->ExprNode->Operator();
    if (op != oeoAND && op != oeoOR) return;
    TExprOptimizerNode none;  // a side no index answers
    const TExprOptimizerNode& l = Node->Left ? *Node->Left : none;
    const TExprOptimizerNode& r = Node->Right ? *Node->Right : none;
    auto fixed = [](const TExprOptimizerNode& N, TNodeResultType T) {
        return N.OptimisationLevel == olFull && N.NodeResultType == T;
    };
    auto take = [&](const TExprOptimizerNode& From) {
        Node->OptimisationLevel = From.OptimisationLevel;
        Node->NodeResultType = From.NodeResultType;
    };
    const TNodeResultType absorbing = op == oeoAND ? nrFixedFalse : nrFixedTrue;
    const TNodeResultType neutral = op == oeoAND ? nrFixedTrue : nrFixedFalse;
    if (fixed(l, absorbing) || fixed(r, absorbing)) {
        Node->OptimisationLevel = olFull;
        Node->NodeResultType = absorbing;
    } else if (fixed(l, neutral)) {
        take(r);
    } else if (fixed(r, neutral)) {
        take(l);
    } else if (l.OptimisationLevel == olFull && r.OptimisationLevel == olFull) {
        Node->OptimisationLevel = olFull;
    } else if (op == oeoAND) {
        // An AND is answered from its indexed side, then row by row.
        if (l.OptimisationLevel > olNone || r.OptimisationLevel > olNone) Node->OptimisationLevel = olPartial;
    } else if (l.OptimisationLevel > olNone && r.OptimisationLevel > olNone) {
        Node->OptimisationLevel = olPartial;
    }
}

// ---------------------------------------------------------------------------------------------
// TExprOptimizerMgr: record lists

void TExprOptimizerMgr::PrepareRecordLists() {
    if (FRoot == nullptr || FRoot->OptimisationLevel == olNone) return;
    std::vector<TExprOptimizerNode*> stack{FRoot};
    while (!stack.empty()) {
        TExprOptimizerNode* node = stack.back();
        stack.pop_back();
        if (node->OptimisationLevel == olNone || node->NodeResultType != nrDynamic) continue;
        const TOrqExprNode* e = node->ExprNode;
        // BETWEEN: one scan from the low to the high value.
        if (e->Operator() == oeoAND && e->ParserToken().Token() == ostBetween && node->Left && node->Right &&
            node->Left->IndexInterface != nullptr && node->Left->IndexInterface == node->Right->IndexInterface &&
            node->Left->OptimisationLevel == olFull && node->Right->OptimisationLevel == olFull &&
            node->Left->ExprNode->Operator() == oeoGE && node->Right->ExprNode->Operator() == oeoLE) {
            node->RecordList.Clear();
            node->Left->IndexInterface->GetBetweenRecordList(oeoGE, node->Left->ExprNode->Right()->Data(),
                                                             node->RecordList,
                                                             node->Right->ExprNode->Right()->Data());
            // The node now answers from the index itself.
            node->IndexInterface = node->Left->IndexInterface;
            node->Left = node->Right = nullptr;
            continue;
        }
        if (node->IndexInterface != nullptr) {
            node->RecordList.Clear();
            if (e->Operator() == oeoIN) {
                // Each distinct value once: a repeated value adds no record twice.
                std::vector<Variant> seen;
                for (const TOrqExprNode* a : e->Args()) {
                    const Variant& v = a->Data();
                    if (std::any_of(seen.begin(), seen.end(), [&](const Variant& s) {
                            return VarType(s) == VarType(v) && TOrqOpEvaluator::IsTrue(
                                                                   FOpEvaluator.EvaluateRelopExprAsVar(oeoEQ, s, v, false));
                        }))
                        continue;
                    seen.push_back(v);
                    node->IndexInterface->GetRecordList(oeoEQ, v, node->RecordList, false);
                }
            } else {
                const Variant value = e->Right() != nullptr ? e->Right()->Data() : Null();
                const bool partial = e->Operator() == oeoLIKE || (e->Right() && e->Right()->PartialLength() > 0);
                node->IndexInterface->GetRecordList(e->Operator(), value, node->RecordList, partial);
            }
        }
        if (node->Right) stack.push_back(node->Right);
        if (node->Left) stack.push_back(node->Left);
    }
}

void TExprOptimizerMgr::CombineRecordLists(const TCompoundList& AllRecords) {
    if (FRoot == nullptr) return;
    if (RootIsFixedTrue()) {
        FRoot->RecordList = AllRecords;
        return;
    }
    CombineNode(FRoot, AllRecords);
}

bool TExprOptimizerMgr::RootIsFixedTrue() const {
    return FRoot != nullptr && FRoot->OptimisationLevel == olFull && FRoot->NodeResultType == nrFixedTrue;
}

void TExprOptimizerMgr::CombineNode(TExprOptimizerNode* Node, const TCompoundList& AllRecords) {
    if (Node->OptimisationLevel == olNone) return;
    if (Node->NodeResultType == nrFixedFalse) {
        Node->RecordList.Clear();
        return;
    }
    if (Node->NodeResultType == nrFixedTrue || Node->IndexInterface != nullptr) return;
    const TOrqExprOperator op = Node->ExprNode->Operator();
    if (op != oeoAND && op != oeoOR) return;
    // The sides that restrict: answered by an index and not known True.
    std::vector<TExprOptimizerNode*> sides;
    for (TExprOptimizerNode* side : {Node->Left, Node->Right}) {
        if (side == nullptr) continue;
        CombineNode(side, AllRecords);
        if (side->OptimisationLevel == olNone) continue;
        if (side->NodeResultType == nrFixedTrue || side->NodeResultType == nrFixedFalse) continue;
        sides.push_back(side);
    }
    Node->RecordList.Clear();
    if (sides.size() == 1) {
        Node->RecordList = std::move(sides[0]->RecordList);
        return;
    }
    if (sides.size() != 2) return;
    TCompoundList& a = sides[0]->RecordList;
    TCompoundList& b = sides[1]->RecordList;
    TCompoundList& small = a.Count() < b.Count() ? a : b;
    TCompoundList& big = &small == &a ? b : a;
    if (op == oeoAND)
        IntersectLists(small, big, Node->RecordList);
    else
        JoinLists(small, big, Node->RecordList);
}

int TExprOptimizerMgr::ExprTreeDepth(const TOrqExprNode* Root) {
    int deepest = 0;
    std::vector<std::pair<const TOrqExprNode*, int>> stack;
    if (Root != nullptr) stack.emplace_back(Root, 1);
    // Shared operands are walked once per parent; a filter's trees share only leaves.
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        if (depth > C_MAXFILTEREXPRDEPTH) break;
        if (node->Left() != nullptr) stack.emplace_back(node->Left(), depth + 1);
        if (node->Right() != nullptr) stack.emplace_back(node->Right(), depth + 1);
        for (const TOrqExprNode* a : node->Args())
            if (a != nullptr) stack.emplace_back(a, depth + 1);
    }
    return deepest;
}

int TExprOptimizerMgr::GetResultSetCount() const {
    Assert(FRoot != nullptr, "Assertion failure");
    return FRoot->RecordList.Count();
}

void TExprOptimizerMgr::AssessExprFieldLimits(TExprFieldLimits& Limits) const {
    if (FRoot == nullptr) return;
    const TOrqExprNode* e = FRoot->ExprNode;
    const TOrqExprNode* left = e->Left();
    const TOrqExprNode* right = e->Right();
    if (left == nullptr || right == nullptr) return;
    if (IsField(left) && AnsiSameText(VarToStr(left->Data()), Limits.FieldName)) {
        Limits.Assessed = false;
        const Variant& v = right->Data();
        const TOrqExprOperator op = e->Operator();
        if (op == oeoEQ || op == oeoGT || op == oeoGE) {
            if (!Limits.MinSet || v < Limits.Min) Limits.Min = v;
            Limits.MinSet = true;
            Limits.Assessed = true;
        }
        if (op == oeoEQ || op == oeoLT || op == oeoLE) {
            if (!Limits.MaxSet || v > Limits.Max) Limits.Max = v;
            Limits.MaxSet = true;
            Limits.Assessed = true;
        }
    } else if ((IsField(left) && AnsiSameText(VarToStr(left->Data()), Limits.FieldName)) ||
               (IsField(right) && AnsiSameText(VarToStr(right->Data()), Limits.FieldName))) {
        Limits.Assessed = false;
    }
}

void TExprOptimizerMgr::ListIndexRequests(TStrings& Strings) const {
    Strings.Clear();
    std::vector<const TExprOptimizerNode*> stack;
    if (FRoot) stack.push_back(FRoot);
    while (!stack.empty()) {
        const TExprOptimizerNode* node = stack.back();
        stack.pop_back();
        if (node->IndexInterface != nullptr)
            Strings.AddObject(C_STRCANOperator[node->ExprNode->Operator()],
                              reinterpret_cast<TObject*>(node->IndexInterface));
        if (node->Right) stack.push_back(node->Right);
        if (node->Left) stack.push_back(node->Left);
    }
}

// ---------------------------------------------------------------------------------------------
// TFilterOptimizer

TFilterOptimizer::TFilterOptimizer(TIndexQueryMgr* IndexQueryMgr) : FIndexQueryMgr(IndexQueryMgr) {}

bool TFilterOptimizer::AnalyzeExpr() {
    FMgr.Clear();
    FMgr.SetIndexQueryMgr(FIndexQueryMgr);
    FMgr.OptimizeExprTree(FExprRoot);
    if (TExprOptimizerMgr::ExprTreeDepth(FExprRoot) > C_MAXFILTEREXPRDEPTH) return false;
    FMgr.CreateOptimizerTree(FExprRoot);
    return true;
}

void TFilterOptimizer::PrepareResultLists() {
    Assert(FExprRoot != nullptr, "Expr root is not assigned");
    FMgr.PrepareRecordLists();
}

TOrqFilterOptimisationLevel TFilterOptimizer::GetBaseOptimisationLevel() const {
    return FMgr.Root() != nullptr ? FMgr.Root()->OptimisationLevel : olNone;
}

const TCompoundList* TFilterOptimizer::GetResultSetList() const {
    return FMgr.Root() != nullptr ? &FMgr.Root()->RecordList : nullptr;
}

bool TFilterOptimizer::AssessExprFieldLimits(TExprFieldLimits& Limits) const {
    FMgr.AssessExprFieldLimits(Limits);
    return true;
}

}  // namespace ostra
