// TPyxCustomMemo: the headless core of the source-code memo, a multi-line text editor. It owns
// the text (a TPyxMemoStrings line list), the caret, the selection, the scroll position and
// the character-cell geometry, the undo history, the gutter's geometry and the two scroll bars'
// state; it turns keys and mouse events into caret moves and edits. It draws nothing and knows
// no window system: it asks an IPyxMemoView (PyxMemoView.h) to measure text, repaint, place the
// caret and show cursors, and an IPyxClipboard for the clipboard, so all of it runs without a
// display. A widget binds to it by forwarding its size, keys, mouse and focus changes, mirroring
// the scroll bars, and painting through PyxMemoPainter.h.
//
// Coordinate model. A text position is (column, line), both 0-based; a column is a character
// index of the line's 8-bit text. The font is monospace, so column c of line l lies at
//   x = TextRect().Left + (c - FirstVisibleColumn) * CellWidth
//   y = TextRect().Top + 1 + (l - FirstVisibleLine) * CellHeight.
// Lines hold no tab (Tab types TabSize blanks; the line list expands tabs) and no line break.
//
// Virtual columns. The caret column may lie beyond its line's end after a vertical move. Setting
// the caret column to a new value past the end pads the line with blanks, and so does typing
// there; moving the caret to another line trims the trailing blanks of the line it leaves.
//
// Selection. The anchor (SelStart) and the moving end (SelEnd); empty when equal. The anchor may
// lie after the moving end: users order the two first. SelTrack records the caret at the last
// selection update; a Shift+move extends the selection only when the caret still stands there.
//
// ChangeNotifying. Edits turn it off while they change lines, so the line list's change
// notifications do not reach LinesChanged, and call LinesChanged once when they are done.
//
// Invariants kept by every public operation: the effective line list holds at least one line
// once the caret has been placed; CaretLine < line count after any caret setter; the selection
// and the caret lie inside the text after Lines is assigned.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controls/memo/PyxAutoCompletion.h"
#include "controls/memo/PyxGraphics.h"
#include "controls/memo/PyxGutter.h"
#include "controls/memo/PyxMemoStrings.h"
#include "controls/memo/PyxMemoStyler.h"
#include "controls/memo/PyxMemoView.h"
#include "controls/memo/PyxTokenState.h"
#include "controls/memo/PyxUndo.h"
#include "host/Component.h"
#include "host/StringList.h"

class QPainter;

namespace ostra {

enum TBorderStyle { bsNone, bsSingle };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
// smStrict: without a scroll bar in a direction, the caret cannot leave the visible cells.
enum TScrollMode { smAuto, smStrict };
enum TAutoHintParameters { hpAuto, hpManual, hpNone };
enum TAutoHintParameterPosition { hpBelowCode, hpAboveCode };
enum TScrollBarKind { sbHorizontal, sbVertical };
// What a scroll bar reports when the user works it.
enum TScrollCode { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom, scEndScroll };

// A scroll bar as the memo keeps it; the widget mirrors it on the screen.
struct TPyxScrollBar {
    TScrollBarKind Kind = sbVertical;
    bool Visible = false;
    int Min = 0;
    int Max = 100;
    int Position = 0;
    int PageSize = -1;  // -1: no page
    TRect Bounds;       // client pixels of the memo
    // Moves the thumb, kept within Min .. Max.
    void SetPosition(int Value) { Position = Value < Min ? Min : (Value > Max ? Max : Value); }
    // The greatest position the bar's change handling keeps while it has a page: Max - PageSize
    // + 1 for the vertical bar, one further for the horizontal one.
    int LastPosition() const { return Max - PageSize + (Kind == sbVertical ? 1 : 2); }
};

// Where the memo stands in its document: caret, scroll position and selection. A shared
// document keeps it for the memo that shows it next.
struct TPyxCaretSnapshot {
    int CaretColumn = 0;
    int CaretLine = 0;
    int FirstVisibleColumn = 0;
    int FirstVisibleLine = 0;
    int SelStartColumn = 0;
    int SelStartLine = 0;
    int SelEndColumn = 0;
    int SelEndLine = 0;
};

// The word replacement lists: entry i of OldValue is replaced by entry i of NewValue.
class TAutoCorrect : public TPersistent {
public:
    TAutoCorrect() = default;
    TStringList& OldValue() { return FOldValue; }
    const TStringList& OldValue() const { return FOldValue; }
    void SetOldValue(const TStrings& Value) { FOldValue.Assign(&Value); }
    TStringList& NewValue() { return FNewValue; }
    const TStringList& NewValue() const { return FNewValue; }
    void SetNewValue(const TStrings& Value) { FNewValue.Assign(&Value); }
    // From another TAutoCorrect: both lists. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;

private:
    TStringList FOldValue;
    TStringList FNewValue;
};

// Print settings kept with the memo and streamed with its form; no memo operation reads them.
class TPrintOptions : public TPersistent {
public:
    TPrintOptions() = default;
    const std::string& JobName() const { return FJobName; }
    void SetJobName(const std::string& Value) { FJobName = Value; }
    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& Value) { FTitle = Value; }
    int MarginLeft() const { return FMarginLeft; }
    void SetMarginLeft(int Value) { FMarginLeft = Value; }
    int MarginRight() const { return FMarginRight; }
    void SetMarginRight(int Value) { FMarginRight = Value; }
    int MarginTop() const { return FMarginTop; }
    void SetMarginTop(int Value) { FMarginTop = Value; }
    int MarginBottom() const { return FMarginBottom; }
    void SetMarginBottom(int Value) { FMarginBottom = Value; }
    bool PageNr() const { return FPageNr; }
    void SetPageNr(bool Value) { FPageNr = Value; }
    const std::string& PagePrefix() const { return FPagePrefix; }
    void SetPagePrefix(const std::string& Value) { FPagePrefix = Value; }
    // From another TPrintOptions: all eight settings. Other sources: the base rules.
    void Assign(const TPersistent* Source) override;

private:
    std::string FJobName;
    std::string FTitle;
    int FMarginLeft = 0;
    int FMarginRight = 0;
    int FMarginTop = 0;
    int FMarginBottom = 0;
    bool FPageNr = false;
    std::string FPagePrefix;
};

