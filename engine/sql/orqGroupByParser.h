// orqGroupByParser: the GROUP BY list of a SELECT. TOrqGroupByParser reads the tokens after
// GROUP BY into TGroupByItems, one item per grouping column ("t.a" or "a"); the select analyser
// then links each item to its result column (ResultSetIndex).
//
// Grammar: column { [","] column }, column = [qualifier "."] name. Only plain column names are
// allowed: a number, an expression or a quoted text is "invalid column name descriptor", and
// two commas in a row are "missing column name descriptor".
#pragma once
#include <string>

#include "engine/sql/orqBaseParser.h"
#include "host/Collection.h"

namespace ostra {

// One grouping column.
class TGroupByItem : public TCollectionItem {
public:
    explicit TGroupByItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // From another TGroupByItem: every field; otherwise the base rules.
    void Assign(const TPersistent* Source) override;

    const std::string& FieldName() const { return FFieldName; }
    void SetFieldName(const std::string& v) { FFieldName = v; }
    // The qualifier as written; empty when none.
    const std::string& TableName() const { return FTableName; }
    void SetTableName(const std::string& v) { FTableName = v; }
    // Set by the select analyser: the item's position once its result column is found, else -1.
    int ResultSetIndex() const { return FResultSetIndex; }
    void SetResultSetIndex(int v) { FResultSetIndex = v; }

private:
    std::string FFieldName;
    std::string FTableName;
    int FResultSetIndex = 0;
};

// The columns of one GROUP BY clause, in written order.
class TGroupByItems : public TCollection {
public:
    TGroupByItems() : TCollection(ItemClassOf<TGroupByItem>()) {}

    TGroupByItem* Add() { return static_cast<TGroupByItem*>(TCollection::Add()); }
    TGroupByItem* Items(int Index) const { return static_cast<TGroupByItem*>(TCollection::Items(Index)); }
};

// Reads a GROUP BY list. End tokens: HAVING, UNION, ORDER BY and the end marker.
class TOrqGroupByParser : public TBaseParser {
public:
    TOrqGroupByParser();

    // Clears Items and, with a stack, reads the list from it (options [opoExtSyntax]). True
    // when no error was set.
    bool ExecuteGroupBy(TGroupByItems& Items, TParserStack* Stack);
};

}  // namespace ostra
