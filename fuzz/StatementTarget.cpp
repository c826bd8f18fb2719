// Fuzz target: SQL statements through the parser engine, driven the way the query layer drives it
// (the SQL tests' driver, engine/sql/tests/support/TestQueryDriver.h) over a fixture of three
// tables. Bad statements are parse errors; the engine raises nothing for them.
#include "engine/sql/tests/support/TestQueryDriver.h"
#include "fuzz/FuzzTarget.h"
#include "host/SysUtils.h"

using namespace ostra;

namespace {

const test::TTableFixture& Tables() {
    static const test::TTableFixture tables = [] {
        test::TTableFixture t;
        t["a"] = {{"ID", ftInteger, 4}, {"NAME", ftString, 21}, {"QTY", ftInteger, 4},
                  {"PRICE", ftFloat, 8}, {"NOTE", ftMemo, 8},   {"DAY", ftDate, 8}};
        t["b"] = {{"ID", ftInteger, 4}, {"A_ID", ftInteger, 4}, {"CODE", ftString, 6}, {"FLAG", ftBoolean, 1}};
        t["c"] = {{"ID", ftAutoInc, 4}, {"STAMP", ftDateTime, 8}, {"AT", ftTime, 8}, {"DATA", ftBlob, 8}};
        return t;
    }();
    return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    test::TTestQuery query(Tables());
    fuzz::Refusing<>([&] { query.Validate(fuzz::AsText(Data, Size)); });
    return 0;
}
