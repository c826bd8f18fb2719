// orqQueryDataset: the result columns, the result table's creation, the fills, HAVING and the
// address lists of TOrqQueryDataset (the writes are in orqQueryDatasetWrite.cpp).
#include "engine/components/orqQueryDataset.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <unordered_map>

#include "engine/components/orqFilterMgr.h"
#include "engine/components/orqFuncResult.h"
#include "engine/sql/orqExprEvaluator.h"
#include "engine/sql/orqSelectAnalyser.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexUnit.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/Lists.h"
#include "host/Streams.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"

namespace ostra {

// ---------------------------------------------------------------------------------------------
// TResultSetField, TResultSetFields

TResultSetField::TResultSetField(TCollection* ACollection) : TJoinFieldItem(ACollection) {}

void TResultSetField::Assign(const TPersistent* Source) {
    TJoinFieldItem::Assign(Source);
    if (const auto* src = dynamic_cast<const TResultSetField*>(Source)) {
        FSelectFieldItem = src->FSelectFieldItem;
        FData = src->FData;
    }
}

TResultSetFields::TResultSetFields(TPersistent* AOwner)
    : TJoinFields(ItemClassOf<TResultSetField>(), AOwner) {}

TResultSetField* TResultSetFields::Add() {
    return static_cast<TResultSetField*>(TJoinFields::Add());
}

TResultSetField* TResultSetFields::GetItems(int Position) const {
    return static_cast<TResultSetField*>(TJoinFields::GetItems(Position));
}

void TResultSetFields::SetItems(int Position, const TResultSetField* Item) {
    TJoinFields::SetItems(Position, Item);
}

TResultSetField* TResultSetFields::FindResultSetField(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i) {
        TResultSetField* field = GetItems(i);
        if (AnsiSameText(field->FieldName(), Name)) return field;
        const TSelectFieldItem* item = field->SelectFieldItem();
        if (item != nullptr &&
            (AnsiSameText(item->SourceFieldName(), Name) || AnsiSameText(item->FieldName(), Name) ||
             AnsiSameText(Trim(item->RawColumnName()), Name)))
            return field;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TOrqQueryDataset

TOrqQueryDataset::TOrqQueryDataset(TComponent* AOwner) : TOrqBaseTable(AOwner) {}

TOrqQueryDataset::~TOrqQueryDataset() = default;

// ---------------------------------------------------------------------------------------------
// The result table

namespace {

// A refill empties a result of at most this many rows record by record (cheaper than new index
// trees); a larger one is emptied whole.
constexpr int CInPlaceEmptyRows = 64;

}  // namespace

void TOrqQueryDataset::PrepareEmptyResultSet(bool StructureCreated) {
    Assert(FieldDefs().Count() > 0, "Field defs are not prepared in TOrqQueryDataset.CreateResultSet");
    if (!Memory()) {
        if (Active()) Close();
        SetMemory(true);
    }
    if (TableName().empty()) SetTableName(C_DEFAULTRESULTTABLENAME);
    // A disconnection drops every in-memory table: a result table made before one is made again.
    if (!StructureCreated || (!Active() && !GetExists())) {
        CreateResultSetTable();
        return;
    }
    if (!Active()) Open();
    // The open cursor stays: a small result loses its rows without new index trees.
    CheckBrowseMode();
    DataSetEmptyTableInPlace(CInPlaceEmptyRows);
    First();
}

void TOrqQueryDataset::CreateResultSetTable() {
    CheckInactive();
    InternalPrepareTableDef();
    if (FCreateLiveResult) {
        TInternalFields& layout = *TableDefinition().InternalFields();
        for (const char* name : {C_RECADDRFIELD, C_RECMODFLAGFIELD})
            if (TInternalFieldItem* field = layout.FindField(name)) field->SetHidden(true);
    }
    InternalCreateTable();
}

void TOrqQueryDataset::StartFill() {
    if (!Active()) {
        Open();
        FOpenedIndexName = IndexName();
        return;
    }
    // Emptied in place: only the index of the last fill's reading goes back to the one the
    // dataset opened on.
    if (IndexName() != FOpenedIndexName) InternalSetIndexName(FOpenedIndexName);
}

void TOrqQueryDataset::FinishFill() {
    // The result is read in ORDER BY order when there is one.
    if (IndexName() != C_IDXORDERBY && FindIndexDefByName(C_IDXORDERBY) != nullptr)
        InternalSetIndexName(C_IDXORDERBY);
    FRowsAffected = GetTotalRecordCount();
    First();
}

TOrqNonJoinDataProvider* TOrqQueryDataset::SingleTableRoot() const {
    return FProviderMgr ? dynamic_cast<TOrqNonJoinDataProvider*>(FProviderMgr->RootProvider()) : nullptr;
}

void TOrqQueryDataset::StoreVariant(int FieldNo, const Variant& Value) {
    // Empty is the evaluator's "unknown": stored as NULL.
    const Variant value = VarIsEmpty(Value) ? Null() : Value;
    if (IsFieldBlob(FieldNo))
        SetResultSetFieldFromVariant(FieldNo, value);
    else
        DataSetSetFieldDataToRecBufAsVariant(RecordBuffer(), FieldNo, value);
}

void TOrqQueryDataset::StoreColumn(TJoinFieldItem& Field, int FieldNo, TDataHolder& Holder) {
    if (Field.Evaluator().IsPrepared()) {
        StoreVariant(FieldNo, Field.Evaluator().EvaluateValueExpr());
        return;
    }
    TOrqBaseJoinDataProvider* provider = Field.DataProvider();
    if (provider == nullptr || Field.SourceFieldNo() < 0) {
        StoreVariant(FieldNo, Null());
        return;
    }
    provider->GetRawFieldData(Field.SourceFieldNo(), Holder);
    if (!IsFieldBlob(FieldNo)) {
        DataSetSetFieldDataToRecBuf(FieldNo, Holder.Length, Holder.IsNull, RecordBuffer(), Holder.Data);
    } else if (Holder.IsNull) {
        // Also the NULL side of an outer join, whose holder carries no stream.
        DataSetSetFieldStream(FieldNo, true, nullptr);
    } else if (Holder.UsesStream) {
        Holder.Stream().SetPosition(0);
        DataSetSetFieldStream(FieldNo, false, &Holder.Stream());
    } else {
        StoreVariant(FieldNo, provider->GetDataAsVariant(Field.SourceFieldNo()));
    }
}

bool TOrqQueryDataset::KeyExists(const std::string& IndexName, uint32_t* Address) {
    TSearchModifier modifier;
    modifier.SetLimitedSearch(true);
    if (InternalSearchOnly(RecordBuffer(), stEQ, IndexName, &modifier) != 0) return false;
    if (Address != nullptr) *Address = IndexMgr().FindIndex(IndexName)->GetRecordAddress();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The locks of a fill

class TOrqQueryDataset::TFillScope {
public:
    TFillScope(TOrqQueryDataset& Result, bool BulkAdding)
        : FResult(Result), FSources(*Result.FProviderMgr), FLocked(!Result.WriteLocked()) {
        if (FLocked) Result.LockTable();
        Result.SetBulkAdding(BulkAdding);
    }
    ~TFillScope() {
        FResult.SetBulkAdding(false);
        if (!FLocked) return;
        try {
            FResult.UnlockTable();
        } catch (...) {
        }
    }
    TFillScope(const TFillScope&) = delete;
    TFillScope& operator=(const TFillScope&) = delete;

private:
    TOrqQueryDataset& FResult;
    TOrqJoinDataProviderMgr::TWalkLocks FSources;
    bool FLocked;
};

// ---------------------------------------------------------------------------------------------
// Plain fill

void TOrqQueryDataset::PopulateResultSet(TJoinFields& Fields, bool Distinct) {
    Assert(FProviderMgr != nullptr, "Provider manager is not assigned");
    StartFill();
    TOrqDatasetBridge* bridge = nullptr;
    if (FCreateLiveResult) {
        TOrqNonJoinDataProvider* root = SingleTableRoot();
        Assert(root != nullptr && root->DataBridge() != nullptr, "CreateLiveResult request is invalid");
        bridge = root->DataBridge();
    }
    const int columns = Fields.Count();
    {
        TFillScope scope(*this, true);
        TDataHolder holder;
        int32_t added = 0;
        for (bool ok = FProviderMgr->FirstProviderRecord(); ok; ok = FProviderMgr->NextProviderRecord()) {
            ClearRecord(nullptr);
            for (int i = 0; i < columns; ++i) StoreColumn(*Fields.GetItems(i), i, holder);
            if (bridge != nullptr) {
                DataSetSetFieldDataToRecBufAsVariant(RecordBuffer(), columns,
                                                     Variant(int32_t(bridge->GetRecAddr())));
                DataSetSetFieldDataToRecBufAsVariant(RecordBuffer(), columns + 1,
                                                     Variant(int32_t(bridge->GetRecModFlag())));
            }
            if (Distinct && KeyExists(C_IDXDISTINCT, nullptr)) continue;
            AddRecord(false);
            ++added;
            if (FMaxRecords > 0 && added >= FMaxRecords) break;
        }
    }
    FinishFill();
}

// ---------------------------------------------------------------------------------------------
// Aggregate fill

namespace {

// COUNT(*): the select parser makes the COUNT node itself the column's expression.
bool IsCountAll(const TSelectFieldItem* Item) {
    if (Item == nullptr || Item->AggFunc() != oafCount) return false;
    const TOrqExprNode* root = Item->ExprRoot();
    return root != nullptr && root->ParserToken().Token() == ostAggFunc && root->Args().empty();
}

bool IsAggregateColumn(const TResultSetField* Field) {
    return Field->SelectFieldItem() != nullptr && Field->SelectFieldItem()->HasAggregateFunction();
}

}  // namespace

void TOrqQueryDataset::PopulateSimpleCountResultSet() {
    TOrqDatasetBridge* bridge = SingleTableRoot()->DataBridge();
    const int count = bridge->GetBridgeRecordCount();
    ClearRecord(nullptr);
    DataSetSetFieldDataToRecBufAsVariant(RecordBuffer(), 0, Variant(int32_t(count)));
    AddRecord(false);
    FinishFill();
    FRowsAffected = 1;
}

namespace {

// The group key of a record buffer in a form whose bytes are equal exactly when "idxgroupby"
// finds the keys equal, so that groups are found by hashing instead of searching the index.
// Usable only when every key field compares that way: integers, booleans and numbers (0 and -0,
// and every NaN, are made alike), and strings under the case-sensitive dictionary order, which
// calls only identical strings equal.
class TExactGroupKey {
public:
    TExactGroupKey(const TIndexItem* Index, TDBStringCompareFunction Compare) {
        if (Index == nullptr || Index->KeyFields() == nullptr) return;
        const TKeyFields& keys = *Index->KeyFields();
        for (int i = 0; i < keys.Count(); ++i) {
            const TKeyFieldItem* field = keys.GetIndex(i);
            const TFieldType type = field->DataType();
            const bool text = type == ftString && Compare == DBANSICompareStrings && !field->CaseInsensitive() &&
                              field->SizeMarkerOffset() > 0;
            if (field->PhysicalFieldNo() < 0 || (!text && FixedValueSize(type) == 0)) return;
            FFields.push_back(field);
        }
        FUsable = !FFields.empty();
    }

    bool Usable() const { return FUsable; }

    // Key := the exact form of Record's key.
    void Build(const uint8_t* Record, std::string& Key) const {
        Key.clear();
        for (const TKeyFieldItem* field : FFields) {
            if (Record[field->NullFlagOffset()] != 1) {
                Key.push_back('\0');
                continue;
            }
            Key.push_back('\1');
            const uint8_t* value = Record + field->RecBufOffset();
            switch (field->DataType()) {
                case ftString: {
                    uint16_t length = 0;
                    std::memcpy(&length, Record + field->SizeMarkerOffset(), sizeof length);
                    length = uint16_t(std::min<int>(length, field->FieldSize()));
                    Key.append(reinterpret_cast<const char*>(&length), sizeof length);
                    Key.append(reinterpret_cast<const char*>(value), length);
                    break;
                }
                case ftBoolean:
                    Key.push_back(value[0] != 0 ? '\1' : '\0');
                    break;
                case ftFloat:
                case ftCurrency:
                case ftDate:
                case ftTime:
                case ftDateTime: {
                    double number;
                    std::memcpy(&number, value, sizeof number);
                    if (number == 0) number = 0;
                    if (std::isnan(number)) number = std::numeric_limits<double>::quiet_NaN();
                    Key.append(reinterpret_cast<const char*>(&number), sizeof number);
                    break;
                }
                default:
                    Key.append(reinterpret_cast<const char*>(value), size_t(FixedValueSize(field->DataType())));
                    break;
            }
        }
    }

private:
    std::vector<const TKeyFieldItem*> FFields;
    bool FUsable = false;
};

}  // namespace

void TOrqQueryDataset::PopulateAggregateResultSet(TResultSetFields& Fields, bool Grouped,
                                                  bool CountFromFilter) {
    Assert(FProviderMgr != nullptr, "Provider manager is not assigned");
    StartFill();
    const int columns = Fields.Count();
    if (CountFromFilter && !Grouped && columns == 1 && IsCountAll(Fields.GetItems(0)->SelectFieldItem()) &&
        !Fields.GetItems(0)->SelectFieldItem()->DistinctQuantifier() && SingleTableRoot() != nullptr &&
        SingleTableRoot()->DataBridge() != nullptr) {
        PopulateSimpleCountResultSet();
        return;
    }

    // Which columns aggregate, and what each holder's items look like.
    std::vector<bool> isAggregate(static_cast<size_t>(columns), false);
    std::vector<int> aggregates;
    for (int i = 0; i < columns; ++i) {
        isAggregate[size_t(i)] = IsAggregateColumn(Fields.GetItems(i));
        if (isAggregate[size_t(i)]) aggregates.push_back(i);
    }
    TFuncResultList list;
    list.SetStringCompare(StringCompare());
    // A holder's accumulators, one per aggregate column.
    auto addItems = [&](TFuncResultHolder* holder) {
        holder->ReserveItems(int(aggregates.size()));
        for (int i : aggregates) {
            TResultSetField& field = *Fields.GetItems(i);
            const TSelectFieldItem* item = field.SelectFieldItem();
            TFuncResultItem* acc =
                holder->AddNewResultItem(item->RawColumnName(), i, field.FieldSize(), field.DataType(),
                                         item->AggFunc(), item->DistinctQuantifier(), list.StringCompare());
            acc->SetCountsRows(IsCountAll(item));
        }
        return holder;
    };
    // The accumulators of the group row at Addr.
    auto addAccumulators = [&](uint32_t Addr) { return addItems(list.AddHolder(Addr)); };
    auto accumulate = [&](TFuncResultHolder& Holder) {
        for (int k = 0; k < int(aggregates.size()); ++k) {
            TResultSetField& field = *Fields.GetItems(aggregates[size_t(k)]);
            TFuncResultItem* acc = Holder.Items(k);
            if (acc->CountsRows()) {
                acc->SetNewValue(Variant());
            } else if (field.Evaluator().IsPrepared()) {
                acc->SetNewValue(field.Evaluator().EvaluateValueExpr());
            } else if (field.DataProvider() != nullptr && field.SourceFieldNo() >= 0) {
                acc->SetNewValue(field.DataProvider()->GetDataAsVariant(field.SourceFieldNo()));
            }
        }
    };
    auto startGroup = [&](int32_t& Groups) {
        ++Groups;
        if (FMaxRecords > 0 && Groups > FMaxRecords)
            OrqDatabaseErrorFmt(9645, "TOrqQueryDataset", "Result set limit of %d has been exceeded", {FMaxRecords},
                                this);
    };
    // The final values of Holder's aggregates go into the record buffer.
    TExprEvaluator final;
    final.SetDBStringCompare(StringCompare());
    final.SetExcludeRelopNulls(true);
    auto storeResults = [&](const TFuncResultHolder& Holder) {
        for (int k = 0; k < int(aggregates.size()); ++k) {
            const int i = aggregates[size_t(k)];
            TResultSetField& field = *Fields.GetItems(i);
            Variant value = Holder.Items(k)->CalculateNumericFuncResult();
            if (const TOrqExprNode* around = field.SelectFieldItem()->AggExprRoot()) {
                // The expression around the aggregate, computed on its final value.
                TOrqExpr clone;
                clone.CloneFromTree(around);
                clone.ResetSpecifiedNodes(ostAggFunc, ostValue, enkConst, oeoCONST2, value);
                final.Prepare(field.DataProvider(), clone.FirstNode());
                Assert(final.IsPrepared(), "AggFunc final evaluator is not prepared");
                value = final.EvaluateValueExpr();
                final.Clear();
            }
            StoreVariant(i, value);
        }
    };

    const bool hasGroupIndex = Grouped && FindIndexDefByName(C_IDXGROUPBY) != nullptr;
    const std::string groupIndex = hasGroupIndex ? std::string(C_IDXGROUPBY) : IndexName();
    const TExactGroupKey exactKey(hasGroupIndex ? IndexMgr().FindIndex(C_IDXGROUPBY) : nullptr, StringCompare());
    int32_t groups = 0;
    TDataHolder data;
    auto storeGroupColumns = [&] {
        ClearRecord(nullptr);
        for (int i = 0; i < columns; ++i)
            if (!isAggregate[size_t(i)]) StoreColumn(*Fields.GetItems(i), i, data);
    };

    if (Grouped && exactKey.Usable()) {
        // Groups are found by their exact key and kept in memory; their rows are added once the
        // walk is over, with their final values.
        std::unordered_map<std::string, int32_t> groupOf;
        std::deque<TFuncResultHolder> holders;
        // The group rows, in blocks that never move.
        std::vector<std::unique_ptr<uint8_t[]>> rowBlocks;
        const size_t rowSize = size_t(RecordBufferSize());
        const size_t rowsPerBlock = std::max<size_t>(1, (size_t(64) << 10) / rowSize);
        auto row = [&](int32_t Group) {
            return rowBlocks[size_t(Group) / rowsPerBlock].get() + size_t(Group) % rowsPerBlock * rowSize;
        };
        std::string key;
        {
            TOrqJoinDataProviderMgr::TWalkLocks locks(*FProviderMgr);
            for (bool ok = FProviderMgr->FirstProviderRecord(); ok; ok = FProviderMgr->NextProviderRecord()) {
                storeGroupColumns();
                exactKey.Build(RecordBuffer(), key);
                const auto [group, added] = groupOf.try_emplace(key, groups);
                if (added) {
                    startGroup(groups);
                    if (size_t(groups) > rowBlocks.size() * rowsPerBlock)
                        rowBlocks.push_back(std::make_unique<uint8_t[]>(rowsPerBlock * rowSize));
                    std::memcpy(row(groups - 1), RecordBuffer(), rowSize);
                    addItems(&holders.emplace_back());
                }
                accumulate(holders[size_t(group->second)]);
            }
        }
        // The keys are not needed any more: their memory goes back before the rows are added.
        std::unordered_map<std::string, int32_t>().swap(groupOf);
        TFillScope scope(*this, true);
        for (int32_t g = 0; g < groups; ++g) {
            std::memcpy(RecordBuffer(), row(g), rowSize);
            storeResults(holders[size_t(g)]);
            AddRecord(false);
        }
    } else {
        TFuncResultHolder* single = nullptr;
        {
            TFillScope scope(*this, false);
            if (!Grouped) {
                ClearRecord(nullptr);
                AddRecord(false);
                groups = 1;
                single = addAccumulators(DatasetGetRecAddr());
            }
            for (bool ok = FProviderMgr->FirstProviderRecord(); ok; ok = FProviderMgr->NextProviderRecord()) {
                TFuncResultHolder* holder = single;
                if (Grouped) {
                    storeGroupColumns();
                    uint32_t addr = 0;
                    if (KeyExists(groupIndex, &addr)) {
                        holder = list.GetHolder(addr);
                    } else {
                        startGroup(groups);
                        AddRecord(false);
                        holder = aggregates.empty() ? nullptr : addAccumulators(DatasetGetRecAddr());
                    }
                }
                if (holder != nullptr) accumulate(*holder);
            }
            // The final values go into the group rows.
            if (!aggregates.empty())
                list.ForEach([&](TFuncResultHolder& Holder) {
                    DataSetSetToUnorderedRecord(Holder.Addr());
                    storeResults(Holder);
                    UpdateRecord();
                });
        }
    }
    FinishFill();
}

// ---------------------------------------------------------------------------------------------
// HAVING, address lists, read-only columns

void TOrqQueryDataset::ProcessHavingClause(const TOrqExprNode* Root) {
    if (Root == nullptr) return;
    if (!Active()) Open();
    TOrqExprDBDataProvider& provider = RowProvider();
    provider.SetReadDataFromRecBuf(true);
    TExprEvaluator evaluator;
    evaluator.SetDBStringCompare(StringCompare());
    evaluator.SetExcludeRelopNulls(true);
    evaluator.Prepare(&provider, Root);
    std::vector<uint32_t> addresses;
    LoadAddresses(addresses);
    for (uint32_t addr : addresses) {
        DataSetSetToUnorderedRecord(addr);
        evaluator.Reset();
        if (!evaluator.Evaluate()) DeleteRecord(nullptr);
    }
    FinishFill();
}

void TOrqQueryDataset::PopulateResultSetAddrList(std::vector<uint32_t>& List) {
    TOrqNonJoinDataProvider* root = SingleTableRoot();
    Assert(root != nullptr && root->DataBridge() != nullptr, "RootProvider type is incorrect");
    List.clear();
    TOrqJoinDataProviderMgr::TWalkLocks locks(*FProviderMgr);
    for (bool ok = root->FirstProviderRecord(); ok; ok = root->NextProviderRecord())
        List.push_back(root->DataBridge()->GetRecAddr());
}

void TOrqQueryDataset::SetReadOnlyResultFields(TJoinFields& Fields) {
    for (int i = 0; i < Fields.Count() && i < FieldCount(); ++i)
        if (Fields.GetItems(i)->Evaluator().IsPrepared()) this->Fields()[i]->SetReadOnly(true);
}

void TOrqQueryDataset::LoadAddresses(std::vector<uint32_t>& Addresses) {
    TList list;
    LoadCompleteListOfRecords(list);
    Addresses.clear();
    Addresses.reserve(size_t(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        Addresses.push_back(uint32_t(reinterpret_cast<uintptr_t>(list.Items(i))));
}

TOrqExprDBDataProvider& TOrqQueryDataset::RowProvider() {
    if (!FRowProvider) FRowProvider = std::make_unique<TOrqExprDBDataProvider>();
    FRowProvider->Initialize(this);
    return *FRowProvider;
}

}  // namespace ostra
