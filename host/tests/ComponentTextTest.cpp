// Component text as a file format: a golden text of a nested tree, exact round trips of floats
// and strings, the reader's leniency, and the errors of the parser and of the reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/ClassRegistry.h"
#include "host/ComponentText.h"
#include "host/PropertyRegistry.h"
#include "host/Streams.h"
#include "testsupport/TestFiles.h"

using namespace ostra;
using ostra::test::Crlf;

namespace {

enum TShade : uint8_t { shNone, shRed, shGreen, shBlue };
const char* const ShadeNames[] = {"shNone", "shRed", "shGreen", "shBlue"};
using TShades = TSet<TShade>;

// A sub-object, streamed as "Pen.Prop = value".
class TPen : public TPersistent {
public:
    int32_t Width() const { return FWidth; }
    void SetWidth(int32_t v) { FWidth = v; }
    const std::string& Style() const { return FStyle; }
    void SetStyle(const std::string& v) { FStyle = v; }

private:
    int32_t FWidth = 1;
    std::string FStyle;
};

class TPart : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    std::string Label;
    double Weight = 0;
    TShade Shade = shNone;
};

class TParts : public TCollection {
public:
    explicit TParts(TPersistent* owner) : TCollection(ItemClassOf<TPart>(), owner) {}
    TPart* Part(int i) const { return static_cast<TPart*>(Items(i)); }
    TPart* AddPart(const std::string& label) {
        auto* p = static_cast<TPart*>(Add());
        p->Label = label;
        return p;
    }
};

class TWidget : public TComponent {
public:
    explicit TWidget(TComponent* owner) : TComponent(owner) {}

    int32_t Count = 0;
    uint32_t Flags = 0;
    int64_t Big = 0;
    bool Active = true;
    TShade Shade = shNone;
    TShades Shades{shRed};
    std::string Caption;
    double Ratio = 0;
    TDateTime Stamp = 0;
    TWidget* Link = nullptr;
    int32_t Secret = 0;
    std::vector<std::string> Notes;
    bool WriteTwoValues = false;

    TParts* Parts() const { return FParts.get(); }
    TParts* ExtraParts() const { return FExtraParts.get(); }
    TPen* Pen() const { return FPen.get(); }
    int32_t Version() const { return 42; }

    // What Loaded saw, across all widgets.
    static std::vector<std::string>& LoadLog() {
        static std::vector<std::string> log;
        return log;
    }
    void Loaded() override {
        TComponent::Loaded();
        std::string line = Name();
        if (ComponentState().Contains(csReading)) line += " reading";
        if (Link) line += " -> " + Link->Name();
        LoadLog().push_back(line);
    }

    void DefineProperties(TFiler* filer) override {
        TComponent::DefineProperties(filer);
        filer->DefineProperty(
            "Notes",
            [this](TReader& r) {
                Notes.clear();
                r.ReadListBegin();
                while (!r.EndOfList()) Notes.push_back(r.ReadString());
                r.ReadListEnd();
            },
            [this](TWriter& w) {
                w.WriteListBegin();
                for (const auto& n : Notes) w.WriteString(n);
                w.WriteListEnd();
                if (WriteTwoValues) w.WriteString("extra");
            },
            !Notes.empty());
        filer->DefineProperty(
            "ExtraParts",
            [this](TReader& r) {
                r.ReadValue();
                r.ReadCollection(FExtraParts.get());
            },
            [this](TWriter& w) { w.WriteCollection(FExtraParts.get()); }, FExtraParts->Count() > 0);
    }

private:
    std::unique_ptr<TParts> FParts = std::make_unique<TParts>(this);
    std::unique_ptr<TParts> FExtraParts = std::make_unique<TParts>(this);
    std::unique_ptr<TPen> FPen = std::make_unique<TPen>();
};

class TGadget : public TWidget {
public:
    explicit TGadget(TComponent* owner) : TWidget(owner) { Count = 7; }
    std::string Model;
};

