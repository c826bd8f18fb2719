// The memo core's construction, properties, font, line-change handling, undo entry points and
// URL words. Caret and scrolling live in PyxMemoCaret.cpp, edits in PyxMemoEdit.cpp, keys and
// mouse in PyxMemoInput.cpp.
#include "controls/memo/PyxCustomMemo.h"

#include <algorithm>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

// ---- TAutoCorrect

void TAutoCorrect::Assign(const TPersistent* Source) {
    if (const auto* source = dynamic_cast<const TAutoCorrect*>(Source)) {
        FOldValue.Assign(&source->FOldValue);
        FNewValue.Assign(&source->FNewValue);
        return;
    }
    TPersistent::Assign(Source);
}

void TPrintOptions::Assign(const TPersistent* Source) {
    if (const auto* source = dynamic_cast<const TPrintOptions*>(Source)) {
        FJobName = source->FJobName;
        FTitle = source->FTitle;
        FMarginLeft = source->FMarginLeft;
        FMarginRight = source->FMarginRight;
        FMarginTop = source->FMarginTop;
        FMarginBottom = source->FMarginBottom;
        FPageNr = source->FPageNr;
        FPagePrefix = source->FPagePrefix;
        return;
    }
    TPersistent::Assign(Source);
}

// ---- Construction

TPyxCustomMemo::TPyxCustomMemo(TComponent* AOwner)
    : TComponent(AOwner),
      FFont(std::make_unique<TFont>()),
      FCanvasFont(std::make_unique<TFont>()),
      FLines(std::make_unique<TPyxMemoStrings>()),
      FUndoList(std::make_unique<TPyxUndoList>(this)),
      FAutoCompletion(std::make_unique<TAutoCompletion>()),
      FUrlStyle(std::make_unique<TCharStyle>(clBlue, clWhite, TFontStyles{fsUnderline})) {
    FFont->SetName("Courier New");
    FFont->SetSize(10);
    FCanvasFont->Assign(FFont.get());
    FFont->OnChange = [this](TObject*) { FontChanged(); };

    FLines->Add("");
    FLines->OnChange = [this](TObject*) { LinesChanged(); };
    FLines->SetOwnerMemo(this);

    FVertScrollBar.Kind = sbVertical;
    FVertScrollBar.Bounds = {0, 0, FScrollBarExtent, 0};
    FHorzScrollBar.Kind = sbHorizontal;
    FHorzScrollBar.Bounds = {0, 0, 0, FScrollBarExtent};
}

TPyxCustomMemo::~TPyxCustomMemo() {
    Destroying();
    if (FSyntaxStyles && FSyntaxStyles->AllStyles().StyledMemo() == this)
        FSyntaxStyles->AllStyles().SetStyledMemo(nullptr);
    FLines->OnChange = nullptr;
    FLines->SetOwnerMemo(nullptr);
    FFont->OnChange = nullptr;
    FUndoList->SetTargetMemo(nullptr);
}

void TPyxCustomMemo::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    FLeft = ALeft;
    FTop = ATop;
    if (AWidth == FWidth && AHeight == FHeight) return;
    FWidth = AWidth;
    FHeight = AHeight;
    try {
        UpdateLayout();
    } catch (const std::exception&) {
        // A size change never fails: the next paint shows what the layout could do.
    }
}

// ---- Properties

void TPyxCustomMemo::SetLines(const TStrings* Value) {
    if (!Value) return;
    TPyxMemoStrings& lines = EffectiveLines();
    if (Value == &lines) {
        // Assigning the lines to themselves would empty them before reading them.
        Invalidate();
        return;
    }
    FStartStateLine = -1;
    {
        TNotifyOff off(*this);
        lines.Clear();
        for (int i = 0; i < Value->Count(); ++i) lines.Add(Value->Strings(i));
    }
    ClampToText();
    if (ComponentState().Contains(csDesigning)) {
        UpdateLayout();
    } else {
        SelectionChanged();
    }
    LinesChanged();
    Invalidate();
}

void TPyxCustomMemo::ClampToText() {
    const TPyxMemoStrings& lines = EffectiveLines();
    const int last = lines.Count() - 1;
    auto clampPosition = [&](int& column, int& line) {
        if (last < 0) {
            column = 0;
            line = 0;
            return;
        }
        if (line > last) {
            line = last;
            column = static_cast<int>(lines.Strings(last).size());
        }
        if (line < 0) line = 0;
        column = std::clamp(column, 0, static_cast<int>(lines.Strings(line).size()));
    };
    clampPosition(FSelStartColumn, FSelStartLine);
    clampPosition(FSelEndColumn, FSelEndLine);
    clampPosition(FSelTrackColumn, FSelTrackLine);
    FCaretLine = std::clamp(FCaretLine, 0, std::max(0, last));
    if (FCaretColumn < 0) FCaretColumn = 0;
    FFirstVisibleLine = std::clamp(FFirstVisibleLine, 0, std::max(0, last));
}

