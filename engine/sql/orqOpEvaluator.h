// orqOpEvaluator: TOrqOpEvaluator applies one arithmetic, logical or relational operator to
// two values, and so fixes how the engine treats missing values. The expression evaluator
// (orqExprEvaluator.h) calls it for every operator node; the filter optimizer calls it to fold
// constant subexpressions.
//
// Values are Variants. Two kinds stand for "no value" and are kept apart:
//   Null   the SQL NULL of a field or of the NULL literal: a value that is absent;
//   Empty  "unknown": a result that could not be computed (arithmetic with Null, a comparison
//          with nulls excluded, AND/OR/NOT over unknown operands).
// A final unknown counts as not satisfied: the Boolean forms answer false for it.
//
// The three-valued rules, on top of the Variant rules of host/Variant.h:
//   arithmetic   any Null operand, or an operator that is not arithmetic: unknown;
//                otherwise the Variant operation (an Empty operand stays unknown; "/" is a
//                real division; Boolean operands and a zero divisor raise the Variant errors)
//   IS [NOT] NULL  tests for Null only: an unknown value is not Null
//   NOT          unknown stays unknown
//   AND          unknown when either side is unknown (so unknown AND False is unknown)
//   OR           unknown only when both sides are; otherwise whether a known side is True
//   A Null operand of NOT, AND or OR (a null Boolean field) counts as unknown.
//   comparison   ExcludeRelopNulls: any Null or Empty operand gives unknown.
//                Otherwise a Null left operand against a non-null right one is lower than
//                every value (= False, <> True, < True, <= True, > False, >= False), and all
//                other pairs compare by the Variant rules (Null = Null is True, a value is
//                above Null; Empty equals nothing and is unordered: = False, <> True, and
//                False for the orderings).
#pragma once
#include "engine/sql/orqSQLTypes.h"
#include "host/Variant.h"

namespace ostra {

// The operator rules of expressions over Variant values (see the opening comment). Stateless.
class TOrqOpEvaluator {
public:
    // oeoMINUS and oeoSUB: Left - Right; oeoADD: Left + Right (sum, or concatenation of two
    // strings); oeoMUL: Left * Right; oeoDIV: Left / Right as a real division. Empty for a
    // Null operand or any other operator.
    Variant EvaluateArithExprValues(TOrqExprOperator Op, const Variant& Left, const Variant& Right) const;
    // oeoISBLANK, oeoNOTBLANK (Left only), oeoNOT (Left only), oeoAND, oeoOR; Empty = unknown.
    // Any other operator gives unknown.
    Variant EvaluateLogicalExprAsVar(TOrqExprOperator Op, const Variant& Left, const Variant& Right) const;
    Variant InternalEvaluateLogicalExprValues(TOrqExprOperator Op, const Variant& Left,
                                              const Variant& Right) const {
        return EvaluateLogicalExprAsVar(Op, Left, Right);
    }
    // True only when the result is known and True.
    bool EvaluateLogicalExprAsBoolean(TOrqExprOperator Op, const Variant& Left, const Variant& Right) const;
    // oeoEQ..oeoLE by the rules above; oeoLIKE compares for equality (patterns are matched by
    // the evaluator); any other operator gives False. Empty = unknown.
    Variant EvaluateRelopExprAsVar(TOrqExprOperator Op, const Variant& Left, const Variant& Right,
                                   bool ExcludeRelopNulls) const;
    Variant InternalEvaluateRelopExprValues(TOrqExprOperator Op, const Variant& Left, const Variant& Right,
                                            bool ExcludeRelopNulls) const {
        return EvaluateRelopExprAsVar(Op, Left, Right, ExcludeRelopNulls);
    }
    // True only when the result is known and True.
    bool EvaluateRelopExprAsBoolean(TOrqExprOperator Op, const Variant& Left, const Variant& Right,
                                    bool ExcludeRelopNulls) const;

    // Whether a result counts as satisfied: known and equal to True.
    static bool IsTrue(const Variant& V);
};

}  // namespace ostra
