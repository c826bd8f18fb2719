// orqRestructureDefs: copying restructure requests to and from the framework's definitions,
// the data-loss table, index validation against the key limits, and the classification of
// field and index entries against the existing table.
#include "engine/storage/orqRestructureDefs.h"

#include <algorithm>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqIndexDefs.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "host/SysUtils.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra {

namespace {

constexpr char CValidateNewIndexDefs[] = "TRestructureIndexDefs.ValidateNewIndexDefs";
constexpr int32_t CInvalidModifyRequest = 9996;

const char* StatusName(TDefChangeType Status) {
    return CChangeTypeNames[static_cast<int>(Status)];
}

TDefChangeType MaxStatus(TDefChangeType A, TDefChangeType B) {
    return A > B ? A : B;
}

bool IsBlobType(TFieldType T) {
    return T == ftBlob || T == ftMemo || T == ftGraphic || T == ftFmtMemo;
}

bool IsStringType(TFieldType T) {
    return T == ftString || T == ftWideString;
}

// Empties a collection and fills it again inside one update bracket, closing the bracket when
// the fill throws.
template <class Collection, class Fill>
void RefillUnderUpdate(Collection& Target, Fill FillItems) {
    Target.BeginUpdate();
    try {
        Target.Clear();
        FillItems();
    } catch (...) {
        Target.EndUpdate();
        throw;
    }
    Target.EndUpdate();
}

// The ";"-separated names of a field list.
std::vector<std::string> SplitNames(const std::string& Names) {
    TStringList list;
    ConvertFieldNamesToList(Names, &list);
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i) result.push_back(list.Strings(i));
    return result;
}

// The size and the field count of the key entries of an index over Fields, measured as the key
// derivation measures them (DeriveIndexDef, orqIndexDefs.h), so that a request passing here
// cannot fail there: the entry header, each field's key form (a String stores its declared
// length + 1 bytes, a WideString two bytes a character), the hidden logical-record-number
// field of an index that is neither unique nor primary, and the null-flag bytes. A field type
// without a key form raises the Exception of CalculateCoreDataSize.
void MeasureKeyEntry(const std::vector<const TRestructureFieldDef*>& Fields, bool HiddenField, int64_t& Size,
                     int64_t& FieldCount) {
    // Sizes far beyond any key limit are capped, so that the sum cannot overflow.
    constexpr int64_t CSizeCap = 1 << 20;
    TKeyFields keys;
    for (const TRestructureFieldDef* field : Fields) {
        TKeyFieldItem* key = keys.Add();
        key->SetDataType(field->DataType());
        if (field->DataType() == ftString)
            key->SetFieldSize(int32_t(std::min<int64_t>(int64_t(field->Size()) + 1, CSizeCap)));
        else if (field->DataType() == ftWideString)
            key->SetFieldSize(int32_t(std::min<int64_t>(2 * int64_t(field->Size()), CSizeCap)));
    }
    if (HiddenField) keys.Add()->SetDataType(ftInteger);
    FieldCount = keys.Count();
    Size = int64_t(CalculateMaximumKeySize(keys)) + FieldCount / 8 + 1;
}

std::string JoinNames(const std::vector<std::string>& Names) {
    std::string result;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (i > 0) result += ';';
        result += Names[i];
    }
    return result;
}

}  // namespace

bool DataLossPossible(TFieldType NewType, TFieldType OldType) {
    switch (NewType) {
        case ftSmallint:
        case ftWord:
            return !(OldType == ftSmallint || OldType == ftWord || OldType == ftBoolean);
        case ftInteger:
        case ftAutoInc:
            return OldType == ftFloat || OldType == ftCurrency || OldType == ftBCD || OldType == ftTime ||
                   OldType == ftDateTime;
        case ftBoolean:
            return OldType != ftBoolean;
        case ftCurrency:
        case ftBCD:
            return OldType == ftFloat || OldType == ftTime || OldType == ftDateTime;
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            return !IsBlobType(OldType);
        default:
            if (IsBlobType(OldType)) return true;
            return IsStringType(NewType) != IsStringType(OldType);
    }
}

// --- TRestructureFieldDef --------------------------------------------------------------------

void TRestructureFieldDef::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TRestructureFieldDef*>(Source)) {
        FChangeStatus = src->FChangeStatus;
        FRequired = src->FRequired;
        FSize = src->FSize;
        FName = src->FName;
        FDataType = src->FDataType;
        FPrecision = src->FPrecision;
        FSourceFieldName = src->FSourceFieldName;
        return;
    }
    if (auto* src = dynamic_cast<const TFieldDef*>(Source)) {
        FName = src->Name();
        FDataType = src->DataType();
        FSize = src->Size();
        FPrecision = src->Precision();
        FRequired = src->Required();
        FSourceFieldName = src->Name();
        return;
    }
    TCollectionItem::Assign(Source);
}

