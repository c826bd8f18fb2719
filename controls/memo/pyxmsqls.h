// TPyxSQLMemoStyler: the styler for SQL text that the editor's query window places beside its
// memo: keywords in green, double-quoted runs in blue, symbol characters in teal, comments
// between { and } or from ' to the line's end in navy italics, numbers in fuchsia bold.
#pragma once
#include "controls/memo/PyxMemoStyler.h"

namespace ostra {

// The SQL styler with its defaults and published properties.
class TPyxSQLMemoStyler : public TPyxCustomMemoStyler {
public:
    explicit TPyxSQLMemoStyler(TComponent* AOwner);
};

}  // namespace ostra
