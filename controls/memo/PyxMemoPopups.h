// The memo's two pop-ups on the screen: the autocompletion list and the parameter hint. Both are
// tool-tip windows that never take the focus, so the memo keeps the keyboard (an open list gets
// its keys from the memo, PyxCustomMemo.h) and the desktop's active window stays as it is. They
// show what the memo core holds and hand the user's clicks back to it; the memo widget
// (PyxMemoWidget.h) places, shows and hides them as the core asks.
#pragma once
#include <QWidget>

class QListWidget;

namespace ostra {

class TPyxCustomMemo;

// The autocompletion list: the memo's CompletionItems with the selected one, each drawn with its
// kind prefix in the kind's colour (an image before it when ShowImages), its name bold and its
// parameters regular. A click on an entry accepts it (by mouse).
class TPyxCompletionPopup : public QWidget {
public:
    TPyxCompletionPopup(TPyxCustomMemo& Memo, QWidget* Parent);

    // Shows the list at `Geometry` (screen pixels) with the memo's entries.
    void ShowAt(const QRect& Geometry);
    // Takes the memo's entries, selection, font and colours again.
    void Sync();
    // The list inside (for tests).
    QListWidget& List() const { return *FList; }

private:
    class TDelegate;
    TPyxCustomMemo& FMemo;
    QListWidget* FList;
};

// The parameter hint: HintBefore, HintCurrent and HintAfter on one line, one of the first two
// bold, on the styler's hint colours with a grey frame. A click on it gives the memo the focus
// back.
class TPyxHintPopup : public QWidget {
public:
    TPyxHintPopup(TPyxCustomMemo& Memo, QWidget* Focus, QWidget* Parent);

    // Shows the hint at `Geometry` (screen pixels), painted at once.
    void ShowAt(const QRect& Geometry);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;

private:
    TPyxCustomMemo& FMemo;
    QWidget* FFocus;  // the widget that gets the focus back after a click
};

}  // namespace ostra