void TRestructureFieldDef::AssignTo(TPersistent* Dest) const {
    if (auto* dst = dynamic_cast<TFieldDef*>(Dest)) {
        CopyTo(*dst);
        return;
    }
    TCollectionItem::AssignTo(Dest);
}

void TRestructureFieldDef::CopyTo(TFieldDef& Dest) const {
    Dest.SetName(FName);
    Dest.SetDataType(FDataType);  // resets size and precision, so it goes first
    Dest.SetSize(FSize);
    Dest.SetPrecision(FPrecision);
    Dest.SetRequired(FRequired);
}

// --- TRestructureFieldDefs -------------------------------------------------------------------

TRestructureFieldDef* TRestructureFieldDefs::AddAndSetFieldDef(const std::string& Name, TFieldType DataType,
                                                               int32_t Size) {
    TRestructureFieldDef* def = AddFieldDef();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    return def;
}

TRestructureFieldDef* TRestructureFieldDefs::Find(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->Name(), Name)) return GetItems(i);
    return nullptr;
}

TFieldDef* TRestructureFieldDefs::FindSourceDef(const std::string& Name) const {
    if (!FFieldDefs) return nullptr;
    return FFieldDefs->FindDef(Name);
}

bool TRestructureFieldDefs::CheckIfFieldsDeleted() const {
    if (!FFieldDefs) return false;
    for (int i = 0; i < FFieldDefs->Count(); ++i)
        if (!Find(FFieldDefs->Items(i)->Name())) return true;
    return false;
}

void TRestructureFieldDefs::SwapDefs(int I, int J) {
    if (I < 0 || J < 0 || I >= Count() || J >= Count())
        throw Exception("Invalid Field Def Index in SwapDefs");
    if (I == J) return;
    TRestructureFieldDef temp(nullptr);
    temp.Assign(GetItems(I));
    GetItems(I)->Assign(GetItems(J));
    GetItems(J)->Assign(&temp);
}

void TRestructureFieldDefs::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TRestructureFieldDefs*>(Source)) {
        if (src == this) return;
        TCollection::Assign(Source);
        FChangeStatus = src->FChangeStatus;
        FResetAutoIncValue = src->FResetAutoIncValue;
        FAutoIncResetValue = src->FAutoIncResetValue;
        return;
    }
    if (auto* src = dynamic_cast<const TFieldDefs*>(Source)) {
        RefillUnderUpdate(*this, [&] {
            for (int i = 0; i < src->Count(); ++i) AddFieldDef()->Assign(src->Items(i));
        });
        return;
    }
    TCollection::Assign(Source);
}

void TRestructureFieldDefs::AssignTo(TPersistent* Dest) const {
    if (auto* dst = dynamic_cast<TFieldDefs*>(Dest)) {
        RefillUnderUpdate(*dst, [&] {
            for (int i = 0; i < Count(); ++i) GetItems(i)->CopyTo(*dst->AddFieldDef());
        });
        return;
    }
    TCollection::AssignTo(Dest);
}

void TRestructureFieldDefs::Log(const std::string& Line) const {
    if (FChangeLog) FChangeLog->Add(Line);
}

void TRestructureFieldDefs::ValidateAgainstOriginalDefs(TFieldDefs* ExistingDefs) {
    FChangeStatus = dcNoChange;
    if (!ExistingDefs) {
        for (int i = 0; i < Count(); ++i) GetItems(i)->SetChangeStatus(dcAdded);
        FChangeStatus = dcAdded;
    } else {
        if (!FFieldDefs) FFieldDefs = ExistingDefs;
        if (Count() > ExistingDefs->Count())
            FChangeStatus = dcAdded;
        else if (Count() < ExistingDefs->Count())
            FChangeStatus = dcDeleted;

        for (int i = 0; i < Count(); ++i) {
            TRestructureFieldDef* def = GetItems(i);
            TDefChangeType status;
            if (def->SourceFieldName().empty()) {
                status = dcAdded;
            } else {
                const TFieldDef* src = ExistingDefs->FindDef(def->SourceFieldName());
                Assert(src != nullptr, "Source Def not found");
                const bool sameType = def->DataType() == src->DataType();
                if (DataLossPossible(def->DataType(), src->DataType()) ||
                    (sameType && def->Size() < src->Size()))
                    status = dcDataLoss;
                else if (sameType && def->Size() == src->Size())
                    status = (src->Name() == def->Name() && src->Index() == i &&
                              src->Required() == def->Required())
                                 ? dcNoChange
                                 : dcDefOnlyChange;
                else
                    status = dcDataChange;
            }
            def->SetChangeStatus(status);
            FChangeStatus = MaxStatus(FChangeStatus, status);
            Log("Field Def: " + def->Name() + " status: " + StatusName(status));
        }

        for (int i = 0; i < ExistingDefs->Count(); ++i) {
            const std::string& name = ExistingDefs->Items(i)->Name();
            bool taken = false;
            for (int j = 0; j < Count() && !taken; ++j)
                taken = AnsiSameText(GetItems(j)->SourceFieldName(), name);
            if (taken) continue;
            FChangeStatus = MaxStatus(FChangeStatus, dcDataChange);
            Log("Prior Field Def: " + name + " status: " + StatusName(dcDeleted));
        }
    }
    Log(std::string("FieldDefs: Change status is - ") + StatusName(FChangeStatus));
}