void TPyxCustomMemo::SetSelection(int StartColumn, int StartLine, int EndColumn, int EndLine) {
    FSelStartColumn = StartColumn;
    FSelStartLine = StartLine;
    FSelEndColumn = EndColumn;
    FSelEndLine = EndLine;
}

void TPyxCustomMemo::OrderedSelection(int& StartColumn, int& StartLine, int& EndColumn, int& EndLine) const {
    StartColumn = FSelStartColumn;
    StartLine = FSelStartLine;
    EndColumn = FSelEndColumn;
    EndLine = FSelEndLine;
    if (EndLine < StartLine || (EndLine == StartLine && EndColumn < StartColumn)) {
        std::swap(StartColumn, EndColumn);
        std::swap(StartLine, EndLine);
    }
}

void TPyxCustomMemo::SetCaseSensitive(bool Value) {
    if (Value == FCaseSensitive) return;
    FCaseSensitive = Value;
    Invalidate();
}

void TPyxCustomMemo::PlaceGutter() {
    if (FBorderStyle == bsSingle) {
        const int offset = FCtl3D ? 2 : 1;
        FGutter.Left = offset;
        FGutter.Top = offset;
        FGutter.Width = FGutterWidth;
    } else {
        FGutter.Left = 0;
        FGutter.Top = 0;
        FGutter.Width = FGutterWidth + 2;
    }
}

void TPyxCustomMemo::SetBorderStyle(TBorderStyle Value) {
    FBorderStyle = Value;
    PlaceGutter();
    Invalidate();
}

void TPyxCustomMemo::SetCtl3D(bool Value) {
    FCtl3D = Value;
    PlaceGutter();
    Invalidate();
}

void TPyxCustomMemo::SetHiddenCaret(bool Value) {
    if (Value == FHiddenCaret) return;
    FHiddenCaret = Value;
    if (FView && FView->Focused()) ShowCaretAt(!Value);
}

void TPyxCustomMemo::SetColorIndexed(int Index, TColor Value) {
    TColor* target = Index == 0 ? &FBkColor : (Index == 1 ? &FSelColor : &FSelBkColor);
    if (*target == Value) return;
    *target = Value;
    Invalidate();
}

void TPyxCustomMemo::SetScrollBars(TScrollStyle Value) {
    if (Value == FScrollBars) return;
    FScrollBars = Value;
    UpdateLayout();
}

void TPyxCustomMemo::SetScrollBarExtent(int Value) {
    if (Value == FScrollBarExtent || Value < 0) return;
    FScrollBarExtent = Value;
    FVertScrollBar.Bounds.Right = FVertScrollBar.Bounds.Left + Value;
    FHorzScrollBar.Bounds.Bottom = FHorzScrollBar.Bounds.Top + Value;
    UpdateLayout();
}

void TPyxCustomMemo::SetGutterWidth(int Value) {
    FGutterWidth = Value;
    PlaceGutter();
    if (!ComponentState().Contains(csLoading)) UpdateLayout();
}

void TPyxCustomMemo::SetGutterColor(TColor Value) {
    if (Value == FGutter.Color) return;
    FGutter.Color = Value;
    InvalidateRect(FGutter.Rect());
}

void TPyxCustomMemo::SetUndoLimit(int Value) {
    if (Value == FUndoLimit) return;
    FUndoLimit = std::clamp(Value, 1, 100);
    FUndoList->SetRecordLimit(FUndoLimit);
}

void TPyxCustomMemo::SetAutoHintParameters(TAutoHintParameters Value) {
    FAutoHintParameters = Value;
    HideParameterHint();
}

void TPyxCustomMemo::SetAutoHintParameterDelay(int Value) {
    FAutoHintParameterDelay = Value;
    if (Value > 0) FParameterHintInterval = Value;
}

void TPyxCustomMemo::SetRightMargin(int Value) {
    if (Value == FRightMargin) return;
    FRightMargin = Value;
    Invalidate();
}

void TPyxCustomMemo::SetRightMarginColor(TColor Value) {
    if (Value == FRightMarginColor) return;
    FRightMarginColor = Value;
    Invalidate();
}

void TPyxCustomMemo::SetCursor(TPyxCursor Value) {
    FCursor = Value;
    FSavedCursor = Value;
}

void TPyxCustomMemo::SetUrlAware(bool Value) {
    if (Value == FUrlAware) return;
    FUrlAware = Value;
    StylesChanged();
    Invalidate();
}

