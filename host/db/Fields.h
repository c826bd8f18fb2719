// TFields: the ordered list of a dataset's fields. The list does not own its fields (a field is a
// component owned by its owner; a dataset frees its fields when it is destroyed); fields enter
// and leave it through TField::SetDataSet. Names compare without regard to case.
#pragma once
#include <string>
#include <vector>

#include "host/Object.h"

namespace ostra {

class TDataSet;
class TField;
class TStrings;

// The fields of one dataset, in column order.
class TFields : public TObject {
public:
    explicit TFields(TDataSet* ADataSet) : FDataSet(ADataSet) {}
    TFields(const TFields&) = delete;
    TFields& operator=(const TFields&) = delete;

    TDataSet* DataSet() const { return FDataSet; }
    int Count() const { return static_cast<int>(FList.size()); }
    // The field at Index; "Field index out of range" for a bad index.
    TField* Fields(int Index) const;
    TField* operator[](int Index) const { return Fields(Index); }
    int IndexOf(const TField* Field) const;
    // The field named FieldName (ignoring case); null when none.
    TField* FindField(const std::string& FieldName) const;
    // As FindField; a missing field raises "<dataset>: Field '%s' not found".
    TField* FieldByName(const std::string& FieldName) const;
    // The data field with that column number; null when none.
    TField* FieldByNumber(int FieldNo) const;
    // Appends every field name, in order.
    void GetFieldNames(TStrings& List) const;

    std::vector<TField*>::const_iterator begin() const { return FList.begin(); }
    std::vector<TField*>::const_iterator end() const { return FList.end(); }
    // Counts the changes of the list (a field added, removed or moved): a caller that keeps
    // fields it looked up by name knows they still stand while the count stays.
    unsigned Changes() const { return FChanges; }

private:
    friend class TField;
    friend class TDataSet;

    void Add(TField* Field);
    void Remove(TField* Field);
    void SetFieldIndex(TField* Field, int Value);
    // Tells the dataset that its field list changed.
    void Changed();

    TDataSet* FDataSet;
    std::vector<TField*> FList;
    unsigned FChanges = 0;
};

}  // namespace ostra
