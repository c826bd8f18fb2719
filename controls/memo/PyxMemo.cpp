// TPyxMemo's defaults, setters, default handlers and published properties.
#include "controls/memo/PyxMemo.h"

#include <QPainter>

#include "controls/memo/PyxMemoSource.h"
#include "controls/memo/PyxQtGraphics.h"
#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

const char* const kBorderStyleNames[] = {"bsNone", "bsSingle"};
const char* const kScrollStyleNames[] = {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"};
const char* const kScrollModeNames[] = {"smAuto", "smStrict"};
const char* const kHintParameterNames[] = {"hpAuto", "hpManual", "hpNone"};
const char* const kHintPositionNames[] = {"hpBelowCode", "hpAboveCode"};

[[maybe_unused]] const bool kAutoCorrectPublished = Publish<TAutoCorrect, TPersistent>()
    .Object("NewValue", [](const TAutoCorrect& o) { return &o.NewValue(); })
    .Object("OldValue", [](const TAutoCorrect& o) { return &o.OldValue(); });

[[maybe_unused]] const bool kPrintOptionsPublished = Publish<TPrintOptions, TPersistent>()
    .String("JobName", &TPrintOptions::JobName, &TPrintOptions::SetJobName)
    .Default("")
    .String("Title", &TPrintOptions::Title, &TPrintOptions::SetTitle)
    .Default("")
    .Integer("MarginLeft", &TPrintOptions::MarginLeft, &TPrintOptions::SetMarginLeft)
    .Default(0)
    .Integer("MarginRight", &TPrintOptions::MarginRight, &TPrintOptions::SetMarginRight)
    .Default(0)
    .Integer("MarginTop", &TPrintOptions::MarginTop, &TPrintOptions::SetMarginTop)
    .Default(0)
    .Integer("MarginBottom", &TPrintOptions::MarginBottom, &TPrintOptions::SetMarginBottom)
    .Default(0)
    .Boolean("PageNr", &TPrintOptions::PageNr, &TPrintOptions::SetPageNr)
    .Default(false)
    .String("PagePrefix", &TPrintOptions::PagePrefix, &TPrintOptions::SetPagePrefix)
    .Default("");

[[maybe_unused]] const bool kMemoPublished = Publish<TPyxMemo, TComponent>()
    .Object("AutoCompletion", [](const TPyxMemo& o) { return &o.AutoCompletion(); })
    .Object("AutoCorrect", [](const TPyxMemo& o) { return &o.AutoCorrect(); })
    .Integer("AutoHintParameterDelay", &TPyxMemo::AutoHintParameterDelay, &TPyxMemo::SetAutoHintParameterDelay)
    .Default(2500)
    .Enum("AutoHintParameters", &TPyxMemo::AutoHintParameters, &TPyxMemo::SetAutoHintParameters,
          kHintParameterNames)
    .Default(hpAuto)
    .Enum("AutoHintParameterPosition", &TPyxMemo::AutoHintParameterPosition,
          &TPyxMemo::SetAutoHintParameterPosition, kHintPositionNames)
    .Default(hpBelowCode)
    .Boolean("AutoIndent", &TPyxMemo::AutoIndent, &TPyxMemo::SetAutoIndent)
    .Default(true)
    .Boolean("BlockShow", &TPyxMemo::BlockShow, &TPyxMemo::SetBlockShow)
    .Default(true)
    .Integer("BlockLineColor", &TPyxMemo::BlockLineColor, &TPyxMemo::SetBlockLineColor)
    .Default(clGray)
    .Integer("BkColor", &TPyxMemo::BkColor, &TPyxMemo::SetBkColor)
    .Default(clWhite)
    .Enum("BorderStyle", &TPyxMemo::BorderStyle, &TPyxMemo::SetBorderStyle, kBorderStyleNames)
    .Default(bsSingle)
    .Boolean("CaseSensitive", &TPyxMemo::CaseSensitive, &TPyxMemo::SetCaseSensitive)
    .Default(false)
    .Boolean("Ctl3D", &TPyxMemo::Ctl3D, &TPyxMemo::SetCtl3D)
    .Default(false)
    .Boolean("DelErase", &TPyxMemo::DelErase, &TPyxMemo::SetDelErase)
    .Default(true)
    .Integer("GutterColor", &TPyxMemo::GutterColor, &TPyxMemo::SetGutterColor)
    .Default(clBtnFace)
    .Integer("GutterColorTo", &TPyxMemo::GutterColorTo, &TPyxMemo::SetGutterColorTo)
    .Default(clNone)
    .Integer("GutterWidth", &TPyxMemo::GutterWidth, &TPyxMemo::SetGutterWidth)
    .Default(45)
    .Object("Font", [](const TPyxMemo& o) { return &o.Font(); })
    .Boolean("HiddenCaret", &TPyxMemo::HiddenCaret, &TPyxMemo::SetHiddenCaret)
    .Default(false)
    .Boolean("LineNumbers", &TPyxMemo::LineNumbers, &TPyxMemo::SetLineNumbers)
    .Default(true)
    .Integer("LineNumberStart", &TPyxMemo::LineNumberStart, &TPyxMemo::SetLineNumberStart)
    .Default(1)
    .Object("Lines", [](const TPyxMemo& o) { return &o.Lines(); })
    .Component("MemoSource", &TPyxMemo::MemoSource, &TPyxMemo::SetMemoSource)
    .Object("PrintOptions", [](const TPyxMemo& o) { return &o.PrintOptions(); })
    .Boolean("ReadOnly", &TPyxMemo::ReadOnly, &TPyxMemo::SetReadOnly)
    .Default(false)
    .Integer("RightMargin", &TPyxMemo::RightMargin, &TPyxMemo::SetRightMargin)
    .Default(80)
    .Integer("RightMarginColor", &TPyxMemo::RightMarginColor, &TPyxMemo::SetRightMarginColor)
    .Default(0xE2E2E2)
    .Enum("ScrollBars", &TPyxMemo::ScrollBars, &TPyxMemo::SetScrollBars, kScrollStyleNames)
    .Default(ssBoth)
    .Enum("ScrollMode", &TPyxMemo::ScrollMode, &TPyxMemo::SetScrollMode, kScrollModeNames)
    .Default(smAuto)
    .Boolean("ShowHint", &TPyxMemo::ShowHint, &TPyxMemo::SetShowHint)
    .Default(false)
    .String("Hint", &TPyxMemo::Hint, &TPyxMemo::SetHint)
    .Default("")
    .Integer("SelColor", &TPyxMemo::SelColor, &TPyxMemo::SetSelColor)
    .Default(clWhite)
    .Integer("SelBkColor", &TPyxMemo::SelBkColor, &TPyxMemo::SetSelBkColor)
    .Default(clNavy)
    .Component("SyntaxStyles", &TPyxMemo::SyntaxStyles, &TPyxMemo::SetSyntaxStyles)
    .Integer("TabSize", &TPyxMemo::TabSize, &TPyxMemo::SetTabSize)
    .Default(4)
    .Integer("UndoLimit", &TPyxMemo::UndoLimit, &TPyxMemo::SetUndoLimit)
    .Default(100)
    .Boolean("UrlAware", &TPyxMemo::UrlAware, &TPyxMemo::SetUrlAware)
    .Default(true)
    .Object("UrlStyle", [](const TPyxMemo& o) { return &o.UrlStyle(); })
    .Boolean("WantTab", &TPyxMemo::WantTab, &TPyxMemo::SetWantTab)
    .Default(true);

}  // namespace

