// Fuzz target: filter and expression text through the pre-parser and the expression parser, over
// a table of every field kind. The first byte chooses the parser options (bits 0-6, one per
// option) and whether the text is read as a select list (bit 7); the rest is the text. Bad text
// is a parse error; the parser raises nothing for it.
#include "engine/sql/orqTableList.h"
#include "engine/sql/tests/support/TestExprParsing.h"
#include "engine/sql/tests/support/TestTableFields.h"
#include "fuzz/FuzzTarget.h"

using namespace ostra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) return 0;
    TOrqParserOptions options;
    for (int bit = 0; bit <= opoSubqueries; ++bit)
        if (Data[0] & (1u << bit)) options.Include(static_cast<TOrqParserOption>(bit));
    const bool asSelectList = (Data[0] & 0x80) != 0;
    const std::string text = fuzz::AsText(Data + 1, Size - 1);

    TTableList tables;
    TTableNameItem* item = tables.Add();
    item->SetTableName("t");
    test::TTestTableFields fields({{"i", ftInteger, 4},
                                   {"f", ftFloat, 8},
                                   {"s", ftString, 11},
                                   {"d", ftDate, 8},
                                   {"tm", ftTime, 8},
                                   {"dt", ftDateTime, 8},
                                   {"b", ftBoolean, 1},
                                   {"m", ftMemo, 8},
                                   {"c", ftCurrency, 8},
                                   {"a", ftAutoInc, 4}});
    item->SetTableFields(&fields);
    test::TExprParse parse;
    parse.Parser.SetTableList(&tables);
    fuzz::Refusing<>([&] {
        if (parse.Parse(text, options, asSelectList)) test::Show(parse.Root());
    });
    return 0;
}
