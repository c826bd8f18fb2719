// orqParserEngine: TOrqParserEngine runs the parsers of one SQL statement over a pre-parsed
// token stream and relays the notifications of its parsers to its owner (the query layer).
//
// Two pre-parsers tokenise the same text in single-stack mode. PreParser1 is the main token
// stream: the clauses are parsed from it in order, each clause parser starting right behind
// its keyword where the parser before it stopped. PreParser2 exists so that the FROM clause
// can be read first, before the select list is parsed against the tables.
//
// Calling order for a SELECT (each step only when the previous one answered true):
//   PreParseSQL; GetSQLStatementType; ParseFromClause (the caller then checks the tables and
//   loads their field lists into TableList); ParseSelectClause (which also builds the
//   conditions of USING and NATURAL joins into the FROM parser's tree); ParseWhereClause;
//   ParseGroupByClause; ParseHavingClause; the select analyser's checks; while
//   CheckForUnionStatement(true) finds UNION: CheckForUnionStatement(false), then
//   ParserCallback(pntSelectUnion, FromParser, ...) for the member; ParseOrderByClause;
//   CheckNoTokensRemain.
// INSERT, DELETE, UPDATE and schema statements call their one statement method after
// PreParseSQL. The WHERE part of a DELETE or UPDATE is parsed by a nested engine with
// ParseWhereClause, ParseOrderByClause and CheckParseDone.
//
// The WHERE parser carries the position for GROUP BY, HAVING and ORDER BY; the FROM parser is
// kept on the same token after GROUP BY and HAVING, so that a UNION is found behind any
// clause, and after a UNION member both resume behind it, so that a final ORDER BY is found.
//
// Nesting. A subquery's engine starts COrqSubqueryNestingWeight levels below the point where
// the subquery began; a subquery that would start beyond COrqMaxNestingLevel is refused with
// SorqNestingTooDeepFmt at its SELECT, and no engine is made for it. After a subquery the
// handler's NotifyData holds the subquery statement's ExprHeight, so that the calling parser
// bounds the height of its tree with the subquery inside.
//
// Nested statements. A subquery or a UNION member gets a nested engine that continues over the
// remaining tokens (shared with this engine's pre-parser, not copied: a chain of nested
// statements costs memory in proportion to its length); the notify event configures it (IsSubquery or
// IsUnionSubstatement) and parses with it. When it succeeds, the outer token streams skip what
// it consumed and the calling parser resumes behind it; its error becomes the calling
// parser's error. The engine owns every nested engine it creates until the handler takes one
// over with ReleaseNestedEngine; the rest are freed with the engine or at the next
// PreParseSQL. A parser that resumed behind a nested statement stands on a token of the nested
// engine, so a handler that takes one must keep it while this engine's parse results are used.
//
// No method raises on bad SQL: each answers false and leaves the text of the parser that ran
// (with its " Line %d, Character %d. Token '%s'" suffix) in ErrorMsg. Errors that parsers
// raise instead of keeping (a date literal the settings cannot read, 10058/10059) are caught
// by every parse method and ParserCallback and reported the same way, with the position of the
// token the parser had reached. Only assertion failures (programming errors), the runtime's own
// (out of memory) and what the owner's notify handler raises itself pass.
#pragma once
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sql/orqBaseParser.h"
#include "engine/sql/orqSQLTypes.h"
#include "host/Variant.h"

