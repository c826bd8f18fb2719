// CrashHarness: shows that a commit is atomic by killing a process in the middle of it, at every
// write, and checking what a fresh connection finds afterwards.
//
// A workload (TCrashWorkload) supplies the database a transaction starts from, the transaction
// itself (run in a child process) and the check of a database opened afresh. RunCrashHarness:
//   1. prepares the database once and keeps its bytes (Before);
//   2. runs the transaction in a child that is not killed, counting the mutating file calls
//      (writes, flushes, size changes) of its commit, N, and keeps the bytes after it (After);
//   3. for every k in 1..N+1 (in parallel when asked) restores Before, runs the transaction in a child that kills itself
//      (SIGKILL) just before the k-th such call of its commit, and lets the workload check the
//      file through a fresh connection, which must recover the interrupted commit;
//   4. counts how often the check found the state before and after the transaction, and
//      collects every problem (a torn state, a journal left behind, a child that was not killed).
// Storage workloads check pages, maps and headers; the layers above plug in workloads of records
// and indexes whose check shows every record reachable through every index.
//
// Also here: structural checks of a database file's bytes and of a stored B+-tree that any
// workload can use.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ostra {
class TBaseIOInterface;
class TBTree;
}  // namespace ostra

namespace ostra::crashtest {

// Counts (and, in a kill run, kills at) the mutating file calls of a commit: writes, flushes and
// size changes of every file whose path starts with Folder (the database, its journal).
class TCrashPoint {
public:
    // KillAt 0: count only; otherwise the process dies just before call number KillAt.
    TCrashPoint(std::string Folder, int64_t KillAt);
    ~TCrashPoint();
    TCrashPoint(const TCrashPoint&) = delete;
    TCrashPoint& operator=(const TCrashPoint&) = delete;
    // Runs Commit with the counting armed; call it once, around the commit only.
    void Run(const std::function<void()>& Commit);
    // The calls counted so far.
    int64_t Calls() const;
    // In a counting run (KillAt 0), the calls so far, one letter each (see SelectKillPoints).
    const std::string& Trace() const;

private:
    class TInjector;
    std::unique_ptr<TInjector> FInjector;
};

// The database file's bytes before the transaction and after it committed.
struct TCrashSnapshots {
    std::string Before;
    std::string After;
};

enum class TCrashState { Before, After, Broken };

// What a check found: the state, and for Broken (or a sound state with a flaw) the problem.
struct TCrashVerdict {
    TCrashState State = TCrashState::Broken;
    std::string Problem;  // "" when sound
};

// A transaction to interrupt, and what a sound database looks like around it.
class TCrashWorkload {
public:
    virtual ~TCrashWorkload() = default;
    // Builds the database the transaction starts from at Path (once, in the test process).
    virtual void Prepare(const std::string& Path) = 0;
    // In a child process: opens Path, makes the transaction's changes and commits them inside
    // Point.Run. The harness kills the child inside Run (or lets it finish).
    virtual void Run(const std::string& Path, TCrashPoint& Point) = 0;
    // Opens Path as a fresh connection (which recovers an interrupted commit), checks it and
    // says whether it holds the state before or after the transaction.
    virtual TCrashVerdict Check(const std::string& Path, const TCrashSnapshots& Snapshots) = 0;
};

struct TCrashReport {
    int64_t CommitCalls = 0;            // mutating file calls of one commit: the kills are made among 1..this
    int64_t KillRuns = 0;               // runs made: the kill points chosen and the run not killed
    int Before = 0;                     // checks that found the state before the transaction
    int After = 0;                      // ... and after it
    std::vector<std::string> Problems;  // "k=<k>: <problem>" for every unsound kill
    TCrashSnapshots Snapshots;
};

// How the kill runs are made.
struct TCrashOptions {
    // Kill runs going on at a time. Above 1, runs other than the first slot's work on a copy of
    // the file in a folder of their own beside it ("crash-worker-<n>/" + the file name): the
    // workload must keep everything it makes beside the path it is given.
    int Workers = 1;
    // Of a run of consecutive writes to one file only the first, second, middle and last are
    // killed at (every flush, size change and write to another file still is): the states in
    // between differ only in how many more pages of the same batch reached the file.
    bool SampleWriteRuns = false;
};

// Runs the harness on the database file Path (its folder holds nothing else of value).
TCrashReport RunCrashHarness(TCrashWorkload& Workload, const std::string& Path, const TCrashOptions& Options = {});

// Kill runs at a time for a workload whose runs are slow: half the processors, 1 to 4.
int ParallelCrashWorkers();

// The calls to kill at (1-based, and N + 1 for the run that is not killed) for the trace of a
// commit's calls ('W' a write, 'w' a write continuing a run of writes to the same file, 'F' a
// flush, 'S' a size change).
std::vector<int64_t> SelectKillPoints(const std::string& Trace, bool SampleWriteRuns);

// Before or After when Bytes equal that snapshot, else Broken with the first differing offsets.
TCrashVerdict ClassifyBytes(const std::string& Bytes, const TCrashSnapshots& Snapshots);

// One allocation map entry as stored: the page's address and its 16-bit entry.
struct TMapEntry {
    uint32_t Address;
    uint16_t Entry;
};

// The map entries of every page that the map chain of the file's bytes describes, in page order.
std::vector<TMapEntry> ReadMapEntries(const std::string& Bytes, uint32_t PageSize);

// Checks the storage structure in a database file's bytes and returns the problems found ("" when
// none): the file is whole pages; the global header's first map page, map page count and
// first-empty hint agree with the map chain; every map page has its id, link and a free list that
// visits exactly its free entries once, in ascending order; the fixed area and the map pages are
// marked as such; every page of the file has an entry and none beyond it; free pages are zeros.
std::string CheckStorageStructure(const std::string& Bytes, uint32_t PageSize);

// Reads the B+-tree at Root with Depth levels page by page from IO (pages of PageSize bytes,
// entries of Tree.MaximumKeySize() bytes, ordered by Tree.CompareKeys) and returns the first
// fault found ("" when none): a page read twice or failing to read, a node type that does not
// match its level, a used size that is no whole number of entries or leaves no room for one
// more, an entry of another size, an empty page below the root, keys not strictly ascending
// within or across leaves, an internal entry whose key or record count is not its child's, a
// leaf chain whose next or prior links do not follow the leaves in key order. Pages receives
// every page of the tree; Addresses the record addresses of the leaf entries in key order.
std::string CheckTreePages(TBaseIOInterface& IO, const TBTree& Tree, uint32_t Root, uint32_t Depth,
                           uint32_t PageSize, std::vector<uint32_t>& Pages, std::vector<uint32_t>& Addresses);

}  // namespace ostra::crashtest
