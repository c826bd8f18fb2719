// Fuzz target: the installer's language text format. The input becomes a language's lines; parse
// errors are refused text, and every element parsed is found again by its number and text.
#include "fuzz/FuzzTarget.h"
#include "host/Exceptions.h"
#include "host/StringList.h"
#include "installer/library/cmp_TTranslatorLanguage.h"

using namespace ostra;
using ostra::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TStringList lines;
    lines.SetText(fuzz::AsText(Data, Size));
    TLanguage language(nullptr, "BM_LANG_ENGLISH", "frniEnglish.txt", flEnglish);
    if (!fuzz::Refusing<Exception>([&] { language.SetStrings(lines); })) {
        Check(language.StringElementCount() == 0 && language.MemoElementCount() == 0,
              "a refused text left elements");
        return 0;
    }
    for (int i = 0; i < language.StringElementCount(); ++i) {
        const TLanguageString& s = language.StringElements(i);
        Check(language.FindStringByGLID(s.GLID()) != nullptr, "a string is not found by its number");
        Check(language.FindStringByText(s.Text()) != nullptr, "a string is not found by its text");
    }
    for (int i = 0; i < language.MemoElementCount(); ++i) {
        const TLanguageMemo& m = language.MemoElements(i);
        Check(language.FindMemoByGLID(m.GLID()) != nullptr, "a memo is not found by its number");
        Check(language.FindMemoByText(m.Lines()) != nullptr, "a memo is not found by its text");
    }
    return 0;
}