[[maybe_unused]] const bool kPublished =
    Publish<TPen, TPersistent>()
        .Integer("Width", &TPen::Width, &TPen::SetWidth)
        .Default(1)
        .String("Style", &TPen::Style, &TPen::SetStyle) &&
    Publish<TPart, TCollectionItem>()
        .String(
            "Label", [](const TPart& p) { return p.Label; },
            [](TPart& p, const std::string& v) { p.Label = v; })
        .Float(
            "Weight", [](const TPart& p) { return p.Weight; }, [](TPart& p, double v) { p.Weight = v; })
        .Enum(
            "Shade", [](const TPart& p) { return p.Shade; }, [](TPart& p, TShade v) { p.Shade = v; },
            ShadeNames)
        .Default(shNone) &&
    Publish<TWidget, TComponent>()
        .Integer(
            "Count", [](const TWidget& w) { return w.Count; }, [](TWidget& w, int32_t v) { w.Count = v; })
        .Cardinal(
            "Flags", [](const TWidget& w) { return w.Flags; }, [](TWidget& w, uint32_t v) { w.Flags = v; })
        .Default(0u)
        .Int64(
            "Big", [](const TWidget& w) { return w.Big; }, [](TWidget& w, int64_t v) { w.Big = v; })
        .Boolean(
            "Active", [](const TWidget& w) { return w.Active; }, [](TWidget& w, bool v) { w.Active = v; })
        .Default(true)
        .Enum(
            "Shade", [](const TWidget& w) { return w.Shade; }, [](TWidget& w, TShade v) { w.Shade = v; },
            ShadeNames)
        .Set(
            "Shades", [](const TWidget& w) { return w.Shades; }, [](TWidget& w, TShades v) { w.Shades = v; },
            ShadeNames)
        .Default(TShades{shRed})
        .String(
            "Caption", [](const TWidget& w) { return w.Caption; },
            [](TWidget& w, const std::string& v) { w.Caption = v; })
        .Float(
            "Ratio", [](const TWidget& w) { return w.Ratio; }, [](TWidget& w, double v) { w.Ratio = v; })
        .DateTime(
            "Stamp", [](const TWidget& w) { return w.Stamp; }, [](TWidget& w, TDateTime v) { w.Stamp = v; })
        .Collection("Parts", &TWidget::Parts)
        .Object("Pen", &TWidget::Pen)
        .Component(
            "Link", [](const TWidget& w) { return w.Link; }, [](TWidget& w, TWidget* v) { w.Link = v; })
        .Integer(
            "Secret", [](const TWidget& w) { return w.Secret; }, [](TWidget& w, int32_t v) { w.Secret = v; })
        .Stored(false)
        .Integer("Version", &TWidget::Version) &&
    Publish<TGadget, TWidget>()
        .String(
            "Model", [](const TGadget& g) { return g.Model; },
            [](TGadget& g, const std::string& v) { g.Model = v; })
        // Published again with a default of its own: keeps its place among TWidget's properties.
        .Integer(
            "Count", [](const TGadget& g) { return g.Count; }, [](TGadget& g, int32_t v) { g.Count = v; })
        .Default(7);

class ComponentText : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterClass<TWidget>();
        RegisterClass<TGadget>();
        TWidget::LoadLog().clear();
    }
};

const std::string kLongModel =
    "01234567890123456789012345678901234567890123456789012345678901234567890123456789";