// --- TRestructureIndexDef --------------------------------------------------------------------

namespace {

// Removes the first name of the ";"-separated List that equals Name ignoring case, with its
// separator; false when no name matches.
bool RemoveFieldName(std::string& List, const std::string& Name) {
    std::vector<std::string> names = SplitNames(List);
    auto it =
        std::find_if(names.begin(), names.end(), [&](const std::string& n) { return AnsiSameText(n, Name); });
    if (it == names.end()) return false;
    names.erase(it);
    List = JoinNames(names);
    return true;
}

// Replaces every name of the ";"-separated List that equals OldName ignoring case by NewName.
void RenameFieldName(std::string& List, const std::string& OldName, const std::string& NewName) {
    std::vector<std::string> names = SplitNames(List);
    bool changed = false;
    for (std::string& n : names)
        if (AnsiSameText(n, OldName)) {
            n = NewName;
            changed = true;
        }
    if (changed) List = JoinNames(names);
}

}  // namespace

void TRestructureIndexDef::DeleteField(const std::string& Name) {
    if (Name.empty()) return;
    if (!RemoveFieldName(FFields, Name)) return;
    RemoveFieldName(FCaseInsFields, Name);
    RemoveFieldName(FDescFields, Name);
}

void TRestructureIndexDef::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TRestructureIndexDef*>(Source)) {
        FSourceIndexDef = src->FSourceIndexDef;
        FChangeStatus = src->FChangeStatus;
        FCaseInsFields = src->FCaseInsFields;
        FName = src->FName;
        FFields = src->FFields;
        FDescFields = src->FDescFields;
        FOptions = src->FOptions;
        return;
    }
    if (auto* src = dynamic_cast<const TIndexDef*>(Source)) {
        FOptions = src->Options();
        FFields = src->Fields();
        FCaseInsFields = src->CaseInsFields();
        FDescFields = src->DescFields();
        FName = src->Name();
        FSourceIndexDef = const_cast<TIndexDef*>(src);
        return;
    }
    TCollectionItem::Assign(Source);
}

void TRestructureIndexDef::AssignTo(TPersistent* Dest) const {
    if (auto* dst = dynamic_cast<TIndexDef*>(Dest)) {
        CopyTo(*dst);
        return;
    }
    TCollectionItem::AssignTo(Dest);
}

void TRestructureIndexDef::CopyTo(TIndexDef& Dest) const {
    Dest.SetName(FName);
    Dest.SetOptions(FOptions);
    Dest.SetFields(FFields);
    Dest.SetCaseInsFields(FCaseInsFields);
    Dest.SetDescFields(FDescFields);
}

// --- TRestructureIndexDefs -------------------------------------------------------------------

TRestructureIndexDef* TRestructureIndexDefs::AddAndSetIndexDef(const std::string& Name,
                                                               const std::string& Fields,
                                                               TIndexOptions Options) {
    TRestructureIndexDef* def = AddIndexDef();
    def->SetName(Name);
    def->SetFields(Fields);
    def->SetOptions(Options);
    if (Options.Contains(ixCaseInsensitive)) def->SetCaseInsFields(Fields);
    if (Options.Contains(ixDescending)) def->SetDescFields(Fields);
    return def;
}

TRestructureIndexDef* TRestructureIndexDefs::Find(const std::string& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiSameText(GetItems(i)->Name(), Name)) return GetItems(i);
    return nullptr;
}

