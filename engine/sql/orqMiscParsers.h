// orqMiscParsers: the small clause and statement parsers in one include: the ORDER BY and
// GROUP BY list parsers, the column data type parser and the schema statement parser.
#pragma once
#include "engine/sql/orqDataTypeParser.h"
#include "engine/sql/orqGroupByParser.h"
#include "engine/sql/orqOrderByParser.h"
#include "engine/sql/orqSchemaManipulationParser.h"
