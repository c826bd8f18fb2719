// orqFuncResult: the accumulators of a SELECT's aggregate columns.
//
// While the result set (orqQueryDataset.h) fills a grouped or aggregate result, every group row
// has one TFuncResultHolder, found by the record address of that row in the result table, and the
// holder has one TFuncResultItem per aggregate column. Each source row hands every aggregate
// column's argument to its item (SetNewValue); once the walk is over the items give the column
// values (CalculateNumericFuncResult).
//
// Running values are Variants, so the value kinds of the arguments are kept: SUM of integers is
// exact in 64 bits (a sum beyond that range becomes a float, as Variant addition does), SUM of
// Currency exact to the fourth decimal, SUM of floats a float, text read as a number (a text that
// is none raises 9645 "Aggregate column data conversion error"); MIN and MAX take any ordered kind,
// strings included, and compare strings under the collation the list was given (the result
// table's). A DISTINCT item keeps its distinct non-NULL values in an ordered set in memory under
// the same comparison.
//
// NULL and Empty. A NULL argument is ignored; so is Empty, which the evaluator yields for an
// expression it could not compute (an operand NULL further down, SUM(a + 1) with a NULL a). The
// one column that counts Empty is COUNT(*): its argument is the COUNT node itself, which the
// evaluator answers with Empty, so an item marked CountsRows counts every row whatever it is
// handed.
//
// An aggregate over no values gives 0 (an integer 0; the result column converts it), not NULL;
// a text column (MIN or MAX of strings) gives the empty string.
//
// Lookups. The list finds a holder by its group address through a hash map, and a holder finds
// its item by column number among its few items, so each source row costs O(columns).
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/sql/orqSQLTypes.h"
#include "engine/storage/orqCommon.h"
#include "host/Variant.h"
#include "host/db/DBTypes.h"

namespace ostra {

// Orders Variants for the distinct sets and for MIN and MAX: NULL first, strings with strings
// under Compare (a null Compare: byte order), every other pair as Variant comparison does; two
// values that Variant comparison cannot order (Empty, mixed kinds that fail) are ordered by their
// kind so that the order stays total.
class TFuncValueOrder {
public:
    explicit TFuncValueOrder(TDBStringCompareFunction Compare = nullptr) : FCompare(Compare) {}
    // Negative, 0 or positive as A sorts before, with or after B.
    int Compare(const Variant& A, const Variant& B) const;
    bool operator()(const Variant& A, const Variant& B) const { return Compare(A, B) < 0; }

private:
    TDBStringCompareFunction FCompare;
};

// The accumulator of one aggregate column in one group row.
class TFuncResultItem {
public:
    TFuncResultItem(int32_t FieldNo, TOrqSQLAggFunc AggFunc, bool Distinct, TFieldType DataType,
                    TDBStringCompareFunction Compare);
    ~TFuncResultItem();
    TFuncResultItem(const TFuncResultItem&) = delete;
    TFuncResultItem& operator=(const TFuncResultItem&) = delete;
    TFuncResultItem(TFuncResultItem&&) noexcept;
    TFuncResultItem& operator=(TFuncResultItem&&) noexcept;

    // Takes one argument value (see the file comment for NULL, Empty and DISTINCT).
    void SetNewValue(const Variant& Value);
    // The column's value: COUNT the values taken (the distinct ones for DISTINCT), SUM their
    // sum, AVG the sum divided by their count (a float), MIN and MAX the least and greatest;
    // 0 (the empty string for a text column) when no value was taken. Values that cannot be
    // added raise 9645 "Aggregate column data conversion error : " + the message (also from
    // SetNewValue).
    Variant CalculateNumericFuncResult() const;

    // The result column the item accumulates.
    int32_t FieldNo() const { return FFieldNo; }
    TOrqSQLAggFunc AggFunc() const { return FAggFunc; }
    bool Distinct() const { return FDistinct; }
    // Always empty: no item is qualified (kept out of the item, which every group carries).
    const std::string& CustomQualifier() const;
    // The data type of the result column.
    TFieldType DataType() const { return FDataType; }
    // The values taken (not counting NULL and Empty; every row for CountsRows). DISTINCT items
    // count in DistinctCount instead.
    int32_t Count() const { return FCount; }
    // The running value: the sum (SUM, AVG) or the extreme (MIN, MAX) so far; Empty before the
    // first value.
    const Variant& RunningValue() const { return FRunningValue; }
    // COUNT(*): every row counts, whatever value it hands in.
    bool CountsRows() const { return FCountsRows; }
    void SetCountsRows(bool Value) { FCountsRows = Value; }
    // The distinct non-NULL values taken by a DISTINCT item.
    int DistinctCount() const;

private:
    struct TDistinctValues;

