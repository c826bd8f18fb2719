// The operator rules: arithmetic with missing values, the three-valued AND/OR/NOT, and the
// truth tables of comparisons with and without null exclusion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/sql/orqOpEvaluator.h"

namespace ostra {
namespace {

// 'T' True, 'F' False, 'U' unknown (Empty); anything else shows the kind.
char Truth(const Variant& v) {
    if (VarIsEmpty(v)) return 'U';
    if (VarType(v) != varBoolean) return '?';
    return v.AsBoolean() ? 'T' : 'F';
}

Variant Value(char c) {
    switch (c) {
        case 'T':
            return Variant(true);
        case 'F':
            return Variant(false);
        case 'U':
            return Variant();
        case 'N':
            return Null();
        default:
            return Variant(c - '0');
    }
}

const TOrqExprOperator kRelops[] = {oeoEQ, oeoNE, oeoGT, oeoLT, oeoGE, oeoLE};

// The six comparisons (= <> > < >= <=) of Left with Right as a string of truth letters.
std::string Compare(char left, char right, bool exclude) {
    TOrqOpEvaluator ev;
    std::string s;
    for (TOrqExprOperator op : kRelops)
        s += Truth(ev.EvaluateRelopExprAsVar(op, Value(left), Value(right), exclude));
    return s;
}

TEST(OpEvaluator, ComparisonTruthTableWithoutNullExclusion) {
    // Operands: digits are integers, N is Null, U is Empty (unknown).
    struct Row {
        char Left, Right;
        const char* Results;  // = <> > < >= <=
    } rows[] = {
        {'1', '2', "FTFTFT"},
        {'2', '2', "TFFFTT"},
        // A Null left operand is lower than every non-null value.
        {'N', '1', "FTFTFT"},
        {'N', 'U', "FTFTFT"},
        // A Null right operand, and two Nulls, compare by the Variant order: Null first.
        {'1', 'N', "FTTFTF"},
        {'N', 'N', "TFFFTT"},
        // An unknown operand equals no value and has no order against one; like two Nulls,
        // two unknowns are equal in this mode.
        {'U', '1', "FTFFFF"},
        {'1', 'U', "FTFFFF"},
        {'U', 'U', "TFFFTT"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Compare(r.Left, r.Right, false), r.Results) << r.Left << " vs " << r.Right;
}

TEST(OpEvaluator, ComparisonTruthTableWithNullExclusion) {
    EXPECT_EQ(Compare('1', '2', true), "FTFTFT");
    EXPECT_EQ(Compare('2', '2', true), "TFFFTT");
    for (auto [l, r] :
         std::vector<std::pair<char, char>>{{'N', '1'}, {'1', 'N'}, {'N', 'N'}, {'U', '1'}, {'1', 'U'}})
        EXPECT_EQ(Compare(l, r, true), "UUUUUU") << l << " vs " << r;
}

TEST(OpEvaluator, BooleanFormsCountUnknownAsNotSatisfied) {
    TOrqOpEvaluator ev;
    EXPECT_FALSE(ev.EvaluateRelopExprAsBoolean(oeoEQ, Null(), Variant(1), false));
    EXPECT_TRUE(ev.EvaluateRelopExprAsBoolean(oeoLT, Null(), Variant(1), false));
    EXPECT_FALSE(ev.EvaluateRelopExprAsBoolean(oeoLT, Null(), Variant(1), true));
    EXPECT_FALSE(ev.EvaluateRelopExprAsBoolean(oeoNE, Null(), Variant(1), true));
    EXPECT_FALSE(ev.EvaluateLogicalExprAsBoolean(oeoNOT, Variant(), Variant()));
    EXPECT_TRUE(ev.EvaluateLogicalExprAsBoolean(oeoNOT, Variant(false), Variant()));
    // LIKE compares for equality here; other operators are false.
    EXPECT_EQ(Truth(ev.EvaluateRelopExprAsVar(oeoLIKE, Variant("a"), Variant("a"), false)), 'T');
    EXPECT_EQ(Truth(ev.EvaluateRelopExprAsVar(oeoLIKE, Null(), Variant("a"), false)), 'F');
    EXPECT_EQ(Truth(ev.EvaluateRelopExprAsVar(oeoIN, Variant(1), Variant(1), false)), 'F');
}

TEST(OpEvaluator, ThreeValuedAndOrNot) {
    TOrqOpEvaluator ev;
    struct Row {
        TOrqExprOperator Op;
        char Left, Right, Result;
    } rows[] = {
        {oeoAND, 'T', 'T', 'T'},
        {oeoAND, 'T', 'F', 'F'},
        {oeoAND, 'F', 'F', 'F'},
        {oeoAND, 'U', 'T', 'U'},
        {oeoAND, 'U', 'F', 'U'},
        {oeoAND, 'F', 'U', 'U'},
        {oeoAND, 'N', 'T', 'U'},
        {oeoOR, 'T', 'F', 'T'},
        {oeoOR, 'F', 'F', 'F'},
        {oeoOR, 'U', 'F', 'F'},
        {oeoOR, 'U', 'T', 'T'},
        {oeoOR, 'F', 'U', 'F'},
        {oeoOR, 'T', 'U', 'T'},
        {oeoOR, 'U', 'U', 'U'},
        {oeoOR, 'N', 'T', 'T'},
        {oeoNOT, 'T', 'U', 'F'},
        {oeoNOT, 'F', 'U', 'T'},
        {oeoNOT, 'U', 'U', 'U'},
        {oeoNOT, 'N', 'U', 'U'},
        {oeoEQ, 'T', 'T', 'U'},
        // IS NULL tests for Null only: an unknown value is not Null.
        {oeoISBLANK, 'N', 'U', 'T'},
        {oeoISBLANK, 'U', 'U', 'F'},
        {oeoISBLANK, '1', 'U', 'F'},
        {oeoNOTBLANK, 'N', 'U', 'F'},
        {oeoNOTBLANK, 'U', 'U', 'T'},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Truth(ev.EvaluateLogicalExprAsVar(r.Op, Value(r.Left), Value(r.Right))), r.Result)
            << C_STRCANOperator[r.Op] << " " << r.Left << " " << r.Right;
    // Numbers count as truth values: non-zero is True.
    EXPECT_EQ(Truth(ev.EvaluateLogicalExprAsVar(oeoAND, Variant(2), Variant(true))), 'T');
}

TEST(OpEvaluator, ArithmeticWithMissingValues) {
    TOrqOpEvaluator ev;
    EXPECT_DOUBLE_EQ(ev.EvaluateArithExprValues(oeoDIV, Variant(3), Variant(2)).AsDouble(), 1.5);
    EXPECT_EQ(ev.EvaluateArithExprValues(oeoADD, Variant("ab"), Variant("cd")).AsString(), "abcd");
    EXPECT_EQ(ev.EvaluateArithExprValues(oeoSUB, Variant(5), Variant(2)).AsInteger(), 3);
    EXPECT_EQ(ev.EvaluateArithExprValues(oeoMINUS, Variant(5), Variant(2)).AsInteger(), 3);
    EXPECT_EQ(ev.EvaluateArithExprValues(oeoMUL, Variant(4), Variant(2.5)).AsDouble(), 10.0);
    // NULL + 1 is unknown, not Null: a later IS NULL on it is False.
    Variant sum = ev.EvaluateArithExprValues(oeoADD, Null(), Variant(1));
    EXPECT_TRUE(VarIsEmpty(sum));
    EXPECT_EQ(Truth(ev.EvaluateLogicalExprAsVar(oeoISBLANK, sum, Variant())), 'F');
    EXPECT_TRUE(VarIsEmpty(ev.EvaluateArithExprValues(oeoADD, Variant(1), Null())));
    // Unknown stays unknown through further arithmetic.
    EXPECT_TRUE(VarIsEmpty(ev.EvaluateArithExprValues(oeoADD, sum, Variant(2))));
    EXPECT_TRUE(VarIsEmpty(ev.EvaluateArithExprValues(oeoMOD, Variant(5), Variant(2))));
}

}  // namespace
}  // namespace ostra
