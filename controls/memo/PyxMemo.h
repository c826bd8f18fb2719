// TPyxMemo: the memo component that forms place. It adds to the core (PyxCustomMemo.h) its
// creation defaults (350 x 250, Courier New of 13 pixels, DelErase on), default handlers for
// OnChange (repaint) and OnGutterClick (the caret goes to the clicked line), the gutter and
// margin settings, the link to a shared document (TPyxMemoSource, PyxMemoSource.h), and its
// published properties for component streaming.
#pragma once
#include <cstdint>
#include <string>

#include "controls/memo/PyxCustomMemo.h"

namespace ostra {

class TPyxMemoSource;

// The published source-code memo.
class TPyxMemo : public TPyxCustomMemo {
public:
    explicit TPyxMemo(TComponent* AOwner);
    // Leaves its shared document first (which keeps the memo's place for the next memo).
    ~TPyxMemo() override;

    // The shared document this memo shows (not owned; null for none). While one is set, the
    // memo edits the document's lines, records into its undo list and colours with its styler,
    // attached or not; only the attached memo hears of changes and replays undo steps. Setting
    // a document leaves the previous one (detaching this memo if it was the attached one) and,
    // unless the memo is loading or designed, attaches the memo to the new one.
    TPyxMemoSource* MemoSource() const { return FMemoSource; }
    void SetMemoSource(TPyxMemoSource* Value);
    TPyxMemoStrings& EffectiveLines() const override;
    TPyxUndoList& EffectiveUndoList() const override;
    TPyxCustomMemoStyler* EffectiveStyler() const override;
    // After streaming: attaches to the streamed MemoSource, then measures the lines and updates
    // the scroll bars.
    void Loaded() override;
    // Drops the styler or the shared document when it is destroyed.
    void Notification(TComponent* AComponent, TOperation Operation) override;
    // The shared document is being destroyed: the memo shows its own lines again.
    void MemoSourceDestroyed();

    // Line numbers in the gutter, counted from LineNumberStart (0 or above).
    bool LineNumbers() const { return FLineNumbers; }
    void SetLineNumbers(bool Value);
    int LineNumberStart() const { return FLineNumberStart; }
    void SetLineNumberStart(int Value);
    // The gutter's second gradient colour; clNone for a plain gutter.
    TColor GutterColorTo() const { return FGutter.ColorTo; }
    void SetGutterColorTo(TColor Value);
    // Stored and streamed only.
    bool BlockShow() const { return FBlockShow; }
    void SetBlockShow(bool Value) { FBlockShow = Value; }
    TColor BlockLineColor() const { return FBlockLineColor; }
    void SetBlockLineColor(TColor Value) { FBlockLineColor = Value; }

    // The component's version: bytes 1, 4, 0, 1 from the highest, and its text.
    virtual uint32_t ComponentVersionNumber() const { return 0x01040001; }
    virtual std::string ComponentVersionText() const { return "1.4.0.1 August, 2003"; }

    // Moves the caret to `LineNo` (the default OnGutterClick).
    void DefaultGutterClick(TObject* Sender, int LineNo);
    // With LineNumbers, draws LineNo + LineNumberStart centred at the top of `Rct` (the default
    // OnGutterDraw).
    void DefaultGutterDraw(TObject* Sender, QPainter& Canvas, int LineNo, const TRect& Rct);

    // True for the blank and for the styler's symbol and bracket characters.
    bool IsWordDelimiter(char Ch) const override;

protected:
    bool FLineNumbers = true;
    int FLineNumberStart = 1;
    bool FBlockShow = true;
    TColor FBlockLineColor = clGray;
    TPyxMemoSource* FMemoSource = nullptr;
};

}  // namespace ostra
