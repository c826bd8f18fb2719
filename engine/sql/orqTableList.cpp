// Table references and the table list (see orqTableList.h).
#include "engine/sql/orqTableList.h"

#include "host/Collation.h"

namespace ostra {

// --- TTableNameItem --------------------------------------------------------------------------

void TTableNameItem::Assign(const TPersistent* Source) {
    const auto* item = dynamic_cast<const TTableNameItem*>(Source);
    if (item == nullptr) {
        TPersistent::Assign(Source);
        return;
    }
    if (item == this) return;
    FTableName = item->FTableName;
    FCorrelationName = item->FCorrelationName;
    SetTableFields(item->FTableFields.get());
    FMemory = item->FMemory;
    FMemorySpecified = item->FMemorySpecified;
    FInCorrelatedSubquery = item->FInCorrelatedSubquery;
    FCorrelatedSubqueryID = item->FCorrelatedSubqueryID;
}

void TTableNameItem::SetTableFields(const IOrqTableFields* Fields) {
    if (Fields == FTableFields.get()) return;
    FTableFields = Fields ? Fields->Clone() : nullptr;
}

bool TTableNameItem::HasField(const std::string& Name) const {
    return FTableFields && FTableFields->IndexOfField(Name) >= 0;
}

int TTableNameItem::GetFieldSize(const std::string& Name) const {
    const int i = FTableFields ? FTableFields->IndexOfField(Name) : -1;
    if (i < 0) return 0;
    const int size = FTableFields->FieldSize(i);
    switch (FTableFields->FieldType(i)) {
        case ftString:
            return size - 1;
        case ftWideString:
            return (size - 2) / 2;
        default:
            return size;
    }
}

TFieldType TTableNameItem::GetFieldType(const std::string& Name) const {
    const int i = FTableFields ? FTableFields->IndexOfField(Name) : -1;
    return i < 0 ? ftUnknown : FTableFields->FieldType(i);
}

// --- TTableList ------------------------------------------------------------------------------

TTableNameItem* TTableList::FindTable(const std::string& Name) const {
    if (Name.empty()) return Count() == 1 ? Items(0) : nullptr;
    // An item's own name (its alias, or its table name when it has none) comes first, so that
    // in FROM a, a q the name a means the first item and not the aliased one.
    for (int i = Count() - 1; i >= 0; --i) {
        const TTableNameItem* item = Items(i);
        if (AnsiSameText(item->ReferenceName(), Name))
            return Items(i);
    }
    for (int i = Count() - 1; i >= 0; --i)
        if (AnsiSameText(Items(i)->CorrelationName(), Name) || AnsiSameText(Items(i)->TableName(), Name))
            return Items(i);
    return nullptr;
}

TTableNameItem* TTableList::FindTableName(const std::string& Name) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (AnsiSameText(Items(i)->TableName(), Name)) return Items(i);
    return nullptr;
}

TTableNameItem* TTableList::FindTableAndCorrelationName(const std::string& TableName,
                                                        const std::string& CorrelationName) const {
    if (TableName.empty() && Count() == 1) return Items(0);
    for (int i = Count() - 1; i >= 0; --i)
        if (AnsiSameText(Items(i)->TableName(), TableName) &&
            AnsiSameText(Items(i)->CorrelationName(), CorrelationName))
            return Items(i);
    return nullptr;
}

TTableNameItem* TTableList::FindTableForField(const std::string& FieldName) const {
    for (int i = Count() - 1; i >= 0; --i)
        if (Items(i)->HasField(FieldName)) return Items(i);
    return nullptr;
}

void TTableList::MergeLists(const TTableList* A, const TTableList* B) {
    if (A == this || B == this) {
        // Merging into one of the sources: work from a copy so that clearing loses nothing.
        TTableList self;
        self.Assign(this);
        MergeLists(A == this ? &self : A, B == this ? &self : B);
        return;
    }
    Clear();
    if (A != nullptr) Assign(A);
    if (B == nullptr) return;
    for (int i = 0; i < B->Count(); ++i) {
        const TTableNameItem* item = B->Items(i);
        if (FindTableAndCorrelationName(item->TableName(), item->CorrelationName()) == nullptr)
            Add()->Assign(item);
    }
}

}  // namespace ostra
