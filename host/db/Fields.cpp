// TFields: the ordered, non-owning list of a dataset's fields.
#include "host/db/Fields.h"

#include <algorithm>

#include "host/Collation.h"
#include "host/StringList.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"
#include "host/db/Field.h"

namespace ostra {

TField* TFields::Fields(int Index) const {
    if (Index < 0 || Index >= Count()) DatabaseError(SFieldIndexError, FDataSet);
    return FList[static_cast<size_t>(Index)];
}

int TFields::IndexOf(const TField* Field) const {
    auto it = std::find(FList.begin(), FList.end(), Field);
    return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

TField* TFields::FindField(const std::string& FieldName) const {
    for (TField* f : FList)
        if (AnsiSameText(f->FieldName(), FieldName)) return f;
    return nullptr;
}

TField* TFields::FieldByName(const std::string& FieldName) const {
    TField* f = FindField(FieldName);
    if (!f) DatabaseErrorFmt(SFieldNotFound, {FieldName}, FDataSet);
    return f;
}

TField* TFields::FieldByNumber(int FieldNo) const {
    for (TField* f : FList)
        if (f->FieldNo() == FieldNo && FieldNo > 0) return f;
    return nullptr;
}

void TFields::GetFieldNames(TStrings& List) const {
    for (TField* f : FList) List.Add(f->FieldName());
}

void TFields::Add(TField* Field) {
    FList.push_back(Field);
    Changed();
}

void TFields::Remove(TField* Field) {
    auto it = std::find(FList.begin(), FList.end(), Field);
    if (it == FList.end()) return;
    FList.erase(it);
    Changed();
}

void TFields::SetFieldIndex(TField* Field, int Value) {
    int current = IndexOf(Field);
    if (current < 0) return;
    Value = std::clamp(Value, 0, Count() - 1);
    if (Value == current) return;
    FList.erase(FList.begin() + current);
    FList.insert(FList.begin() + Value, Field);
    Changed();
}

void TFields::Changed() {
    ++FChanges;
    if (FDataSet && !FDataSet->ComponentState().Contains(csDestroying)) FDataSet->DataEvent(deFieldListChange, 0);
}

}  // namespace ostra
