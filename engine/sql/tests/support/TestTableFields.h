// A plain field list for tests of the SQL layer: names, types and stored sizes in a vector.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqTableFields.h"
#include "host/Collation.h"

namespace ostra::test {

struct TestField {
    std::string Name;
    TFieldType Type;
    int Size;  // stored size
};

class TTestTableFields : public IOrqTableFields {
public:
    TTestTableFields(std::vector<TestField> fields) : FFields(std::move(fields)) {}
    std::unique_ptr<IOrqTableFields> Clone() const override {
        return std::make_unique<TTestTableFields>(FFields);
    }
    int FieldCount() const override { return static_cast<int>(FFields.size()); }
    int IndexOfField(const std::string& Name) const override {
        for (std::size_t i = 0; i < FFields.size(); ++i)
            if (AnsiSameText(FFields[i].Name, Name)) return static_cast<int>(i);
        return -1;
    }
    std::string FieldName(int Index) const override { return FFields.at(Index).Name; }
    TFieldType FieldType(int Index) const override { return FFields.at(Index).Type; }
    int FieldSize(int Index) const override { return FFields.at(Index).Size; }

private:
    std::vector<TestField> FFields;
};

}  // namespace ostra::test
