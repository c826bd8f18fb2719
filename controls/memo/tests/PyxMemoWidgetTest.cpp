// The memo widget on the offscreen platform, driven with QTest: the context menu, gutter clicks,
// paging, strict scrolling, the wheel, double-clicks, the clipboard, the caret, the tab chain,
// fonts, the mirrored scroll bars, the shared document moving between two widgets, and the
// autocompletion and hint pop-ups with their timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QToolTip>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "controls/memo/PyxMemoPopups.h"
#include "controls/memo/PyxMemoSource.h"
#include "controls/memo/PyxMemoWidget.h"
#include "controls/memo/PyxQtGraphics.h"
#include "controls/memo/pyxmsqls.h"
#include "controls/memo/tests/support/MemoTestKit.h"
#include "controls/memo/tests/support/OffscreenApp.h"
#include "host/Exceptions.h"
#include "host/UIServices.h"

namespace ostra::test {
namespace {

// A shown, focused memo widget; the exceptions its handlers hand on are recorded, and a test
// ends with none.
struct WidgetKit {
    QApplication& Application = OffscreenApp();
    THeadlessUIServices Services;
    TUIServicesScope Scope{Services};
    TPyxMemoWidget Widget;
    TPyxMemo& Memo = Widget.Memo();

    explicit WidgetKit(QSize Size = {350, 250}) {
        Widget.resize(Size);
        Widget.show();
        Widget.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&Widget));
        Widget.setFocus();
        EXPECT_TRUE(Widget.hasFocus());
    }
    ~WidgetKit() {
        for (const auto& call : Services.Exceptions()) ADD_FAILURE() << "unexpected exception: " << call.Message;
    }
    QWidget* Viewport() { return Widget.viewport(); }
    // The viewport point in the middle of the cell of (Column, Line) as the view stands now.
    QPoint At(int Column, int Line) {
        const TPoint p = CellPoint(Memo, Column - Memo.FirstVisibleColumn(), Line - Memo.FirstVisibleLine());
        return {p.X, p.Y};
    }
    void Key(int QtKey, Qt::KeyboardModifiers Modifiers = Qt::NoModifier, int Times = 1) {
        for (int i = 0; i < Times; ++i) QTest::keyClick(&Widget, static_cast<Qt::Key>(QtKey), Modifiers);
    }
    // A double-click as the window system delivers it: a click, then the second press as a
    // double-click, then its release.
    void DoubleClick(QPoint Pos) {
        QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::NoModifier, Pos);
        QTest::mouseDClick(Viewport(), Qt::LeftButton, Qt::NoModifier, Pos);
        QTest::mouseRelease(Viewport(), Qt::LeftButton, Qt::NoModifier, Pos);
    }
    void Wheel(int AngleDelta) {
        const QPointF pos(100, 100);
        QWheelEvent event(pos, Viewport()->mapToGlobal(pos), QPoint(), QPoint(0, AngleDelta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Viewport(), &event);
    }
    // Opens the context menu for a right click at `Pos`; the menu shown, or null.
    QMenu* OpenContextMenu(QPoint Pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, Pos, Viewport()->mapToGlobal(Pos));
        QApplication::sendEvent(Viewport(), &event);
        for (QMenu* menu : Widget.findChildren<QMenu*>())
            if (menu->isVisible()) return menu;
        return nullptr;
    }
};

std::string Lines(int Count, const std::string& Prefix = "line ") {
    std::string text;
    for (int i = 0; i < Count; ++i) text += (i ? "\n" : "") + Prefix + std::to_string(i);
    return text;
}

// "text" or "-text" (disabled) of each action, "|" for a separator.
std::vector<std::string> MenuItems(QMenu& Menu) {
    std::vector<std::string> items;
    for (QAction* action : Menu.actions())
        items.push_back(action->isSeparator() ? "|" : (action->isEnabled() ? "" : "-") + action->text().toStdString());
    return items;
}

