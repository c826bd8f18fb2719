// orqOrderByParser: the ORDER BY list of a SELECT. TOrqOrderByParser reads the tokens after
// ORDER BY into TOrderByItems, one item per sort key: a result column number ("ORDER BY 2")
// or a key text ("ORDER BY t.a DESC"). The select analyser resolves the items against the
// result columns and the query layer builds the result table's sort index from them.
//
// Grammar: item { [","] item }, item = ( number | tokens up to ASC, DESC, "," or the end )
// [ASC | DESC]. The comma between items is optional ("ORDER BY a DESC b" gives two items). A
// key given by name keeps the source text of its tokens, trimmed ("a + b", "t.a").
#pragma once
#include <string>

#include "engine/sql/orqBaseParser.h"
#include "host/Collection.h"

namespace ostra {

// One ORDER BY key.
class TOrderByItem : public TCollectionItem {
public:
    explicit TOrderByItem(TCollection* ACollection) : TCollectionItem(ACollection) {}

    // From another TOrderByItem: every field; otherwise the base rules.
    void Assign(const TPersistent* Source) override;

    bool Descending() const { return FDescending; }
    void SetDescending(bool v) { FDescending = v; }
    // The 1-based result column number; 0 when the key is given by name.
    int FieldIndex() const { return FFieldIndex; }
    void SetFieldIndex(int v) { FFieldIndex = v; }
    // The key's source text when given by name; empty for a column number.
    const std::string& SortKey() const { return FSortKey; }
    void SetSortKey(const std::string& v) { FSortKey = v; }

private:
    bool FDescending = false;
    int FFieldIndex = 0;
    std::string FSortKey;
};

// The keys of one ORDER BY clause, in written order.
class TOrderByItems : public TCollection {
public:
    TOrderByItems() : TCollection(ItemClassOf<TOrderByItem>()) {}

    // Appends a key and returns it.
    TOrderByItem* AddOrderByItem(int FieldIndex, const std::string& SortKey, bool Descending);
    TOrderByItem* Items(int Index) const { return static_cast<TOrderByItem*>(TCollection::Items(Index)); }
};

// Reads an ORDER BY list. End tokens: GROUP BY, HAVING, ORDER BY and the end marker.
class TOrqOrderByParser : public TBaseParser {
public:
    TOrqOrderByParser();

    // Clears Items and, with a stack, reads the list from it (options [opoExtSyntax]). True
    // when no error was set. A column number that is not an integer raises EConvertError.
    bool ExecuteOrderBy(TOrderByItems& Items, TParserStack* Stack);

private:
    // The token type ends a sort key: none, ASC, DESC, the end marker or "," (in a subquery
    // also its closing ")").
    bool EndsItem(TOrqSQLToken Type) const;
};

}  // namespace ostra
