// Component text: the formatter (token stream to text) and the parser (text to token stream),
// and the entry points that join them to TWriter and TReader. The form is described in
// ComponentText.h.
#include "host/ComponentText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

constexpr const char* kLineEnd = "\r\n";
// Bytes of a string per text line (the framework's line length for long strings).
constexpr size_t kStringPieceLength = 64;

bool IsIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned DigitValue(char c) {
    if (IsDigit(c)) return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// The shortest text that reads back to exactly `value`, with a "." or an exponent.
std::string FloatText(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    size_t e = text.find('e');
    if (e == std::string::npos) {
        if (text.find('.') == std::string::npos) text += ".0";
        return text;
    }
    // "1e+300" -> "1E300", "1e-05" -> "1E-5".
    std::string exponent = text.substr(e + 1);
    bool negative = exponent[0] == '-';
    size_t digits = exponent.find_first_not_of("+-0");
    return text.substr(0, e) + (negative ? "E-" : "E") +
           (digits == std::string::npos ? "0" : exponent.substr(digits));
}

class Formatter {
public:
    explicit Formatter(const TTokenStream& tokens) : FTokens(tokens) {}

    std::string Run() {
        Object(0);
        if (FPos != FTokens.size()) Invalid();
        return std::move(FOut);
    }

private:
    [[noreturn]] static void Invalid() { throw EReadError("Invalid stream format"); }
    const TStreamToken& Next() {
        if (FPos >= FTokens.size()) Invalid();
        return FTokens[FPos++];
    }
    bool AtEnd() const {
        if (FPos >= FTokens.size()) Invalid();
        const TStreamToken& t = FTokens[FPos];
        return t.Kind == TStreamToken::tkValue && t.Type == vaNull;
    }
    void Indent(int level) { FOut.append(static_cast<size_t>(level) * 2, ' '); }
    void NewLine(int level) {
        FOut += kLineEnd;
        Indent(level);
    }

    void Object(int level) {
        const TStreamToken& header = Next();
        if (header.Kind != TStreamToken::tkHeader) Invalid();
        Indent(level);
        FOut += "object ";
        if (!header.ObjectName.empty()) FOut += header.ObjectName + ": ";
        FOut += header.Text;
        FOut += kLineEnd;
        while (!AtEnd()) {
            Indent(level + 1);
            Property(level + 1);
            FOut += kLineEnd;
        }
        Next();
        while (!AtEnd()) Object(level + 1);
        Next();
        Indent(level);
        FOut += "end";
        FOut += kLineEnd;
    }

    // "Name =" and the value; the line is indented already.
    void Property(int level) {
        const TStreamToken& name = Next();
        if (name.Kind != TStreamToken::tkPropertyName) Invalid();
        FOut += name.Text;
        FOut += " =";
        Value(level, false);
    }

    // A value for a property at `level` (after " =") or, with `atLineStart`, a list element
    // standing on its own line at `level`.
    void Value(int level, bool atLineStart) {
        const TStreamToken& t = Next();
        if (t.Kind != TStreamToken::tkValue) Invalid();
        if (t.Type == vaString) return String(t.Text, level, atLineStart);
        if (!atLineStart) FOut += ' ';
        switch (t.Type) {
            case vaInteger:
                FOut += std::to_string(t.Integer);
                break;
            case vaExtended:
                FOut += FloatText(t.Float);
                break;
            case vaIdent:
                FOut += t.Text;
                break;
            case vaFalse:
                FOut += "False";
                break;
            case vaTrue:
                FOut += "True";
                break;
            case vaNil:
                FOut += "nil";
                break;
            case vaSet:
                FOut += '[';
                for (size_t i = 0; i < t.SetNames.size(); ++i) FOut += (i ? ", " : "") + t.SetNames[i];
                FOut += ']';
                break;
            case vaList:
                FOut += '(';
                while (!AtEnd()) {
                    NewLine(level + 1);
                    Value(level + 1, true);
                }
                Next();
                FOut += ')';
                break;
            case vaCollection:
                FOut += '<';
                while (!AtEnd()) {
                    const TStreamToken& item = Next();
                    if (item.Kind != TStreamToken::tkValue || item.Type != vaList) Invalid();
                    NewLine(level + 1);
                    FOut += "item";
                    while (!AtEnd()) {
                        NewLine(level + 2);
                        Property(level + 2);
                    }
                    Next();
                    NewLine(level + 1);
                    FOut += "end";
                }
                Next();
                FOut += '>';
                break;
            default:
                Invalid();
        }
    }

    // A string: quoted runs of bytes 32..126 ('' for an apostrophe) and #nnn for the others, cut
    // into pieces of kStringPieceLength bytes joined by " +" line ends.
    void String(const std::string& s, int level, bool atLineStart) {
        int continuation = level + 1;
        if (!atLineStart) {
            if (s.size() > kStringPieceLength)
                NewLine(continuation);
            else
                FOut += ' ';
        }
        if (s.empty()) {
            FOut += "''";
            return;
        }
        for (size_t start = 0; start < s.size(); start += kStringPieceLength) {
            if (start > 0) {
                FOut += " +";
                NewLine(continuation);
            }
            size_t end = std::min(s.size(), start + kStringPieceLength);
            bool quoted = false;
            for (size_t i = start; i < end; ++i) {
                auto c = static_cast<unsigned char>(s[i]);
                if (c >= 32 && c <= 126) {
                    if (!quoted) FOut += '\'';
                    quoted = true;
                    FOut += c == '\'' ? "''" : std::string(1, static_cast<char>(c));
                } else {
                    if (quoted) FOut += '\'';
                    quoted = false;
                    FOut += '#' + std::to_string(c);
                }
            }
            if (quoted) FOut += '\'';
        }
    }

    const TTokenStream& FTokens;
    size_t FPos = 0;
    std::string FOut;
};

class Parser {
public:
    explicit Parser(const std::string& text) : S(text) {}

    TTokenStream Run() {
        SkipBlanks();
        Object();
        SkipBlanks();
        if (P < S.size()) Error("End of text expected");
        return std::move(FOut);
    }

private:
    [[noreturn]] void Error(const std::string& what) const {
        throw EParserError(what + " on line " + std::to_string(FLine));
    }

    void SkipBlanks() {
        while (P < S.size()) {
            char c = S[P];
            if (c == '\n') {
                ++FLine;
                ++P;
            } else if (c == '\r') {
                ++FLine;
                ++P;
                if (P < S.size() && S[P] == '\n') ++P;
            } else if (static_cast<unsigned char>(c) <= ' ') {
                ++P;
            } else {
                return;
            }
        }
    }

    bool AtIdent() const { return P < S.size() && IsIdentStart(S[P]); }
    size_t IdentLength(size_t from) const {
        size_t q = from;
        while (q < S.size() && IsIdentChar(S[q])) ++q;
        return q - from;
    }
    bool AtKeyword(const char* keyword) const {
        if (!AtIdent()) return false;
        size_t length = IdentLength(P);
        return length == std::strlen(keyword) && SameText(S.substr(P, length), keyword);
    }
    bool TakeKeyword(const char* keyword) {
        if (!AtKeyword(keyword)) return false;
        P += std::strlen(keyword);
        return true;
    }
    // An identifier; with `dotted`, also "A.B.C".
    std::string Ident(bool dotted) {
        if (!AtIdent()) Error("Identifier expected");
        size_t start = P;
        P += IdentLength(P);
        while (dotted && P + 1 < S.size() && S[P] == '.' && IsIdentStart(S[P + 1]))
            P += 1 + IdentLength(P + 1);
        return S.substr(start, P - start);
    }

    TStreamToken& Push(TStreamToken::TKind kind, TValueType type, int line) {
        TStreamToken t;
        t.Kind = kind;
        t.Type = type;
        t.Line = line;
        FOut.push_back(std::move(t));
        return FOut.back();
    }
    void PushEnd() { Push(TStreamToken::tkValue, vaNull, FLine); }

    void Object() {
        Level level(*this);
        if (!TakeKeyword("object")) Error("'object' expected");
        SkipBlanks();
        int line = FLine;
        std::string first = Ident(false);
        SkipBlanks();
        TStreamToken& header = Push(TStreamToken::tkHeader, vaNull, line);
        if (P < S.size() && S[P] == ':') {
            ++P;
            SkipBlanks();
            header.ObjectName = first;
            header.Text = Ident(false);
        } else {
            header.Text = first;
        }
        for (;;) {
            SkipBlanks();
            if (P >= S.size()) Error("'end' expected");
            if (AtKeyword("end") || AtKeyword("object")) break;
            Property();
        }
        PushEnd();
        while (AtKeyword("object")) {
            Object();
            SkipBlanks();
        }
        if (!TakeKeyword("end")) Error("'end' expected");
        PushEnd();
    }

    void Property() {
        int line = FLine;
        Push(TStreamToken::tkPropertyName, vaNull, line).Text = Ident(true);
        SkipBlanks();
        if (P >= S.size() || S[P] != '=') Error("'=' expected");
        ++P;
        SkipBlanks();
        Value();
    }

    void Value() {
        if (P >= S.size()) Error("Value expected");
        char c = S[P];
        int line = FLine;
        if (c == '\'' || c == '#') return String();
        if (IsDigit(c) || c == '-' || c == '+' || c == '$') return Number();
        if (AtIdent()) {
            std::string ident = Ident(true);
            if (SameText(ident, "True"))
                Push(TStreamToken::tkValue, vaTrue, line);
            else if (SameText(ident, "False"))
                Push(TStreamToken::tkValue, vaFalse, line);
            else if (SameText(ident, "nil"))
                Push(TStreamToken::tkValue, vaNil, line);
            else
                Push(TStreamToken::tkValue, vaIdent, line).Text = ident;
            return;
        }
        if (c == '[') return Set();
        if (c == '(') return List();
        if (c == '<') return Collection();
        Error("Value expected");
    }

    void Set() {
        TStreamToken& t = Push(TStreamToken::tkValue, vaSet, FLine);
        std::vector<std::string> names;
        ++P;
        SkipBlanks();
        if (P < S.size() && S[P] == ']') {
            ++P;
            return;
        }
        for (;;) {
            names.push_back(Ident(false));
            SkipBlanks();
            if (P < S.size() && S[P] == ',') {
                ++P;
                SkipBlanks();
                continue;
            }
            if (P < S.size() && S[P] == ']') break;
            Error("']' expected");
        }
        ++P;
        t.SetNames = std::move(names);
    }

    void List() {
        Level level(*this);
        Push(TStreamToken::tkValue, vaList, FLine);
        ++P;
        for (;;) {
            SkipBlanks();
            if (P >= S.size()) Error("')' expected");
            if (S[P] == ')') break;
            Value();
        }
        ++P;
        PushEnd();
    }

    void Collection() {
        // An empty collection nests nothing: a writer may add "<>" to the deepest object of a
        // tree the reader took, and that text must read again.
        std::optional<Level> level;
        Push(TStreamToken::tkValue, vaCollection, FLine);
        ++P;
        for (;;) {
            SkipBlanks();
            if (P < S.size() && S[P] == '>') break;
            if (!AtKeyword("item")) Error("'item' expected");
            if (!level) level.emplace(*this);
            Push(TStreamToken::tkValue, vaList, FLine);
            P += 4;
            for (;;) {
                SkipBlanks();
                if (P >= S.size()) Error("'end' expected");
                if (TakeKeyword("end")) break;
                Property();
            }
            PushEnd();
        }
        ++P;
        PushEnd();
    }

    void Number() {
        int line = FLine;
        size_t start = P;
        bool negative = S[P] == '-';
        if (S[P] == '-' || S[P] == '+') ++P;
        if (negative && AtIdent()) {
            if (!SameText(Ident(false), "INF")) Error("Number expected");
            Push(TStreamToken::tkValue, vaIdent, line).Text = "-INF";
            return;
        }
        if (P < S.size() && S[P] == '$') {
            ++P;
            size_t digits = P;
            uint64_t value = 0;
            while (P < S.size() && IsHexDigit(S[P])) {
                if (value >> 60) Error("Integer out of range");
                value = value * 16 + DigitValue(S[P]);
                ++P;
            }
            if (P == digits) Error("Number expected");
            if (P < S.size() && IsIdentChar(S[P])) Error("Invalid number");
            if (value > static_cast<uint64_t>(INT64_MAX)) Error("Integer out of range");
            auto v = static_cast<int64_t>(value);
            Push(TStreamToken::tkValue, vaInteger, line).Integer = negative ? -v : v;
            return;
        }
        size_t digitsStart = P;
        while (P < S.size() && IsDigit(S[P])) ++P;
        if (P == digitsStart) Error("Number expected");
        bool isFloat = false;
        if (P + 1 < S.size() && S[P] == '.' && IsDigit(S[P + 1])) {
            isFloat = true;
            ++P;
            while (P < S.size() && IsDigit(S[P])) ++P;
        }
        if (P < S.size() && (S[P] == 'e' || S[P] == 'E')) {
            size_t q = P + 1;
            if (q < S.size() && (S[q] == '+' || S[q] == '-')) ++q;
            if (q < S.size() && IsDigit(S[q])) {
                isFloat = true;
                P = q;
                while (P < S.size() && IsDigit(S[P])) ++P;
            }
        }
        if (P < S.size() && (IsIdentChar(S[P]) || S[P] == '.')) Error("Invalid number");
        // from_chars takes no leading "+".
        std::string text = S.substr(start, P - start);
        if (text[0] == '+') text.erase(0, 1);
        const char* first = text.data();
        const char* last = text.data() + text.size();
        if (isFloat) {
            double value = 0;
            auto result = std::from_chars(first, last, value);
            if (result.ec != std::errc() || result.ptr != last) Error("Invalid floating point number");
            Push(TStreamToken::tkValue, vaExtended, line).Float = value;
        } else {
            int64_t value = 0;
            auto result = std::from_chars(first, last, value);
            if (result.ec != std::errc() || result.ptr != last) Error("Integer out of range");
            Push(TStreamToken::tkValue, vaInteger, line).Integer = value;
        }
    }

    // One or more string pieces joined by "+"; each piece is a run of quoted parts and #nnn
    // characters without blanks between them.
    void String() {
        int line = FLine;
        std::string value;
        for (;;) {
            while (P < S.size() && (S[P] == '\'' || S[P] == '#')) {
                if (S[P] == '\'') {
                    ++P;
                    for (;;) {
                        if (P >= S.size() || S[P] == '\n' || S[P] == '\r') Error("Unterminated string");
                        if (S[P] == '\'') {
                            if (P + 1 < S.size() && S[P + 1] == '\'') {
                                value += '\'';
                                P += 2;
                                continue;
                            }
                            ++P;
                            break;
                        }
                        value += S[P++];
                    }
                } else {
                    ++P;
                    bool hex = P < S.size() && S[P] == '$';
                    if (hex) ++P;
                    size_t digits = P;
                    unsigned code = 0;
                    while (P < S.size() && (hex ? IsHexDigit(S[P]) : IsDigit(S[P]))) {
                        code = code * (hex ? 16 : 10) + DigitValue(S[P]);
                        if (code > 255) Error("Invalid string constant");
                        ++P;
                    }
                    if (P == digits) Error("Invalid string constant");
                    value += static_cast<char>(code);
                }
            }
            SkipBlanks();
            if (P < S.size() && S[P] == '+') {
                ++P;
                SkipBlanks();
                if (P >= S.size() || (S[P] != '\'' && S[P] != '#')) Error("String expected");
                continue;
            }
            break;
        }
        Push(TStreamToken::tkValue, vaString, line).Text = std::move(value);
    }

    // Counts one level of nesting for the life of an object, a list or a collection; the
    // reader, the formatter and TReader all recurse once per level, so a text deeper than
    // ComponentTextMaxNesting is refused here before any of them can exhaust the stack.
    class Level {
    public:
        explicit Level(Parser& parser) : FParser(parser) {
            if (++FParser.FDepth > ComponentTextMaxNesting)
                FParser.Error("Nesting deeper than " + std::to_string(ComponentTextMaxNesting) + " levels");
        }
        ~Level() { --FParser.FDepth; }
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;

    private:
        Parser& FParser;
    };

    const std::string& S;
    size_t P = 0;
    int FLine = 1;
    int FDepth = 0;
    TTokenStream FOut;
};

std::string ReadRest(TStream& Stream) {
    int64_t count = Stream.Size() - Stream.Position();
    std::string text(static_cast<size_t>(std::max<int64_t>(count, 0)), '\0');
    if (!text.empty()) Stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    return text;
}

}  // namespace

