// orqSQLTypes: the vocabulary shared by the scanner, the pre-parser, every parser, the
// expression tree and the evaluators: the SQL token enumeration and its companions (operators,
// scope kinds, aggregate and string functions, subquery kinds, statement types), the small set
// type over them, and the two name tables used by tree dumps and index-request listings.
// The message texts the parsers report are in engine/storage/orqConsts.h.
//
// Every enumeration is one byte wide and keeps the ordinals written beside its values: token
// ordinals travel in stored tokens (CustomOrdinal) and in dumps, so they must never move.
#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace ostra {

// One SQL or filter token type. The scanner never produces ostTableAlias, ostPredicate,
// ostFunc or ostFloat; ostUnknown stands for "no token".
// clang-format off
enum TOrqSQLToken : uint8_t {
    ostUnknown = 0, ostTableName = 1, ostTableAlias = 2, ostFieldName = 3, ostAscending = 4,
    ostDescending = 5, ostSelect = 6, ostFrom = 7, ostWhere = 8, ostGroupBy = 9, ostHaving = 10,
    ostUnion = 11, ostPlan = 12, ostOrderBy = 13, ostForUpdate = 14, ostEnd = 15, ostPredicate = 16,
    ostValue = 17, ostStringLiteral = 18, ostIsNull = 19, ostIsNotNull = 20, ostLike = 21, ostAnd = 22,
    ostOr = 23, ostNumber = 24, ostComment = 25, ostDistinct = 26, ostComma = 27, ostLParen = 28,
    ostRParen = 29, ostAdd = 30, ostSub = 31, ostMult = 32, ostDiv = 33, ostBetween = 34, ostAS = 35,
    ostCase = 36, ostWhen = 37, ostThen = 38, ostNullif = 39, ostCoalesce = 40, ostJoin = 41,
    ostInner = 42, ostOuter = 43, ostLeft = 44, ostRight = 45, ostCross = 46, ostNatural = 47,
    ostFull = 48, ostAggFunc = 49, ostFunc = 50, ostDataType = 51, ostParameter = 52, ostCast = 53,
    ostNot = 54, ostIn = 55, ostCompOperator = 56, ostNull = 57, ostTrue = 58, ostFalse = 59,
    ostStrFunc = 60, ostFor = 61, ostConcatenate = 62, ostOn = 63, ostUsing = 64, ostEscape = 65,
    ostNotLike = 66, ostNotBetween = 67, ostNotIn = 68, ostChar = 69, ostInt = 70, ostSmallInt = 71,
    ostFloat = 72, ostDate = 73, ostTime = 74, ostTimeStamp = 75, ostDecimal = 76, ostVarChar = 77,
    ostNumeric = 78, ostBoolean = 79, ostMoney = 80, ostBlob = 81, ostExtract = 82, ostYear = 83,
    ostMonth = 84, ostDay = 85, ostHour = 86, ostMinute = 87, ostSecond = 88, ostCurrentDate = 89,
    ostCurrentTime = 90, ostCurrentTimestamp = 91, ostAll = 92, ostExists = 93, ostAny = 94,
    ostSome = 95, ostInsert = 96, ostInto = 97, ostValues = 98, ostDelete = 99, ostUpdate = 100,
    ostSet = 101, ostCreate = 102, ostTable = 103, ostAddWord = 104, ostDrop = 105, ostAlter = 106,
    ostColumn = 107, ostPrimaryKey = 108, ostIndex = 109, ostAutoInc = 110, ostUnique = 111,
    ostType = 112, ostTo = 113, ostTemporary = 114
};
// clang-format on
inline constexpr std::size_t C_ORQSQLTOKENCOUNT = 115;

