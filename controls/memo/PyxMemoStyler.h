// Stylers: non-visual components that tell a memo how to colour a language. A styler holds
// element styles (keyword lists, bracket characters that open and close strings, symbol
// characters), comment delimiters, the number characters and the comment and number styles;
// the line tokenizer (PyxLineTokenizer.h) reads them. Several memos may use one styler; the
// memo that paints with it is its styles' StyledMemo, which hears of changes to the styles.
#pragma once
#include <memory>
#include <string>

#include "controls/memo/PyxGraphics.h"
#include "controls/memo/PyxParameterHint.h"
#include "host/Collection.h"
#include "host/Component.h"
#include "host/StringList.h"

namespace ostra {

class TPyxCustomMemo;

// Colours and font style of one kind of text (comments, numbers, URLs). A new object is black
// on black without styles; its owner sets it.
class TCharStyle : public TPersistent {
public:
    TCharStyle() = default;
    TCharStyle(TColor ATextColor, TColor ABkColor, TFontStyles AStyle)
        : FTextColor(ATextColor), FBkColor(ABkColor), FStyle(AStyle) {}
    TColor TextColor() const { return FTextColor; }
    void SetTextColor(TColor Value) { FTextColor = Value; }
    TColor BkColor() const { return FBkColor; }
    void SetBkColor(TColor Value) { FBkColor = Value; }
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles Value) { FStyle = Value; }
    // From another TCharStyle: all three values. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;

private:
    TColor FTextColor = clBlack;
    TColor FBkColor = clBlack;
    TFontStyles FStyle;
};

// What an element style describes.
enum TStyleType { stKeyword, stBracket, stSymbol };

class TElementStyles;

// One element style of a styler.
class TElementStyle : public TCollectionItem {
public:
    // Font "Courier New" 8 points, black; background the styled memo's BkColor (white without
    // one).
    explicit TElementStyle(TCollection* ACollection);
    // Marks the collection's items as replaced.
    ~TElementStyle() override;

    // The keywords of a keyword style; setting copies the list.
    TStringList& KeyWords() { return FKeyWords; }
    const TStringList& KeyWords() const { return FKeyWords; }
    void SetKeyWords(const TStrings& Value);
    // The element's font (colour and style are what painting uses); setting copies it.
    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    void SetFont(const TFont& Value);
    TColor BGColor() const { return FBGColor; }
    void SetBGColor(TColor Value);
    TStyleType StyleType() const { return FStyleType; }
    void SetStyleType(TStyleType Value);
    // For stBracket: the character that opens and closes a run (0 for none).
    char Bracket() const { return FBracket; }
    void SetBracket(char Value);
    // For stSymbol: the symbol characters.
    const std::string& Symbols() const { return FSymbols; }
    void SetSymbols(const std::string& Value);
    const std::string& Info() const { return FInfo; }
    void SetInfo(const std::string& Value);
    // Info, or the class name when Info is empty.
    std::string DisplayName() const;

    // From another TElementStyle: every value. Any other source leaves the element unchanged.
    void Assign(const TPersistent* Source) override;

private:
    TStringList FKeyWords;
    TFont FFont;
    TColor FBGColor = clWhite;
    TStyleType FStyleType = stKeyword;
    char FBracket = 0;
    std::string FSymbols;
    std::string FInfo;
};

// The element styles of a styler.
class TElementStyles : public TCollection {
public:
    explicit TElementStyles(TPersistent* AOwner);

    TElementStyle* Style(int Index) const { return static_cast<TElementStyle*>(Items(Index)); }
    TElementStyle* Add() { return static_cast<TElementStyle*>(TCollection::Add()); }
    // The memo that paints with these styles (not owned; null for none).
    TPyxCustomMemo* StyledMemo() const { return FStyledMemo; }
    void SetStyledMemo(TPyxCustomMemo* Value) { FStyledMemo = Value; }
    // True once an item was destroyed (streaming replaces the constructor's items).
    bool ItemsReplaced() const { return FItemsReplaced; }
    void SetItemsReplaced(bool Value) { FItemsReplaced = Value; }

protected:
    // Tells the styled memo that its cached colouring states are stale.
    void Update(TCollectionItem* Item) override;

private:
    TPyxCustomMemo* FStyledMemo = nullptr;
    bool FItemsReplaced = false;
};

// True when some stSymbol element holds `Ch` in its Symbols or some stBracket element has it as
// its Bracket.
bool IsSymbolOrBracket(const TElementStyles& Styles, char Ch);

// The base of stylers: the styles, comment delimiters, number characters and the comment and
// number styles. Publishes nothing; a concrete styler publishes what it wants.
class TPyxCustomMemoStyler : public TComponent {
public:
    explicit TPyxCustomMemoStyler(TComponent* AOwner);
    ~TPyxCustomMemoStyler() override;

    TElementStyles& AllStyles() const { return *FAllStyles; }
    // Copies the given styles' items.
    void SetAllStyles(const TElementStyles& Value);
    // Starts a comment that ends with its line.
    const std::string& LineComment() const { return FLineComment; }
    void SetLineComment(const std::string& Value);
    // Enclose a comment that may span lines.
    const std::string& MultiCommentLeft() const { return FMultiCommentLeft; }
    void SetMultiCommentLeft(const std::string& Value);
    const std::string& MultiCommentRight() const { return FMultiCommentRight; }
    void SetMultiCommentRight(const std::string& Value);
    TCharStyle& CommentStyle() const { return *FCommentStyle; }
    TCharStyle& NumberStyle() const { return *FNumberStyle; }
    // Copies `Style` into CommentStyle (Index 1) or NumberStyle (Index 2).
    virtual void SetStyle(int Index, const TCharStyle& Style);
    void SetCommentStyle(const TCharStyle& Style) { SetStyle(1, Style); }
    void SetNumberStyle(const TCharStyle& Style) { SetStyle(2, Style); }
    // The words autocompletion offers; setting copies the list.
    TStringList& AutoCompletion() const { return *FAutoCompletion; }
    void SetAutoCompletion(const TStrings& Value) { FAutoCompletion->Assign(&Value); }
    // The parameter hints' characters, colours and entries (owned); setting copies.
    THintParameter& HintParameter() const { return *FHintParameter; }
    void SetHintParameter(const THintParameter& Value) { FHintParameter->Assign(&Value); }
    // The characters numbers are made of ("+-.0123456789").
    const std::string& NumberCharSet() const { return FNumberCharSet; }
    void SetNumberCharSet(const std::string& Value);
    const std::string& HexPrefixText() const { return FHexPrefixText; }
    void SetHexPrefixText(const std::string& Value) { FHexPrefixText = Value; }
    // Its first character makes the next one ordinary inside a bracket run and a URL word.
    const std::string& EscapeCharText() const { return FEscapeCharText; }
    void SetEscapeCharText(const std::string& Value);

    // Drops the styled memo when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // After streaming: a styler whose stream replaced no element keeps none.
    void Loaded() override;

protected:
    // Tells the styled memo that the colouring changed.
    void StylesChanged();

    std::unique_ptr<TElementStyles> FAllStyles;
    std::string FLineComment;
    std::string FMultiCommentLeft;
    std::string FMultiCommentRight;
    std::unique_ptr<TCharStyle> FCommentStyle;
    std::unique_ptr<TCharStyle> FNumberStyle;
    std::unique_ptr<TStringList> FAutoCompletion;
    std::unique_ptr<THintParameter> FHintParameter;
    std::string FNumberCharSet = "+-.0123456789";
    std::string FHexPrefixText;
    std::string FEscapeCharText;
};

}  // namespace ostra