// The tree behind kGolden.
std::unique_ptr<TWidget> MakeTree() {
    auto root = std::make_unique<TWidget>(nullptr);
    root->SetName("Root");
    root->Count = 3;
    root->Flags = 4000000000u;
    root->Big = -5000000000;
    root->Active = false;
    root->Shade = shBlue;
    root->Shades = {shRed, shBlue};
    root->Caption = "It's a 'test'\r\nline2";
    root->Ratio = 0.1;
    root->Stamp = 45000.5;
    TPart* first = root->Parts()->AddPart("first");
    first->Weight = 1.5;
    first->Shade = shGreen;
    root->Parts()->Add();
    root->Pen()->SetWidth(3);
    root->Pen()->SetStyle("dash");
    root->Notes = {"n1", "n2"};
    root->ExtraParts()->AddPart("x");
    root->Secret = 99;  // never stored
    auto* child = CreateComponent<TWidget>(root.get());
    child->SetName("Child1");
    auto* grand = CreateComponent<TWidget>(child);
    grand->SetName("Grand");
    grand->Count = 1;
    grand->Shade = shRed;
    grand->Shades = {};
    auto* gadget = CreateComponent<TGadget>(root.get());
    gadget->SetName("Gadget1");
    gadget->Model = kLongModel;
    gadget->Link = grand;
    root->Link = gadget;
    return root;
}

const std::string kGolden = Crlf(R"(object Root: TWidget
  Count = 3
  Flags = 4000000000
  Big = -5000000000
  Active = False
  Shade = shBlue
  Shades = [shRed, shBlue]
  Caption = 'It''s a ''test'''#13#10'line2'
  Ratio = 0.1
  Stamp = 45000.5
  Parts = <
    item
      Label = 'first'
      Weight = 1.5
      Shade = shGreen
    end
    item
    end>
  Pen.Width = 3
  Pen.Style = 'dash'
  Link = Gadget1
  Notes = (
    'n1'
    'n2')
  ExtraParts = <
    item
      Label = 'x'
    end>
  object Child1: TWidget
    Count = 0
    Shade = shNone
    Parts = <>
    object Grand: TWidget
      Count = 1
      Shade = shRed
      Shades = []
      Parts = <>
    end
  end
  object Gadget1: TGadget
    Shade = shNone
    Parts = <>
    Link = Child1.Grand
    Model =
      '0123456789012345678901234567890123456789012345678901234567890123' +
      '4567890123456789'
  end
end
)");

TEST_F(ComponentText, NestedTreeWritesTheGoldenText) {
    EXPECT_EQ(kGolden, ComponentToText(MakeTree().get()));
}

TEST_F(ComponentText, GoldenTextReadsBackIntoTheSameTree) {
    auto root = std::make_unique<TWidget>(nullptr);
    TextToComponent(kGolden, root.get());
    EXPECT_EQ(kGolden, ComponentToText(root.get()));

    EXPECT_EQ("Root", root->Name());
    EXPECT_EQ(4000000000u, root->Flags);
    EXPECT_EQ(-5000000000, root->Big);
    EXPECT_EQ("It's a 'test'\r\nline2", root->Caption);
    EXPECT_EQ(0.1, root->Ratio);
    EXPECT_EQ((std::vector<std::string>{"n1", "n2"}), root->Notes);
    ASSERT_EQ(2, root->Parts()->Count());
    EXPECT_EQ(shGreen, root->Parts()->Part(0)->Shade);
    EXPECT_EQ("", root->Parts()->Part(1)->Label);
    ASSERT_EQ(1, root->ExtraParts()->Count());
    EXPECT_EQ("x", root->ExtraParts()->Part(0)->Label);
    EXPECT_EQ(0, root->Secret);
    ASSERT_EQ(2, root->ComponentCount());
    auto* child = dynamic_cast<TWidget*>(root->Components(0));
    auto* gadget = dynamic_cast<TGadget*>(root->Components(1));
    ASSERT_TRUE(child && gadget);
    EXPECT_EQ(kLongModel, gadget->Model);
    EXPECT_EQ(gadget, root->Link);
    EXPECT_EQ(child->Components(0), gadget->Link);
    // Loaded runs once per component, root first, after the references are resolved and with
    // reading over; no component is left loading.
    EXPECT_EQ((std::vector<std::string>{"Root -> Gadget1", "Child1", "Grand", "Gadget1 -> Grand"}),
              TWidget::LoadLog());
    EXPECT_TRUE((root->ComponentState() * TComponentState{csLoading, csReading, csWriting}).Empty());
    EXPECT_TRUE((gadget->ComponentState() * TComponentState{csLoading, csReading}).Empty());
}

