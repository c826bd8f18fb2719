// Autocompletion's settings, its entries and its keys.
#include "controls/memo/PyxAutoCompletion.h"

#include <cstdint>

#include "controls/memo/PyxMemoView.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kAutoCompletionPublished = Publish<TAutoCompletion, TPersistent>()
    .Boolean("Active", &TAutoCompletion::Active, &TAutoCompletion::SetActive)
    .Default(true)
    .Integer("Color", &TAutoCompletion::Color, &TAutoCompletion::SetColor)
    .Default(clWindow)
    .Integer("Delay", &TAutoCompletion::Delay, &TAutoCompletion::SetDelay)
    .Default(500)
    .Object("Font", [](const TAutoCompletion& o) { return &o.Font(); })
    .Integer("ColorVar", &TAutoCompletion::ColorVar, &TAutoCompletion::SetColorVar)
    .Default(clBlue)
    .Integer("ColorProp", &TAutoCompletion::ColorProp, &TAutoCompletion::SetColorProp)
    .Default(clTeal)
    .Integer("ColorMethod", &TAutoCompletion::ColorMethod, &TAutoCompletion::SetColorMethod)
    .Default(clNavy)
    .Integer("ColorFunc", &TAutoCompletion::ColorFunc, &TAutoCompletion::SetColorFunc)
    .Default(clNavy)
    .Integer("ColorProc", &TAutoCompletion::ColorProc, &TAutoCompletion::SetColorProc)
    .Default(clNavy)
    .Integer("ColorEvent", &TAutoCompletion::ColorEvent, &TAutoCompletion::SetColorEvent)
    .Default(clRed)
    .Integer("ColorIdentifier", &TAutoCompletion::ColorIdentifier, &TAutoCompletion::SetColorIdentifier)
    .Default(clTeal)
    .Integer("Height", &TAutoCompletion::Height, &TAutoCompletion::SetHeight)
    .Default(100)
    .Boolean("ShowImages", &TAutoCompletion::ShowImages, &TAutoCompletion::SetShowImages)
    .Default(false)
    .Boolean("SizeDropDown", &TAutoCompletion::SizeDropDown, &TAutoCompletion::SetSizeDropDown)
    .Default(true)
    .Integer("Width", &TAutoCompletion::Width, &TAutoCompletion::SetWidth)
    .Default(200);

char AsciiUpper(char C) {
    return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C;
}

}  // namespace

TAutoCompletion::TAutoCompletion() : FFont(std::make_unique<TFont>()) {}

void TAutoCompletion::Assign(const TPersistent* Source) {
    const auto* source = dynamic_cast<const TAutoCompletion*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    FActive = source->FActive;
    FColor = source->FColor;
    FDelay = source->FDelay;
    FFont->Assign(source->FFont.get());
    for (int i = 0; i < 7; ++i) FColors[i] = source->FColors[i];
    FHeight = source->FHeight;
    FShowImages = source->FShowImages;
    FSizeDropDown = source->FSizeDropDown;
    FWidth = source->FWidth;
}

TCompletionEntry ParseCompletionEntry(const std::string& Entry) {
    TCompletionEntry result;
    const size_t blank = Entry.find(' ');
    if (blank != std::string::npos) {
        result.Prefix = Entry.substr(0, blank + 1);
        result.Text = Entry.substr(blank + 1);
    } else {
        result.Text = Entry;
    }
    const size_t paren = result.Text.find('(');
    result.Name = result.Text.substr(0, paren);
    if (paren != std::string::npos) result.Params = result.Text.substr(paren);
    return result;
}

std::string CompletionKey(const std::string& Entry) {
    const std::string text = ParseCompletionEntry(Entry).Text;
    return text.substr(0, text.find_first_of(" (;"));
}

int CompareCompletionKeys(const std::string& Entry1, const std::string& Entry2) {
    const std::string a = CompletionKey(Entry1);
    const std::string b = CompletionKey(Entry2);
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const auto x = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto y = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool CompletionEntryMatches(const std::string& Entry, const std::string& UpperPrefix) {
    return UpperCase(ParseCompletionEntry(Entry).Text).compare(0, UpperPrefix.size(), UpperPrefix) == 0;
}

TObject* CompletionKindObject(int Kind) {
    return reinterpret_cast<TObject*>(static_cast<intptr_t>(Kind));
}

int CompletionKindOf(const TObject* Object) {
    return static_cast<int>(reinterpret_cast<intptr_t>(Object));
}

TCompletionKeyAction CompletionKeyAction(uint16_t Key) {
    switch (Key) {
        case VK_BACK: return ckaBackspace;
        case VK_TAB:
        case VK_ESCAPE: return ckaClose;
        case VK_RETURN:
        case VK_SPACE:
        case '5': return ckaAccept;
        case 16: case 17: case 18: case 160: case 161: case 164: case 165:  // Shift, Ctrl, Alt
            return ckaNavigate;
        case VK_DELETE: return ckaDelete;
        default:
            if (Key >= VK_PRIOR && Key <= VK_DOWN) return ckaNavigate;
            if (Key >= 'A' && Key <= 'Z') return ckaLetter;
            return ckaCancel;
    }
}

}  // namespace ostra
