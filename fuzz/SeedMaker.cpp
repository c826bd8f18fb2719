// Writes the binary seeds of the fuzz targets into fuzz/corpus/<target>/ of the folder given:
// a small database file with two tables (records, indexes, blobs, one table weakly encrypted)
// and installer archive header blocks in both layouts. Run it again when a file format changes;
// the text seeds are written by hand.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "host/Streams.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"
#include "installer/library/cmp_TFileHeaders.h"

using namespace ostra;
namespace fs = std::filesystem;

namespace {

void WriteSeed(const fs::path& Path, const std::string& Bytes) {
    fs::create_directories(Path.parent_path());
    std::ofstream(Path, std::ios::binary).write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    std::printf("%s: %zu bytes\n", Path.c_str(), Bytes.size());
}

std::string ReadFile(const fs::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CreateTable(TOrqDataBase& DataBase, const std::string& Name, TEncryptionLevel Level) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.SetEncryptionLevel(Level);
    TFieldDefs fields(nullptr);
    fields.Add("ID", ftAutoInc);
    fields.Add("Name", ftString, 12);
    fields.Add("Price", ftFloat);
    fields.Add("Born", ftDate);
    fields.Add("Note", ftMemo);
    TIndexDefs indexes(nullptr);
    indexes.Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    indexes.Add("ByName", "Name;Born", TIndexOptions{ixCaseInsensitive});
    cursor.SetTableDef(false, fields, indexes);
    cursor.InternalCreateTable();
}

void FillTable(TOrqDataBase& DataBase, const std::string& Name, int Rows) {
    TOrqDataSet cursor(nullptr);
    cursor.SetDataBase(&DataBase);
    cursor.SetTableName(Name);
    cursor.DataSetOpen();
    for (int i = 0; i < Rows; ++i) {
        cursor.InitializeNewRecord(cursor.RecordBuffer(), false);
        cursor.DataSetSetFieldDataAsVariant(cursor.GetFieldNo("Name"), Variant(std::string(1, char('a' + i)) + "name"));
        cursor.DataSetSetFieldDataAsVariant(cursor.GetFieldNo("Price"), Variant(1.5 * i));
        cursor.DataSetSetFieldDataAsVariant(cursor.GetFieldNo("Born"), Variant(36000.0 + i));
        if (i % 2 == 0) {
            TStringStream note(std::string(40 + 30 * i, char('A' + i)));
            cursor.DataSetSetFieldStream(cursor.GetFieldNo("Note"), false, &note);
        }
        cursor.AddRecord(true);
    }
}

std::string DatabaseSeed(const fs::path& Folder) {
    const fs::path path = Folder / "seed.orq";
    {
        TOrqDataBase database(nullptr);
        database.SetDataBaseName(path.string());
        database.CreateDatabase();
        database.SetConnected(true);
        CreateTable(database, "Shop", encNone);
        CreateTable(database, "Vault", encWeak);
        FillTable(database, "Shop", 5);
        FillTable(database, "Vault", 2);
    }
    return ReadFile(path);
}

std::string ArchiveSeed(bool MultiVolume) {
    TFileHeaders headers;
    headers.SetMultiVolume(MultiVolume);
    const char* const names[] = {"C:\\Program Files\\Ostra\\orq14rd6.bpl", "Readme.txt", "Data\\Shop.orq"};
    TMemoryStream stream;
    if (MultiVolume) {
        for (int i = 0; i < 3; ++i) {
            auto header = std::make_unique<TFileHeader>();
            header->Header.HeaderIndex = i + 1;
            header->Header.SourcePath = names[i];
            header->Header.FileSize = 100 * (i + 1);
            header->Header.CompressedSize = 20;
            header->Header.DataStart = kArchiveStartSize + 3 * kFileHeaderSize + 20 * i;
            header->Header.FirstVolume = 1;
            header->Header.LastVolume = 1;
            header->Header.FileVersion = "1.2.0." + std::to_string(i);
            headers.Add(std::move(header));
        }
        headers.WriteHeaders(stream);
    } else {
        // Each header followed by its stream (20 bytes stand in for it), chained by NextHeader.
        headers.WriteArchiveStart(stream, 3);
        stream.SetPosition(kArchiveStartSize);
        for (int i = 0; i < 3; ++i) {
            TFileHeaderRecord header;
            header.HeaderIndex = i + 1;
            header.SourcePath = names[i];
            header.FileSize = 100 * (i + 1);
            header.CompressedSize = 20;
            header.DataStart = int32_t(stream.Position()) + kFileHeaderSize;
            header.NextHeader = header.DataStart + 20;
            header.FileDate = 45000.5;
            WriteFileHeader(stream, header);
            const std::string data(20, char('x' + i));
            stream.WriteBuffer(data.data(), 20);
        }
    }
    return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <fuzz folder>\n", argv[0]);
        return 2;
    }
    const fs::path corpus = fs::path(argv[1]) / "corpus";
    const fs::path scratch = fs::temp_directory_path() / ("ostra-seeds-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    WriteSeed(corpus / "database_file" / "two-tables.orq", DatabaseSeed(scratch));
    fs::remove_all(scratch);
    WriteSeed(corpus / "archive_header" / "single-volume.bin", ArchiveSeed(false));
    WriteSeed(corpus / "archive_header" / "multi-volume.bin", ArchiveSeed(true));
    return 0;
}
