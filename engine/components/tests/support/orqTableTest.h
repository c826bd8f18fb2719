// orqTableTest: the GoogleTest base of the table component's tests: the cursor tests' database
// (a file, or "MEMORY"), a table "People" with a unique, a non-unique and a descending index, and
// table components over it.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqTable.h"
#include "host/db/Field.h"
#include "orqCursorTest.h"

namespace ostra::componentstest {

class TTableTest : public TCursorTest {
protected:
    // "People": ID unique (PK), NAME non-unique (ixName), AGE descending (ixAge), BORN a date,
    // NOTE a memo.
    void SetUp() override {
        TCursorTest::SetUp();
        Create("People",
               {{"ID", ftInteger}, {"NAME", ftString, 16}, {"AGE", ftInteger}, {"BORN", ftDate}, {"NOTE", ftMemo}},
               {{"PK", "ID", TIndexOptions{ixPrimary, ixUnique}},
                {"ixName", "NAME", {}},
                {"ixAge", "AGE", TIndexOptions{ixDescending}}});
    }
    // A closed table component on Name (this run's storage), on IndexName when given.
    std::unique_ptr<TOrqTable> Table(const std::string& Name = "People", const std::string& IndexName = "") {
        auto table = std::make_unique<TOrqTable>(nullptr);
        table->SetDataBase(DataBase.get());
        table->SetTableName(Name);
        table->SetMemory(Memory());
        if (!IndexName.empty()) table->SetIndexName(IndexName);
        return table;
    }
    // Appends one row through the framework (Append, field values, Post).
    static void AddRow(TOrqTable& T, int ID, const std::string& Name, int Age) {
        T.Append();
        T.FieldByName("ID")->SetAsInteger(ID);
        T.FieldByName("NAME")->SetAsString(Name);
        T.FieldByName("AGE")->SetAsInteger(Age);
        T.Post();
    }
    // The values of Field from First to Eof.
    static std::vector<std::string> Column(TOrqTable& T, const std::string& Field) {
        std::vector<std::string> values;
        for (T.First(); !T.Eof(); T.Next()) values.push_back(T.FieldByName(Field)->AsString());
        return values;
    }
};

}  // namespace ostra::componentstest
