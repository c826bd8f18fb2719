// The token and operator name tables and the section-token test (see orqSQLTypes.h).
#include "engine/sql/orqSQLTypes.h"

namespace ostra {

bool IsSectionToken(TOrqSQLToken token) {
    return (token >= ostSelect && token <= ostForUpdate) || token == ostInsert || token == ostDelete ||
           token == ostUpdate;
}

// clang-format off
const char* const COrqStrSQLTokens[C_ORQSQLTOKENCOUNT] = {
    "stUnknown", " stTableName", " stTableAlias", " stFieldName", " stAscending", " stDescending",
    " stSelect", "stFrom", " stWhere", " stGroupBy", " stHaving", " stUnion", " stPlan", " stOrderBy",
    " stForUpdate", "stEnd", " stPredicate", " stValue", "ostStringLiteral", " stIsNull", " stIsNotNull",
    " stLike", " stAnd", " stOr", "stNumber", " stComment", " stDistinct", " stComma", "stLParen",
    "stRParen", "ostAdd", "ostSub", "ostMult", "ostDiv,", " ostBetween", "ostAS", " ostCase", "ostWhen",
    "ostThen", "ostNullif", "ostCoalesce", "ostJoin", "ostInner", "ostOuter", "ostLeft", "ostRight",
    "ostCross", "ostNatural", "ostFull", "ostAggFunc", "ostFunc", "ostDataType", " ostParameter",
    " ostCast", " ostNot", "ostIn", " ostCompOperator", "ostNull", "ostTrue", "ostFalse", "ostStrFunc",
    "ostFor", "ostConcatenate", " ostOn", " ostUsing", "ostEscape", "ostNotLike", "ostNotBetween",
    "ostNotIn", "ostChar", "ostInt", "ostSmallInt", "ostFloat", "ostDate", "ostTime", "ostTimeStamp",
    "ostDecimal", "ostVarChar", "ostNumeric", "ostBoolean", "ostMoney", "ostBlob", "ostExtract", "ostYear",
    "ostMonth", "ostDay", "ostHour", "ostMinute", "ostSecond", "ostCurrentDate", "ostCurrentTime",
    "ostCurrentTimestamp", "ostAll", "ostExists", "ostAny", "ostSome", "ostInsert", "ostInto", "ostValues",
    "ostDelete", "ostUpdate", "ostSet", "ostCreate", "ostTable", "ostAddWord", "ostDrop", "ostAlter",
    "ostColumn", "ostPrimaryKey", "ostIndex", "ostAutoInc", "ostUnique", "ostType", "ostTo",
    "ostTemporary",
};
// clang-format on

// clang-format off
const char* const C_STRCANOperator[C_ORQEXPROPERATORCOUNT] = {
    "coNOTDEFINED", "coISBLANK", "coNOTBLANK", "coEQ", "coNE", "coGT", "coLT", "coGE", "coLE", "coNOT",
    "coAND", "coOR", "coTUPLE2", "coFIELD2", "coCONST2", "coMINUS", "coADD", "coSUB", "coMUL", "coDIV",
    "coMOD", "coREM", "coSUM", "coCOUNT", "coMIN", "coMAX", "coAVG", "coCONT", "coUDF2", "coCONTINUE2",
    "coLIKE", "coIN", "coLIST2", "coUPPER", "coLOWER", "coFUNC2", "coLISTELEM2", "coASSIGN",
    "oeoSUBQUERY", "oeoOUTERFIELD", "oeoPARAMETER",
};
// clang-format on

}  // namespace ostra