TEST_F(ComponentText, FormatterAndParserAreInverse) {
    EXPECT_EQ(kGolden, ObjectTokensToText(ObjectTextToTokens(kGolden)));
}

TEST_F(ComponentText, DefaultsAndStoredRulesDecideWhatIsWritten) {
    TWidget w(nullptr);
    w.Secret = 5;
    // Count and Shade have no default; Parts is a collection: always written.
    EXPECT_EQ(Crlf("object TWidget\n  Count = 0\n  Shade = shNone\n  Parts = <>\nend\n"),
              ComponentToText(&w));
    w.SetTag(5);
    w.Active = true;
    w.Shades = {shRed};
    w.Pen()->SetWidth(1);
    w.Big = 1;
    EXPECT_EQ(
        Crlf("object TWidget\n  Tag = 5\n  Count = 0\n  Big = 1\n  Shade = shNone\n  Parts = <>\nend\n"),
        ComponentToText(&w));
}

TEST_F(ComponentText, FloatsRoundTripBitForBit) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {1.5, "1.5"},
        {2.0, "2.0"},
        {-0.0, "-0.0"},
        {1e300, "1E300"},
        {1e-5, "1E-5"},
        {0.001, "0.001"},
        {5e-324, "5E-324"},                                  // smallest denormal
        {2.225073858507201e-308, "2.225073858507201E-308"},  // largest denormal
        {1.7976931348623157e308, "1.7976931348623157E308"},
        {-1.0 / 3, "-0.3333333333333333"},
        {45000.999999999, "45000.999999999"},
        {INFINITY, "INF"},
        {-INFINITY, "-INF"},
    };
    for (const auto& c : cases) {
        TWidget w(nullptr);
        w.Ratio = c.value;
        std::string text = ComponentToText(&w);
        EXPECT_NE(std::string::npos, text.find("  Ratio = " + std::string(c.text) + "\r\n")) << text;
        TWidget back(nullptr);
        back.Ratio = 12345;  // not the value: reading must set it
        TextToComponent(text, &back);
        EXPECT_EQ(0, std::memcmp(&c.value, &back.Ratio, sizeof(double))) << c.text;
    }
    TWidget w(nullptr);
    w.Ratio = std::nan("");
    TWidget back(nullptr);
    TextToComponent(ComponentToText(&w), &back);
    EXPECT_TRUE(std::isnan(back.Ratio));
}

TEST_F(ComponentText, RandomDoublesAndStringsRoundTrip) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 5000; ++i) {
        uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value)) continue;
        TPart part(nullptr);
        part.Weight = value;
        TPart back(nullptr);
        TextToObject(ObjectToText(&part), &back);
        ASSERT_EQ(0, std::memcmp(&value, &back.Weight, sizeof value)) << ObjectToText(&part);
    }
    for (int i = 0; i < 500; ++i) {
        std::string s(random() % 200, '\0');
        for (char& c : s) c = static_cast<char>(random() % 256);
        TPart part(nullptr);
        part.Label = s;
        std::string text = ObjectToText(&part);
        for (char c : text)
            ASSERT_TRUE(c == '\r' || c == '\n' || (c >= 32 && c <= 126)) << "text stays printable";
        TPart back(nullptr);
        TextToObject(text, &back);
        ASSERT_EQ(s, back.Label) << text;
    }
}

