// Character styles, element styles and the styler base, with their published properties.
#include "controls/memo/PyxMemoStyler.h"

#include "controls/memo/PyxCustomMemo.h"
#include "host/PropertyRegistry.h"

namespace ostra {

namespace {

const char* const kStyleTypeNames[] = {"stKeyword", "stBracket", "stSymbol"};

[[maybe_unused]] const bool kCharStylePublished = Publish<TCharStyle, TPersistent>()
    .Integer("TextColor", &TCharStyle::TextColor, &TCharStyle::SetTextColor)
    .Integer("BkColor", &TCharStyle::BkColor, &TCharStyle::SetBkColor)
    .Set("Style", &TCharStyle::Style, &TCharStyle::SetStyle, FontStyleIdents)
    .Default(TFontStyles{});

// A character property streams as a one-character string ("" for character 0).
std::string BracketText(const TElementStyle& e) {
    return e.Bracket() ? std::string(1, e.Bracket()) : std::string();
}
void SetBracketText(TElementStyle& e, const std::string& v) {
    e.SetBracket(v.empty() ? '\0' : v[0]);
}

[[maybe_unused]] const bool kElementPublished = Publish<TElementStyle, TCollectionItem>()
    .Object("KeyWords", [](const TElementStyle& e) { return &e.KeyWords(); })
    .Object("Font", [](const TElementStyle& e) { return &e.Font(); })
    .Integer("BGColor", &TElementStyle::BGColor, &TElementStyle::SetBGColor)
    .Enum("StyleType", &TElementStyle::StyleType, &TElementStyle::SetStyleType, kStyleTypeNames)
    .Default(stKeyword)
    .String("Bracket", &BracketText, &SetBracketText)
    .String("Symbols", &TElementStyle::Symbols, &TElementStyle::SetSymbols)
    .String("Info", &TElementStyle::Info, &TElementStyle::SetInfo);

}  // namespace

// ---- TCharStyle

void TCharStyle::Assign(const TPersistent* Source) {
    if (const auto* source = dynamic_cast<const TCharStyle*>(Source)) {
        FTextColor = source->FTextColor;
        FBkColor = source->FBkColor;
        FStyle = source->FStyle;
        return;
    }
    TPersistent::Assign(Source);
}

// ---- TElementStyle

TElementStyle::TElementStyle(TCollection* ACollection) : TCollectionItem(ACollection) {
    FFont.SetName("Courier New");
    FFont.SetSize(8);
    FFont.SetColor(clBlack);
    if (auto* styles = dynamic_cast<TElementStyles*>(ACollection); styles && styles->StyledMemo())
        FBGColor = styles->StyledMemo()->BkColor();
}

TElementStyle::~TElementStyle() {
    if (auto* styles = dynamic_cast<TElementStyles*>(Collection())) styles->SetItemsReplaced(true);
}

void TElementStyle::SetKeyWords(const TStrings& Value) {
    FKeyWords.Assign(&Value);
    Changed(false);
}

void TElementStyle::SetFont(const TFont& Value) {
    FFont.Assign(&Value);
    Changed(false);
}

void TElementStyle::SetBGColor(TColor Value) {
    FBGColor = Value;
    Changed(false);
}

void TElementStyle::SetStyleType(TStyleType Value) {
    FStyleType = Value;
    Changed(false);
}

void TElementStyle::SetBracket(char Value) {
    FBracket = Value;
    Changed(false);
}

void TElementStyle::SetSymbols(const std::string& Value) {
    FSymbols = Value;
    Changed(false);
}

void TElementStyle::SetInfo(const std::string& Value) {
    FInfo = Value;
    Changed(false);
}

std::string TElementStyle::DisplayName() const {
    return FInfo.empty() ? ClassName() : FInfo;
}

void TElementStyle::Assign(const TPersistent* Source) {
    const auto* source = dynamic_cast<const TElementStyle*>(Source);
    if (!source) return;
    FKeyWords.Assign(&source->FKeyWords);
    FFont.Assign(&source->FFont);
    FBGColor = source->FBGColor;
    FStyleType = source->FStyleType;
    FBracket = source->FBracket;
    FSymbols = source->FSymbols;
    FInfo = source->FInfo;
    Changed(false);
}

// ---- TElementStyles

TElementStyles::TElementStyles(TPersistent* AOwner) : TCollection(ItemClassOf<TElementStyle>(), AOwner) {}

void TElementStyles::Update(TCollectionItem* Item) {
    // The memo repaints with the new styles at its next paint; what it cached is stale now.
    if (FStyledMemo) FStyledMemo->StylesChanged();
}

bool IsSymbolOrBracket(const TElementStyles& Styles, char Ch) {
    for (int i = 0; i < Styles.Count(); ++i) {
        const TElementStyle& style = *Styles.Style(i);
        if (style.StyleType() == stSymbol && style.Symbols().find(Ch) != std::string::npos) return true;
        if (style.StyleType() == stBracket && style.Bracket() == Ch) return true;
    }
    return false;
}

// ---- TPyxCustomMemoStyler

TPyxCustomMemoStyler::TPyxCustomMemoStyler(TComponent* AOwner)
    : TComponent(AOwner),
      FAllStyles(std::make_unique<TElementStyles>(this)),
      FCommentStyle(std::make_unique<TCharStyle>(clSilver, clWhite, TFontStyles{fsItalic})),
      FNumberStyle(std::make_unique<TCharStyle>(clNavy, clWhite, TFontStyles{fsBold})),
      FAutoCompletion(std::make_unique<TStringList>()),
      FHintParameter(std::make_unique<THintParameter>()) {}

TPyxCustomMemoStyler::~TPyxCustomMemoStyler() {
    Destroying();
    FAllStyles->SetStyledMemo(nullptr);
}

void TPyxCustomMemoStyler::SetAllStyles(const TElementStyles& Value) {
    FAllStyles->Assign(&Value);
    StylesChanged();
}

void TPyxCustomMemoStyler::StylesChanged() {
    if (TPyxCustomMemo* memo = FAllStyles->StyledMemo()) memo->StylesChanged();
}

void TPyxCustomMemoStyler::SetLineComment(const std::string& Value) {
    FLineComment = Value;
    StylesChanged();
}

void TPyxCustomMemoStyler::SetMultiCommentLeft(const std::string& Value) {
    FMultiCommentLeft = Value;
    StylesChanged();
}

void TPyxCustomMemoStyler::SetMultiCommentRight(const std::string& Value) {
    FMultiCommentRight = Value;
    StylesChanged();
}

void TPyxCustomMemoStyler::SetNumberCharSet(const std::string& Value) {
    FNumberCharSet = Value;
    StylesChanged();
}

void TPyxCustomMemoStyler::SetEscapeCharText(const std::string& Value) {
    FEscapeCharText = Value;
    StylesChanged();
}

void TPyxCustomMemoStyler::SetStyle(int Index, const TCharStyle& Style) {
    if (Index == 1) FCommentStyle->Assign(&Style);
    if (Index == 2) FNumberStyle->Assign(&Style);
}

void TPyxCustomMemoStyler::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent == FAllStyles->StyledMemo()) FAllStyles->SetStyledMemo(nullptr);
    TComponent::Notification(AComponent, Operation);
}

void TPyxCustomMemoStyler::Loaded() {
    TComponent::Loaded();
    if (!FAllStyles->ItemsReplaced()) FAllStyles->Clear();
    StylesChanged();
}

}  // namespace ostra
