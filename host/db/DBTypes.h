// The enumerations of the dataset framework, with their ordinals and identifiers, and the small
// types every unit of the framework shares: record buffers, bookmarks, the native date/time
// buffer form and the event signatures. The ordinals are the framework's; the identifier arrays
// name the values in component text and in diagnostics.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "host/Exceptions.h"
#include "host/Set.h"
#include "host/db/FieldType.h"

namespace ostra {

class TObject;
class TDataSet;
class TField;

// The state of a dataset: what the active buffer means and which operations are allowed.
enum TDataSetState {
    dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
    dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};
inline constexpr const char* DataSetStateIdents[] = {
    "dsInactive", "dsBrowse",   "dsEdit",     "dsInsert",   "dsSetKey",       "dsCalcFields", "dsFilter",
    "dsNewValue", "dsOldValue", "dsCurValue", "dsBlockRead", "dsInternalCalc", "dsOpening"};

// The states in which the active buffer is being edited (edit, insert and the search-key state).
inline bool IsEditMode(TDataSetState State) { return State == dsEdit || State == dsInsert || State == dsSetKey; }

// What GetRecord is asked to fetch, and what it answers.
enum TGetMode { gmCurrent, gmNext, gmPrior };
inline constexpr const char* GetModeIdents[] = {"gmCurrent", "gmNext", "gmPrior"};
enum TGetResult { grOK, grBOF, grEOF, grError };
inline constexpr const char* GetResultIdents[] = {"grOK", "grBOF", "grEOF", "grError"};

// Where a buffer's record lies: on a record (bfCurrent), before the first or after the last one,
// or not stored yet (bfInserted).
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
inline constexpr const char* BookmarkFlagIdents[] = {"bfCurrent", "bfBOF", "bfEOF", "bfInserted"};

// How Resync re-reads the buffers: rmExact fails when the current record is gone, rmCenter puts
// the current record in the middle of the buffers.
enum TResyncModeItem { rmExact, rmCenter };
inline constexpr const char* ResyncModeIdents[] = {"rmExact", "rmCenter"};
using TResyncMode = TSet<TResyncModeItem>;

// The cached-update status of a record (no dataset of the system caches updates).
enum TUpdateStatus { usUnmodified, usModified, usInserted, usDeleted };
inline constexpr const char* UpdateStatusIdents[] = {"usUnmodified", "usModified", "usInserted", "usDeleted"};

enum TLocateOption { loCaseInsensitive, loPartialKey };
inline constexpr const char* LocateOptionIdents[] = {"loCaseInsensitive", "loPartialKey"};
using TLocateOptions = TSet<TLocateOption>;

enum TFilterOption { foCaseInsensitive, foNoPartialCompare };
inline constexpr const char* FilterOptionIdents[] = {"foCaseInsensitive", "foNoPartialCompare"};
using TFilterOptions = TSet<TFilterOption>;

enum TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
inline constexpr const char* IndexOptionIdents[] = {"ixPrimary",         "ixUnique",     "ixDescending",
                                                    "ixCaseInsensitive", "ixExpression", "ixNonMaintained"};
using TIndexOptions = TSet<TIndexOption>;

// What a dataset tells its data sources and links. The Info that travels with an event:
// deFieldChange and deFocusControl carry the field (FieldInfo), deDataSetScroll the number of
// positions by which the buffered records moved (positive: towards higher buffer indexes),
// every other event 0.
enum TDataEvent {
    deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange, deUpdateRecord,
    deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange, deFocusControl, deParentScroll,
    deConnectChange, deReconcileError, deDisabledStateChange
};
inline constexpr const char* DataEventIdents[] = {
    "deFieldChange",     "deRecordChange",   "deDataSetChange", "deDataSetScroll",  "deLayoutChange",
    "deUpdateRecord",    "deUpdateState",    "deCheckBrowseMode", "dePropertyChange", "deFieldListChange",
    "deFocusControl",    "deParentScroll",   "deConnectChange", "deReconcileError", "deDisabledStateChange"};
inline intptr_t FieldInfo(TField* Field) { return reinterpret_cast<intptr_t>(Field); }
inline TField* InfoField(intptr_t Info) { return reinterpret_cast<TField*>(Info); }

// Where a field's value comes from.
enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
inline constexpr const char* FieldKindIdents[] = {"fkData", "fkCalculated", "fkLookup", "fkInternalCalc",
                                                  "fkAggregate"};

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
inline constexpr const char* BlobStreamModeIdents[] = {"bmRead", "bmWrite", "bmReadWrite"};

// Attributes of a field definition.
enum TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
inline constexpr const char* FieldAttributeIdents[] = {"faHiddenCol", "faReadonly", "faRequired",
                                                       "faLink",      "faUnNamed",  "faFixed"};
using TFieldAttributes = TSet<TFieldAttribute>;

// The direction of a parameter.
enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };
inline constexpr const char* ParamTypeIdents[] = {"ptUnknown", "ptInput", "ptOutput", "ptInputOutput", "ptResult"};

// What an error handler of a post, edit or delete asks for: raise the error, abort silently, or
// try the operation again.
enum TDataAction { daFail, daAbort, daRetry };
inline constexpr const char* DataActionIdents[] = {"daFail", "daAbort", "daRetry"};

// A record buffer: raw memory laid out by the dataset that allocated it.
using TRecordBuffer = char*;

// A bookmark: BookmarkSize bytes that identify a record; the empty string means no bookmark.
using TBookmark = std::string;
using TBookmarkStr = std::string;

// The native buffer form of date and time values: Date holds the time-stamp day number of a date
// field, Time the milliseconds of the day of a time field, DateTime the time stamp in milliseconds
// (TimeStampToMSecs) of a date-time field.
union TDateTimeRec {
    int32_t Date;
    int32_t Time;
    double DateTime;
};

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;
using TFieldNotifyEvent = std::function<void(TField* Sender)>;
using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

}  // namespace ostra
