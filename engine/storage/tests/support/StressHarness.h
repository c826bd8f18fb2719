// StressHarness: many processes on one database file for a while, writers killed at random and
// started again, and afterwards a fresh connection's check that every committed change is there
// once and nothing uncommitted is.
//
// A workload (TStressWorkload) supplies the database the run starts from, the loop of a writer
// process, the loop of a reader process and the final check. RunStressHarness:
//   1. prepares the database once;
//   2. starts the writers and readers, each a child process with its own log file;
//   3. until the time is up, kills a random writer every so often (SIGKILL, in whatever it is
//      doing: a lock wait, a transaction, the middle of a commit) and starts a new process in its
//      place, which takes over the dead one's log and goes on from it;
//   4. lets every process finish its last transaction or read at the deadline; one that has not
//      ended some time after it has hung, which is a problem of the run;
//   5. reads the logs and lets the workload check the database against them.
// The logs are the run's record of truth: a writer logs each transaction's changes before it
// commits them ("announced") and logs the commit's outcome after it, so a transaction whose
// writer died in between is in doubt: it must be there wholly or not at all. Readers log every
// read; everyone logs the engine errors it met (time-outs are expected under contention, each
// counted by code) and any broken invariant (a problem).
//
// Writers and readers must all get on (the lock waits are fair): a process that the others
// overtook many times over while it ran, and that got nothing done meanwhile, has starved, which
// is a problem of the run (StarvedProcesses). Being killed before a first commit is not starving.
//
// Layers above plug in their own workloads (the cursor, the table component): a workload needs
// nothing from this harness but the context of its process and the parsed logs.
#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ostra::stresstest {

// The settings of a run.
struct TStressOptions {
    int Writers = 3;
    int Readers = 2;
    double Seconds = 3;
    // On average a writer is killed this often (0: never), uniformly between half and one and a
    // half of it.
    int KillEveryMs = 300;
    // How long processes may take to end after the deadline before they count as hung.
    int GraceSeconds = 30;

    // Defaults, with what the environment says: OSTRA_STRESS_SECONDS, OSTRA_STRESS_WRITERS,
    // OSTRA_STRESS_READERS, OSTRA_STRESS_KILL_MS (the long runs of `make stress` set them).
    static TStressOptions FromEnvironment(TStressOptions Defaults);
};

// One transaction of a writer as the logs tell it.
struct TStressTransaction {
    enum TOutcome { Committed, Lost, InDoubt };
    uint64_t Number = 0;
    std::string Changes;  // the workload's text of its changes
    TOutcome Outcome = InDoubt;
};
using TStressHistory = std::vector<TStressTransaction>;

// A process's log: one line per event, each written with one system call, so a kill leaves
// whole lines (a cut last line is ignored when read).
class TStressLog {
public:
    explicit TStressLog(const std::string& Path);
    ~TStressLog();
    TStressLog(const TStressLog&) = delete;
    TStressLog& operator=(const TStressLog&) = delete;

    // Transaction Number with these changes is about to be committed.
    void Announce(uint64_t Number, const std::string& Changes);
    // Transaction Number committed (now) / did not commit (its commit failed, or a writer that
    // took over found it missing).
    void Committed(uint64_t Number);
    void Lost(uint64_t Number);
    // One read done.
    void Read();
    // An engine error the process met and survived (a lock time-out, counted by code).
    void Error(int32_t Code);
    // A broken invariant: a problem of the run.
    void Problem(const std::string& Text);
    // Written by the harness, never by the process itself: a process of the log's slot started /
    // was killed (now).
    void Started();
    void Killed();

private:
    void Line(const std::string& Text);
    int FHandle = -1;
};

// What a process of the run gets.
struct TStressContext {
    std::string Path;     // the database file
    int Slot = 0;         // the writer's or reader's number, from 0
    int Incarnation = 0;  // how many processes ran in this slot before this one
    uint32_t Seed = 0;    // for the process's own random choices
    TStressLog* Log = nullptr;
    // A writer's transactions logged by the earlier processes of its slot; the last one may be in
    // doubt (its process died while committing it).
    TStressHistory History;
    std::chrono::steady_clock::time_point Deadline;
    bool Running() const { return std::chrono::steady_clock::now() < Deadline; }
};

// The storage, cursor or component work a run does, and what a sound result looks like.
class TStressWorkload {
public:
    virtual ~TStressWorkload() = default;
    // Builds the database the run starts from at Path (once, in the test process).
    virtual void Prepare(const std::string& Path) = 0;
    // A writer process: transactions until the context's deadline, each announced, committed
    // and its outcome logged.
    virtual void Write(TStressContext& Context) = 0;
    // A reader process: reads that check what they see until the deadline.
    virtual void Read(TStressContext& Context) = 0;
    // After the run, through a fresh connection: "" when the database holds exactly the base data
    // with every committed transaction of every writer (Writers[slot]) and none that was lost, each
    // in-doubt one wholly or not at all; otherwise what is wrong.
    virtual std::string Check(const std::string& Path, const std::vector<TStressHistory>& Writers) = 0;
};

// One process of a slot as the logs tell it: when it started and ended (milliseconds of the
// steady clock, which all processes share), when each transaction it announced committed (-1 when
// another process of the slot found it committed later), and how many reads it did.
struct TStressProcess {
    int64_t Start = 0;
    int64_t End = 0;
    std::vector<int64_t> Commits;
    uint64_t Reads = 0;
};

// The processes that starved, each described on one line: a writer process that committed
// nothing while the other writers committed at least Turns transactions between its start and
// its end, and a reader process that read nothing while the writers committed at least Turns.
// (The lock waits let waiters take turns, so a process that wants the lock gets it long before
// the others have had Turns commits; one that was killed early or ran while hardly anyone
// committed says nothing about fairness.) Writers[slot] and Readers[slot] hold each slot's
// processes in order.
std::vector<std::string> StarvedProcesses(const std::vector<std::vector<TStressProcess>>& Writers,
                                          const std::vector<std::vector<TStressProcess>>& Readers, uint64_t Turns);

struct TStressReport {
    double Seconds = 0;
    uint64_t Commits = 0;
    uint64_t Reads = 0;
    uint64_t Kills = 0;
    uint64_t InDoubt = 0;                      // transactions left in doubt by the logs
    std::vector<uint64_t> CommitsPerWriter;    // by slot
    std::vector<uint64_t> ReadsPerReader;      // by slot
    std::map<int32_t, uint64_t> WriterErrors;  // engine errors the writers survived, by code
    std::map<int32_t, uint64_t> ReaderErrors;  // ... and the readers
    std::vector<std::string> Problems;         // broken invariants, hung, failed or starved processes,
                                               // the check
    // "<commits> transactions in <s> s: <tps> transactions/s (per writer <min>-<max>), <r> reads/s,
    // <k> writers killed, <d> in doubt; time-outs and errors by code: writers <code> x<n> ...,
    // readers <code> x<n> ..."
    std::string Summary() const;
};

// Runs the workload on the database file Path (its folder takes the logs).
TStressReport RunStressHarness(TStressWorkload& Workload, const std::string& Path,
                               const TStressOptions& Options);

// The transactions of the log at Path, in order, with their outcomes.
TStressHistory ReadHistory(const std::string& Path);

}  // namespace ostra::stresstest