namespace ostra {

class TStrings;
class TOrqExprNode;
class TOrqPreParser;
class TTableList;
class TOrqFromParser;
class TOrqExprParser;
class TOrqSelectParser;
class TOrqOrderByParser;
class TOrqGroupByParser;
class TOrderByItems;
class TGroupByItems;
class TOrqInsertParser;
class TOrqDeleteParser;
class TOrqUpdateParser;
class TOrqSchemaManipulationParser;
class TOrqParserEngine;

// How an engine hands a nested statement or a table lookup to its owner: for pntSubquery and
// pntSelectUnion, Engine is the nested engine to configure and parse with; for
// pntFindTableRef, Engine is null and the handler answers through NotifyData.
using TParserEngineNotifyEvent = std::function<void(TParserNotifyType NotifyType, TOrqParserEngine* Engine,
                                                    TOrqExprNode* Node, Variant& NotifyData)>;

inline constexpr char SorqParamListNotAssigned[] = "Parameter list is not assigned";

// Parses one SQL statement through its clause and statement parsers (see the opening comment).
class TOrqParserEngine {
public:
    TOrqParserEngine();
    TOrqParserEngine(const TOrqParserEngine&) = delete;
    TOrqParserEngine& operator=(const TOrqParserEngine&) = delete;
    ~TOrqParserEngine();

    // Tokenises Text with both pre-parsers; clears every parser, the table list, the flags of
    // the last parse and the nested engines. Answers true.
    bool PreParseSQL(const std::string& Text);
    // The statement type PreParser1 found.
    TOrqSQLStatementType GetSQLStatementType() const;
    // Params (required: assertion) := the statement's parameter names in order of appearance.
    void GetParamList(TStrings* Params);

    // The SELECT clauses, in the calling order.
    bool ParseFromClause();
    bool ParseSelectClause();
    bool ParseWhereClause();
    bool ParseGroupByClause();
    bool ParseHavingClause();
    bool ParseOrderByClause();

    // The statements other than SELECT.
    bool ParseInsertStatement();
    bool ParseDeleteStatement();
    bool ParseUpdateStatement();
    bool ParseSchemaManipulationStatement();

    // Whether the current position is a UNION. Unless CheckOnly: sets HasUnionStatement,
    // consumes an ALL (UnionAll := it was there) and answers whether a SELECT follows, else
    // ErrorMsg := "Union statement was incorrectly terminated". With CheckOnly nothing changes.
    bool CheckForUnionStatement(bool CheckOnly, bool& UnionAll);
    // Only comments and the end of the text are left (and the text had nothing after a NUL).
    bool CheckNoTokensRemain() const;
    // The main stream is empty or the WHERE parser stands on the end marker.
    bool CheckParseDone() const;
    // " Line %d, Character %d. Token '%s'" for the next token of the main stream; empty when
    // none is left.
    std::string GetCurrentPreParserTokenAsErrorFmt() const;

    // The notify event of the engine's parsers; the query layer also calls it with
    // pntSelectUnion and the FROM parser to parse the next UNION member.
    void ParserCallback(TParserNotifyType NotifyType, TBaseParser* Parser, TParserStack* ParserStack,
                        TOrqExprNode* Node, Variant& NotifyData);
    // Hands over a nested engine this engine created; null when Engine is not one it holds.
    std::unique_ptr<TOrqParserEngine> ReleaseNestedEngine(TOrqParserEngine* Engine);
    // The number of nested engines this engine still holds.
    int NestedEngineCount() const { return static_cast<int>(FNestedEngines.size()); }
    // The nesting levels this engine's statement sits inside (orqBaseParser.h): 0 for a
    // statement, the level of the point where it began plus COrqSubqueryNestingWeight for a
    // subquery. Every parser of the engine starts there.
    int NestingLevel() const { return FNestingLevel; }
    void SetNestingLevel(int Level);
    // The height of the tallest expression tree of the statement parsed so far (subqueries
    // and UNION members included): what the statement adds to the nesting of the point where
    // it stands.
    int ExprHeight() const;

