// Test helper: the Stock table (see orqStockTable.h).
#include "orqStockTable.h"

#include <algorithm>

#include "DiskTestSupport.h"
#include "engine/storage/orqConsts.h"
#include "engine/storage/orqRecordLayout.h"
#include "host/Exceptions.h"
#include "orqLayoutFixture.h"

namespace ostra::tabletest {

std::string StockTag(int32_t ID, const std::string& Group, int32_t Qty) {
    return "tag " + std::to_string(ID) + "/" + Group + "/" + std::to_string(Qty);
}

TStockRow StockRow(int32_t ID, const std::string& Group, int32_t Qty) {
    return {ID, Group, Qty, StockTag(ID, Group, Qty)};
}

TTableDefFactory StockDef(TEncryptionLevel Level) {
    return [Level] {
        auto def = std::make_unique<TTableDef>(nullptr);
        def->SetTableName("Stock");
        def->SetAltName("Stock");
        def->SetEncryptionLevel(Level);
        def->SetEncrypted(Level != encNone);
        std::unique_ptr<TInternalFields> layout = testing::MakeLayout(
            {{"ID", ftInteger}, {"GRP", ftString, 12}, {"QTY", ftInteger}, {"TAG", ftString, 60}});
        def->InternalFields()->Assign(layout.get());
        def->SetRecordSize(layout->RecordSize());
        DeriveIndexes(*def, {{.IndexName = "ixID", .Fields = "ID", .Primary = true, .Unique = true},
                             {.IndexName = "ixGroup", .Fields = "GRP"}});
        return def;
    };
}

std::vector<uint8_t> TStockTable::Encode(const TStockRow& Row) {
    std::vector<uint8_t> rec = BlankRecord();
    testing::SetBytes(rec, Field(fStockID), &Row.ID, 4);
    testing::SetString(rec, Field(fStockGroup), Row.Group);
    testing::SetBytes(rec, Field(fStockQty), &Row.Qty, 4);
    testing::SetString(rec, Field(fStockTag), Row.Tag);
    return rec;
}

TStockRow TStockTable::Decode(const std::vector<uint8_t>& Rec) {
    auto text = [&](int F) {
        const TInternalFieldItem& field = Field(F);
        if (Rec[std::size_t(field.NullFlagOffset())] != C_FIELDNOTNULL) return std::string();
        const uint16_t length = uint16_t(Rec[std::size_t(field.SizeMarkerOffset())] |
                                         Rec[std::size_t(field.SizeMarkerOffset()) + 1] << 8);
        return std::string(reinterpret_cast<const char*>(&Rec[std::size_t(field.DataOffset())]),
                           std::min<std::size_t>(length, std::size_t(field.FieldSize())));
    };
    TStockRow row;
    row.ID = int32_t(U32At(Rec, Field(fStockID).DataOffset()));
    row.Group = text(fStockGroup);
    row.Qty = int32_t(U32At(Rec, Field(fStockQty).DataOffset()));
    row.Tag = text(fStockTag);
    return row;
}

uint32_t TStockTable::Find(int32_t ID) {
    std::vector<uint8_t> search = BlankRecord();
    testing::SetBytes(search, Field(fStockID), &ID, 4);
    return TTableConnection::Find(ixStockID, search);
}

TStockRow TStockTable::Get(int32_t ID) {
    const uint32_t address = Find(ID);
    if (address == 0) throw Exception("no row " + std::to_string(ID));
    return Decode(Read(address));
}

void TStockTable::Update(const TStockRow& Row) {
    const uint32_t address = Find(Row.ID);
    if (address == 0) throw Exception("no row " + std::to_string(Row.ID));
    TTableConnection::Update(address, Encode(Row));
}

void TStockTable::Delete(int32_t ID) {
    const uint32_t address = Find(ID);
    if (address == 0) throw Exception("no row " + std::to_string(ID));
    TTableConnection::Delete(address);
}

void CreateStockDatabase(const std::string& Path, TEncryptionLevel Level) {
    disktest::CreateDatabase(Path);
    TStockTable table(Path, Level);
    table.Create();
}

}  // namespace ostra::tabletest