// One entry of the built-in context menu.
struct TPyxMenuItem {
    int Command = 0;  // 0 for a separator
    std::string Caption;
    bool Enabled = false;
};

using TGutterClickEvent = std::function<void(TObject* Sender, int LineNo)>;
using TGutterDrawEvent = std::function<void(TObject* Sender, QPainter& Canvas, int LineNo, const TRect& Rct)>;
using TAllowEvent = std::function<void(TObject* Sender, bool& Allow)>;
using TUndoChangeEvent = std::function<void(TObject* Sender, bool CanUndo, bool CanRedo)>;
using TURLClick = std::function<void(TObject* Sender, const std::string& URL)>;
using TMemoWordEvent = std::function<void(TObject* Sender, const std::string& CurrentWord, std::string& NewWord)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;
using TMemoBeforeCompleteEvent = std::function<void(TObject* Sender, const std::string& AToken, bool& Show)>;
using TMemoGetCompletionListEvent =
    std::function<void(TObject* Sender, const std::string& AToken, TStringList& AList)>;
using TMemoSortCompletionListEvent =
    std::function<int(TObject* Sender, TStringList& List, int Index1, int Index2)>;
using TMemoInsertCompletionEntryEvent = std::function<void(TObject* Sender, std::string& AEntry)>;
using TMemoGetParameterHintEvent =
    std::function<void(TObject* Sender, const std::string& AToken, std::string& AParameterHint, bool& Handled)>;
using TMemoHintEvent = std::function<void(TObject* Sender, int X, int Y, const std::string& AValue,
                                          std::string& AHint, bool& Show)>;

// The memo's headless core.
class TPyxCustomMemo : public TComponent {
public:
    explicit TPyxCustomMemo(TComponent* AOwner);
    ~TPyxCustomMemo() override;

    // ---- Seams (not owned; null for none)
    IPyxMemoView* View() const { return FView; }
    void SetView(IPyxMemoView* Value) { FView = Value; }
    IPyxClipboard* Clipboard() const { return FClipboard; }
    void SetClipboard(IPyxClipboard* Value) { FClipboard = Value; }

    // ---- Size: the widget reports its client size; a change re-lays out the memo.
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Moves and sizes the memo; a new size runs UpdateLayout (its failures are swallowed).
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // ---- The effective objects: the memo's own, or those of a shared document once one is
    // attached (a descendant overrides these three).
    virtual TPyxMemoStrings& EffectiveLines() const { return *FLines; }
    virtual TPyxUndoList& EffectiveUndoList() const { return *FUndoList; }
    virtual TPyxCustomMemoStyler* EffectiveStyler() const { return FSyntaxStyles; }

