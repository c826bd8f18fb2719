// orqFuncResult: aggregate accumulators (see the header for the rules on kinds, NULL and Empty).
#include "engine/components/orqFuncResult.h"

#include <set>

#include "engine/storage/orqErrors.h"
#include "host/Exceptions.h"

namespace ostra {

namespace {

bool IsTextType(TFieldType T) {
    return T == ftString || T == ftWideString || T == ftMemo || T == ftFmtMemo;
}

// A rank per kind, for pairs that Variant comparison cannot order.
int KindRank(const Variant& V) {
    if (VarIsNull(V)) return 0;
    if (VarIsEmpty(V)) return 1;
    if (VarType(V) == varString) return 3;
    return 2;
}

[[noreturn]] void RaiseConversionError(const std::string& Message) {
    OrqDatabaseError(9645, "TOrqQueryDataset", "Aggregate column data conversion error : " + Message,
                     nullptr);
}

// A value as SUM and AVG add it: text is read as a number (Variant addition would join texts).
Variant Addend(const Variant& V) {
    if (VarType(V) != varString) return V;
    try {
        return Variant(V.AsDouble());
    } catch (const Exception& e) {
        RaiseConversionError(e.what());
    }
}

// A + B for SUM and AVG.
Variant Add(const Variant& A, const Variant& B) {
    try {
        return A + Addend(B);
    } catch (const EOrqDatabaseError&) {
        throw;
    } catch (const Exception& e) {
        RaiseConversionError(e.what());
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TFuncValueOrder

int TFuncValueOrder::Compare(const Variant& A, const Variant& B) const {
    const bool aText = VarType(A) == varString;
    const bool bText = VarType(B) == varString;
    if (aText && bText) {
        const std::string a = A.AsString();
        const std::string b = B.AsString();
        if (FCompare != nullptr)
            return FCompare(a.data(), b.data(), int(a.size()), int(b.size()), false, false);
        return a.compare(b);
    }
    const int ra = KindRank(A), rb = KindRank(B);
    if (ra != 2 || rb != 2) return ra - rb;
    try {
        switch (VarCompareValue(A, B)) {
            case vrEqual:
                return 0;
            case vrLessThan:
                return -1;
            case vrGreaterThan:
                return 1;
            case vrNotEqual:
                break;
        }
    } catch (const Exception&) {
    }
    // Unordered (a NaN): by kind code, so that the order stays total.
    return int(VarType(A)) - int(VarType(B));
}

// ---------------------------------------------------------------------------------------------
// TFuncResultItem

struct TFuncResultItem::TDistinctValues {
    explicit TDistinctValues(const TFuncValueOrder& Order) : Values(Order) {}
    std::set<Variant, TFuncValueOrder> Values;
};

TFuncResultItem::TFuncResultItem(int32_t FieldNo, TOrqSQLAggFunc AggFunc, bool Distinct, TFieldType DataType,
                                 TDBStringCompareFunction Compare)
    : FFieldNo(FieldNo), FAggFunc(AggFunc), FDistinct(Distinct), FDataType(DataType), FOrder(Compare) {
    if (FDistinct) FDistinctValues = std::make_unique<TDistinctValues>(FOrder);
}

TFuncResultItem::~TFuncResultItem() = default;

const std::string& TFuncResultItem::CustomQualifier() const {
    static const std::string none;
    return none;
}
TFuncResultItem::TFuncResultItem(TFuncResultItem&&) noexcept = default;
TFuncResultItem& TFuncResultItem::operator=(TFuncResultItem&&) noexcept = default;

int TFuncResultItem::DistinctCount() const {
    return FDistinctValues ? int(FDistinctValues->Values.size()) : 0;
}

void TFuncResultItem::SetNewValue(const Variant& Value) {
    if (FCountsRows) {
        ++FCount;
        return;
    }
    if (VarIsNull(Value) || VarIsEmpty(Value)) return;
    if (FDistinct) {
        FDistinctValues->Values.insert(Value);
        return;
    }
    if (FAggFunc != oafCount) {
        const bool adds = FAggFunc == oafSum || FAggFunc == oafAvg;
        if (FCount == 0) {
            FRunningValue = adds ? Addend(Value) : Value;
        } else {
            switch (FAggFunc) {
                case oafSum:
                case oafAvg:
                    FRunningValue = Add(FRunningValue, Value);
                    break;
                case oafMax:
                    if (FOrder.Compare(Value, FRunningValue) > 0) FRunningValue = Value;
                    break;
                case oafMin:
                    if (FOrder.Compare(Value, FRunningValue) < 0) FRunningValue = Value;
                    break;
                default:
                    break;
            }
        }
    }
    ++FCount;
}

Variant TFuncResultItem::CalculateNumericFuncResult() const {
    Variant sum;
    int32_t count = FCount;
    if (FDistinct) {
        const auto& values = FDistinctValues->Values;
        count = int32_t(values.size());
        if (FAggFunc == oafCount) return Variant(count);
        if (count == 0) return IsTextType(FDataType) ? Variant(std::string()) : Variant(0);
        if (FAggFunc == oafMin) return *values.begin();
        if (FAggFunc == oafMax) return *values.rbegin();
        for (const Variant& v : values) sum = VarIsEmpty(sum) ? Addend(v) : Add(sum, v);
    } else {
        if (FAggFunc == oafCount) return Variant(count);
        if (count == 0) return IsTextType(FDataType) ? Variant(std::string()) : Variant(0);
        sum = FRunningValue;
    }
    if (FAggFunc != oafAvg) return sum;
    try {
        return Variant(sum.AsDouble() / double(count));
    } catch (const Exception& e) {
        RaiseConversionError(e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// TFuncResultHolder

TFuncResultHolder::TFuncResultHolder() = default;
TFuncResultHolder::~TFuncResultHolder() = default;

TFuncResultItem* TFuncResultHolder::AddNewResultItem(const std::string& /*Name*/, int32_t FieldNo,
                                                     int32_t /*Size*/, TFieldType DataType,
                                                     TOrqSQLAggFunc AggFunc, bool Distinct,
                                                     TDBStringCompareFunction Compare) {
    return &FItems.emplace_back(FieldNo, AggFunc, Distinct, DataType, Compare);
}

TFuncResultItem* TFuncResultHolder::FindFuncResultItem(int32_t FieldNo) const {
    for (const TFuncResultItem& item : FItems)
        if (item.FieldNo() == FieldNo) return const_cast<TFuncResultItem*>(&item);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TFuncResultList

TFuncResultList::TFuncResultList() = default;
TFuncResultList::~TFuncResultList() = default;

TFuncResultHolder* TFuncResultList::GetHolder(uint32_t Addr) const {
    const auto it = FByAddr.find(Addr);
    return it == FByAddr.end() ? nullptr : it->second;
}

TFuncResultHolder* TFuncResultList::AddHolder(uint32_t Addr) {
    auto [slot, added] = FByAddr.try_emplace(Addr, nullptr);
    if (added) {
        TFuncResultHolder& holder = FHolders.emplace_back();
        holder.SetAddr(Addr);
        holder.SetBaseTableName(FBaseTableName + std::to_string(Addr));
        slot->second = &holder;
    }
    return slot->second;
}

TFuncResultItem* TFuncResultList::AddNewResultItem(const std::string& Name, uint32_t Addr, int32_t FieldNo,
                                                   int32_t Size, TFieldType DataType, TOrqSQLAggFunc AggFunc,
                                                   bool Distinct) {
    return AddHolder(Addr)->AddNewResultItem(Name, FieldNo, Size, DataType, AggFunc, Distinct,
                                             FStringCompare);
}

TFuncResultItem* TFuncResultList::FindFuncResultItem(uint32_t Addr, int32_t FieldNo) const {
    const TFuncResultHolder* holder = GetHolder(Addr);
    return holder ? holder->FindFuncResultItem(FieldNo) : nullptr;
}

void TFuncResultList::SetNewValue(uint32_t Addr, int32_t FieldNo, const Variant& Value) {
    TFuncResultItem* item = FindFuncResultItem(Addr, FieldNo);
    Assert(item != nullptr, "Aggregate result item not found");
    item->SetNewValue(Value);
}

bool TFuncResultList::GetFuncResult(uint32_t Addr, int32_t FieldNo, Variant& Value) const {
    const TFuncResultItem* item = FindFuncResultItem(Addr, FieldNo);
    if (item == nullptr) {
        Value = Null();
        return false;
    }
    Value = item->CalculateNumericFuncResult();
    return true;
}

void TFuncResultList::Clear() {
    FByAddr.clear();
    FHolders.clear();
}

}  // namespace ostra