TPyxMemo::TPyxMemo(TComponent* AOwner) : TPyxCustomMemo(AOwner) {
    SetBkColor(clWhite);
    SetHiddenCaret(false);
    SetDelErase(true);
    SetCaseSensitive(false);
    SetReadOnly(false);
    TFont font;
    font.SetName("COURIER NEW");
    font.SetCharset(DEFAULT_CHARSET);
    font.SetColor(clBlack);
    font.SetHeight(-13);
    SetFont(font);
    OnChange = [this](TObject*) { Invalidate(); };
    OnGutterClick = [this](TObject* Sender, int LineNo) { DefaultGutterClick(Sender, LineNo); };
    OnGutterDraw = [this](TObject* Sender, QPainter& Canvas, int LineNo, const TRect& Rct) {
        DefaultGutterDraw(Sender, Canvas, LineNo, Rct);
    };
    SetBounds(0, 0, 350, 250);
}

TPyxMemo::~TPyxMemo() {
    Destroying();
    SetMemoSource(nullptr);
}

TPyxMemoStrings& TPyxMemo::EffectiveLines() const {
    return FMemoSource ? FMemoSource->Lines() : TPyxCustomMemo::EffectiveLines();
}

TPyxUndoList& TPyxMemo::EffectiveUndoList() const {
    return FMemoSource ? FMemoSource->UndoList() : TPyxCustomMemo::EffectiveUndoList();
}