    // ---- Properties
    // The memo's own styler (not owned; null for none). Setting it makes this memo the styles'
    // StyledMemo and drops every cached colouring state.
    TPyxCustomMemoStyler* SyntaxStyles() const { return FSyntaxStyles; }
    void SetSyntaxStyles(TPyxCustomMemoStyler* Value);
    TPyxMemoStrings& Lines() const { return *FLines; }
    // Replaces the effective lines with those of `Value` (null: ignored; the effective lines
    // themselves: nothing changes); the caret and the selection are then clamped to the text.
    void SetLines(const TStrings* Value);
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    // Stores the style, places the gutter and repaints.
    void SetBorderStyle(TBorderStyle Value);
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool Value);
    // The gutter's offsets and width from BorderStyle, Ctl3D and GutterWidth: with a single
    // border offsets 2 (Ctl3D) or 1 and width GutterWidth; without a border offsets 0 and width
    // GutterWidth + 2.
    void PlaceGutter();
    bool AutoIndent() const { return FAutoIndent; }
    void SetAutoIndent(bool Value) { FAutoIndent = Value; }
    int TextMargin() const { return FTextMargin; }
    bool HiddenCaret() const { return FHiddenCaret; }
    void SetHiddenCaret(bool Value);
    bool CaretShown() const { return FCaretShown; }
    int CellWidth() const { return FCellWidth; }
    int CellHeight() const { return FCellHeight; }
    int CaretColumn() const { return FCaretColumn; }
    int CaretLine() const { return FCaretLine; }
    int FirstVisibleColumn() const { return FFirstVisibleColumn; }
    int FirstVisibleLine() const { return FFirstVisibleLine; }
    int TabSize() const { return FTabSize; }
    void SetTabSize(int Value) { FTabSize = Value; }
    // The text font. Setting it measures "W" and "i": a font whose widths differ raises EAbort
    // "Monospace font required" and leaves the font as it was. Changing the font object
    // directly runs the same check; a failing change keeps the new values in the object while
    // painting keeps the old face (CanvasFont).
    TFont& Font() const { return *FFont; }
    void SetFont(const TFont& Value);
    // The face that painting uses: the last font that passed the monospace check.
    const TFont& CanvasFont() const { return *FCanvasFont; }
    TColor BkColor() const { return FBkColor; }
    void SetBkColor(TColor Value) { SetColorIndexed(0, Value); }
    TColor SelColor() const { return FSelColor; }
    void SetSelColor(TColor Value) { SetColorIndexed(1, Value); }
    TColor SelBkColor() const { return FSelBkColor; }
    void SetSelBkColor(TColor Value) { SetColorIndexed(2, Value); }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool Value) { FReadOnly = Value; }
    // With a selection present, typing replaces it and Delete or Backspace deletes it.
    bool DelErase() const { return FDelErase; }
    void SetDelErase(bool Value) { FDelErase = Value; }
    int SelStartColumn() const { return FSelStartColumn; }
    int SelStartLine() const { return FSelStartLine; }
    int SelEndColumn() const { return FSelEndColumn; }
    int SelEndLine() const { return FSelEndLine; }
    int SelTrackColumn() const { return FSelTrackColumn; }
    int SelTrackLine() const { return FSelTrackLine; }
    // Sets the anchor and the moving end (no caret move, no event).
    void SetSelection(int StartColumn, int StartLine, int EndColumn, int EndLine);
    bool SelectionEmpty() const { return FSelStartColumn == FSelEndColumn && FSelStartLine == FSelEndLine; }
    // The selection with its smaller position first: (start column, start line, end column,
    // end line).
    void OrderedSelection(int& StartColumn, int& StartLine, int& EndColumn, int& EndLine) const;
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value);
    TScrollMode ScrollMode() const { return FScrollMode; }
    void SetScrollMode(TScrollMode Value) { FScrollMode = Value; }
    TPyxGutter& Gutter() { return FGutter; }
    const TPyxGutter& Gutter() const { return FGutter; }
    int GutterWidth() const { return FGutterWidth; }
    // Stored here and in the gutter; unless the memo is loading, UpdateLayout.
    void SetGutterWidth(int Value);
    TColor GutterColor() const { return FGutter.Color; }
    void SetGutterColor(TColor Value);
    const TPyxScrollBar& VertScrollBar() const { return FVertScrollBar; }
    const TPyxScrollBar& HorzScrollBar() const { return FHorzScrollBar; }
    // The thickness in pixels of the two scroll bars (16 unless the window system draws bars of
    // another size); a change re-lays out the memo.
    int ScrollBarExtent() const { return FScrollBarExtent; }
    void SetScrollBarExtent(int Value);
    bool MouseSelecting() const { return FMouseSelecting; }
    TPyxUndoList& UndoList() const { return *FUndoList; }
    int UndoLimit() const { return FUndoLimit; }
    // Clamped to 1 .. 100; a changed limit empties the own undo list.
    void SetUndoLimit(int Value);
    int LongestLineLength() const { return FLongestLineLength; }
    bool OverwriteMode() const { return FOverwriteMode; }
    void SetOverwriteMode(bool Value) { FOverwriteMode = Value; }
    bool WantTab() const { return FWantTab; }
    void SetWantTab(bool Value) { FWantTab = Value; }
    TAutoCorrect& AutoCorrect() { return FAutoCorrect; }
    const TAutoCorrect& AutoCorrect() const { return FAutoCorrect; }
    void SetAutoCorrect(const TAutoCorrect& Value) { FAutoCorrect.Assign(&Value); }
    TPrintOptions& PrintOptions() { return FPrintOptions; }
    const TPrintOptions& PrintOptions() const { return FPrintOptions; }
    void SetPrintOptions(const TPrintOptions& Value) { FPrintOptions.Assign(&Value); }
    // Parameter hints: hpAuto follows every caret move, hpManual only Ctrl+Shift+Space, hpNone
    // never. Setting it hides the hint.
    TAutoHintParameters AutoHintParameters() const { return FAutoHintParameters; }
    void SetAutoHintParameters(TAutoHintParameters Value);
    // Milliseconds from the last computation of the hint to its hiding; a value of 0 or below is
    // stored but leaves the timer's interval as it was.
    int AutoHintParameterDelay() const { return FAutoHintParameterDelay; }
    void SetAutoHintParameterDelay(int Value);
    int ParameterHintInterval() const { return FParameterHintInterval; }
    // The hint on the row below or above the caret.
    TAutoHintParameterPosition AutoHintParameterPosition() const { return FAutoHintParameterPosition; }
    void SetAutoHintParameterPosition(TAutoHintParameterPosition Value) { FAutoHintParameterPosition = Value; }
    // Tooltips for the word or token under the mouse (OnHintForWord, OnHintForToken) while on;
    // Hint is the memo's own tooltip text.
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value) { FShowHint = Value; }
    const std::string& Hint() const { return FHint; }
    void SetHint(const std::string& Value) { FHint = Value; }
    TAutoCompletion& AutoCompletion() const { return *FAutoCompletion; }
    void SetAutoCompletion(const TAutoCompletion& Value) { FAutoCompletion->Assign(&Value); }
    bool AcceptNextChar() const { return FAcceptNextChar; }
    bool LastKeyWithoutCtrl() const { return FLastKeyWithoutCtrl; }
    bool ChangeNotifying() const { return FChangeNotifying; }
    void SetChangeNotifying(bool Value) { FChangeNotifying = Value; }
    // The right margin line at this many columns (0: none) and its colour.
    int RightMargin() const { return FRightMargin; }
    void SetRightMargin(int Value);
    TColor RightMarginColor() const { return FRightMarginColor; }
    void SetRightMarginColor(TColor Value);
    // True while the memo's window has the focus (the selection is drawn only then).
    bool Focused() const { return FView && FView->Focused(); }
    // The cursor the mouse shows over the text (restored after the hand over a URL).
    TPyxCursor Cursor() const { return FCursor; }
    void SetCursor(TPyxCursor Value);
    // Word separators for URL detection.
    const std::string& UrlDelimiters() const { return FUrlDelimiters; }
    bool UrlAware() const { return FUrlAware; }
    // A change re-colours the whole text (URL words colour the text after them differently).
    void SetUrlAware(bool Value);
    // The colours of URL words (blue on white, underlined); setting copies them.
    TCharStyle& UrlStyle() const { return *FUrlStyle; }
    void SetUrlStyle(const TCharStyle& Value) { FUrlStyle->Assign(&Value); }

    // ---- Tokenizer cache (PyxLineTokenizer.h): the start state of StartStateLine.
    int StartStateLine() const { return FStartStateLine; }
    void SetStartStateLine(int Value) { FStartStateLine = Value; }
    const TokenState& StartState() const { return FStartState; }
    void SetStartState(const TokenState& Value) { FStartState = Value; }
    // The line list reports a change of line `Index`: a cached start state of a line below it
    // went stale.
    void LineTextChanged(int Index);
    // The styler's styles or delimiters changed: every cached colouring state is stale (the
    // memo repaints with the new styles at its next paint).
    void StylesChanged();

    // ---- Events
    TNotifyEvent OnChange;
    TNotifyEvent OnStatusChange;
    TNotifyEvent OnSelectionChange;
    TNotifyEvent OnCursorChange;
    TGutterClickEvent OnGutterClick;
    TGutterClickEvent OnGutterRightClick;
    TGutterDrawEvent OnGutterDraw;
    TAllowEvent OnOverwriteToggle;
    TUndoChangeEvent OnUndoChange;
    TURLClick OnURLClick;
    TNotifyEvent OnFind;
    TNotifyEvent OnReplace;
    TMemoWordEvent OnWordComplete;
    TKeyPressEvent OnKeyPress;
    TMemoBeforeCompleteEvent OnBeforeAutoCompletion;
    TMemoGetCompletionListEvent OnGetAutoCompletionList;
    TMemoSortCompletionListEvent OnSortAutoCompletionList;
    TNotifyEvent OnStartAutoCompletion;
    TMemoInsertCompletionEntryEvent OnInsertAutoCompletionEntry;
    TNotifyEvent OnAutoCompletion;
    TNotifyEvent OnCanceltAutoCompletion;
    TMemoGetParameterHintEvent OnGetParameterHint;
    TMemoHintEvent OnHintForWord;
    TMemoHintEvent OnHintForToken;

    // ---- Overridable behaviour
    virtual void SelectionChanged();
    virtual void StatusChanged();
    // True for the blank only.
    virtual bool IsWordDelimiter(char Ch) const;
    // True for blank " ' ( ) , . : ; = [ ].
    virtual bool IsTokenDelimiter(char Ch) const;
    // Called after each caret move.
    virtual void CursorChanged();
    // Every editing operation tests ReadOnly and this.
    virtual bool CanEdit() const { return true; }
    // The delimiter of word-wise caret moves: the symbols of the styler's first symbol style;
    // the blank without a styler.
    bool IsSymbolChar(char Ch) const;
    // The character that makes the next one ordinary inside a URL word or a bracket run: the
    // first of the styler's EscapeCharText; 0 for none.
    char EscapeChar() const;
    // True when the memo may be edited from the keyboard, the mouse and the menu.
    bool MayEdit() const { return !FReadOnly && CanEdit(); }

    // ---- Lines
    // The handler of the line list's OnChange: unless ChangeNotifying is off, fires OnChange,
    // recomputes the longest line, updates the scroll bars and repaints.
    void LinesChanged();
    // Caret and scroll position to (0, 0), the text emptied to one empty line, the selection
    // collapsed at (0, 0), every checkpoint invalid. The undo history stays.
    void Clear();

    // ---- Geometry, caret, selection, scrolling
    // The text area in client pixels.
    TRect TextRect() const;
    // The cell (Column, Row), relative to the first visible column and line.
    TRect CellRect(int Column, int Row) const;
    // The row of line `Line` across the text area.
    TRect LineRect(int Line) const;
    // The cell under a client point, relative to the text area ((0, 0) for a zero cell size).
    TPoint PointToCell(int X, int Y);
    // The document position (X = column, Y = line) under a client point ((1, 1) for a zero
    // cell size).
    TPoint PointToPosition(int X, int Y);
    // 0: the last visible relative column; 1: the last visible relative row; 2 and 3: the last
    // document column and line that count as visible for keeping the caret in view.
    int VisibleCount(int Kind);
    // Moves the caret to column `Column` of its line; see the file comment on virtual columns.
    // A negative column goes to the end of the previous line (column 0 on line 0).
    void SetCaretColumn(int Column);
    // Moves the caret to line `Line`, clamped to the text (an empty text gets one line first);
    // the column stays; the line left is trimmed.
    void SetCaretLine(int Line);
    // Moves the caret to (Column, Line) without padding the line to the column (the line left is
    // trimmed, the caret kept in view, the status reported).
    void PlaceCaretUnpadded(int Column, int Line);
    // Arrow-key moves: with Ctrl, word-wise (DX only); else by DX columns and DY lines. The
    // selection extends with Shift when the caret stands at SelTrack, else collapses.
    void MoveCaret(int DX, int DY, TShiftState Shift);
    void WordLeft();
    void WordRight();
    // One page (visible rows - 1) up (-1) or down (1); with Ctrl to the text's start or end.
    void PageMove(int Direction, TShiftState Shift);
    // Column 0 (with Ctrl first the text's start) / the end of the line's text (with Ctrl first
    // the end of the text).
    void CaretHome(TShiftState Shift);
    void CaretEnd(TShiftState Shift);
    // Anchor, moving end and track to the caret.
    void CollapseSelection();
    // Moving end and track to the caret; the anchor stays.
    void ExtendSelection();
    // Shows (true, only while focused and not HiddenCaret) or hides the caret at its cell.
    void ShowCaretAt(bool Show);
    void ScrollCaretIntoView();
    void UpdateScrollBars();
    // After a size, gutter width or scroll-bar change.
    void UpdateLayout();
    void UpdateGutterHeight();
    void RecalcLongestLine();
    // Scrolls by `Delta` lines (vertical bar) or columns (horizontal bar).
    void ScrollBy(TScrollBarKind Bar, int Delta);
    // A scroll bar was worked: the memo follows it.
    void ScrollBarScroll(TScrollBarKind Bar, TScrollCode Code, int NewPosition);
    // The bars' change handling: clamps a visible bar's position and copies it into the first
    // visible line / column.
    void VertScrollChanged();
    void HorzScrollChanged();
    // The caret, scroll position and selection as they stand.
    TPyxCaretSnapshot SaveCaretSnapshot() const;
    // Puts caret, scroll position and selection back (kept inside the text), then shows the
    // caret if it was shown and updates the scroll bars.
    void RestoreCaretSnapshot(const TPyxCaretSnapshot& Snapshot);
    // The effective lines were replaced or are now another document's: the cached colouring state and the
    // longest line are dropped, caret and selection kept inside the text, the scroll bars
    // updated and the memo repainted.
    void EffectiveDocumentChanged();
    // Scrolls so that `Value` is the first visible line, when that leaves no empty rows.
    void SetFirstVisibleLine(int Value);
    // The mouse wheel: four lines down (Delta < 0; fewer where the text ends sooner) or up
    // (Delta > 0; to the first line from the first four).
    void MouseWheel(int Delta);
    // The run of non-delimiter characters containing column `Column` of line `Line` or ending
    // just before it; "" when the line is shorter than the column (or does not exist).
    std::string WordAt(int Column, int Line) const;
    std::string TokenAt(int Column, int Line) const;
    // The run of non-delimiter characters ending at the caret, with its 1-based start index.
    std::pair<std::string, int> WordBeforeCaret();
    // The run of non-blank characters containing the caret's column or ending just before it.
    std::string BlankWordAtCaret();

    // ---- Editing
    // Types `Ch` at the caret (insert or overwrite; Tab as blanks).
    void InsertChar(char Ch);
    // Deletes the character at the caret, or joins the next line at a line's end. With a
    // position given (Backspace), the record is a backward delete starting there.
    void DeleteChar(int UndoColumn = -1, int UndoLine = -1);
    // Deletes the character left of the caret, or joins the line to the previous one at
    // column 0; beyond the line's end it only moves the caret.
    void Backspace();
    // Deletes back to the start of the word left of the caret (Ctrl+Backspace).
    void DeleteWordBack();
    // Deletes the caret line (Ctrl+Y).
    void DeleteCurrentLine();
    // Splits the line at the caret (Enter), indenting the new line with AutoIndent.
    void NewLine();
    // The indentation a new line takes: the caret line's leading blanks, at most CaretColumn.
    std::string AutoIndentText() const;
    // Inserts `Text` (line breaks CR LF, CR or LF) in place of the selection.
    void InsertText(const std::string& Text);
    // Deletes the selection.
    void DeleteSelection(bool Repaint);
    // The selected text, lines joined by CR LF; "" for an empty selection.
    std::string GetSelectedText() const;
    int SelectedTextLength() const { return static_cast<int>(GetSelectedText().size()); }
    void SelectAll();
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();
    // Replaces, at (Column, Line), the text of Old's shape by New (the undo replay). A column
    // beyond a line's end is padded where text follows on that line; a removal that runs past a
    // line's or the text's end stops there; the line is clamped to the text.
    void ReplaceTextRange(int Column, int Line, const TTextLines& Old, const TTextLines& New);

    // ---- Undo
    void Undo();
    void Redo();
    void ClearUndoList();
    // True while the undo list holds a record (undone ones count).
    bool Modified() const;
    // False empties the undo list; True does nothing.
    void SetModified(bool Value);
    // The undo list reports a change of its history.
    void UndoChanged(bool CanUndo, bool CanRedo);

    // ---- Keyboard, mouse and window events (the widget forwards them)
    void KeyDown(uint16_t Key, TShiftState Shift);
    // A typed character; OnKeyPress may change it.
    void KeyPress(char& Key);
    void KeyUp(uint16_t Key, TShiftState Shift);
    // The edit dispatcher of keys: Ctrl+A/C/V/X/Y as 1/3/22/24/25, Backspace, Enter, the page,
    // Home, End, Insert and Delete keys. Nothing when ReadOnly.
    void EditCommand(uint16_t Key, TShiftState Shift);
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void MouseMove(TShiftState Shift, int X, int Y);
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    // A left double-click: selects the word under the caret.
    void DblClick(int X, int Y);
    // The built-in context menu for a click at client x `X`; empty when none is shown (the click
    // was in the gutter). Commands: 1 Copy, 2 Cut, 3 Paste, 4 Select All.
    std::vector<TPyxMenuItem> ContextMenuItems(int X) const;
    void ContextMenuCommand(int Command);
    // The cursor over a client point: Cursor() inside the text area, else the arrow.
    TPyxCursor CursorAt(int X, int Y) const;
    // The memo's window gained / lost the keyboard focus (`ToScrollBar`: to one of its bars).
    void FocusIn();
    void FocusOut(bool ToScrollBar = false);

    // ---- URL words
    // The line cut into alternating runs of UrlDelimiters characters and of other characters
    // (the escape character and the one after it stay in the current run); the whole line as
    // one run without UrlAware. Joining the runs gives the line back.
    std::vector<std::string> SplitUrlWords(const std::string& Line) const;
    // True when a run lower-cased begins with "http://" or "mailto:".
    static bool IsUrlWord(const std::string& Word);
    // With UrlAware: the run covering column `Column` of `Line` is a URL.
    bool IsUrlAt(const std::string& Line, int Column) const;
    // Fires OnURLClick when the caret column of `Line` lies in a URL run.
    void UrlClick(const std::string& Line);

    // ---- Autocompletion (the list's state; the view shows it)
    // Opens the list for the text before the caret (Ctrl+Space): after a full stop in that word a
    // member list replacing the token typed after the last delimiter, else a list of the
    // styler's words replacing the word typed.
    void OpenAutoCompletion();
    // Builds, sorts, measures and shows the list (nothing unless autocompletion is active, the
    // memo may be edited and the styler has words; nothing when the list would be empty).
    void ShowAutoCompletion();
    // The list shows the candidates whose entry text begins with `Prefix` (upper case), the
    // first selected.
    void FilterCompletionList(const std::string& Prefix);
    // Inserts the selected entry in place of the typed text (by keyboard a function's name with
    // "()" and the caret between, and its parameter hint; by mouse the name alone), then closes.
    void AcceptCompletion(bool ByMouse);
    // Closes the list with OnCanceltAutoCompletion (when it is open).
    void CancelCompletion();
    // Closes the list.
    void HideCompletion();
    // A key while the list is open; false when the key closed the list and goes on to the memo.
    bool CompletionKeyDown(uint16_t Key, TShiftState Shift);
    bool CompletionVisible() const { return FCompletionVisible; }
    bool MemberMode() const { return FMemberMode; }
    int CompletionStartColumn() const { return FCompletionStartColumn; }
    int CompletionStartLine() const { return FCompletionStartLine; }
    // Every entry the list was opened with, and those it shows now with the selected one (-1:
    // none); their objects are the entry kinds.
    const TStringList& CompletionCandidates() const { return FCompletionCandidates; }
    const TStringList& CompletionItems() const { return FCompletionItems; }
    int CompletionIndex() const { return FCompletionIndex; }
    void SetCompletionIndex(int Value);
    // Where the list stands (client pixels), the height of its items and the width of its kind
    // column (from the measure of its entries).
    const TRect& CompletionRect() const { return FCompletionRect; }
    int CompletionItemHeight() const { return FCompletionItemHeight; }
    int CompletionKindColumnWidth() const { return FCompletionKindColumnWidth; }
    // The typed text that the list completes: in member mode from the completion start to the
    // caret, else the blank-delimited word before the caret; and the column it starts at.
    std::string CompletionPrefix(int* StartColumn = nullptr) const;

    // ---- Parameter hint
    // Prepares the hint for the call the caret stands in (restarting its timer); false when there
    // is none.
    bool ComputeParameterHint();
    // Computes, places and shows the hint while the caret's row is visible; hides it otherwise.
    void ShowParameterHint();
    void HideParameterHint();
    bool ParameterHintVisible() const { return FHintVisible; }
    const std::string& HintBefore() const { return FHintBefore; }
    const std::string& HintCurrent() const { return FHintCurrent; }
    const std::string& HintAfter() const { return FHintAfter; }
    // 1: HintBefore is bold; 2: HintCurrent is.
    int HintBoldPart() const { return FHintBoldPart; }
    const TRect& ParameterHintRect() const { return FHintRect; }
    // The hint's font (the host's default form font).
    const TFont& HintFont() const { return FHintFont; }

    // ---- Tooltips
    // The tooltip for a client point: the word's (OnHintForWord), else the token's
    // (OnHintForToken), else the memo's own Hint; false when none is to be shown.
    bool HintForPoint(int X, int Y, std::string& Text);
    int HintCellColumn() const { return FHintCellColumn; }
    int HintCellLine() const { return FHintCellLine; }

    // ---- Timers
    bool TimerRunning(TPyxMemoTimer Timer) const { return FTimerRunning[Timer]; }
    // The view reports a timer that ran out.
    void TimerFired(TPyxMemoTimer Timer);

    // Drops the styler when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // ---- Repainting
    // Measures the cell size from the painting face when it is still unknown (0).
    void EnsureCellSize();
    void Invalidate();
    void InvalidateRect(const TRect& Rect);

