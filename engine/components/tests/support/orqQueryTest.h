// orqQueryTest: what the query component's tests share: query components on a test database,
// statements run through ExecSQL, and a result read as text rows.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqSQL.h"
#include "host/db/Field.h"

namespace ostra::componentstest {

// A closed query on DataBase with Sql as its text.
inline std::unique_ptr<TOrqQuery> MakeQuery(TOrqDataBase& DataBase, const std::string& Sql) {
    auto query = std::make_unique<TOrqQuery>(nullptr);
    query->SetDatabase(&DataBase);
    query->SQL()->SetText(Sql);
    return query;
}

// Runs Sql through ExecSQL; the rows affected.
inline int ExecSql(TOrqDataBase& DataBase, const std::string& Sql) {
    auto query = MakeQuery(DataBase, Sql);
    query->ExecSQL();
    return query->RowsAffected();
}

// One field as text: "NULL" for a null value, else the field's text.
inline std::string CellText(const TField* Field) { return Field->IsNull() ? "NULL" : Field->AsString(); }

// The rows of an open query from its current position to the end, each as its fields' texts
// joined by "|".
inline std::vector<std::string> ReadRows(TOrqQuery& Query) {
    std::vector<std::string> rows;
    for (; !Query.Eof(); Query.Next()) {
        std::string row;
        for (int i = 0; i < Query.Fields().Count(); ++i) {
            if (i > 0) row += "|";
            row += CellText(Query.Fields()[i]);
        }
        rows.push_back(row);
    }
    return rows;
}

// Opens Sql and returns its rows (ReadRows from the first).
inline std::vector<std::string> SelectRows(TOrqDataBase& DataBase, const std::string& Sql) {
    auto query = MakeQuery(DataBase, Sql);
    query->Open();
    return ReadRows(*query);
}

}  // namespace ostra::componentstest
