// TFieldDef and TFieldDefs: column definitions and the fields made from them.
#include "host/db/FieldDefs.h"

#include "host/PropertyRegistry.h"
#include "host/db/BlobFields.h"
#include "host/db/DBConsts.h"
#include "host/db/DataSet.h"
#include "host/db/FieldClasses.h"
#include "host/db/NumericFields.h"

namespace ostra {

[[maybe_unused]] const bool kFieldDefPublished =
    Publish<TFieldDef, TNamedItem>()
        .Set("Attributes", &TFieldDef::Attributes, &TFieldDef::SetAttributes, FieldAttributeIdents)
        .Default(TFieldAttributes{})
        .Enum("DataType", &TFieldDef::DataType, &TFieldDef::SetDataType, FieldTypeIdents)
        .Default(ftUnknown)
        .Integer("Precision", &TFieldDef::Precision, &TFieldDef::SetPrecision)
        .Default(0)
        .Integer("Size", &TFieldDef::Size, &TFieldDef::SetSize)
        .Default(0);

void TFieldDef::SetDataType(TFieldType Value) {
    FDataType = Value;
    FSize = 0;
    FPrecision = 0;
    Changed(false);
}

void TFieldDef::SetSize(int Value) {
    FSize = Value;
    Changed(false);
}

void TFieldDef::SetPrecision(int Value) {
    FPrecision = Value;
    Changed(false);
}

void TFieldDef::SetAttributes(TFieldAttributes Value) {
    FAttributes = Value;
    Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
    TFieldAttributes attributes = FAttributes;
    if (Value)
        attributes.Include(faRequired);
    else
        attributes.Exclude(faRequired);
    SetAttributes(attributes);
}

TField* TFieldDef::CreateField(TComponent* Owner) const {
    auto* defs = static_cast<TFieldDefs*>(Collection());
    TDataSet* dataSet = defs ? defs->DataSet() : nullptr;
    TField* field = CreateFieldOfType(FDataType, Owner);
    if (!field) DatabaseErrorFmt(SUnknownFieldType, {Name()}, dataSet);
    try {
        if (FDataType == ftString || FDataType == ftBytes || field->IsBlob()) field->SetSize(FSize);
        field->SetFieldName(Name());
        field->SetRequired(Required());
        field->SetReadOnly(FAttributes.Contains(faReadonly));
        if (auto* floatField = dynamic_cast<TFloatField*>(field); floatField && FPrecision > 0)
            floatField->SetPrecision(FPrecision);
        field->SetDataSet(dataSet);
    } catch (...) {
        delete field;
        throw;
    }
    return field;
}

void TFieldDef::Assign(const TPersistent* Source) {
    if (auto* def = dynamic_cast<const TFieldDef*>(Source)) {
        AssignNamed(*def, [&] {
            FDataType = def->FDataType;
            FSize = def->FSize;
            FPrecision = def->FPrecision;
            FAttributes = def->FAttributes;
        });
        return;
    }
    TNamedItem::Assign(Source);
}

TFieldDefs::TFieldDefs(TDataSet* ADataSet) : TDefCollection(ADataSet, ItemClassOf<TFieldDef>()) {}

TFieldDef* TFieldDefs::Add(const std::string& Name, TFieldType DataType, int Size, bool Required) {
    return AddNamed(
        Name, [this] { return AddFieldDef(); },
        [&](TFieldDef* def) {
            def->SetDataType(DataType);
            def->SetSize(Size);
            def->SetRequired(Required);
        });
}

TFieldDef* TFieldDefs::FindDef(const std::string& Name) const { return static_cast<TFieldDef*>(TDefCollection::Find(Name)); }

TFieldDef* TFieldDefs::Find(const std::string& Name) const {
    TFieldDef* def = FindDef(Name);
    if (!def) DatabaseErrorFmt(SFieldNotFound, {Name}, DataSet());
    return def;
}

void TFieldDefs::Update() {
    if (!Updated() && DataSet()) DataSet()->InitFieldDefs();
}

}  // namespace ostra
