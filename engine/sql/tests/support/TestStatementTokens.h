// Test helper for the clause and statement parsers: one SQL text pre-parsed into a single
// token stack, as the parser engine sees it. The tokens live as long as this object.
#pragma once
#include <string>

#include "engine/sql/orqPreParser.h"

namespace ostra::test {

struct TStatementTokens {
    TOrqPreParser Pre;

    // The whole statement, positioned at its first token.
    TParserStack* All(const std::string& Text) {
        Load(Text);
        return Pre.GetSingleStack();
    }
    // The statement popped past the keyword of Section (ostOrderBy, ostFrom ...).
    TParserStack* After(const std::string& Text, TOrqSQLToken Section) {
        Load(Text);
        return Pre.GetSection(Section, nullptr);
    }

private:
    void Load(const std::string& Text) {
        Pre.SetParseSingleStack(true);
        Pre.SetParseAsExprOnly(false);
        Pre.SetText(Text);
        Pre.PreParseTokens();
    }
};

}  // namespace ostra::test
