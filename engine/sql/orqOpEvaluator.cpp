// The operator rules over Variant values (see orqOpEvaluator.h).
#include "engine/sql/orqOpEvaluator.h"

namespace ostra {

namespace {

// NOT, AND and OR see a Null operand (a null Boolean field) as unknown.
bool IsUnknown(const Variant& V) {
    return VarIsEmpty(V) || VarIsNull(V);
}

// A known operand of NOT, AND or OR as a truth value (numbers: non-zero is True).
bool AsTruth(const Variant& V) {
    return V.AsBoolean();
}

}  // namespace

bool TOrqOpEvaluator::IsTrue(const Variant& V) {
    if (IsUnknown(V)) return false;
    if (VarType(V) == varBoolean) return V.AsBoolean();
    try {
        return V == Variant(true);
    } catch (const EVariantError&) {
        return false;
    }
}

Variant TOrqOpEvaluator::EvaluateArithExprValues(TOrqExprOperator Op, const Variant& Left,
                                                 const Variant& Right) const {
    if (VarIsNull(Left) || VarIsNull(Right)) return Variant();
    switch (Op) {
        case oeoMINUS:
        case oeoSUB:
            return Left - Right;
        case oeoADD:
            return Left + Right;
        case oeoMUL:
            return Left * Right;
        case oeoDIV:
            return Left / Right;
        default:
            return Variant();
    }
}

Variant TOrqOpEvaluator::EvaluateLogicalExprAsVar(TOrqExprOperator Op, const Variant& Left,
                                                  const Variant& Right) const {
    switch (Op) {
        case oeoISBLANK:
            return Variant(VarIsNull(Left));
        case oeoNOTBLANK:
            return Variant(!VarIsNull(Left));
        case oeoNOT:
            if (IsUnknown(Left)) return Variant();
            return Variant(!AsTruth(Left));
        case oeoAND:
            if (IsUnknown(Left) || IsUnknown(Right)) return Variant();
            return Variant(AsTruth(Left) && AsTruth(Right));
        case oeoOR: {
            const bool leftUnknown = IsUnknown(Left);
            const bool rightUnknown = IsUnknown(Right);
            if (leftUnknown && rightUnknown) return Variant();
            if (rightUnknown) return Variant(IsTrue(Left));
            if (leftUnknown) return Variant(IsTrue(Right));
            return Variant(AsTruth(Left) || AsTruth(Right));
        }
        default:
            return Variant();
    }
}

bool TOrqOpEvaluator::EvaluateLogicalExprAsBoolean(TOrqExprOperator Op, const Variant& Left,
                                                   const Variant& Right) const {
    return IsTrue(EvaluateLogicalExprAsVar(Op, Left, Right));
}

Variant TOrqOpEvaluator::EvaluateRelopExprAsVar(TOrqExprOperator Op, const Variant& Left,
                                                const Variant& Right, bool ExcludeRelopNulls) const {
    if (ExcludeRelopNulls && (IsUnknown(Left) || IsUnknown(Right))) return Variant();
    if (!ExcludeRelopNulls && VarIsNull(Left) && !VarIsNull(Right)) {
        switch (Op) {
            case oeoNE:
            case oeoLT:
            case oeoLE:
                return Variant(true);
            default:
                return Variant(false);
        }
    }
    switch (Op) {
        case oeoEQ:
        case oeoLIKE:
            return Variant(Left == Right);
        case oeoNE:
            return Variant(!(Left == Right));
        case oeoGT:
            return Variant(Left > Right);
        case oeoLT:
            return Variant(Left < Right);
        case oeoGE:
            return Variant(Left >= Right);
        case oeoLE:
            return Variant(Left <= Right);
        default:
            return Variant(false);
    }
}

bool TOrqOpEvaluator::EvaluateRelopExprAsBoolean(TOrqExprOperator Op, const Variant& Left,
                                                 const Variant& Right, bool ExcludeRelopNulls) const {
    return IsTrue(EvaluateRelopExprAsVar(Op, Left, Right, ExcludeRelopNulls));
}

}  // namespace ostra
