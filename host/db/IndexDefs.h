// TIndexDef and TIndexDefs: the indexes of a dataset as it reports them (or as a caller requests
// them for a new table). Field lists are field names separated by ";".
#pragma once
#include <string>

#include "host/db/DBTypes.h"
#include "host/db/DefCollection.h"

namespace ostra {

// One index: name, key fields, options and the descending / case-insensitive key fields.
class TIndexDef : public TNamedItem {
public:
    explicit TIndexDef(TCollection* ACollection) : TNamedItem(ACollection) {}

    const std::string& Fields() const { return FFields; }
    void SetFields(const std::string& Value);
    TIndexOptions Options() const { return FOptions; }
    void SetOptions(TIndexOptions Value);
    const std::string& DescFields() const { return FDescFields; }
    void SetDescFields(const std::string& Value);
    const std::string& CaseInsFields() const { return FCaseInsFields; }
    void SetCaseInsFields(const std::string& Value);
    const std::string& Expression() const { return FExpression; }
    void SetExpression(const std::string& Value);
    // Expression for an expression index, else Fields.
    const std::string& FieldExpression() const { return FOptions.Contains(ixExpression) ? FExpression : FFields; }

    // From another TIndexDef: every property.
    void Assign(const TPersistent* Source) override;

private:
    std::string FFields;
    TIndexOptions FOptions;
    std::string FDescFields;
    std::string FCaseInsFields;
    std::string FExpression;
};

// The index definitions of a dataset.
class TIndexDefs : public TDefCollection {
public:
    explicit TIndexDefs(TDataSet* ADataSet);

    TIndexDef* Items(int Index) const { return static_cast<TIndexDef*>(TCollection::Items(Index)); }
    TIndexDef* operator[](int Index) const { return Items(Index); }
    TIndexDef* AddIndexDef() { return static_cast<TIndexDef*>(TCollection::Add()); }
    // Adds a definition; a name already present raises "Duplicate name '%s' in TIndexDefs".
    TIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options);
    // The definition named Name (ignoring case); Find raises "Index '%s' not found".
    TIndexDef* Find(const std::string& Name) const;
    TIndexDef* FindIndexDef(const std::string& Name) const;
    // The first index (not an expression index; with CaseInsensitive a case-insensitive one)
    // whose field list is Fields, else the first whose field list starts with the fields of
    // Fields; null when none. Fields compare ignoring case. Updates the definitions first.
    TIndexDef* GetIndexForFields(const std::string& Fields, bool CaseInsensitive);
    // As GetIndexForFields (case-sensitive indexes included); none raises
    // "No index for fields '%s'".
    TIndexDef* FindIndexForFields(const std::string& Fields);
    // Re-reads the definitions from the dataset (UpdateIndexDefs) unless they are Updated.
    void Update();

protected:
    using TDefCollection::Update;
};

}  // namespace ostra