TEST_F(ComponentText, StringForms) {
    struct Case {
        std::string value, text;
    } cases[] = {
        {"", ""},  // the empty string is the default: not written
        {"it's", "'it''s'"},
        {"a\r\nb", "'a'#13#10'b'"},
        {"\x01", "#1"},
        {"caf\xE9\x7F", "'caf'#233#127"},
        {"''", "''''''"},
        {std::string(64, 'x'), "'" + std::string(64, 'x') + "'"},
        {std::string(65, 'x'), "\r\n    '" + std::string(64, 'x') + "' +\r\n    'x'"},
        {std::string(63, 'x') + "\t\t", "\r\n    '" + std::string(63, 'x') + "'#9 +\r\n    #9"},
    };
    for (const auto& c : cases) {
        TPart part(nullptr);
        part.Label = c.value;
        std::string expected =
            c.value.empty() ? Crlf("object P: TPart\nend\n")
                            : "object P: TPart\r\n  Label =" + std::string(c.text[0] == '\r' ? "" : " ") +
                                  c.text + "\r\nend\r\n";
        EXPECT_EQ(expected, ObjectToText(&part, "P"));
    }
    // A long string in a list stays on the element's line and continues one level deeper.
    TWidget w(nullptr);
    w.Notes = {std::string(70, 'y')};
    EXPECT_NE(std::string::npos, ComponentToText(&w).find("  Notes = (\r\n    '" + std::string(64, 'y') +
                                                          "' +\r\n      'yyyyyy')\r\n"));
}

TEST_F(ComponentText, ReaderAcceptsAnyLayout) {
    const std::string text =
        "OBJECT Root : TWidget\n"
        "\tcount=  $1F   Flags = +12\r"
        "  caption = 'a'#$41\n   + 'b'   +#66\n"
        "  ACTIVE = false  shades = [ shred ,shblue ] Shade=SHGREEN\r\n"
        "  Pen.width = -3 Ratio = 1e3 Stamp = 2\n"
        "  Parts = < ITEM Label = 'p' END item end >\n"
        "  object c1: twidget END\n"
        "End";
    TWidget root(nullptr);
    TextToComponent(text, &root);
    EXPECT_EQ("Root", root.Name());
    EXPECT_EQ(31, root.Count);
    EXPECT_EQ(12u, root.Flags);
    EXPECT_EQ("aAbB", root.Caption);
    EXPECT_FALSE(root.Active);
    EXPECT_TRUE((root.Shades == TShades{shRed, shBlue}));
    EXPECT_EQ(shGreen, root.Shade);
    EXPECT_EQ(-3, root.Pen()->Width());
    EXPECT_EQ(1000.0, root.Ratio);
    EXPECT_EQ(2.0, root.Stamp);
    EXPECT_EQ(2, root.Parts()->Count());
    ASSERT_EQ(1, root.ComponentCount());
    EXPECT_EQ("c1", root.Components(0)->Name());
}

TEST_F(ComponentText, SyntaxErrorsNameTheLine) {
    struct Case {
        std::string text, message;
    } cases[] = {
        {"", "'object' expected on line 1"},
        {"thing Root: TWidget\nend\n", "'object' expected on line 1"},
        {"object Root: TWidget\n  Count 3\nend\n", "'=' expected on line 2"},
        {"object Root: TWidget\n  Count = 3\n", "'end' expected on line 3"},
        {"object Root: TWidget\nend\nextra", "End of text expected on line 3"},
        {"object Root: TWidget\n  Caption = 'abc\nend\n", "Unterminated string on line 2"},
        {"object Root: TWidget\n  Caption = #300\nend\n", "Invalid string constant on line 2"},
        {"object Root: TWidget\n  Caption = 'a' +\nend\n", "String expected on line 3"},
        {"object Root: TWidget\n  Shades = [shRed shBlue]\nend\n", "']' expected on line 2"},
        {"object Root: TWidget\n  Count = ?\nend\n", "Value expected on line 2"},
        {"object Root: TWidget\n  Count = 12x\nend\n", "Invalid number on line 2"},
        {"object Root: TWidget\n  Count = 99999999999999999999\nend\n", "Integer out of range on line 2"},
        {"object Root: TWidget\n  Ratio = 1E999\nend\n", "Invalid floating point number on line 2"},
        {"object Root: TWidget\n  Parts = <\n    thing\n  >\nend\n", "'item' expected on line 3"},
        {"object Root: TWidget\n  Notes = ('a'\nend", "')' expected on line 3"},
        {"object Root: TWidget\n  object C: TWidget\n  end\n  Count = 1\nend\n", "'end' expected on line 4"},
    };
    for (const auto& c : cases) {
        TWidget root(nullptr);
        root.Count = 77;
        try {
            TextToComponent(c.text, &root);
            ADD_FAILURE() << c.text;
        } catch (const EParserError& e) {
            EXPECT_EQ(c.message, e.Message()) << c.text;
        }
        EXPECT_EQ(77, root.Count) << "a syntax error changes nothing";
        EXPECT_EQ(0, root.ComponentCount());
    }
}

