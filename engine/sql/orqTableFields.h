// orqTableFields: IOrqTableFields, the field list of one table as the SQL layer reads it
// (names, types and stored sizes, in field order). The table list (orqTableList.h) keeps one
// per table so that the expression parser can type the fields a statement names.
//
// This is the seam to the storage engine's record layout (TInternalFields): the query layer
// fills a table item with an implementation over the table's layout; the SQL layer itself only
// reads through this interface and copies it with Clone.
#pragma once
#include <memory>
#include <string>

#include "host/db/FieldType.h"

namespace ostra {

class IOrqTableFields {
public:
    virtual ~IOrqTableFields() = default;
    // An independent copy of the list.
    virtual std::unique_ptr<IOrqTableFields> Clone() const = 0;
    virtual int FieldCount() const = 0;
    // The position of the first field called Name, ignoring case; -1 when there is none.
    virtual int IndexOfField(const std::string& Name) const = 0;
    virtual std::string FieldName(int Index) const = 0;
    virtual TFieldType FieldType(int Index) const = 0;
    // The stored value size: for a string the declared length + 1, for a wide string
    // 2 * length + 2; the type's fixed size otherwise.
    virtual int FieldSize(int Index) const = 0;
};

}  // namespace ostra
