// Fuzz target: component text, the form in which table definitions are stored in database files.
// The text is parsed and formatted back (the two must agree), then read as a table definition;
// a definition that loads must save and load again to the same text.
#include "engine/storage/orqErrors.h"
#include "engine/storage/orqTableMgrUnit.h"
#include "fuzz/FuzzTarget.h"
#include "host/ComponentText.h"
#include "host/Exceptions.h"

using namespace ostra;
using ostra::fuzz::Check;
using ostra::fuzz::Refusing;

namespace {

// What the component text reader and TReader raise for text they refuse.
template <class F>
bool ReadRefusing(F&& Body) {
    return Refusing<EParserError, EStreamError, EComponentError, EDatabaseError>(Body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string text = fuzz::AsText(Data, Size);

    TTokenStream tokens;
    if (ReadRefusing([&] { tokens = ObjectTextToTokens(text); })) {
        const std::string formatted = ObjectTokensToText(tokens);
        TTokenStream again;
        Check(ReadRefusing([&] { again = ObjectTextToTokens(formatted); }), "formatted tokens do not parse");
        Check(ObjectTokensToText(again) == formatted, "formatting is not stable");
    }

    TTableDef def(nullptr);
    if (ReadRefusing([&] { def.LoadFromText(text); })) {
        const std::string saved = def.SaveToText();
        TTableDef copy(nullptr);
        Check(ReadRefusing([&] { copy.LoadFromText(saved); }), "a loaded definition does not load again");
        Check(copy.SaveToText() == saved, "a definition saves differently after loading again");
    }
    return 0;
}