// Component text is read from files: nesting beyond the limit is a read error, never a stack
// overflow; the limit itself reads, formats and loads under every build's stack.
TEST_F(ComponentText, NestingIsLimited) {
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    auto lists = [&](int n) {
        return "object Root: TWidget\n  Caption = " + repeat("(", n) + repeat(")", n) + "\nend\n";
    };
    auto objects = [&](int n) { return repeat("object TWidget\n", n) + repeat("end\n", n); };
    auto collections = [&](int n) {
        return "object Root: TWidget\n  Parts = " + repeat("<item Label = ", n) + "''" +
               repeat(" end>", n) + "\nend\n";
    };
    const std::string tooDeep = "Nesting deeper than " + std::to_string(ComponentTextMaxNesting) + " levels on line ";
    struct Case {
        std::string text, message;
    } refused[] = {
        {lists(50000), tooDeep + "2"},
        {objects(100000), tooDeep + std::to_string(ComponentTextMaxNesting + 1)},
        {collections(50000), tooDeep + "2"},
        {lists(ComponentTextMaxNesting), tooDeep + "2"},  // the object is a level too
    };
    for (const auto& c : refused) {
        TWidget root(nullptr);
        try {
            TextToComponent(c.text, &root);
            ADD_FAILURE() << c.text.substr(0, 80);
        } catch (const EParserError& e) {
            EXPECT_EQ(c.message, e.Message());
        }
        EXPECT_EQ(0, root.ComponentCount());
    }

    // At the limit: the tokens format back to the same tokens, and a tree of nested components
    // loads and writes back unchanged.
    const std::string deepList = lists(ComponentTextMaxNesting - 1);
    TTokenStream tokens = ObjectTextToTokens(deepList);
    EXPECT_EQ(tokens.size(), ObjectTextToTokens(ObjectTokensToText(tokens)).size());
    std::string tree;
    for (int i = 0; i < ComponentTextMaxNesting; ++i) tree += "object W" + std::to_string(i) + ": TWidget\n";
    tree += repeat("end\n", ComponentTextMaxNesting);
    TWidget root(nullptr);
    TextToComponent(tree, &root);
    TComponent* deepest = &root;
    while (deepest->ComponentCount() > 0) deepest = deepest->Components(0);
    EXPECT_EQ("W" + std::to_string(ComponentTextMaxNesting - 1), deepest->Name());
    // What was written (with every property the widgets write) reads again into the same tree.
    const std::string written = ComponentToText(&root);
    TWidget again(nullptr);
    TextToComponent(written, &again);
    EXPECT_EQ(written, ComponentToText(&again));
}

template <class E>
void ExpectReadError(const std::string& body, const std::string& message) {
    TWidget root(nullptr);
    try {
        TextToComponent("object Root: TWidget\n" + body + "end\n", &root);
        ADD_FAILURE() << body;
    } catch (const E& e) {
        EXPECT_EQ(message, e.Message()) << body;
    }
    EXPECT_TRUE((root.ComponentState() * TComponentState{csLoading, csReading}).Empty());
}

