// TokenState: what the memo's line tokenizer carries from token to token and from line to line.
// A line's start state (the state after every line above it was read) is what colours the line;
// the line list keeps such states as per-line checkpoints (PyxMemoStrings.h) so that painting a
// line far down does not rescan the text from the top.
#pragma once
#include <cstdint>

namespace ostra {

// The tokenizer state. InComment, InBracket, BracketChar and StyleIndex carry across tokens
// and lines; IsNumber, IsKeyword, IsSymbol and IsUrl describe one token and are cleared after it.
struct TokenState {
    uint8_t InComment = 0;  // inside a comment (multi-line, or a line comment to its line's end)
    uint8_t InBracket = 0;  // inside a bracket run (a string between two bracket characters)
    uint8_t IsNumber = 0;   // the current token is a number
    uint8_t IsKeyword = 0;  // the current token is a keyword
    uint8_t IsSymbol = 0;   // the current token is a symbol character
    uint8_t IsUrl = 0;      // the current word is a URL
    char BracketChar = 0;   // the character that closes the open bracket run
    int32_t StyleIndex = 0; // index in the styler's styles of the current keyword, symbol or run

    bool operator==(const TokenState&) const = default;

    // The state at the start of a text: all clear, no style.
    static TokenState Initial() {
        TokenState s;
        s.StyleIndex = -1;
        return s;
    }
};

}  // namespace ostra
