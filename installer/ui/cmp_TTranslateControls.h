// The translator's own controls: a label and a button that carry a string number (GLID). A GLID
// above 0 names the string of the target language that replaces the caption; any GLID other than 0
// exempts the control from translation by text. (TWidgetTranslatable, QtTranslatableForm.h, shows
// them to the translator.)
#pragma once
#include <QLabel>
#include <QPushButton>

namespace ostra {

// A widget of class Base with a string number.
template <class Base>
class TWithGLID : public Base {
public:
    explicit TWithGLID(QWidget* parent = nullptr) : Base(parent) {}
    int GLID() const { return FGLID; }
    void SetGLID(int value) { FGLID = value; }

private:
    int FGLID = 0;
};

// A label translated by number.
class TTranslateLabel : public TWithGLID<QLabel> {
public:
    using TWithGLID::TWithGLID;
};

// A button translated by number.
class TTranslateBitBtn : public TWithGLID<QPushButton> {
public:
    using TWithGLID::TWithGLID;
};

}  // namespace ostra
