// orqConsts: the engine's named message texts. They serve as the custom texts of engine
// errors (see orqErrors.h), as captions of the login dialog, and as the error texts that
// the SQL parsers collect. The texts are fixed; several keep a trailing blank or an odd
// spelling on purpose, because callers and stored logs carry them as they are.
//
// Each text is a constexpr character array so that it can be used during static
// initialisation of any other unit and converts to std::string where a caller needs one.
#pragma once

namespace ostra {

// Frames of an engine error's message: the code as passed and the table row's message
// (base), or the row's message, the code and the caller's custom text (custom).
inline constexpr char SorqErrorAnonBaseMsg[] =
    "The Ostra database engine raised an error\r\n (error code #%d). %s";
inline constexpr char SorqErrorAnonCustomMsg[] =
    "The Ostra database engine raised an error\r\n %s (error code #%d) - %s";

// Captions of the login dialog.
inline constexpr char SorqMasterKeyLabel[] = "Database Password:";
inline constexpr char SorqPasswordLabel[] = "User Password:";
inline constexpr char SorqUsernameLabel[] = "User name:";
inline constexpr char SorqLoginPrompt[] = "Database Login";

// Texts of the storage, table-header, cursor, table, database and security code.
inline constexpr char SorqFileVersionDoesNotSupportOperation[] =
    "This database version does not support this operation ";
inline constexpr char SorqOffsetValueIsOutOfRange[] = "The offset value is out of range";
inline constexpr char SorqObjectNotAssigned[] = "The requested object has not been assigned";
inline constexpr char SorqIndexFmt[] = "Index %s";
inline constexpr char SorqValueInvalidFmt[] = "%s has not been set or is out of range";
inline constexpr char SorqValueOutOfRangeFmt[] = "%d is not a valid value (min. %d, max. %d)";
inline constexpr char SorqStringInvalidFmt[] = "%s is not a valid value (min. length %d, max. length %d)";
inline constexpr char SorqTableInUseFmt[] = "The table %s is in use";
inline constexpr char SorqCorruptEncryptionKey[] = "The encrpytion key is not valid or corrupted";
inline constexpr char SorqMaxLimitFmt[] = "Maximum allowed is %d";
inline constexpr char SorqNoEncryptionSupport[] = "This database does not use/support encryption";
inline constexpr char SorqMastDetError[] = "Master-detail error";
inline constexpr char SorqMDetFldError[] = " is not a valid index field for this index";
inline constexpr char SorqDBFileVersionFmt[] = "Current database disk format is %s";
inline constexpr char SorqDBOperationCannotBePerformed[] =
    "This operation can not be performed on this database/table";
inline constexpr char SorqPWordExpired[] = "The password has expired";
inline constexpr char SorqTableReadLockErr[] = "A read lock could not be obtained on the table";
inline constexpr char SorqTableWriteLockErr[] = "A write lock could not be obtained on the table";
inline constexpr char SorqRecordLockErr[] = "A lock could not be obtained on the record";
inline constexpr char SorqLckFileLockErr[] = "A lock could not be obtained on the lock file";
inline constexpr char SorqTransactionLockErr[] = "A transaction lock could not be obtained";
inline constexpr char SorqGeneratorNameFmt[] =
    "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character";
inline constexpr char SorqTable[] = "Table";
inline constexpr char SorqField[] = "Field";
inline constexpr char SorqIndexFieldOutOfRange[] = "The specified index field count is out of range";
inline constexpr char SorqOnlySinglePrimaryIndexAllowed[] = "Only one primary index is permitted per table";

// Texts of the SQL parsers, the pre-parser's users and query execution.
inline constexpr char SorqOrderByTerminateErr[] = "Order By clause incorrectly terminated";
inline constexpr char SorqDataTypeUnknown[] = "Unknown Datatype";
inline constexpr char SorqDataTypeSpecErr[] = "Data type length/precision not specified";
inline constexpr char SorqDataypeScaleErr[] = "Data type scale invalid";
inline constexpr char SorqRParenMissing[] = "Missing Right Parenthesis";
inline constexpr char SorqLParenMissing[] = "Missing Left Parenthesis";
inline constexpr char SorqBetweenPredErr[] = "missing AND operator in between predicate";
inline constexpr char SorqExprNoRParenOrComma[] = "Missing Right Parenthesis or comma";
inline constexpr char SorqEmptyINList[] = "IN list is empty";
inline constexpr char SorqExprTypeMismatch[] = "Expression data types do not match";
inline constexpr char SorqExprArithNotSupported[] = "Arithmetic operators not supported";
inline constexpr char SorqSUBSTRINGInvalid[] = "Missing FROM or COMMA token in SUBSTRING function";
inline constexpr char SorqExprTerminatedIncorrectly[] = "Expression incorrectly terminated";
inline constexpr char SorqInvalidToken[] = "Invalid token";
inline constexpr char SorqEmptyExpr[] = "Expression is empty";
inline constexpr char SorqCharExprInvalidExprDataType[] = "Character value expression return type is invalid";
inline constexpr char SorqMissingASOperatorInCASTExpr[] = "Missing AS operator in Cast expression";
inline constexpr char SorqInvalidFieldinEXTRACTExpr[] = "Invalid extract field in EXTRACT expression";
inline constexpr char SorqMissingFROMinEXTRACTExpr[] = "Missing FROM operator in Extract expression";
inline constexpr char SorqInvalidValeExprInEXTRACTExpr[] =
    "Extract value expression result type is invalid for extract field";
inline constexpr char SorqExprBadScope[] = "Scope is invalid";
inline constexpr char SorqIndexNotFound[] = "Index not found";
inline constexpr char SorqDuplicateIndex[] = "Index already exists";
inline constexpr char SorqDuplicateField[] = "Field already exists";
inline constexpr char SorqFieldNotFound[] = "Field not found";
inline constexpr char SorqTableOrFieldNotFound[] = "Table and/or field not found";
inline constexpr char SorqTypeConversionErr[] = "Cannot convert type";
inline constexpr char SorqColumnNameErr[] = "invalid column name descriptor";
inline constexpr char SorqGroupByTerminateErr[] = "Group By clause incorrectly terminated";
inline constexpr char SorqColumnNameMissingErr[] = "missing column name descriptor";
inline constexpr char SorqNonAggColumnNotInGroupBy[] = "Output column must be specified in Group By clause";
inline constexpr char SorqGroupByColumnNotFound[] = "Group By column not found";
inline constexpr char SorqParamsNotSupported[] = "Parameters are not supported";
inline constexpr char SorqParamNotFound[] = "Parameter name expected but none found";
inline constexpr char SorqHavingColumnNotFoundFmt[] = "Column name in having clause not found: %s";
inline constexpr char SorqNoGroupByClause[] = "No group by clause was specified";
inline constexpr char SorqHavingFieldNotInResult[] =
    "Fields specified in having clause must appear in the result set";
inline constexpr char SorqSelectTokenMissing[] = "Missing select token";
inline constexpr char SorqInsertStatmentSyntaxError[] = "Insert statement syntax is incorrect";
inline constexpr char SorqMissingColumnSpecifier[] = "Column specification is missing";
inline constexpr char SorqExprSubqueriesNotSupported[] = "Subqueries are not supported";
inline constexpr char SorqUnrecognizedSQLStatement[] = "Unrecognised SQL statement type";
inline constexpr char SorqInsertColumnsCountMismatch[] =
    "Number of insert columns does not match number of insert values";
inline constexpr char SorqNoInsertColumnsSpecified[] = "No insert columns were specified";
inline constexpr char SorqSQLStatmentCannotbeExecuted[] = "SQL statement cannot be executed by ExecSQL";
inline constexpr char SorqSQLStatmentCannotbeOpened[] = "SQL statement cannot be opened (execute by ExecSQL)";
inline constexpr char SorqDeleteStatmentSyntaxError[] = "Delete statement syntax is incorrect";
inline constexpr char SorqUpdateStatmentSyntaxError[] = "Update statement syntax is incorrect";
inline constexpr char SorqUpdateMissingColumnReference[] = "Update statement missing column reference";
inline constexpr char SorqMissingAssignmentToken[] = "Missing assignment (=) token";
inline constexpr char SorqInvalidCreateStatement[] = "Create statment is invalid";
inline constexpr char SorqInvalidAlterTableStatement[] = "Alter table statment is invalid";
inline constexpr char SorqInvalidDropStatement[] = "Drop statment is invalid";
inline constexpr char SorqDataTypeInvalid[] = "Data type is invalid";
inline constexpr char SorqMissingOnToken[] = "Missing ON token";
inline constexpr char SorqNoIndexColumnsSpecified[] = "No index columns specified";
inline constexpr char SorqTableExists[] = "Table already exists";
inline constexpr char SorqTableNotFound[] = "Table not found";
inline constexpr char SorqEmptySQLStatement[] = "SQL statment is empty";
inline constexpr char SorqMissingTableReference[] = "Syntax error. Expected table name";
inline constexpr char SorqResultSetLimitExceededFmt[] = "Result set limit of %d has been exceeded";
inline constexpr char SorqDataFormatErrorFmt[] = "Value %s was not of the expected format %s";
inline constexpr char SorqSelectDistinctMaxColsLimit[] =
    "Result set colummn count exceeds DISTINCT query limit";
inline constexpr char SorqSelectDistinctInvalidColumnType[] =
    "The column is not a valid data type for DISTINCT queries";
inline constexpr char SorqAggFuncDataError[] = "Aggregate column data conversion error";
inline constexpr char SorqOneAggregatePerColumn[] = "A result column may hold only one aggregate function";
inline constexpr char SorqOrderByColumnNotPresent[] =
    "Order by column not found (Order By columns must be in result set)";
inline constexpr char SorqOrderByColumnIndexOutOfRange[] = "Order by column number is out of range";
inline constexpr char SorqUnionResultSetFailed[] = "Union result set could not be created";
inline constexpr char SorqUnionColumnCountError[] = "Union statement column counts do not match";
inline constexpr char SorqUnionStatementIncorrectlyTerminated[] =
    "Union statement was incorrectly terminated";

// Texts of parameter streaming, Boolean display and index maintenance.
inline constexpr char SorqFmtIndexNotFoundError[] = "Index not found %s";
inline constexpr char SOrqParameterNotFound[] = "Parameter not found";
inline constexpr char SOrqInvalidVersion[] = "Parameter data version is invalid";
inline constexpr char SOrqTrue[] = "True";
inline constexpr char SOrqFalse[] = "False";
inline constexpr char SorqCannotDeletePrimaryIndex[] = "The primary index cannot be deleted";

}  // namespace ostra