TEST_F(ComponentText, ReaderErrorsNameObjectPropertyAndLine) {
    ExpectReadError<EPropertyError>("  Nope = 1\n",
                                    "Error reading Root.Nope: Property Nope does not exist (line 2)");
    ExpectReadError<EPropertyError>("  Pen.Nope = 1\n",
                                    "Error reading Root.Pen.Nope: Property Pen.Nope does not exist (line 2)");
    ExpectReadError<EPropertyError>("  Count.X = 1\n",
                                    "Error reading Root.Count.X: Property Count.X does not exist (line 2)");
    ExpectReadError<EPropertyError>("  Version = 1\n",
                                    "Error reading Root.Version: Property Version is read-only (line 2)");
    struct Case {
        std::string body, message;
    } invalid[] = {
        {"  Count = 'x'\n", "Error reading Root.Count: Invalid property value (line 2)"},
        {"  Count = 2147483648\n", "Error reading Root.Count: Invalid property value (line 2)"},
        {"  Flags = -1\n", "Error reading Root.Flags: Invalid property value (line 2)"},
        {"  Active = 1\n", "Error reading Root.Active: Invalid property value (line 2)"},
        {"  Shade = shPink\n", "Error reading Root.Shade: Invalid property value (line 2)"},
        {"  Shades = [shRed, shPink]\n", "Error reading Root.Shades: Invalid property value (line 2)"},
        {"  Caption = 5\n", "Error reading Root.Caption: Invalid property value (line 2)"},
        {"  Ratio = 'x'\n", "Error reading Root.Ratio: Invalid property value (line 2)"},
        {"  Parts = 3\n", "Error reading Root.Parts: Invalid property value (line 2)"},
        {"  Pen = 3\n", "Error reading Root.Pen: Invalid property value (line 2)"},
        {"  Parts = <\n    item\n      Label = 5\n    end>\n",
         "Error reading Root.Parts[0].Label: Invalid property value (line 4)"},
        {"  Notes = 'a'\n", "Error reading Root.Notes: Invalid property value (line 2)"},
        {"  Link = Nobody\n", "Error reading Root.Link: Component Nobody not found (line 2)"},
    };
    for (const auto& c : invalid) ExpectReadError<EReadError>(c.body, c.message);
}

TEST_F(ComponentText, FailedReadFreesTheComponentsItMade) {
    TWidget root(nullptr);
    auto* kept = CreateComponent<TWidget>(&root);
    kept->SetName("Kept");
    try {
        TextToComponent(
            "object Root: TWidget\n  object Kept: TWidget\n    Count = 4\n  end\n"
            "  object Made: TWidget\n    object Inner: TWidget\n    end\n  end\n"
            "  object Bad: TNoSuchClass\n  end\nend\n",
            &root);
        ADD_FAILURE();
    } catch (const EClassNotFound& e) {
        EXPECT_STREQ("Class TNoSuchClass not found", e.what());
    }
    ASSERT_EQ(1, root.ComponentCount());
    EXPECT_EQ(kept, root.Components(0));
    EXPECT_EQ(4, kept->Count);
    EXPECT_TRUE((kept->ComponentState() * TComponentState{csLoading, csReading}).Empty());
    EXPECT_TRUE(TWidget::LoadLog().empty());
}

TEST_F(ComponentText, ReadingIntoAnExistingTree) {
    auto root = MakeTree();
    auto* child = root->Components(0);
    root->Parts()->AddPart("stale");
    // Existing children are read into, not duplicated; a collection named in the text is
    // emptied first, "<>" included.
    TextToComponent(Crlf("object Again: TWidget\n  Count = 1\n  Shade = shNone\n  Parts = <>\n"
                         "  object Child1: TWidget\n    Count = 8\n    Shade = shNone\n  end\nend\n"),
                    root.get());
    EXPECT_EQ("Again", root->Name());
    EXPECT_EQ(0, root->Parts()->Count());
    ASSERT_EQ(2, root->ComponentCount());
    EXPECT_EQ(child, root->Components(0));
    EXPECT_EQ(8, static_cast<TWidget*>(child)->Count);
    // A stored child of another class than the existing one is refused.
    EXPECT_THROW(TextToComponent("object Again: TWidget\n  object Child1: TGadget\n  end\nend\n", root.get()),
                 EReadError);
}

