// The SQL styler's defaults: the styles "SQL Standard Default", "Double Quote" and
// "Symbols Delimiters", its comment markers and its autocompletion words.
#include "controls/memo/pyxmsqls.h"

#include "host/PropertyRegistry.h"

namespace ostra {

namespace {

// The keywords of "SQL Standard Default", in this order (Delete stands twice).
const char* const kSQLKeywords[] = {
    "Proc",     "Procedure", "Begin",   "End",      "While",    "BEGIN",       "END",   "FOR",    "TO",
    "DO",       "NOT",       "IF",      "ELSE",     "WHILE",    "REPEAT",      "UNTIL", "BREAK",  "CONTINUE",
    "EXEC",     "Insert",    "Values",  "Update",   "From",     "Delete",      "Declare", "Set",  "Open",
    "Fetch",    "Close",     "Deallocate", "Return", "Rollback", "Transaction", "Trans", "and",    "or",
    "Order",    "By",        "Group",   "Having",   "Where",    "Left",        "Right", "Join",   "Inner",
    "Outer",    "On",        "Create",  "Delete",   "Select",   "Like"};

// The 22 symbol characters of "Symbols Delimiters": blank , ; : . ( ) { } [ ] = - * / ^ % < > # CR LF.
const char kSQLSymbols[] = " ,;:.(){}[]=-*/^%<>#\r\n";

[[maybe_unused]] const bool kSQLStylerPublished = Publish<TPyxSQLMemoStyler, TComponent>()
    .Object("AutoCompletion", [](const TPyxSQLMemoStyler& s) { return &s.AutoCompletion(); })
    .Object("HintParameter", [](const TPyxSQLMemoStyler& s) { return &s.HintParameter(); })
    .String("LineComment", &TPyxSQLMemoStyler::LineComment, &TPyxSQLMemoStyler::SetLineComment)
    .String("MultiCommentLeft", &TPyxSQLMemoStyler::MultiCommentLeft, &TPyxSQLMemoStyler::SetMultiCommentLeft)
    .String("MultiCommentRight", &TPyxSQLMemoStyler::MultiCommentRight, &TPyxSQLMemoStyler::SetMultiCommentRight)
    .Object("CommentStyle", [](const TPyxSQLMemoStyler& s) { return &s.CommentStyle(); })
    .Object("NumberStyle", [](const TPyxSQLMemoStyler& s) { return &s.NumberStyle(); })
    .Collection("AllStyles", [](const TPyxSQLMemoStyler& s) { return &s.AllStyles(); });

}  // namespace

TPyxSQLMemoStyler::TPyxSQLMemoStyler(TComponent* AOwner) : TPyxCustomMemoStyler(AOwner) {
    FLineComment = "'";
    FMultiCommentLeft = "{";
    FMultiCommentRight = "}";
    FCommentStyle->SetTextColor(clNavy);
    FCommentStyle->SetBkColor(clWhite);
    FCommentStyle->SetStyle({fsItalic});
    FNumberStyle->SetTextColor(clFuchsia);
    FNumberStyle->SetBkColor(clWhite);
    FNumberStyle->SetStyle({fsBold});
    FAutoCompletion->Add("SELECT");
    FAutoCompletion->Add("WHERE");

    TElementStyle* keywords = FAllStyles->Add();
    keywords->SetInfo("SQL Standard Default");
    keywords->SetStyleType(stKeyword);
    keywords->Font().SetColor(clGreen);
    for (const char* word : kSQLKeywords) keywords->KeyWords().Add(word);

    TElementStyle* quote = FAllStyles->Add();
    quote->SetInfo("Double Quote");
    quote->SetStyleType(stBracket);
    quote->SetBracket('"');
    quote->Font().SetColor(clBlue);

    TElementStyle* symbols = FAllStyles->Add();
    symbols->SetInfo("Symbols Delimiters");
    symbols->SetStyleType(stSymbol);
    symbols->Font().SetColor(clTeal);
    symbols->SetSymbols(std::string(kSQLSymbols, sizeof kSQLSymbols - 1));

    FAllStyles->SetItemsReplaced(false);
}

}  // namespace ostra
