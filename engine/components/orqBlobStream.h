// orqBlobStream: TBlobStream, the memory stream a dataset face (orqBaseTable.h) hands out for
// a blob field of its active record buffer.
//
// Read mode loads the blob (from the cursor's blob cache when it holds it, else from the record,
// and caches it then). Write mode starts empty and stores whatever it holds when the stream is
// freed, an empty blob too. Read-write mode loads the blob (not through the cache) and, once
// written to, stores it when freed like write mode. Write and read-write streams refuse a read-only field ("Field '%s' cannot
// be modified") and a dataset not in dsEdit or dsInsert, unless the field was already modified.
// Storing happens in Commit (which passes its errors on); the destructor commits a stream not yet
// committed and, since a destructor cannot raise, logs a failure to the engine's trace log.
#pragma once
#include "host/Streams.h"
#include "host/db/DBTypes.h"

namespace ostra {

class TBlobField;
class TOrqBaseTable;
class TField;

class TBlobStream : public TMemoryStream {
public:
    // Field must be a blob field of a TOrqBaseTable (EAssertionFailed "Mismatch in calling
    // dataset type" otherwise).
    TBlobStream(TField* Field, TBlobStreamMode Mode);
    ~TBlobStream() override;

    // Marks a write or read-write stream modified, then writes.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Stores a modified write or read-write stream into the record buffer (once) and tells the
    // field's watchers; nothing for a read stream or an unmodified one.
    void Commit();

    bool Modified() const { return FModified; }
    // The content came from, or went to, the cursor's blob cache.
    bool Cached() const { return FCached; }
    bool Opened() const { return FOpened; }

private:
    TBlobField* FField;
    TOrqBaseTable* FDataSet;
    char* FBuffer = nullptr;
    TBlobStreamMode FMode;
    bool FModified = false;
    bool FCached = false;
    bool FOpened = false;
};

}  // namespace ostra
