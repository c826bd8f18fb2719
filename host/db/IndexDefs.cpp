// TIndexDef and TIndexDefs: index definitions and the search for an index over given fields.
#include "host/db/IndexDefs.h"

#include "host/Collation.h"
#include "host/PropertyRegistry.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"

namespace ostra {

[[maybe_unused]] const bool kIndexDefPublished =
    Publish<TIndexDef, TNamedItem>()
        .String("CaseInsFields", &TIndexDef::CaseInsFields, &TIndexDef::SetCaseInsFields)
        .String("DescFields", &TIndexDef::DescFields, &TIndexDef::SetDescFields)
        .String("Expression", &TIndexDef::Expression, &TIndexDef::SetExpression)
        .String("Fields", &TIndexDef::Fields, &TIndexDef::SetFields)
        .Set("Options", &TIndexDef::Options, &TIndexDef::SetOptions, IndexOptionIdents)
        .Default(TIndexOptions{});

void TIndexDef::SetFields(const std::string& Value) {
    FFields = Value;
    Changed(false);
}

void TIndexDef::SetOptions(TIndexOptions Value) {
    FOptions = Value;
    Changed(false);
}

void TIndexDef::SetDescFields(const std::string& Value) {
    FDescFields = Value;
    Changed(false);
}

void TIndexDef::SetCaseInsFields(const std::string& Value) {
    FCaseInsFields = Value;
    Changed(false);
}

void TIndexDef::SetExpression(const std::string& Value) {
    FExpression = Value;
    Changed(false);
}

void TIndexDef::Assign(const TPersistent* Source) {
    if (auto* def = dynamic_cast<const TIndexDef*>(Source)) {
        AssignNamed(*def, [&] {
            FFields = def->FFields;
            FOptions = def->FOptions;
            FDescFields = def->FDescFields;
            FCaseInsFields = def->FCaseInsFields;
            FExpression = def->FExpression;
        });
        return;
    }
    TNamedItem::Assign(Source);
}

TIndexDefs::TIndexDefs(TDataSet* ADataSet) : TDefCollection(ADataSet, ItemClassOf<TIndexDef>()) {}

TIndexDef* TIndexDefs::Add(const std::string& Name, const std::string& Fields, TIndexOptions Options) {
    return AddNamed(
        Name, [this] { return AddIndexDef(); },
        [&](TIndexDef* def) {
            def->SetFields(Fields);
            def->SetOptions(Options);
        });
}

TIndexDef* TIndexDefs::FindIndexDef(const std::string& Name) const {
    return static_cast<TIndexDef*>(TDefCollection::Find(Name));
}

TIndexDef* TIndexDefs::Find(const std::string& Name) const {
    TIndexDef* def = FindIndexDef(Name);
    if (!def) DatabaseErrorFmt(SIndexNotFound, {Name}, DataSet());
    return def;
}

TIndexDef* TIndexDefs::GetIndexForFields(const std::string& Fields, bool CaseInsensitive) {
    Update();
    auto usable = [CaseInsensitive](const TIndexDef* def) {
        return !def->Options().Contains(ixExpression) &&
               (!CaseInsensitive || def->Options().Contains(ixCaseInsensitive));
    };
    // An index over exactly these fields first, then one whose leading fields they are.
    for (int i = 0; i < Count(); ++i) {
        TIndexDef* def = Items(i);
        if (usable(def) && AnsiCompareText(Fields, def->Fields()) == 0) return def;
    }
    size_t length = Fields.size();
    for (int i = 0; i < Count(); ++i) {
        TIndexDef* def = Items(i);
        const std::string& indexFields = def->Fields();
        if (!usable(def) || indexFields.size() < length) continue;
        if (AnsiCompareText(Fields, indexFields.substr(0, length)) == 0 &&
            (indexFields.size() == length || indexFields[length] == ';'))
            return def;
    }
    return nullptr;
}

TIndexDef* TIndexDefs::FindIndexForFields(const std::string& Fields) {
    TIndexDef* def = GetIndexForFields(Fields, false);
    if (!def) DatabaseErrorFmt(SNoIndexForFields, {Fields}, DataSet());
    return def;
}

void TIndexDefs::Update() {
    if (Updated() || !DataSet()) return;
    {
        TInternalDefUpdate guard(*this);
        DataSet()->UpdateIndexDefs();
    }
    SetUpdated(true);
}

}  // namespace ostra
