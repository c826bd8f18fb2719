// Two parts the decorative controls share: the host library's alignment of a control within its
// parent (kept as the parent changes size), and the tag that marks the one control of a class a
// program looks for (Tag -1).
#pragma once
#include <cstdint>

#include <QObject>
#include <QWidget>

namespace ostra {

// Where a control stands in its parent: where it was put, or along one edge with the parent's
// width or height, or over the whole of the parent.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Keeps a widget where its alignment puts it as its parent changes size (and when it gets another
// parent).
class TAlignKeeper : public QObject {
public:
    explicit TAlignKeeper(QWidget* widget);
    TAlign Align() const { return FAlign; }
    // Stores the alignment and applies it at once.
    void SetAlign(TAlign value);
    // Moves and sizes the widget as its alignment says.
    void Apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Watch();

    QWidget* FWidget;
    QWidget* FWatchedParent = nullptr;
    TAlign FAlign = alNone;
};

// The Tag of a control of class T, of which at most one control of the class holds -1: setting -1
// takes the mark from the previous holder (whose Tag becomes 0); setting another value on the
// holder, or destroying it, leaves the class without holder.
template <class T>
class TMarkedTag {
public:
    explicit TMarkedTag(T* owner) : FOwner(owner) {}
    ~TMarkedTag() {
        if (sHolder == this) sHolder = nullptr;
    }
    TMarkedTag(const TMarkedTag&) = delete;
    TMarkedTag& operator=(const TMarkedTag&) = delete;

    int32_t Value() const { return FValue; }
    void Set(int32_t value) {
        if (value == -1) {
            if (sHolder && sHolder != this) sHolder->FValue = 0;
            sHolder = this;
        } else if (sHolder == this) {
            sHolder = nullptr;
        }
        FValue = value;
    }
    // The control of class T whose Tag is -1; null when none.
    static T* Holder() { return sHolder ? sHolder->FOwner : nullptr; }

private:
    static inline TMarkedTag* sHolder = nullptr;
    T* FOwner;
    int32_t FValue = 0;
};

// Windows' MulDiv: a * b / c rounded to the nearest integer (halves away from zero); -1 when c is 0.
int MulDiv(int a, int b, int c);

}  // namespace ostra
