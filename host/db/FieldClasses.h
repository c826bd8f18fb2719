// The field class of each field type: which TField descendant a field definition makes.
#pragma once
#include "host/db/DBTypes.h"

namespace ostra {

class TComponent;
class TField;

// True when the framework has a field class for Type (the types the engine stores).
bool HasFieldClass(TFieldType Type);
// A new field of Type's class owned by Owner (TStringField for ftString, TSmallintField for
// ftSmallint, ..., TBlobField with that blob type for ftFmtMemo); null when there is no class.
TField* CreateFieldOfType(TFieldType Type, TComponent* Owner);

}  // namespace ostra