void CloseMenu(QMenu* Menu) {
    Menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(MemoWidget, ContextMenuOffersFourCommandsEnabledByTheStateAndNoneOverTheGutter) {
    WidgetKit kit;
    SetText(kit.Memo, "alpha beta");
    QGuiApplication::clipboard()->clear();

    QMenu* menu = kit.OpenContextMenu(kit.At(2, 0));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuItems(*menu),
              (std::vector<std::string>{"-Copy\tCtrl-C", "-Cut\tCtrl-X", "-Paste\tCtrl-V", "|", "Select All\tCtrl-A"}));
    menu->actions().back()->trigger();
    EXPECT_EQ(kit.Memo.GetSelectedText(), "alpha beta");
    CloseMenu(menu);

    QGuiApplication::clipboard()->setText("x");
    menu = kit.OpenContextMenu(kit.At(2, 0));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuItems(*menu),
              (std::vector<std::string>{"Copy\tCtrl-C", "Cut\tCtrl-X", "Paste\tCtrl-V", "|", "Select All\tCtrl-A"}));
    menu->actions()[1]->trigger();  // Cut
    EXPECT_EQ(Text(kit.Memo), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "alpha beta");
    CloseMenu(menu);

    // The gutter offers no menu, and a menu of the application's own replaces the built-in one.
    EXPECT_EQ(kit.OpenContextMenu(QPoint(10, 10)), nullptr);
    QMenu own;
    own.addAction("Own");
    kit.Widget.SetPopupMenu(&own);
    EXPECT_EQ(kit.OpenContextMenu(kit.At(2, 0)), nullptr);
    EXPECT_TRUE(own.isVisible());
    own.close();
}

TEST(MemoWidget, GutterClickMovesTheCaretToThatLine) {
    WidgetKit kit;
    SetText(kit.Memo, Lines(30));
    QTest::mouseClick(kit.Viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, kit.At(0, 11).y()));
    EXPECT_EQ(kit.Memo.CaretLine(), 11);
}

TEST(MemoWidget, PageDownWithTwentyVisibleRowsMovesNineteenLines) {
    WidgetKit probe;
    const int cell = probe.Memo.CellHeight();
    ASSERT_GT(cell, 0);
    // A text area 20 rows and 3 pixels high (the frame takes 1 pixel above and below).
    WidgetKit kit(QSize(350, 20 * cell + 5));
    SetText(kit.Memo, Lines(100));
    ASSERT_EQ(kit.Memo.VisibleCount(1), 20);
    kit.Key(Qt::Key_PageDown);
    EXPECT_EQ(kit.Memo.CaretLine(), 19);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 0);
    kit.Key(Qt::Key_PageDown);
    EXPECT_EQ(kit.Memo.CaretLine(), 38);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 19);  // just enough to show it on the last full row
    EXPECT_EQ(kit.Widget.verticalScrollBar()->value(), 19);
    kit.Key(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(kit.Memo.CaretLine(), 99);
}

TEST(MemoWidget, StrictScrollingWithoutBarsKeepsTheCaretInView) {
    WidgetKit kit;
    kit.Memo.SetScrollMode(smStrict);
    kit.Memo.SetScrollBars(ssNone);
    SetText(kit.Memo, Lines(100, std::string(80, 'x')));
    kit.Key(Qt::Key_Down, Qt::NoModifier, 60);
    kit.Key(Qt::Key_Right, Qt::NoModifier, 120);
    EXPECT_EQ(kit.Memo.CaretLine(), kit.Memo.VisibleCount(3));
    EXPECT_EQ(kit.Memo.CaretColumn(), kit.Memo.VisibleCount(2));
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 0);
    EXPECT_EQ(kit.Memo.FirstVisibleColumn(), 0);
    EXPECT_EQ(kit.Widget.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(kit.Widget.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // With bars the same moves scroll the view instead.
    kit.Memo.SetScrollBars(ssBoth);
    kit.Key(Qt::Key_Down, Qt::NoModifier, 60);
    EXPECT_GT(kit.Memo.FirstVisibleLine(), 0);
    EXPECT_EQ(kit.Widget.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(kit.Widget.verticalScrollBar()->value(), kit.Memo.FirstVisibleLine());
}

TEST(MemoWidget, WheelScrollsFourLinesPerNotchWithinTheText) {
    WidgetKit kit;
    SetText(kit.Memo, Lines(40));
    const int rows = kit.Memo.VisibleCount(1);
    kit.Wheel(-120);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 4);
    kit.Wheel(-60);  // half a notch waits for the other half
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 4);
    kit.Wheel(-60);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 8);
    EXPECT_EQ(kit.Widget.verticalScrollBar()->value(), 8);
    // The notches stop with the last line on the last row, also when fewer than four remain.
    ASSERT_NE((40 - rows - 1) % 4, 0);
    for (int i = 0; i < 20; ++i) kit.Wheel(-120);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 40 - rows - 1);

    kit.Memo.SetFirstVisibleLine(3);
    kit.Wheel(120);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 0);
}