TPyxCustomMemoStyler* TPyxMemo::EffectiveStyler() const {
    return FMemoSource ? FMemoSource->SyntaxStyler() : TPyxCustomMemo::EffectiveStyler();
}

void TPyxMemo::SetMemoSource(TPyxMemoSource* Value) {
    if (Value == FMemoSource) return;
    if (TPyxMemoSource* old = FMemoSource) {
        // Only the attached memo is detached: another memo showing the document stays attached.
        if (old->AttachedMemo() == this) old->AttachMemo(nullptr);
        old->RemoveMemo(this);
        RemoveFreeNotification(old);
    }
    FMemoSource = Value;
    if (Value) {
        Value->AddMemo(this);
        FreeNotification(Value);
    }
    const TComponentState state = ComponentState();
    if (Value && !state.Contains(csLoading) && !state.Contains(csDesigning) && !state.Contains(csDestroying))
        Value->AttachMemo(this);
    else if (!state.Contains(csDestroying))
        EffectiveDocumentChanged();
}

void TPyxMemo::MemoSourceDestroyed() {
    if (!FMemoSource) return;
    RemoveFreeNotification(FMemoSource);
    FMemoSource = nullptr;
    if (!ComponentState().Contains(csDestroying)) EffectiveDocumentChanged();
}

void TPyxMemo::Loaded() {
    TPyxCustomMemo::Loaded();
    if (FMemoSource && !ComponentState().Contains(csDesigning)) FMemoSource->AttachMemo(this);
    RecalcLongestLine();
    UpdateScrollBars();
}

void TPyxMemo::Notification(TComponent* AComponent, TOperation Operation) {
    // The document tells its memos before it goes (MemoSourceDestroyed); this catches one that
    // leaves through its owner's notices only. Nothing of it is read: it is being destroyed.
    if (Operation == opRemove && FMemoSource && AComponent == FMemoSource) {
        FMemoSource = nullptr;
        if (!ComponentState().Contains(csDestroying)) EffectiveDocumentChanged();
    }
    TPyxCustomMemo::Notification(AComponent, Operation);
}

void TPyxMemo::DefaultGutterClick(TObject* Sender, int LineNo) {
    SetCaretLine(LineNo);
}

void TPyxMemo::DefaultGutterDraw(TObject* Sender, QPainter& Canvas, int LineNo, const TRect& Rct) {
    if (!FLineNumbers) return;
    const QString text = ToQString(IntToStr(LineNo + FLineNumberStart));
    Canvas.save();
    Canvas.setFont(ToQFont(CanvasFont()));
    Canvas.setPen(ToQColor(CanvasFont().Color()));
    const QFontMetrics metrics = Canvas.fontMetrics();
    const int x = (Rct.Left + Rct.Right) / 2 - metrics.horizontalAdvance(text) / 2 + 1;
    Canvas.drawText(x, Rct.Top + metrics.ascent(), text);
    Canvas.restore();
}

bool TPyxMemo::IsWordDelimiter(char Ch) const {
    if (TPyxCustomMemo::IsWordDelimiter(Ch)) return true;
    const TPyxCustomMemoStyler* styler = EffectiveStyler();
    return styler && IsSymbolOrBracket(styler->AllStyles(), Ch);
}

void TPyxMemo::SetLineNumbers(bool Value) {
    FLineNumbers = Value;
    Invalidate();
}

void TPyxMemo::SetLineNumberStart(int Value) {
    if (Value == FLineNumberStart || Value < 0) return;
    FLineNumberStart = Value;
    Invalidate();
}

void TPyxMemo::SetGutterColorTo(TColor Value) {
    FGutter.ColorTo = Value;
    Invalidate();
}

}  // namespace ostra