TRestructureIndexDef* TRestructureIndexDefs::FindSourceDef(const TIndexDef* IndexDef) const {
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->SourceIndexDef() == IndexDef) return GetItems(i);
    return nullptr;
}

void TRestructureIndexDefs::DeleteField(const std::string& Name) {
    for (int i = Count() - 1; i >= 0; --i) {
        TRestructureIndexDef* def = GetItems(i);
        const bool hadFields = !def->Fields().empty();
        def->DeleteField(Name);
        if (hadFields && def->Fields().empty()) Delete(i);
    }
}

void TRestructureIndexDefs::ReplaceFieldName(const std::string& OldName, const std::string& NewName) {
    for (int i = 0; i < Count(); ++i) {
        TRestructureIndexDef* def = GetItems(i);
        std::string fields = def->Fields(), caseIns = def->CaseInsFields(), desc = def->DescFields();
        RenameFieldName(fields, OldName, NewName);
        RenameFieldName(caseIns, OldName, NewName);
        RenameFieldName(desc, OldName, NewName);
        def->SetFields(fields);
        def->SetCaseInsFields(caseIns);
        def->SetDescFields(desc);
    }
}

bool TRestructureIndexDefs::CheckForDuplicatePrimaryIndexes() const {
    int primaries = 0;
    for (int i = 0; i < Count(); ++i)
        if (GetItems(i)->Options().Contains(ixPrimary)) ++primaries;
    return primaries > 1;
}

void TRestructureIndexDefs::Assign(const TPersistent* Source) {
    if (auto* src = dynamic_cast<const TRestructureIndexDefs*>(Source)) {
        if (src == this) return;
        TCollection::Assign(Source);
        FChangeStatus = src->FChangeStatus;
        FMaximumKeySize = src->FMaximumKeySize;
        FMaximumKeyFieldCount = src->FMaximumKeyFieldCount;
        return;
    }
    if (auto* src = dynamic_cast<const TIndexDefs*>(Source)) {
        RefillUnderUpdate(*this, [&] {
            for (int i = 0; i < src->Count(); ++i) AddIndexDef()->Assign(src->Items(i));
        });
        return;
    }
    TCollection::Assign(Source);
}

void TRestructureIndexDefs::AssignTo(TPersistent* Dest) const {
    if (auto* dst = dynamic_cast<TIndexDefs*>(Dest)) {
        RefillUnderUpdate(*dst, [&] {
            for (int i = 0; i < Count(); ++i) GetItems(i)->CopyTo(*dst->AddIndexDef());
        });
        return;
    }
    TCollection::AssignTo(Dest);
}

void TRestructureIndexDefs::Log(const std::string& Line) const {
    if (FChangeLog) FChangeLog->Add(Line);
}

void TRestructureIndexDefs::ValidateNewIndexDefs(const TRestructureFieldDefs* FieldDefs) {
    if (CheckForDuplicatePrimaryIndexes())
        OrqDatabaseError(CInvalidModifyRequest, CValidateNewIndexDefs, SorqOnlySinglePrimaryIndexAllowed,
                         this);
    for (int i = 0; i < Count(); ++i) {
        const TRestructureIndexDef* def = GetItems(i);
        if (def->Fields().empty())
            OrqDatabaseError(CInvalidModifyRequest, CValidateNewIndexDefs, "Field not found: ", this);
        for (const std::string* list : {&def->Fields(), &def->CaseInsFields(), &def->DescFields()}) {
            const std::vector<std::string> names = SplitNames(*list);
            std::vector<const TRestructureFieldDef*> fields;
            for (const std::string& name : names) {
                const TRestructureFieldDef* field = FieldDefs ? FieldDefs->Find(name) : nullptr;
                if (!field)
                    OrqDatabaseErrorFmt(
                        CInvalidModifyRequest, CValidateNewIndexDefs,
                        "The field '%s' in index '%s' was not found in the table field definitions.",
                        {name, def->Name()}, this);
                fields.push_back(field);
            }
            int64_t keySize = 0;
            int64_t keyFieldCount = 0;
            MeasureKeyEntry(fields, !def->Options().Contains(ixUnique) && !def->Options().Contains(ixPrimary),
                            keySize, keyFieldCount);
            if (keySize > FMaximumKeySize)
                OrqDatabaseErrorFmt(CInvalidModifyRequest, CValidateNewIndexDefs,
                                    "The Index '%s' with fields '%s' has exceeded the maximum key size of %d",
                                    {def->Name(), *list, FMaximumKeySize}, this);
            if (keyFieldCount > FMaximumKeyFieldCount)
                OrqDatabaseErrorFmt(
                    CInvalidModifyRequest, CValidateNewIndexDefs,
                    "The Index '%s' with fields '%s' has exceeded the maximum key field count of %d",
                    {def->Name(), *list, FMaximumKeyFieldCount}, this);
        }
        FChangeStatus = MaxStatus(FChangeStatus, def->ChangeStatus());
    }
    Log("IndexDefs: Validation OK");
}