TEST(MemoWidget, ScrollBarMovesReachTheMemoAndStopAtTheLastPage) {
    WidgetKit kit;
    SetText(kit.Memo, Lines(40));
    QScrollBar* bar = kit.Widget.verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 1);
    bar->setSliderPosition(10);  // dragging the thumb
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), 10);
    for (int i = 0; i < 5; ++i) bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(kit.Memo.FirstVisibleLine(), kit.Memo.VertScrollBar().LastPosition());
    EXPECT_EQ(bar->value(), kit.Memo.FirstVisibleLine());
    EXPECT_EQ(bar->maximum(), kit.Memo.FirstVisibleLine());
}

TEST(MemoWidget, DoubleClickSelectsAWordAndNothingOnABlank) {
    WidgetKit kit;
    SetText(kit.Memo, "alpha   beta");
    kit.DoubleClick(kit.At(6, 0));
    EXPECT_TRUE(kit.Memo.SelectionEmpty());
    EXPECT_EQ(Caret(kit.Memo), "(6,0)");
    kit.DoubleClick(kit.At(9, 0));
    EXPECT_EQ(kit.Memo.GetSelectedText(), "beta");
    EXPECT_EQ(Caret(kit.Memo), "(9,0)");
}

TEST(MemoWidget, ClipboardRoundTripKeepsLinesAndWindows1252Text) {
    WidgetKit kit;
    SetText(kit.Memo, "caf\xE9 \x80\nsecond");
    kit.Key(Qt::Key_A, Qt::ControlModifier);
    kit.Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("caf\u00e9 \u20ac\nsecond"));

    kit.Key(Qt::Key_End, Qt::ControlModifier);
    kit.Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Text(kit.Memo), "caf\xE9 \x80\nsecondcaf\xE9 \x80\nsecond");
    // Text of other programs: lone line feeds become line breaks, characters without a byte '?'.
    QGuiApplication::clipboard()->setText(QString::fromUtf8("\nx\u03a9"));
    kit.Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Text(kit.Memo), "caf\xE9 \x80\nsecondcaf\xE9 \x80\nsecond\nx?");
}

TEST(MemoWidget, CaretIsDrawnOnTheWidgetsOwnTimerAndHeldKeysStopTheBlinking) {
    WidgetKit kit;
    SetText(kit.Memo, "abc");
    kit.Key(Qt::Key_End);
    ASSERT_TRUE(kit.Widget.CaretDrawn());
    const TRect cell = kit.Memo.CellRect(3, 0);
    EXPECT_EQ(kit.Widget.CaretRect(), QRect(cell.Left, cell.Top + 1, 2, kit.Memo.CellHeight() - 2));

    // The caret inverts its bar: black on the white background.
    kit.Widget.SetCaretBlinkInterval(0);
    const QImage shot = kit.Viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(kit.Widget.CaretRect().center()), QColor(Qt::black));

    kit.Widget.SetCaretBlinkInterval(20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !kit.Widget.CaretDrawn(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return kit.Widget.CaretDrawn(); }, 2000));
    QTest::keyPress(&kit.Widget, Qt::Key_Left);
    EXPECT_FALSE(kit.Widget.CaretBlinking());
    QTest::qWait(80);
    EXPECT_TRUE(kit.Widget.CaretDrawn());
    QTest::keyRelease(&kit.Widget, Qt::Key_Left);
    EXPECT_TRUE(kit.Widget.CaretBlinking());

    // Without the focus there is no caret.
    kit.Widget.clearFocus();
    EXPECT_FALSE(kit.Widget.CaretDrawn());
}

TEST(MemoWidget, TabReachesTheMemoWhileItWantsTabElseMovesTheFocusOn) {
    OffscreenApp();
    THeadlessUIServices services;
    TUIServicesScope scope(services);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* memo = new TPyxMemoWidget;
    auto* edit = new QLineEdit;
    layout->addWidget(memo);
    layout->addWidget(edit);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_TRUE(memo->hasFocus());
    EXPECT_EQ(Text(memo->Memo()), "    ");

    memo->Memo().SetWantTab(false);
    QTest::keyClick(memo, Qt::Key_Tab);
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(Text(memo->Memo()), "    ");

    // Without TabStop, Tab passes the memo by; a click still focuses it.
    memo->SetTabStop(false);
    QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(memo->hasFocus());
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_TRUE(memo->hasFocus());
    EXPECT_TRUE(services.Exceptions().empty());
}

