// Test helper: the "Stock" table that the tests of several connections on one file share. ID
// Integer with the unique primary index "ixID", GRP String(12) with the non-unique index
// "ixGroup", QTY Integer, TAG String(60); optionally weakly encrypted. A row's TAG is derived
// from its other fields, so that a reader can tell a torn or mixed-up record from a sound one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/orqCommon.h"
#include "orqTableFixture.h"

namespace ostra::tabletest {

// Field positions, and the index order (also the header slots).
enum { fStockID, fStockGroup, fStockQty, fStockTag };
enum { ixStockID, ixStockGroup, StockIndexCount };

struct TStockRow {
    int32_t ID = 0;
    std::string Group;
    int32_t Qty = 0;
    std::string Tag;
    bool operator==(const TStockRow&) const = default;
};

// The row of ID in group Group with quantity Qty, and the tag that goes with them.
TStockRow StockRow(int32_t ID, const std::string& Group, int32_t Qty);
// The tag of a row: a text made of its ID, group and quantity.
std::string StockTag(int32_t ID, const std::string& Group, int32_t Qty);
// The definition of the table.
TTableDefFactory StockDef(TEncryptionLevel Level = encNone);

// A connection to the Stock table.
class TStockTable : public TTableConnection {
public:
    TStockTable(const std::string& Path, TEncryptionLevel Level = encNone, TLockWaits Waits = {})
        : TTableConnection(Path, StockDef(Level), Waits) {}

    uint32_t Insert(const TStockRow& Row) { return TTableConnection::Insert(Encode(Row)); }
    // The row's record replaced by Row (found by Row.ID); raises when there is none.
    void Update(const TStockRow& Row);
    // Removes the row of ID; raises when there is none.
    void Delete(int32_t ID);
    // The address of the row of ID through the unique index; 0 when none.
    uint32_t Find(int32_t ID);
    // The row of ID; raises when there is none.
    TStockRow Get(int32_t ID);

    std::vector<uint8_t> Encode(const TStockRow& Row);
    TStockRow Decode(const std::vector<uint8_t>& Rec);
};

// Creates a new database at Path with the empty Stock table.
void CreateStockDatabase(const std::string& Path, TEncryptionLevel Level = encNone);

}  // namespace ostra::tabletest