TDefChangeType TRestructureIndexDefs::ClassifyIndexDef(const TRestructureIndexDef* Def,
                                                       const TRestructureFieldDefs* FieldDefs) const {
    const TIndexDef* src = Def->SourceIndexDef();
    const std::string& name = Def->Name();
    if (!src) {
        Log("New Index Def: " + name);
        return dcAdded;
    }
    if (Def->Options() != src->Options() || Def->Index() != src->Index()) {
        Log("Index Def: " + name + " - Options or position changed");
        return dcDataChange;
    }
    TDefChangeType status = dcNoChange;
    if (!AnsiSameText(name, src->Name())) {
        Log("Index Def: " + name + " - Name changed");
        status = dcDefOnlyChange;
    }

    // The key fields must exist; a new or converted key field means the keys are rebuilt.
    std::vector<const TRestructureFieldDef*> keyFields;
    for (const std::string& field : SplitNames(Def->Fields())) {
        const TRestructureFieldDef* def = FieldDefs ? FieldDefs->Find(field) : nullptr;
        if (!def)
            throw Exception(
                Format("The field '%s' in index '%s' was not found in the table field definitions - %s",
                       {field, name, Def->Fields()}));
        keyFields.push_back(def);
    }
    for (const TRestructureFieldDef* def : keyFields)
        if (def->ChangeStatus() >= dcAdded) {
            Log("Index Def: " + name + " - Changed field: " + def->Name());
            return dcDataChange;
        }

    // The key lists, written with the names the fields have in the existing table.
    auto sourceNames = [&](const std::string& List) {
        std::vector<std::string> names = SplitNames(List);
        for (std::string& n : names) {
            const TRestructureFieldDef* def = FieldDefs ? FieldDefs->Find(n) : nullptr;
            if (!def) throw Exception("The field definition cannot be found " + n);
            n = def->SourceFieldName();
        }
        return JoinNames(names);
    };
    if (!AnsiSameText(sourceNames(Def->Fields()), src->Fields())) {
        Log("Index Def fields changed: " + name + " from " + src->Fields() + " to " + Def->Fields());
        return dcDataChange;
    }
    if (!AnsiSameText(sourceNames(Def->CaseInsFields()), src->CaseInsFields())) {
        Log("Index Def case insensitive fields changed: " + name + " from " + src->CaseInsFields() + " to " +
            Def->CaseInsFields());
        return dcDataChange;
    }
    if (!AnsiSameText(sourceNames(Def->DescFields()), src->DescFields())) {
        Log("Index Def descending fields changed: " + name + " from " + src->DescFields() + " to " +
            Def->DescFields());
        return dcDataChange;
    }
    return status;
}

void TRestructureIndexDefs::ValidateAgainstOriginalDefs(TIndexDefs* ExistingDefs,
                                                        const TRestructureFieldDefs* FieldDefs) {
    ValidateNewIndexDefs(FieldDefs);
    FChangeStatus = dcNoChange;
    if (!ExistingDefs) {
        for (int i = 0; i < Count(); ++i) GetItems(i)->SetChangeStatus(dcAdded);
        FChangeStatus = dcAdded;
    } else {
        if (Count() > ExistingDefs->Count())
            FChangeStatus = dcAdded;
        else if (Count() < ExistingDefs->Count())
            FChangeStatus = dcDeleted;
        for (int i = 0; i < Count(); ++i) {
            TRestructureIndexDef* def = GetItems(i);
            const TDefChangeType status = ClassifyIndexDef(def, FieldDefs);
            def->SetChangeStatus(status);
            Log("Index Def: '" + def->Name() + "' status: " + StatusName(status));
            FChangeStatus = MaxStatus(FChangeStatus, status);
        }
        for (int i = 0; i < ExistingDefs->Count(); ++i) {
            const TIndexDef* existing = ExistingDefs->Items(i);
            if (FindSourceDef(existing)) continue;
            FChangeStatus = MaxStatus(FChangeStatus, dcDataChange);
            Log("Prior Index Def: " + existing->Name() + " status: " + StatusName(dcDeleted));
        }
    }
    Log(std::string("IndexDefs: Change status is - ") + StatusName(FChangeStatus));
}

}  // namespace ostra