    // Ordered for size: one item per aggregate column and group.
    int32_t FFieldNo;
    int32_t FCount = 0;
    TOrqSQLAggFunc FAggFunc;
    bool FDistinct;
    TFieldType FDataType;
    bool FCountsRows = false;
    Variant FRunningValue;
    TFuncValueOrder FOrder;
    std::unique_ptr<TDistinctValues> FDistinctValues;  // DISTINCT items only
};

// The accumulators of one group row.
class TFuncResultHolder {
public:
    TFuncResultHolder();
    ~TFuncResultHolder();
    TFuncResultHolder(const TFuncResultHolder&) = delete;
    TFuncResultHolder& operator=(const TFuncResultHolder&) = delete;

    // A new item for the result column FieldNo (Name and Size describe the column; they are kept
    // for messages only). Compare orders strings for MIN, MAX and DISTINCT. The holder's items
    // may move: pointers to them hold until the next add.
    TFuncResultItem* AddNewResultItem(const std::string& Name, int32_t FieldNo, int32_t Size,
                                      TFieldType DataType, TOrqSQLAggFunc AggFunc, bool Distinct,
                                      TDBStringCompareFunction Compare = nullptr);
    // Room for Count items, so that adding that many allocates once.
    void ReserveItems(int Count) { FItems.reserve(size_t(Count)); }
    // The item of column FieldNo; null when none.
    TFuncResultItem* FindFuncResultItem(int32_t FieldNo) const;
    int Count() const { return int(FItems.size()); }
    TFuncResultItem* Items(int Index) { return &FItems.at(size_t(Index)); }
    const TFuncResultItem* Items(int Index) const { return &FItems.at(size_t(Index)); }

    // The record address of the group row in the result table.
    uint32_t Addr() const { return FAddr; }
    void SetAddr(uint32_t Value) { FAddr = Value; }
    // A name for the holder: the list's base name followed by the address in decimal.
    const std::string& BaseTableName() const { return FBaseTableName; }
    void SetBaseTableName(const std::string& Value) { FBaseTableName = Value; }

private:
    // Held by value: a holder is one group's few items in one block.
    std::vector<TFuncResultItem> FItems;
    uint32_t FAddr = 0;
    std::string FBaseTableName;
};

// The holders of one aggregate fill, by group row address.
class TFuncResultList {
public:
    TFuncResultList();
    ~TFuncResultList();
    TFuncResultList(const TFuncResultList&) = delete;
    TFuncResultList& operator=(const TFuncResultList&) = delete;

    // The holder of the group row at Addr, added when missing; then a new item in it (see
    // TFuncResultHolder::AddNewResultItem; the list's string comparison is used).
    TFuncResultItem* AddNewResultItem(const std::string& Name, uint32_t Addr, int32_t FieldNo, int32_t Size,
                                      TFieldType DataType, TOrqSQLAggFunc AggFunc, bool Distinct);
    // The item (Addr, FieldNo) takes Value. EAssertionFailed "Aggregate result item not found"
    // when there is none.
    void SetNewValue(uint32_t Addr, int32_t FieldNo, const Variant& Value);
    // Value := the result of the item (Addr, FieldNo); false (Value Null) when there is none.
    bool GetFuncResult(uint32_t Addr, int32_t FieldNo, Variant& Value) const;
    // The item (Addr, FieldNo); null when none.
    TFuncResultItem* FindFuncResultItem(uint32_t Addr, int32_t FieldNo) const;
    // The holder of Addr; null when none.
    TFuncResultHolder* GetHolder(uint32_t Addr) const;
    // The holder of Addr, added (Addr and BaseTableName set) when missing.
    TFuncResultHolder* AddHolder(uint32_t Addr);
    int Count() const { return int(FHolders.size()); }
    // Calls Visit with every holder, in the order they were added.
    template <typename F>
    void ForEach(F&& Visit) {
        for (TFuncResultHolder& holder : FHolders) Visit(holder);
    }
    // Frees every holder.
    void Clear();

    // Empty: a holder's BaseTableName is its address in decimal.
    const std::string& BaseTableName() const { return FBaseTableName; }
    // The string comparison new items use.
    TDBStringCompareFunction StringCompare() const { return FStringCompare; }
    void SetStringCompare(TDBStringCompareFunction Value) { FStringCompare = Value; }

private:
    // Holders are built in place, one per group, and found by address through the map.
    std::deque<TFuncResultHolder> FHolders;
    std::unordered_map<uint32_t, TFuncResultHolder*> FByAddr;
    std::string FBaseTableName;
    TDBStringCompareFunction FStringCompare = nullptr;
};

}  // namespace ostra
