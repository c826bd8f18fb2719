// The field-type-to-class table behind default fields.
#include "host/db/FieldClasses.h"

#include "host/db/BinaryFields.h"
#include "host/db/BlobFields.h"
#include "host/db/BooleanField.h"
#include "host/db/DateTimeFields.h"
#include "host/db/NumericFields.h"
#include "host/db/StringField.h"

namespace ostra {

bool HasFieldClass(TFieldType Type) {
    switch (Type) {
        case ftString: case ftSmallint: case ftInteger: case ftWord: case ftBoolean: case ftFloat:
        case ftCurrency: case ftDate: case ftTime: case ftDateTime: case ftBytes: case ftAutoInc:
        case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo:
            return true;
        default:
            return false;
    }
}

TField* CreateFieldOfType(TFieldType Type, TComponent* Owner) {
    switch (Type) {
        case ftString: return new TStringField(Owner);
        case ftSmallint: return new TSmallintField(Owner);
        case ftInteger: return new TIntegerField(Owner);
        case ftWord: return new TWordField(Owner);
        case ftBoolean: return new TBooleanField(Owner);
        case ftFloat: return new TFloatField(Owner);
        case ftCurrency: return new TCurrencyField(Owner);
        case ftDate: return new TDateField(Owner);
        case ftTime: return new TTimeField(Owner);
        case ftDateTime: return new TDateTimeField(Owner);
        case ftBytes: return new TBytesField(Owner);
        case ftAutoInc: return new TAutoIncField(Owner);
        case ftBlob: return new TBlobField(Owner);
        case ftMemo: return new TMemoField(Owner);
        case ftGraphic: return new TGraphicField(Owner);
        case ftFmtMemo: {
            auto* field = new TBlobField(Owner);
            field->SetBlobType(ftFmtMemo);
            return field;
        }
        default: return nullptr;
    }
}

}  // namespace ostra
