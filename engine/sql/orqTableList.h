// orqTableList: the tables a statement can see. TTableList holds one TTableNameItem per table
// reference (name, alias and field list); the expression parser resolves and types field names
// against it, and the query layer copies items into field nodes and between lists.
#pragma once
#include <memory>
#include <string>

#include "engine/sql/orqTableFields.h"
#include "host/Collection.h"

namespace ostra {

// One table reference of a statement (an item of a TTableList).
class TTableNameItem : public TCollectionItem {
public:
    explicit TTableNameItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // From another item: TableName, CorrelationName, a copy of TableFields, Memory,
    // MemorySpecified, InCorrelatedSubquery and CorrelatedSubqueryID; otherwise the default
    // assignment (EConvertError).
    void Assign(const TPersistent* Source) override;

    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    // The alias; empty when the statement gives none.
    const std::string& CorrelationName() const { return FCorrelationName; }
    void SetCorrelationName(const std::string& v) { FCorrelationName = v; }
    // The name the statement refers to the table by: its alias, else its table name.
    const std::string& ReferenceName() const { return FCorrelationName.empty() ? FTableName : FCorrelationName; }
    // The table's fields; null while no field list has been given (an empty list).
    const IOrqTableFields* TableFields() const { return FTableFields.get(); }
    // Drops the own list and keeps a copy of Fields when given.
    void SetTableFields(const IOrqTableFields* Fields);
    // The table is an in-memory table.
    bool Memory() const { return FMemory; }
    void SetMemory(bool v) { FMemory = v; }
    bool MemorySpecified() const { return FMemorySpecified; }
    void SetMemorySpecified(bool v) { FMemorySpecified = v; }
    bool InCorrelatedSubquery() const { return FInCorrelatedSubquery; }
    void SetInCorrelatedSubquery(bool v) { FInCorrelatedSubquery = v; }
    int CorrelatedSubqueryID() const { return FCorrelatedSubqueryID; }
    void SetCorrelatedSubqueryID(int v) { FCorrelatedSubqueryID = v; }

    // The size the field Name offers: 0 when there is no such field; for a string its
    // writeable size (stored size - 1), for a wide string (stored size - 2) div 2; else the
    // stored size.
    int GetFieldSize(const std::string& Name) const;
    // The type of the field Name; ftUnknown when there is no such field.
    TFieldType GetFieldType(const std::string& Name) const;
    // Whether the table has a field called Name (ignoring case).
    bool HasField(const std::string& Name) const;

private:
    std::string FTableName;
    std::string FCorrelationName;
    std::unique_ptr<IOrqTableFields> FTableFields;
    bool FMemory = false;
    bool FMemorySpecified = false;
    bool FInCorrelatedSubquery = false;
    int FCorrelatedSubqueryID = 0;
};

// The owned, ordered list of a statement's table references (a collection of TTableNameItem).
// Name searches ignore case and run from the last item to the first, so a later reference
// hides an earlier one of the same name. Assign (from another table list: cleared, then one
// item per source item assigned from it), Count, Clear and Delete are the collection's.
class TTableList : public TCollection {
public:
    TTableList() : TCollection(ItemClassOf<TTableNameItem>()) {}

    using TCollection::Assign;
    void Assign(const TTableList& Source) { Assign(static_cast<const TPersistent*>(&Source)); }

    // Appends a new empty item and returns it.
    TTableNameItem* Add() { return static_cast<TTableNameItem*>(TCollection::Add()); }
    TTableNameItem* Items(int Index) const { return static_cast<TTableNameItem*>(TCollection::Items(Index)); }
    // Assigns Item into the item at Index.
    void SetItems(int Index, const TTableNameItem* Item) { TCollection::SetItems(Index, Item); }
    // The last item; null when the list is empty.
    TTableNameItem* Last() const { return Count() == 0 ? nullptr : Items(Count() - 1); }

    // The item called Name: the last whose own name (its alias, or its table name when it has
    // none) is Name, else the last with Name as alias or table name. An empty Name finds the only item of a
    // one-item list and nothing in a longer list (an unqualified field is then looked up by
    // FindTableForField, which searches every table).
    TTableNameItem* FindTable(const std::string& Name) const;
    // The last item with this table name.
    TTableNameItem* FindTableName(const std::string& Name) const;
    // An empty TableName with exactly one item gives that item; otherwise the last item whose
    // table name and alias both equal the arguments.
    TTableNameItem* FindTableAndCorrelationName(const std::string& TableName,
                                                const std::string& CorrelationName) const;
    // The last item whose field list holds a field called FieldName.
    TTableNameItem* FindTableForField(const std::string& FieldName) const;
    // Clears; assigns from A when given; then appends a copy of each item of B (when given) that
    // FindTableAndCorrelationName does not find here. A or B may be this list.
    void MergeLists(const TTableList* A, const TTableList* B);
};

}  // namespace ostra