void TPyxCustomMemo::LineTextChanged(int Index) {
    if (Index < FFirstVisibleLine) FStartStateLine = -1;
}

void TPyxCustomMemo::StylesChanged() {
    EffectiveLines().ClearLineStates();
    FStartStateLine = -1;
    FFirstSymbolChars.clear();
}

void TPyxCustomMemo::SetSyntaxStyles(TPyxCustomMemoStyler* Value) {
    if (FSyntaxStyles && FSyntaxStyles != Value) {
        if (FSyntaxStyles->AllStyles().StyledMemo() == this) FSyntaxStyles->AllStyles().SetStyledMemo(nullptr);
        RemoveFreeNotification(FSyntaxStyles);
    }
    FSyntaxStyles = Value;
    if (Value) {
        // Each side hears of the other's destruction, also as siblings on one form.
        FreeNotification(Value);
        Value->FreeNotification(this);
        Value->AllStyles().SetStyledMemo(this);
    }
    StylesChanged();
    Invalidate();
}

void TPyxCustomMemo::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent == FSyntaxStyles) {
        FSyntaxStyles = nullptr;
        StylesChanged();
        Invalidate();
    }
    TComponent::Notification(AComponent, Operation);
}

char TPyxCustomMemo::EscapeChar() const {
    const TPyxCustomMemoStyler* styler = EffectiveStyler();
    return styler && !styler->EscapeCharText().empty() ? styler->EscapeCharText()[0] : '\0';
}

// ---- Font

void TPyxCustomMemo::SetFont(const TFont& Value) {
    ApplyFont(Value);
}

void TPyxCustomMemo::ApplyFont(const TFont& Value) {
    TSize w;
    if (FView) {
        w = FView->TextExtent(Value, "W");
        if (w.cx != FView->TextExtent(Value, "i").cx) throw EAbort("Monospace font required");
    }
    {
        struct TApplying {
            bool& Flag;
            ~TApplying() { Flag = false; }
        } applying{FApplyingFont};
        FApplyingFont = true;
        FFont->Assign(&Value);
        FCanvasFont->Assign(&Value);
    }
    FCellWidth = w.cx;
    FCellHeight = w.cy;
    RecreateCaret();
    Invalidate();
}

void TPyxCustomMemo::FontChanged() {
    if (FApplyingFont) return;
    if (!FView) {
        // No window yet: the face is checked and measured when the cell size is first needed.
        FCanvasFont->Assign(FFont.get());
        FCellWidth = 0;
        FCellHeight = 0;
        return;
    }
    TSize w = FView->TextExtent(*FFont, "W");
    if (w.cx != FView->TextExtent(*FFont, "i").cx) throw EAbort("Monospace font required");
    FCanvasFont->Assign(FFont.get());
    FCellWidth = w.cx;
    FCellHeight = w.cy;
    RecreateCaret();
    UpdateScrollBars();
    Invalidate();
}

void TPyxCustomMemo::EnsureCellSize() {
    if (FCellHeight != 0 || !FView) return;
    TSize w = FView->TextExtent(*FCanvasFont, "W");
    FCellWidth = w.cx;
    FCellHeight = w.cy;
}

void TPyxCustomMemo::RecreateCaret() {
    if (!FCaretShown || !FView) return;
    FView->HideCaret();
    FView->DestroyCaret();
    FView->CreateCaret(2, FCellHeight - 2);
    FView->ShowCaret();
}

// ---- Change handling

void TPyxCustomMemo::SelectionChanged() {
    if (OnSelectionChange) OnSelectionChange(this);
}

void TPyxCustomMemo::StatusChanged() {
    if (OnStatusChange) OnStatusChange(this);
}

void TPyxCustomMemo::CursorChanged() {
    if (OnCursorChange) OnCursorChange(this);
}

bool TPyxCustomMemo::IsWordDelimiter(char Ch) const {
    return Ch == ' ';
}

bool TPyxCustomMemo::IsTokenDelimiter(char Ch) const {
    switch (Ch) {
        case ' ': case '"': case '\'': case '(': case ')': case ',': case '.':
        case ':': case ';': case '=': case '[': case ']':
            return true;
        default:
            return false;
    }
}

bool TPyxCustomMemo::IsSymbolChar(char Ch) const {
    if (FFirstSymbolChars.empty()) {
        const TPyxCustomMemoStyler* styler = EffectiveStyler();
        if (!styler) return Ch == ' ';
        const TElementStyles& styles = styler->AllStyles();
        for (int i = 0; i < styles.Count(); ++i)
            if (styles.Style(i)->StyleType() == stSymbol) {
                FFirstSymbolChars = styles.Style(i)->Symbols();
                break;
            }
    }
    return FFirstSymbolChars.find(Ch) != std::string::npos;
}