TEST_F(ComponentText, RootNameStaysUniqueAmongItsOwnersComponents) {
    TWidget owner(nullptr);
    CreateComponent<TWidget>(&owner)->SetName("Form");
    auto* root = CreateComponent<TWidget>(&owner);
    TextToComponent("object Form: TWidget\nend\n", root);
    EXPECT_EQ("Form_1", root->Name());
}

TEST_F(ComponentText, PersistentObjectsStreamWithoutComponents) {
    TPart part(nullptr);
    part.Label = "solo";
    part.Shade = shBlue;
    std::string text = ObjectToText(&part, "Part1");
    EXPECT_EQ(Crlf("object Part1: TPart\n  Label = 'solo'\n  Shade = shBlue\nend\n"), text);
    TPart back(nullptr);
    TextToObject(text, &back);
    EXPECT_EQ("solo", back.Label);
    EXPECT_EQ(shBlue, back.Shade);
    EXPECT_THROW(TextToObject("object P: TPart\n  object C: TWidget\n  end\nend\n", &back), EReadError);
}

TEST_F(ComponentText, WriterRefusesWhatCannotBeReadBack) {
    TWidget w(nullptr);
    w.SetName("W");
    w.Shade = static_cast<TShade>(9);
    try {
        ComponentToText(&w);
        ADD_FAILURE();
    } catch (const EWriteError& e) {
        EXPECT_STREQ("Error writing W.Shade: Enumeration value 9 has no name", e.what());
    }
    w.Shade = shNone;
    TWidget outsider(nullptr);
    outsider.SetName("Outsider");
    w.Link = &outsider;  // not in W's tree: could not be found when reading
    EXPECT_THROW(ComponentToText(&w), EWriteError);
    w.Link = nullptr;
    w.Notes = {"a"};
    w.WriteTwoValues = true;  // a defined property must write one value
    EXPECT_THROW(ComponentToText(&w), EWriteError);
}

TEST_F(ComponentText, StreamsCarryTheText) {
    auto root = MakeTree();
    TMemoryStream stream;
    stream.WriteBuffer("xx", 2);
    ComponentToText(root.get(), stream);
    EXPECT_EQ(static_cast<int64_t>(2 + kGolden.size()), stream.Size());
    stream.SetPosition(2);
    TWidget back(nullptr);
    TextToComponent(stream, &back);
    EXPECT_EQ(kGolden, ComponentToText(&back));
}

}  // namespace

namespace {

class TPlainWidget : public TWidget {  // publishes nothing of its own
public:
    using TWidget::TWidget;
};
class TMiddle : public TComponent {  // never published
public:
    using TComponent::TComponent;
};
class TLeaf : public TMiddle {
public:
    using TMiddle::TMiddle;
    int32_t Size() const { return 1; }
};
[[maybe_unused]] const bool kLeafPublished = Publish<TLeaf, TMiddle>().Integer("Size", &TLeaf::Size);

TEST(PropertyRegistry, ChainsFollowTheClassHierarchy) {
    auto names = [](const TPersistent* o) {
        std::string out;
        for (const TPropInfo* p : GetPropList(o)) out += p->Name + " ";
        return out;
    };
    TPlainWidget plain(nullptr);
    TGadget gadget(nullptr);
    EXPECT_EQ("Tag Count Flags Big Active Shade Shades Caption Ratio Stamp Parts Pen Link Secret Version ",
              names(&plain));
    EXPECT_EQ(names(&plain) + "Model ", names(&gadget));
    EXPECT_EQ(7, GetPropInfo(&gadget, "count")->DefaultOrd);  // the descendant's definition
    EXPECT_FALSE(GetPropInfo(&plain, "Count")->HasDefault);
    EXPECT_EQ(nullptr, GetPropInfo(&plain, "Model"));
    // A parent that was never published breaks the chain loudly, not silently.
    TLeaf leaf(nullptr);
    EXPECT_THROW(GetPropList(&leaf), EPropertyError);
}

}  // namespace