TEST(MemoWidget, ProportionalFontIsRefusedAndTheOldOneKept) {
    WidgetKit kit;
    const int cellWidth = kit.Memo.CellWidth();
    TFont proportional;
    proportional.SetName("DejaVu Sans");
    proportional.SetHeight(-13);
    EXPECT_THROW(kit.Memo.SetFont(proportional), EAbort);
    EXPECT_EQ(kit.Memo.Font().Name(), "COURIER NEW");

    // The same through Qt: the widget goes back to the memo's font.
    QFont qtProportional("DejaVu Sans");
    qtProportional.setPixelSize(20);
    kit.Widget.setFont(qtProportional);
    EXPECT_EQ(kit.Memo.Font().Name(), "COURIER NEW");
    EXPECT_EQ(kit.Widget.font().pixelSize(), 13);
    EXPECT_EQ(kit.Memo.CellWidth(), cellWidth);

    QFont monospace("DejaVu Sans Mono");
    monospace.setPixelSize(20);
    kit.Widget.setFont(monospace);
    EXPECT_EQ(kit.Memo.Font().Name(), "DejaVu Sans Mono");
    EXPECT_EQ(kit.Memo.Font().Height(), -20);
    EXPECT_GT(kit.Memo.CellWidth(), cellWidth);
    // A refused font is silent: nothing reaches the exception handler.
    EXPECT_TRUE(kit.Services.Exceptions().empty());
}

TEST(MemoWidget, SharedDocumentMovesCaretScrollSelectionAndReadOnlyBetweenTwoWidgets) {
    WidgetKit a;
    WidgetKit b;
    TPyxMemoSource source(nullptr);
    TStringList lines;
    for (int i = 0; i < 50; ++i) lines.Add("line " + std::to_string(i));
    source.SetLines(&lines);
    a.Memo.SetMemoSource(&source);
    a.Widget.activateWindow();
    a.Widget.setFocus();
    a.Key(Qt::Key_Down, Qt::NoModifier, 30);
    a.Key(Qt::Key_Right, Qt::ShiftModifier, 4);
    a.Memo.SetReadOnly(true);
    const int first = a.Memo.FirstVisibleLine();
    ASSERT_GT(first, 0);

    b.Memo.SetMemoSource(&source);
    EXPECT_EQ(Caret(b.Memo), "(4,30)");
    EXPECT_EQ(b.Memo.GetSelectedText(), "line");
    EXPECT_EQ(b.Memo.FirstVisibleLine(), first);
    EXPECT_EQ(b.Widget.verticalScrollBar()->value(), first);
    EXPECT_TRUE(b.Memo.ReadOnly());

    b.Widget.activateWindow();
    b.Widget.setFocus();
    b.Key(Qt::Key_X);
    EXPECT_EQ(source.Lines().Strings(30), "line 30");
    source.SetReadOnly(false);
    b.Key(Qt::Key_X);
    EXPECT_EQ(source.Lines().Strings(30), "x 30");
    EXPECT_EQ(a.Memo.EffectiveLines().Strings(30), "x 30");
}

// ---- Autocompletion and hints

// A shown memo widget with the SQL styler.
struct SqlWidgetKit : WidgetKit {
    TPyxSQLMemoStyler Styler{nullptr};
    SqlWidgetKit() { Memo.SetSyntaxStyles(&Styler); }
    ~SqlWidgetKit() { Memo.SetSyntaxStyles(nullptr); }
    void Type(const char* Text) { QTest::keyClicks(&Widget, Text); }
    std::vector<std::string> PopupItems() {
        std::vector<std::string> items;
        QListWidget& list = Widget.CompletionPopup()->List();
        for (int i = 0; i < list.count(); ++i) items.push_back(list.item(i)->text().toStdString());
        return items;
    }
};

TEST(MemoWidgetPopups, CompletionListOpensBelowTheCaretWithoutTakingTheFocus) {
    SqlWidgetKit kit;
    kit.Type("SE");
    kit.Key(Qt::Key_Space, Qt::ControlModifier);
    ASSERT_NE(kit.Widget.CompletionPopup(), nullptr);
    EXPECT_TRUE(kit.Widget.CompletionPopup()->isVisible());
    EXPECT_TRUE(kit.Widget.hasFocus());
    EXPECT_EQ(QApplication::activeWindow(), &kit.Widget);
    EXPECT_EQ(kit.PopupItems(), (std::vector<std::string>{"SELECT"}));
    EXPECT_EQ(kit.Widget.CompletionPopup()->geometry().topLeft(),
              kit.Viewport()->mapToGlobal(QPoint(kit.Memo.CompletionRect().Left, kit.Memo.CompletionRect().Top)));
    kit.Key(Qt::Key_Return);
    EXPECT_FALSE(kit.Widget.CompletionPopup()->isVisible());
    EXPECT_EQ(Text(kit.Memo), "SELECT");
}