std::string ObjectTokensToText(const TTokenStream& Tokens) {
    return Formatter(Tokens).Run();
}

TTokenStream ObjectTextToTokens(const std::string& Text) {
    return Parser(Text).Run();
}

std::string ObjectToText(const TPersistent* Root, const std::string& ObjectName) {
    TTokenStream tokens;
    TWriter writer(tokens);
    writer.WriteRoot(Root, ObjectName);
    return ObjectTokensToText(tokens);
}

void TextToObject(const std::string& Text, TPersistent* Root) {
    TTokenStream tokens = ObjectTextToTokens(Text);
    TReader reader(tokens);
    reader.ReadRoot(Root);
}

std::string ComponentToText(const TComponent* Root) {
    return ObjectToText(Root);
}
void TextToComponent(const std::string& Text, TComponent* Root) {
    TextToObject(Text, Root);
}

void ComponentToText(const TComponent* Root, TStream& Stream) {
    ObjectToText(Root, Stream);
}
void TextToComponent(TStream& Stream, TComponent* Root) {
    TextToObject(Stream, Root);
}

void ObjectToText(const TPersistent* Root, TStream& Stream, const std::string& ObjectName) {
    std::string text = ObjectToText(Root, ObjectName);
    Stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TextToObject(TStream& Stream, TPersistent* Root) {
    TextToObject(ReadRest(Stream), Root);
}

}  // namespace ostra