// The operation of an expression node. Relational: oeoEQ..oeoLE; arithmetic: oeoMINUS..oeoDIV.
// clang-format off
enum TOrqExprOperator : uint8_t {
    oeoNOTDEFINED = 0, oeoISBLANK = 1, oeoNOTBLANK = 2, oeoEQ = 3, oeoNE = 4, oeoGT = 5, oeoLT = 6,
    oeoGE = 7, oeoLE = 8, oeoNOT = 9, oeoAND = 10, oeoOR = 11, oeoTUPLE2 = 12, oeoFIELD2 = 13,
    oeoCONST2 = 14, oeoMINUS = 15, oeoADD = 16, oeoSUB = 17, oeoMUL = 18, oeoDIV = 19, oeoMOD = 20,
    oeoREM = 21, oeoSUM = 22, oeoCOUNT = 23, oeoMIN = 24, oeoMAX = 25, oeoAVG = 26, oeoCONT = 27,
    oeoUDF2 = 28, oeoCONTINUE2 = 29, oeoLIKE = 30, oeoIN = 31, oeoLIST2 = 32, oeoUPPER = 33,
    oeoLOWER = 34, oeoFUNC2 = 35, oeoLISTELEM2 = 36, oeoASSIGN = 37, oeoSUBQUERY = 38,
    oeoOUTERFIELD = 39, oeoPARAMETER = 40
};
// clang-format on
inline constexpr std::size_t C_ORQEXPROPERATORCOUNT = 41;

// The level of a subtree: built from fields, from aggregates, or constant.
enum TOrqExprScopeKind : uint8_t { oskField = 0, oskAgg = 1, oskConst = 2 };

enum TOrqSQLAggFunc : uint8_t {
    oafUnknown = 0,
    oafCount = 1,
    oafAvg = 2,
    oafSum = 3,
    oafMax = 4,
    oafMin = 5
};

// clang-format off
enum TOrqSQLStrFunc : uint8_t {
    osfUnknown = 0, osfSubstring = 1, osfUpper = 2, osfLower = 3, osfTrim = 4, osfTrimLeading = 5,
    osfTrimTrailing = 6, osfTrimBoth = 7
};
// clang-format on

enum TOrqSubqueryType : uint8_t { osqUnspecified = 0, osqAnyOrSome = 1, osqAll = 2, osqExists = 3 };

// clang-format off
enum TOrqSQLStatementType : uint8_t {
    osSQLUnknown = 0, osSQLExprOnly = 1, osSQLSelect = 2, osSQLInsert = 3, osSQLDelete = 4,
    osSQLUpdate = 5, osSchemaManipulation = 6
};
// clang-format on

// A set over a one-byte enumeration with N values (the framework's "set of" type).
template <typename E, std::size_t N>
class TOrqEnumSet {
public:
    TOrqEnumSet() = default;
    TOrqEnumSet(std::initializer_list<E> items) {
        for (E e : items) FBits.set(static_cast<std::size_t>(e));
    }
    bool Contains(E e) const {
        return static_cast<std::size_t>(e) < N && FBits.test(static_cast<std::size_t>(e));
    }
    void Include(E e) { FBits.set(static_cast<std::size_t>(e)); }
    void Exclude(E e) { FBits.reset(static_cast<std::size_t>(e)); }
    bool Empty() const { return FBits.none(); }
    bool operator==(const TOrqEnumSet& other) const = default;

private:
    std::bitset<N> FBits;
};

// A set of token types (115 values).
using TOrqSQLTokens = TOrqEnumSet<TOrqSQLToken, C_ORQSQLTOKENCOUNT>;

// The clause keywords: SELECT, FROM, WHERE, GROUP BY, HAVING, UNION, PLAN, ORDER BY, FOR UPDATE
// (6..14), INSERT, DELETE and UPDATE. The scanner remembers the last one it returned; the
// pre-parser cuts statements at them.
bool IsSectionToken(TOrqSQLToken token);

// Debug name of each token type, indexed by ordinal. The texts are kept exactly as dumps have
// always shown them, odd leading blanks and the comma of "ostDiv," included.
extern const char* const COrqStrSQLTokens[C_ORQSQLTOKENCOUNT];

// Debug name of each operator, indexed by ordinal ("coEQ", ..., "oeoPARAMETER").
extern const char* const C_STRCANOperator[C_ORQEXPROPERATORCOUNT];

}  // namespace ostra