TEST(MemoWidgetPopups, EscapeClosesTheOpenListNotTheDialog) {
    OffscreenApp();
    THeadlessUIServices services;
    TUIServicesScope scope(services);
    TPyxSQLMemoStyler styler(nullptr);
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* memo = new TPyxMemoWidget;
    layout->addWidget(memo);
    memo->Memo().SetSyntaxStyles(&styler);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(memo->Memo().CompletionVisible());
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_FALSE(memo->Memo().CompletionVisible());
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(memo, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    memo->Memo().SetSyntaxStyles(nullptr);
}

TEST(MemoWidgetPopups, MemberListFollowsAFullStopAfterTheDelayAndAcceptsAClick) {
    SqlWidgetKit kit;
    kit.Memo.OnGetAutoCompletionList = [](TObject*, const std::string&, TStringList& list) {
        list.AddObject("function Max(A; B)", CompletionKindObject(ckFunction));
        list.AddObject("Total", CompletionKindObject(ckProperty));
    };
    kit.Memo.AutoCompletion().SetDelay(100);
    // A key within the delay stops the timer.
    kit.Type(".x");
    QTest::qWait(250);
    EXPECT_TRUE(kit.Widget.CompletionPopup() == nullptr || !kit.Widget.CompletionPopup()->isVisible());

    kit.Type(" o.");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return kit.Widget.CompletionPopup() && kit.Widget.CompletionPopup()->isVisible(); }, 3000));
    EXPECT_EQ(kit.PopupItems(), (std::vector<std::string>{"function Max(A; B)", "Total"}));
    EXPECT_TRUE(kit.Widget.hasFocus());
    // A click on an entry inserts its name alone.
    QListWidget& list = kit.Widget.CompletionPopup()->List();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualItemRect(list.item(0)).center());
    EXPECT_FALSE(kit.Widget.CompletionPopup()->isVisible());
    EXPECT_EQ(Text(kit.Memo), ".x o.Max");
}

TEST(MemoWidgetPopups, ParameterHintShowsWhileTypingACallAndHidesAfterItsDelay) {
    SqlWidgetKit kit;
    kit.Styler.HintParameter().Parameters().Add("MAX(A; B)");
    kit.Memo.SetAutoHintParameterDelay(150);
    kit.Type("MAX(");
    ASSERT_NE(kit.Widget.HintPopup(), nullptr);
    EXPECT_TRUE(kit.Widget.HintPopup()->isVisible());
    EXPECT_TRUE(kit.Widget.hasFocus());
    EXPECT_EQ(kit.Widget.HintPopup()->geometry(),
              QRect(kit.Viewport()->mapToGlobal(QPoint(kit.Memo.ParameterHintRect().Left, kit.Memo.ParameterHintRect().Top)),
                    QSize(kit.Memo.ParameterHintRect().Width(), kit.Memo.ParameterHintRect().Height())));
    // The bold argument moves with the comma.
    EXPECT_EQ(kit.Memo.HintCurrent(), "A;");
    kit.Type("1,");
    EXPECT_EQ(kit.Memo.HintCurrent(), " B");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !kit.Widget.HintPopup()->isVisible(); }, 3000));
}

TEST(MemoWidgetPopups, TooltipShowsTheWordsHintWhileShowHintIsOn) {
    SqlWidgetKit kit;
    SetText(kit.Memo, "SELECT Total");
    kit.Memo.OnHintForWord = [](TObject*, int, int, const std::string& word, std::string& hint, bool&) {
        hint = "the " + word;
    };
    const QPoint pos = kit.At(8, 0);
    QHelpEvent request(QEvent::ToolTip, pos, kit.Viewport()->mapToGlobal(pos));
    QApplication::sendEvent(kit.Viewport(), &request);
    EXPECT_FALSE(QToolTip::isVisible());
    kit.Memo.SetShowHint(true);
    QApplication::sendEvent(kit.Viewport(), &request);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "the Total");
    QToolTip::hideText();
}

}  // namespace
}  // namespace ostra::test
