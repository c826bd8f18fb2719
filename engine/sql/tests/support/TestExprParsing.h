// Test helpers for parsed expressions: a parse of one text that keeps its tokens alive, and
// a compact one-line form of a tree for comparing shapes.
#pragma once
#include <string>

#include "engine/sql/orqExprParser.h"
#include "engine/sql/orqPreParser.h"
#include "host/SysUtils.h"
#include "host/Variant.h"

namespace ostra::test {

// One expression text run through the pre-parser and the expression parser. Configure Parser
// (table list, flags, hook) before Parse; the tokens live as long as this object.
struct TExprParse {
    TOrqPreParser Pre;
    TOrqExprParser Parser;
    TParserStack* Stack = nullptr;

    // Pre-parses Text: as a filter (one expression-only stack), or with AsSelectList as a
    // single-stack statement whose leading keyword (SELECT) is popped first, so that DISTINCT
    // is scanned as in a select list. Returns the stack, positioned at the expression. The
    // parser is cleared (its current token and error belong to the previous text).
    TParserStack* Tokens(const std::string& Text, bool AsSelectList = false) {
        Parser.Clear();
        Pre.SetParseAsExprOnly(!AsSelectList);
        Pre.SetParseSingleStack(AsSelectList);
        Pre.SetText(Text);
        Pre.PreParseTokens();
        Stack = AsSelectList ? Pre.GetSingleStack() : Pre.GetSection(ostWhere, nullptr);
        if (AsSelectList && Stack->Count() > 0) Stack->Pop();
        return Stack;
    }
    // Tokens, then Execute with Options; true when no error was set.
    bool Parse(const std::string& Text, const TOrqParserOptions& Options, bool AsSelectList = false) {
        return Parser.Execute(Options, Tokens(Text, AsSelectList));
    }
    TOrqExprNode* Root() const { return Parser.RootNode(); }
};

inline std::string ShowValue(const Variant& v) {
    if (VarIsEmpty(v)) return "<empty>";
    if (VarIsNull(v)) return "NULL";
    if (VarType(v) == varString) return "'" + v.AsString() + "'";
    if (VarType(v) == varBoolean) return v.AsBoolean() ? "TRUE" : "FALSE";
    return VarToStr(v);
}

// The tree as nested lists: fields by name (t.f when qualified, ^f for an outer field),
// constants by value, :p for parameters, operators by name ("(GT a 5)"), functions by their
// token text, IN and LIKE by their token (NOT IN, NOT LIKE), subqueries as (SELECT kind).
inline std::string Show(const TOrqExprNode* n) {
    if (n == nullptr) return "-";
    auto op = [](TOrqExprOperator o) {
        std::string s = C_STRCANOperator[o];
        return s.rfind("co", 0) == 0 ? s.substr(2) : s;
    };
    auto tail = [&](const TOrqExprNode* node) {
        std::string s;
        if (node->Left() != nullptr || node->Right() != nullptr) s += " " + Show(node->Left());
        if (node->Right() != nullptr) s += " " + Show(node->Right());
        for (const TOrqExprNode* a : node->Args()) s += " " + Show(a);
        return s + ")";
    };
    switch (n->Kind()) {
        case enkField: {
            std::string s = n->TokenArgs().empty() ? "" : n->TokenArgs()[0]->Text() + ".";
            return s + n->Data().AsString();
        }
        case enkConst:
            if (n->Operator() == oeoFUNC2) return n->ParserToken().Text();
            return ShowValue(n->Data());
        case enkParam:
            return ":" + VarToStr(n->Data());
        case enkSubquery:
            return "(SELECT " + IntToStr(n->ParserToken().CustomOrdinal()) + ")";
        case enkNonRelPredicate:
            return "(" + UpperCase(n->ParserToken().Text()) + tail(n);
        case enkFunc:
            if (n->Operator() == oeoOUTERFIELD) return "^" + n->Data().AsString();
            return "(" + UpperCase(n->ParserToken().Text()) + tail(n);
        default:
            return "(" + op(n->Operator()) + tail(n);
    }
}

}  // namespace ostra::test