protected:
    bool CompletionActive() const { return FAutoCompletion->Active(); }
    void StartTimer(TPyxMemoTimer Timer, int Interval);
    void StopTimer(TPyxMemoTimer Timer);
    // The list filters again after the memo's text changed under it (member mode: closes once
    // the full stop is gone).
    void RefilterCompletion();
    // The list's width for its entries; sets the item height and the kind column's width.
    int MeasureCompletionList();
    // Applies Font: measures the cell size, recreates a shown caret, repaints.
    void ApplyFont(const TFont& Value);
    // The caret's size follows the cell: hides, recreates and shows a shown caret.
    void RecreateCaret();
    // The font object changed (directly or through SetFont).
    void FontChanged();
    // Sets BkColor (0), SelColor (1) or SelBkColor (2), repainting on a change.
    void SetColorIndexed(int Index, TColor Value);
    // Pushes a record onto the effective undo list.
    void AddUndo(std::unique_ptr<TUndo> Record);
    // The autocorrection / word completion of a typed Tab, Enter or blank.
    void CompleteWord();
    // The line's text, or "" for a line outside the list.
    std::string LineText(int Line) const;
    // Writes line `Line` (ChangeNotifying as it is).
    void PutLine(int Line, const std::string& S);
    // Whether `Shift` holds exactly Ctrl among Shift, Alt and Ctrl.
    static bool OnlyCtrl(TShiftState Shift);
    // Clamps the caret line and the selection to the text.
    void ClampToText();
    // Keeps the caret index on its own line while a change from line `First` to line `First` +
    // `RemovedLines` (where the text after the change starts at `TailColumn`) is replaced by
    // `InsertedLines` + 1 lines: a caret in the text after the change goes with it to the last
    // new line, a caret inside the change to `First`. So the next caret move trims the line the
    // caret really leaves.
    void FollowCaretLine(int First, int RemovedLines, int TailColumn, int InsertedLines);
    // The ordered selection cut to the text's lines; false when it lies outside the text.
    bool SelectionInText(int& StartColumn, int& StartLine, int& EndColumn, int& EndLine) const;

    // A scope in which ChangeNotifying is off; restores the former value.
    class TNotifyOff {
    public:
        explicit TNotifyOff(TPyxCustomMemo& Memo) : FMemo(Memo), FSaved(Memo.FChangeNotifying) {
            Memo.FChangeNotifying = false;
        }
        ~TNotifyOff() { FMemo.FChangeNotifying = FSaved; }
        TNotifyOff(const TNotifyOff&) = delete;
        TNotifyOff& operator=(const TNotifyOff&) = delete;

    private:
        TPyxCustomMemo& FMemo;
        bool FSaved;
    };

    IPyxMemoView* FView = nullptr;
    IPyxClipboard* FClipboard = nullptr;

    int FLeft = 0;
    int FTop = 0;
    int FWidth = 100;
    int FHeight = 40;

    bool FCaseSensitive = false;
    TBorderStyle FBorderStyle = bsSingle;
    bool FAutoIndent = true;
    int FTextMargin = 2;
    bool FHiddenCaret = false;
    bool FCaretShown = false;
    int FCellWidth = 0;
    int FCellHeight = 0;
    int FCaretColumn = 0;
    int FCaretLine = 0;
    int FStartStateLine = -1;
    int FFirstVisibleColumn = 0;
    int FFirstVisibleLine = 0;
    int FTabSize = 4;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TFont> FCanvasFont;
    bool FApplyingFont = false;
    TColor FBkColor = clWhite;
    TColor FSelColor = clWhite;
    TColor FSelBkColor = clNavy;
    bool FReadOnly = false;
    bool FDelErase = false;
    std::unique_ptr<TPyxMemoStrings> FLines;
    int FSelStartColumn = 0;
    int FSelStartLine = 0;
    int FSelEndColumn = 0;
    int FSelEndLine = 0;
    int FSelTrackColumn = 0;
    int FSelTrackLine = 0;
    TScrollStyle FScrollBars = ssBoth;
    TPyxGutter FGutter;
    int FGutterWidth = 45;
    TPyxScrollBar FVertScrollBar;
    TPyxScrollBar FHorzScrollBar;
    int FScrollBarExtent = 16;
    bool FMouseSelecting = false;
    TScrollMode FScrollMode = smAuto;
    std::unique_ptr<TPyxUndoList> FUndoList;
    int FUndoLimit = 100;
    TokenState FStartState;
    std::string FUrlDelimiters = " \"',";
    TAutoHintParameters FAutoHintParameters = hpAuto;
    int FAutoHintParameterDelay = 2500;
    int FParameterHintInterval = 2500;
    TAutoHintParameterPosition FAutoHintParameterPosition = hpBelowCode;
    bool FShowHint = false;
    std::string FHint;
    std::unique_ptr<TAutoCompletion> FAutoCompletion;
    bool FMemberMode = false;
    int FCompletionStartColumn = 0;
    int FCompletionStartLine = 0;
    TStringList FCompletionCandidates;
    TStringList FCompletionItems;
    int FCompletionIndex = -1;
    bool FCompletionVisible = false;
    TRect FCompletionRect;
    int FCompletionItemHeight = 16;
    int FCompletionKindColumnWidth = 0;
    bool FTimerRunning[2] = {false, false};
    bool FHintVisible = false;
    bool FHintBeingShown = false;
    std::string FHintBefore;
    std::string FHintCurrent;
    std::string FHintAfter;
    int FHintBoldPart = 1;
    TRect FHintRect;
    TFont FHintFont;
    int FHintCellColumn = 0;
    int FHintCellLine = 0;
    bool FUrlAware = true;
    bool FCtl3D = false;
    TPyxCustomMemoStyler* FSyntaxStyles = nullptr;
    mutable std::string FFirstSymbolChars;
    std::unique_ptr<TCharStyle> FUrlStyle;
    TPyxCursor FCursor = crPyxIBeam;
    TPyxCursor FSavedCursor = crPyxIBeam;
    int FLongestLineLength = 0;
    bool FAcceptNextChar = false;
    int FLastCaretX = 0;
    int FLastCaretY = 0;
    bool FOverwriteMode = false;
    bool FWantTab = true;
    TAutoCorrect FAutoCorrect;
    TPrintOptions FPrintOptions;
    bool FLastKeyWithoutCtrl = false;
    bool FChangeNotifying = true;
    int FRightMargin = 80;
    TColor FRightMarginColor = 0xE2E2E2;
};

}  // namespace ostra