void TPyxCustomMemo::LinesChanged() {
    if (!FChangeNotifying) return;
    if (OnChange) OnChange(this);
    RecalcLongestLine();
    UpdateScrollBars();
    Invalidate();
}

void TPyxCustomMemo::Clear() {
    FCaretColumn = 0;
    FCaretLine = 0;
    FFirstVisibleColumn = 0;
    FFirstVisibleLine = 0;
    {
        TNotifyOff off(*this);
        EffectiveLines().Clear();
        Invalidate();
        SetCaretLine(0);
        SetCaretColumn(0);
        SetSelection(0, 0, 0, 0);
        FSelTrackColumn = 0;
        FSelTrackLine = 0;
    }
    FChangeNotifying = true;
    LinesChanged();
    EffectiveLines().ClearLineStates();
    FStartStateLine = -1;
}

void TPyxCustomMemo::Invalidate() {
    if (FView) FView->Invalidate();
}

void TPyxCustomMemo::InvalidateRect(const TRect& Rect) {
    if (FView) FView->InvalidateRect(Rect);
}

std::string TPyxCustomMemo::LineText(int Line) const {
    const TPyxMemoStrings& lines = EffectiveLines();
    if (Line < 0 || Line >= lines.Count()) return {};
    return lines.Strings(Line);
}

void TPyxCustomMemo::PutLine(int Line, const std::string& S) {
    TPyxMemoStrings& lines = EffectiveLines();
    if (lines.Strings(Line) != S) lines.SetStrings(Line, S);
}

// ---- Undo

void TPyxCustomMemo::AddUndo(std::unique_ptr<TUndo> Record) {
    EffectiveUndoList().AddUndo(std::move(Record));
}

void TPyxCustomMemo::Undo() {
    EffectiveUndoList().Undo();
}

void TPyxCustomMemo::Redo() {
    EffectiveUndoList().Redo();
}

void TPyxCustomMemo::ClearUndoList() {
    EffectiveUndoList().Clear();
}

bool TPyxCustomMemo::Modified() const {
    return EffectiveUndoList().Count() > 0;
}

void TPyxCustomMemo::SetModified(bool Value) {
    if (!Value) ClearUndoList();
}

void TPyxCustomMemo::UndoChanged(bool CanUndo, bool CanRedo) {
    if (OnUndoChange) OnUndoChange(this, CanUndo, CanRedo);
}

// ---- URL words

std::vector<std::string> TPyxCustomMemo::SplitUrlWords(const std::string& Line) const {
    if (!FUrlAware) return {Line};
    std::vector<std::string> runs;
    std::string current;
    bool currentIsDelimiter = false;
    const char escape = EscapeChar();
    for (size_t i = 0; i < Line.size(); ++i) {
        const char c = Line[i];
        if (escape != 0 && c == escape) {
            // The escape character and the one it escapes stay in the current run.
            if (current.empty()) currentIsDelimiter = false;
            current += c;
            if (i + 1 < Line.size()) current += Line[++i];
            continue;
        }
        const bool delimiter = FUrlDelimiters.find(c) != std::string::npos;
        if (!current.empty() && delimiter != currentIsDelimiter) {
            runs.push_back(std::move(current));
            current.clear();
        }
        if (current.empty()) currentIsDelimiter = delimiter;
        current += c;
    }
    if (!current.empty()) runs.push_back(std::move(current));
    return runs;
}

bool TPyxCustomMemo::IsUrlWord(const std::string& Word) {
    const std::string lower = LowerCase(Word.substr(0, 7));
    return lower == "http://" || lower == "mailto:";
}

namespace {

// The run of `Runs` that covers `Column` (nullptr when the column lies past them all).
const std::string* RunAt(const std::vector<std::string>& Runs, int Column) {
    int start = 0;
    for (const std::string& run : Runs) {
        const int end = start + static_cast<int>(run.size());
        if (start <= Column && Column < end) return &run;
        start = end;
    }
    return nullptr;
}

}  // namespace

bool TPyxCustomMemo::IsUrlAt(const std::string& Line, int Column) const {
    if (!FUrlAware) return false;
    const std::vector<std::string> runs = SplitUrlWords(Line);
    const std::string* run = RunAt(runs, Column);
    return run && IsUrlWord(*run);
}

void TPyxCustomMemo::UrlClick(const std::string& Line) {
    if (!FUrlAware || !OnURLClick) return;
    const std::vector<std::string> runs = SplitUrlWords(Line);
    const std::string* run = RunAt(runs, FCaretColumn);
    if (run && IsUrlWord(*run)) OnURLClick(this, *run);
}

}  // namespace ostra
