// TFieldDef and TFieldDefs: the column structure of a dataset as it reports it (or as a caller
// requests it for a new table). A dataset fills its FieldDefs when it opens (or on
// FieldDefs.Update) and makes its default fields from them.
#pragma once
#include <string>

#include "host/db/DBTypes.h"
#include "host/db/DefCollection.h"

namespace ostra {

class TComponent;
class TField;
class TFieldDefs;

// One column: name, type, size, precision and attributes.
class TFieldDef : public TNamedItem {
public:
    explicit TFieldDef(TCollection* ACollection) : TNamedItem(ACollection) {}

    TFieldType DataType() const { return FDataType; }
    // Also resets Size and Precision to 0.
    void SetDataType(TFieldType Value);
    // Characters of a string, bytes of a Bytes field; 0 for fixed-size types.
    int Size() const { return FSize; }
    void SetSize(int Value);
    int Precision() const { return FPrecision; }
    void SetPrecision(int Value);
    TFieldAttributes Attributes() const { return FAttributes; }
    void SetAttributes(TFieldAttributes Value);
    // The faRequired attribute.
    bool Required() const { return FAttributes.Contains(faRequired); }
    void SetRequired(bool Value);
    // The column number: the one set, else the position + 1.
    int FieldNo() const { return FFieldNo > 0 ? FFieldNo : Index() + 1; }
    void SetFieldNo(int Value) { FFieldNo = Value; }

    // A field of this definition's type (DefaultFieldClass) owned by `Owner`, named and sized as
    // the definition, attached to the collection's dataset. A type without a field class raises
    // "Field '%s' is of an unknown type".
    TField* CreateField(TComponent* Owner) const;

    // From another TFieldDef: name, type, size, precision and attributes.
    void Assign(const TPersistent* Source) override;

private:
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FPrecision = 0;
    TFieldAttributes FAttributes;
    int FFieldNo = 0;
};

// The field definitions of a dataset.
class TFieldDefs : public TDefCollection {
public:
    explicit TFieldDefs(TDataSet* ADataSet);

    TFieldDef* Items(int Index) const { return static_cast<TFieldDef*>(TCollection::Items(Index)); }
    TFieldDef* operator[](int Index) const { return Items(Index); }
    // A new, empty definition at the end.
    TFieldDef* AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }
    // Adds a definition; a name already present raises "Duplicate name '%s' in TFieldDefs".
    TFieldDef* Add(const std::string& Name, TFieldType DataType, int Size = 0, bool Required = false);
    // The definition named Name (ignoring case); Find raises "Field '%s' not found".
    TFieldDef* Find(const std::string& Name) const;
    TFieldDef* FindDef(const std::string& Name) const;
    // Fills the definitions from the dataset unless they are Updated.
    void Update();

protected:
    using TDefCollection::Update;
};

}  // namespace ostra
