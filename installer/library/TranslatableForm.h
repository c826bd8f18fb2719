// What the translator (cmp_TTranslator.h) sees of a form and of the components on it: which kind
// of component each one is, the texts it can translate (by number for the translate labels and
// buttons, by text for the rest), its visibility and sizing while it is translated, its font, and
// the components it owns and the controls it holds. The installer's forms implement it over their
// widgets (installer/ui holds the Qt implementation); the translator needs nothing else of them, so
// it stays free of any window system and tests give it small forms of their own.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostra {

class TFont;

// What a component is, as far as translation cares.
enum TTranslatableKind {
    tkComponent,        // not a control: no visibility, font or children
    tkControl,          // a control without child controls
    tkWindowedControl,  // a control that holds child controls
    tkForm,             // a form: a windowed control that is never hidden while translated
    tkImage,            // an image: a control that is never hidden while translated
    tkLabel             // a label: its automatic sizing is off while it is translated
};

// One translatable text of a component: a published string property ("Caption", "Hint" ...), an
// item of a list or a column caption.
struct TTranslatableText {
    std::string Name;
    std::function<std::string()> Get;
    std::function<void(const std::string&)> Set;
};

// One component of a form, or the form itself.
class ITranslatable {
public:
    virtual ~ITranslatable() = default;

    virtual TTranslatableKind Kind() const = 0;

    // ---- Translation by number: the GLID of a translate label or translate button (0 when not
    // set); nothing for other components. Caption is the text the GLID replaces.
    virtual std::optional<int> GLID() const { return std::nullopt; }
    virtual std::string Caption() const { return ""; }
    virtual void SetCaption(const std::string& value) {}

    // ---- Translation by text
    // The published string properties, the component's name among them (as "Name"; the translator
    // leaves it alone).
    virtual std::vector<TTranslatableText> TextProperties() { return {}; }
    // A memo's lines as one text, lines ended by CR LF; nothing for other components.
    virtual std::optional<TTranslatableText> MemoText() { return std::nullopt; }
    // The items of a list box, combo box or radio group and the column captions of a list view.
    virtual std::vector<TTranslatableText> ItemTexts() { return {}; }

    // ---- While translated (controls only)
    virtual bool Visible() const { return true; }
    virtual void SetVisible(bool value) {}
    virtual bool AutoSize() const { return false; }
    virtual void SetAutoSize(bool value) {}
    // Lays the child controls out again (windowed controls).
    virtual void Realign() {}

    // ---- Fonts (controls only): the control's font, read and replaced as a whole.
    virtual void GetFont(TFont& font) const {}
    virtual void SetFont(const TFont& font) {}

    // ---- Trees
    // Hands every component this one owns to proc, in ownership order.
    virtual void ForEachOwned(const std::function<void(ITranslatable&)>& proc) {}
    // Hands every child control of a windowed control to proc.
    virtual void ForEachChildControl(const std::function<void(ITranslatable&)>& proc) {}
};

}  // namespace ostra