    TOrqPreParser& PreParser1() { return *FPreParser1; }
    TOrqPreParser& PreParser2() { return *FPreParser2; }
    TTableList& TableList() { return *FTableList; }
    TOrqFromParser& FromParser() { return *FFromParser; }
    TOrqExprParser& WhereParser() { return *FWhereParser; }
    TOrqSelectParser& SelectParser() { return *FSelectParser; }
    TOrqOrderByParser& OrderByParser() { return *FOrderByParser; }
    TOrqGroupByParser& GroupByParser() { return *FGroupByParser; }
    TOrqExprParser& HavingParser() { return *FHavingParser; }
    TOrderByItems& OrderByItems() { return *FOrderByItems; }
    TGroupByItems& GroupByItems() { return *FGroupByItems; }
    TOrqInsertParser& InsertParser() { return *FInsertParser; }
    TOrqDeleteParser& DeleteParser() { return *FDeleteParser; }
    TOrqUpdateParser& UpdateParser() { return *FUpdateParser; }
    TOrqSchemaManipulationParser& SchemaParser() { return *FSchemaParser; }

    // The error text of the last clause or statement parsed; empty = no error.
    const std::string& ErrorMsg() const { return FErrorMsg; }
    const TParserEngineNotifyEvent& ParserEngineNotifyEvent() const { return FParserEngineNotifyEvent; }
    void SetParserEngineNotifyEvent(TParserEngineNotifyEvent E) { FParserEngineNotifyEvent = std::move(E); }
    // The engine parses a subquery: its tokens end at the subquery's closing ")".
    bool IsSubquery() const { return FIsSubquery; }
    void SetIsSubquery(bool v) { FIsSubquery = v; }
    // In a subquery, the FROM or WHERE clause stopped at the closing ")".
    bool SubqueryClosed() const { return FSubqueryClosed; }
    // The parser that ran last (not owned); after a nested statement the calling parser
    // resumes at its current token.
    TBaseParser* LastParser() const { return FLastParser; }
    bool HasUnionStatement() const { return FHasUnionStatement; }
    void SetHasUnionStatement(bool v) { FHasUnionStatement = v; }
    bool IsUnionSubstatement() const { return FIsUnionSubstatement; }
    void SetIsUnionSubstatement(bool v) { FIsUnionSubstatement = v; }

private:
    void ClearParsers();
    // Every parser of the engine.
    std::array<TBaseParser*, 10> Parsers() const;
    // Runs Body (a parse step of Parser) and answers its result; an exception other than an
    // assertion failure becomes ErrorMsg, with the position of Parser's current token, and
    // the answer false.
    template <class TBody>
    bool Guarded(TBaseParser& Parser, TBody Body);

    std::unique_ptr<TOrqPreParser> FPreParser1;
    std::unique_ptr<TOrqPreParser> FPreParser2;
    std::unique_ptr<TTableList> FTableList;
    std::unique_ptr<TOrqFromParser> FFromParser;
    std::unique_ptr<TOrqExprParser> FWhereParser;
    std::unique_ptr<TOrqSelectParser> FSelectParser;
    std::unique_ptr<TOrqOrderByParser> FOrderByParser;
    std::unique_ptr<TOrqGroupByParser> FGroupByParser;
    std::unique_ptr<TOrqExprParser> FHavingParser;
    std::unique_ptr<TOrderByItems> FOrderByItems;
    std::unique_ptr<TGroupByItems> FGroupByItems;
    std::unique_ptr<TOrqInsertParser> FInsertParser;
    std::unique_ptr<TOrqDeleteParser> FDeleteParser;
    std::unique_ptr<TOrqUpdateParser> FUpdateParser;
    std::unique_ptr<TOrqSchemaManipulationParser> FSchemaParser;
    std::string FErrorMsg;
    TParserEngineNotifyEvent FParserEngineNotifyEvent;
    bool FIsSubquery = false;
    bool FSubqueryClosed = false;
    TBaseParser* FLastParser = nullptr;
    bool FHasUnionStatement = false;
    bool FIsUnionSubstatement = false;
    int FNestingLevel = 0;
    // The notify handler raised an exception that is on its way to the owner.
    bool FHandlerRaised = false;
    // The tallest statement among the UNION members parsed through this engine.
    int FUnionMemberHeight = 0;
    // Nested engines made for subqueries and UNION members that no handler took over.
    std::vector<std::unique_ptr<TOrqParserEngine>> FNestedEngines;
};

}  // namespace ostra
