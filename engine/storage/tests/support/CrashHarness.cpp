// CrashHarness: kill points through the file fault hook, the kill-at-every-write loop, and the
// structural checks of a database file and of a stored B+-tree (see CrashHarness.h).
#include "CrashHarness.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <filesystem>
#include <exception>
#include <functional>
#include <set>
#include <thread>

#include "engine/storage/orqBTree.h"
#include "engine/storage/orqGlobalHdr.h"
#include "engine/storage/orqInterfaceUnit.h"
#include "engine/storage/orqJournal.h"
#include "engine/storage/orqKeyEntry.h"
#include "engine/storage/orqMapPageMgr.h"
#include "engine/storage/orqNode.h"
#include "platform/File.h"
#include "platform/FileFault.h"
#include "testsupport/TestFiles.h"

namespace ostra::crashtest {
namespace {

uint16_t Get16(const std::string& Bytes, std::size_t Offset) {
    return uint16_t(uint8_t(Bytes[Offset]) | uint8_t(Bytes[Offset + 1]) << 8);
}

uint32_t Get32(const std::string& Bytes, std::size_t Offset) {
    return uint32_t(Get16(Bytes, Offset)) | uint32_t(Get16(Bytes, Offset + 2)) << 16;
}

std::string Folder(const std::string& Path) {
    const std::size_t slash = Path.rfind('/');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

// The first offset where A and B differ, or -1.
int64_t FirstDifference(const std::string& A, const std::string& B) {
    const std::size_t n = std::min(A.size(), B.size());
    for (std::size_t i = 0; i < n; ++i)
        if (A[i] != B[i]) return int64_t(i);
    return A.size() == B.size() ? -1 : int64_t(n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Kill points

class TCrashPoint::TInjector : public platform::FileFaultInjector {
public:
    TInjector(std::string Folder, int64_t KillAt) : FFolder(std::move(Folder)), FKillAt(KillAt) {}
    platform::FileFault Decide(platform::FileOp Op, const std::string& Path, int64_t, int64_t) override {
        if (!FArmed || Op == platform::FileOp::Read || Path.compare(0, FFolder.size(), FFolder) != 0)
            return {};
        if (++FCalls == FKillAt) ::kill(::getpid(), SIGKILL);
        if (FKillAt == 0) {
            const bool write = Op == platform::FileOp::Write;
            FTrace += write ? (FLastWasWrite && Path == FLastPath ? 'w' : 'W') : Op == platform::FileOp::Flush ? 'F' : 'S';
            FLastWasWrite = write;
            FLastPath = Path;
        }
        return {};
    }
    std::string FFolder;
    int64_t FKillAt;
    std::atomic<int64_t> FCalls{0};
    bool FArmed = false;
    std::string FTrace;
    std::string FLastPath;
    bool FLastWasWrite = false;
};

TCrashPoint::TCrashPoint(std::string Folder, int64_t KillAt)
    : FInjector(std::make_unique<TInjector>(std::move(Folder), KillAt)) {}

TCrashPoint::~TCrashPoint() = default;

void TCrashPoint::Run(const std::function<void()>& Commit) {
    platform::ScopedFileFaultInjector scope(*FInjector);
    FInjector->FArmed = true;
    try {
        Commit();
    } catch (...) {
        FInjector->FArmed = false;
        throw;
    }
    FInjector->FArmed = false;
}

int64_t TCrashPoint::Calls() const {
    return FInjector->FCalls.load();
}

const std::string& TCrashPoint::Trace() const {
    return FInjector->FTrace;
}

std::vector<int64_t> SelectKillPoints(const std::string& Trace, bool SampleWriteRuns) {
    std::vector<int64_t> points;
    const int64_t n = int64_t(Trace.size());
    for (int64_t i = 0; i < n; ++i) {
        if (!SampleWriteRuns || Trace[size_t(i)] != 'w') {
            points.push_back(i + 1);
            continue;
        }
        // Inside a run of writes to one file: its second, middle and last call are kept.
        int64_t start = i, end = i;
        while (start > 0 && Trace[size_t(start)] == 'w') --start;
        while (end + 1 < n && Trace[size_t(end + 1)] == 'w') ++end;
        if (i == start + 1 || i == end || i == (start + end + 1) / 2) points.push_back(i + 1);
    }
    points.push_back(n + 1);
    return points;
}

// ---------------------------------------------------------------------------------------------
// The loop

TCrashReport RunCrashHarness(TCrashWorkload& Workload, const std::string& Path, const TCrashOptions& Options) {
    TCrashReport report;
    const std::string folder = Folder(Path);
    Workload.Prepare(Path);
    report.Snapshots.Before = test::ReadAll(Path);

    // A child that is not killed: the calls of its commit, and the state after it.
    std::string trace;
    {
        test::Child child([&](test::Child& Self) {
            TCrashPoint point(folder, 0);
            Workload.Run(Path, point);
            for (char call : point.Trace()) Self.Send(call);
            Self.Send('\n');
            return 0;
        });
        for (char c = child.Receive(); c != '\n' && c != '\0'; c = child.Receive()) trace += c;
        const int code = child.Wait();
        if (code != 0 || trace.empty()) {
            report.Problems.push_back("the transaction does not commit in a child (exit code " +
                                      std::to_string(code) + ")");
            return report;
        }
        report.CommitCalls = int64_t(trace.size());
    }
    report.Snapshots.After = test::ReadAll(Path);
    if (report.Snapshots.After == report.Snapshots.Before) {
        report.Problems.push_back("the transaction changes nothing in the file");
        return report;
    }

    // Kill run k on a copy of the file at WorkPath: Before restored, the transaction killed before
    // call k (or finished, for k = N + 1).
    auto startKill = [&](int64_t k, const std::string& WorkPath) {
        platform::DeleteFile(GetJournalFileName(WorkPath));
        test::WriteAll(WorkPath, report.Snapshots.Before);
        return std::make_unique<test::Child>([&, k, WorkPath](test::Child&) {
            TCrashPoint point(Folder(WorkPath), k);
            Workload.Run(WorkPath, point);
            return 0;
        });
    };
    // Its end and the check of the file through a fresh connection.
    auto finishKill = [&](int64_t k, test::Child& Child, const std::string& WorkPath) {
        const std::string at = "k=" + std::to_string(k) + ": ";
        const int code = Child.Wait();
        const bool killed = k <= report.CommitCalls;
        if (code != (killed ? 128 + SIGKILL : 0)) {
            report.Problems.push_back(at + "the child ended with code " + std::to_string(code));
            return;
        }
        const TCrashVerdict verdict = Workload.Check(WorkPath, report.Snapshots);
        if (!verdict.Problem.empty() || verdict.State == TCrashState::Broken) {
            report.Problems.push_back(at + (verdict.Problem.empty() ? "torn state" : verdict.Problem));
            return;
        }
        if (platform::FileExists(GetJournalFileName(WorkPath)))
            report.Problems.push_back(at + "the journal is still there after an open");
        if (!killed && verdict.State != TCrashState::After)
            report.Problems.push_back(at + "a commit that was not interrupted is not there");
        (verdict.State == TCrashState::Before ? report.Before : report.After) += 1;
    };

    const std::vector<int64_t> points = SelectKillPoints(trace, Options.SampleWriteRuns);
    report.KillRuns = int64_t(points.size());
    // Several kill runs at a time, each on a copy of the file in a folder of its own beside the
    // database; the checks run here, one after the other, while the next runs go on.
    std::vector<std::string> slots{Path};
    const std::string name = Path.substr(folder.size());
    for (int w = 1; w < Options.Workers; ++w) {
        const std::string slot = folder + "crash-worker-" + std::to_string(w) + "/";
        std::filesystem::create_directories(slot);
        slots.push_back(slot + name);
    }
    struct TRunning {
        int64_t K;
        size_t Slot;
        std::unique_ptr<test::Child> Child;
    };
    std::deque<TRunning> running;
    std::vector<size_t> freeSlots;
    for (size_t w = slots.size(); w-- > 0;) freeSlots.push_back(w);
    for (size_t next = 0; next < points.size() || !running.empty();) {
        if (next < points.size() && !freeSlots.empty()) {
            const size_t slot = freeSlots.back();
            freeSlots.pop_back();
            const int64_t k = points[next++];
            running.push_back({k, slot, startKill(k, slots[slot])});
            continue;
        }
        TRunning run = std::move(running.front());
        running.pop_front();
        finishKill(run.K, *run.Child, slots[run.Slot]);
        freeSlots.push_back(run.Slot);
    }
    return report;
}

int ParallelCrashWorkers() {
    return int(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
}

TCrashVerdict ClassifyBytes(const std::string& Bytes, const TCrashSnapshots& Snapshots) {
    if (Bytes == Snapshots.Before) return {TCrashState::Before, ""};
    if (Bytes == Snapshots.After) return {TCrashState::After, ""};
    return {TCrashState::Broken, "the file is neither as before (differs at " +
                                     std::to_string(FirstDifference(Bytes, Snapshots.Before)) +
                                     ") nor as after (differs at " +
                                     std::to_string(FirstDifference(Bytes, Snapshots.After)) + ")"};
}

// ---------------------------------------------------------------------------------------------
// Structure of a database file

std::vector<TMapEntry> ReadMapEntries(const std::string& Bytes, uint32_t PageSize) {
    std::vector<TMapEntry> entries;
    const uint32_t perPage = (PageSize - CMapHeaderSize) / 2;
    if (Bytes.size() < uint64_t(CGlobalHdrAddress) + CGlobalHdrSize) return entries;
    uint64_t address = Get32(Bytes, CGlobalHdrAddress + CHdrFirstMapPage);
    const uint32_t count = Get32(Bytes, CGlobalHdrAddress + CHdrMapPageCount);
    for (uint32_t i = 0; i < count && address != 0 && address + PageSize <= Bytes.size(); ++i) {
        for (uint32_t j = 0; j < perPage; ++j)
            entries.push_back({uint32_t((uint64_t(i) * perPage + j) * PageSize),
                               Get16(Bytes, address + CMapHeaderSize + 2 * j)});
        address = Get32(Bytes, address + CMapNextPageOffset);
    }
    return entries;
}

std::string CheckStorageStructure(const std::string& Bytes, uint32_t PageSize) {
    std::string problems;
    auto problem = [&](const std::string& Text) {
        if (!problems.empty()) problems += "; ";
        problems += Text;
    };
    if (Bytes.size() % PageSize != 0 || Bytes.size() < uint64_t(CFixedAreaPages) * PageSize)
        return "the file is not a whole number of pages (" + std::to_string(Bytes.size()) + " bytes)";
    const uint64_t pages = Bytes.size() / PageSize;
    const uint32_t perPage = (PageSize - CMapHeaderSize) / 2;
    const uint32_t first = Get32(Bytes, CGlobalHdrAddress + CHdrFirstMapPage);
    const uint32_t count = Get32(Bytes, CGlobalHdrAddress + CHdrMapPageCount);
    const uint32_t hint = Get32(Bytes, CGlobalHdrAddress + CHdrFirstMapPageEmpty);
    if (first != 5 * PageSize) return "FirstMapPage is " + std::to_string(first);
    if (count == 0 || uint64_t(count) * perPage < pages)
        return "MapPageCount " + std::to_string(count) + " does not cover " + std::to_string(pages) +
               " pages";

    // The chain: ids, links, the map pages themselves.
    std::vector<uint32_t> chain;
    std::set<uint64_t> mapPages;
    uint64_t address = first;
    for (uint32_t i = 0; i < count; ++i) {
        if (address % PageSize != 0 || address + PageSize > Bytes.size())
            return "map page " + std::to_string(i) + " lies at " + std::to_string(address);
        if (Get32(Bytes, address + CMapPageIDOffset) != i)
            problem("map page " + std::to_string(i) + " has another id");
        chain.push_back(uint32_t(address));
        mapPages.insert(address / PageSize);
        address = Get32(Bytes, address + CMapNextPageOffset);
        if ((i + 1 == count) != (address == 0))
            problem("the map chain does not end after MapPageCount pages");
        if (i + 1 < count && address == 0) return problems;
    }

    bool freeSeen = false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t map = chain[i];
        // Entries and the free list of this map page.
        std::set<uint32_t> freeEntries;
        for (uint32_t j = 0; j < perPage; ++j) {
            const uint64_t page = uint64_t(i) * perPage + j;
            const uint16_t entry = Get16(Bytes, map + CMapHeaderSize + 2 * j);
            const std::string which = "page " + std::to_string(page);
            if (page >= pages) {
                if (entry != 0)
                    problem(which + " lies beyond the file but has entry " + std::to_string(entry));
                continue;
            }
            if (entry == 0) {
                problem(which + " has no map entry");
            } else if (page < 5) {
                if (entry != CUsageSystem)
                    problem(which + " of the fixed area has entry " + std::to_string(entry));
            } else if (mapPages.count(page)) {
                if (entry != CUsageMapPage) problem("map " + which + " has entry " + std::to_string(entry));
            } else if (entry & CMapEntryFree) {
                freeEntries.insert(j);
                const std::string_view content(Bytes.data() + page * PageSize, PageSize);
                if (content.find_first_not_of('\0') != std::string_view::npos)
                    problem("free " + which + " is not zeros");
            }
        }
        std::set<uint32_t> listed;
        uint32_t previous = 0;
        for (uint32_t offset = Get16(Bytes, map + CMapFirstEmptyOffset); offset != 0;) {
            if (offset < uint32_t(CMapHeaderSize) || offset >= PageSize ||
                (offset - CMapHeaderSize) % 2 != 0 || offset <= previous) {
                problem("the free list of map page " + std::to_string(i) +
                        " is out of order or out of range");
                break;
            }
            const uint32_t index = (offset - CMapHeaderSize) / 2;
            if (!freeEntries.count(index)) {
                problem("the free list of map page " + std::to_string(i) + " holds a page that is not free");
                break;
            }
            listed.insert(index);
            previous = offset;
            offset = Get16(Bytes, map + offset) & CMapLinkMask;
        }
        if (listed != freeEntries)
            problem("map page " + std::to_string(i) + " has free pages off its free list");
        // The hint: no map page before it has free entries.
        if (!freeEntries.empty() && !freeSeen) {
            freeSeen = true;
            if (hint == 0 || std::find(chain.begin(), chain.begin() + i + 1, hint) == chain.begin() + i + 1)
                problem("FirstMapPageEmpty " + std::to_string(hint) + " lies after map page " +
                        std::to_string(i) + ", which has free pages");
        }
    }
    if (hint != 0 && std::find(chain.begin(), chain.end(), hint) == chain.end())
        problem("FirstMapPageEmpty " + std::to_string(hint) + " is no map page");
    return problems;
}

// ---------------------------------------------------------------------------------------------
// Structure of a stored B+-tree

std::string CheckTreePages(TBaseIOInterface& IO, const TBTree& Tree, uint32_t Root, uint32_t Depth,
                           uint32_t PageSize, std::vector<uint32_t>& Pages, std::vector<uint32_t>& Addresses) {
    Pages.clear();
    Addresses.clear();
    if (Root == 0 || Depth == 0) return "no tree (root " + std::to_string(Root) + ", depth " +
                                        std::to_string(Depth) + ")";
    if (Depth > C_MAXTREEDEPTH) return "depth " + std::to_string(Depth);
    const uint32_t k = uint32_t(Tree.MaximumKeySize());
    if (k <= uint32_t(C_KEYHEADERSIZE) || PageSize <= uint32_t(C_NODEHEADERSIZE) + k)
        return "key size " + std::to_string(k) + " does not fit the page size";
    auto less = [&](const uint8_t* A, const uint8_t* B) { return Tree.CompareKeys(0, nullptr, nullptr, A, B) < 0; };
    auto u32 = [](const uint8_t* P) { return uint32_t(P[0] | P[1] << 8 | P[2] << 16 | uint32_t(P[3]) << 24); };

    std::set<uint32_t> seen;
    std::vector<uint32_t> leaves;
    std::vector<std::vector<uint8_t>> leafPages;
    std::string fault;
    // The record count of the subtree at Address; First := its first entry (empty when none).
    std::function<int64_t(uint32_t, uint32_t, std::vector<uint8_t>&)> walk =
        [&](uint32_t Address, uint32_t Level, std::vector<uint8_t>& First) -> int64_t {
        const std::string at = "page " + std::to_string(Address) + " level " + std::to_string(Level) + ": ";
        if (!seen.insert(Address).second) return fault = at + "reached twice", 0;
        Pages.push_back(Address);
        std::vector<uint8_t> page(PageSize);
        try {
            IO.ReadBlock(Address, PageSize, page.data());
        } catch (const std::exception& e) {
            return fault = at + "cannot be read: " + e.what(), 0;
        }
        const bool leaf = Level + 1 == Depth;
        const uint32_t used = u32(&page[C_NODEUSEDOFFSET]);
        if ((u32(&page[C_NODETYPEOFFSET]) != 0) != leaf) return fault = at + "wrong node type", 0;
        if (used % k != 0 || used > PageSize - C_NODEHEADERSIZE)
            return fault = at + "used " + std::to_string(used), 0;
        if (used + C_NODEHEADERSIZE + k >= PageSize) return fault = at + "left full", 0;
        if (used == 0 && Level > 0) return fault = at + "empty page below the root", 0;
        const uint8_t* data = &page[C_NODEHEADERSIZE];
        for (uint32_t p = 0; p < used; p += k) {
            if (uint32_t(data[p] | data[p + 1] << 8) != k) return fault = at + "entry of another size", 0;
            if (p > 0 && !less(data + p - k, data + p)) return fault = at + "entries out of order", 0;
        }
        First.assign(data, data + std::min(used, k));
        if (leaf) {
            leaves.push_back(Address);
            leafPages.push_back(page);
            for (uint32_t p = 0; p < used; p += k) Addresses.push_back(u32(data + p + C_KEYADDROFFSET));
            return used / k;
        }
        int64_t total = 0;
        for (uint32_t p = 0; p < used; p += k) {
            std::vector<uint8_t> childFirst;
            const int64_t count = walk(u32(data + p + C_KEYADDROFFSET), Level + 1, childFirst);
            if (!fault.empty()) return 0;
            if (childFirst.size() != k ||
                std::memcmp(childFirst.data() + C_KEYHEADERSIZE, data + p + C_KEYHEADERSIZE, k - C_KEYHEADERSIZE) != 0)
                return fault = at + "entry key differs from its child's first key", 0;
            if (u32(data + p + C_KEYCOUNTOFFSET) != count)
                return fault = at + "entry count " + std::to_string(u32(data + p + C_KEYCOUNTOFFSET)) +
                               " but the child holds " + std::to_string(count),
                       0;
            total += count;
        }
        return total;
    };
    std::vector<uint8_t> first;
    walk(Root, 0, first);
    if (!fault.empty()) return fault;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const std::vector<uint8_t>& page = leafPages[i];
        const std::string at = "leaf " + std::to_string(leaves[i]) + ": ";
        if (u32(&page[C_NODEPRIOROFFSET]) != (i > 0 ? leaves[i - 1] : 0u)) return at + "bad prior link";
        if (u32(&page[C_NODENEXTOFFSET]) != (i + 1 < leaves.size() ? leaves[i + 1] : 0u)) return at + "bad next link";
        if (i > 0) {
            const std::vector<uint8_t>& before = leafPages[i - 1];
            const uint32_t usedBefore = u32(&before[C_NODEUSEDOFFSET]);
            if (!less(&before[C_NODEHEADERSIZE + usedBefore - k], &page[C_NODEHEADERSIZE]))
                return at + "out of order with the leaf before it";
        }
    }
    return "";
}

}  // namespace ostra::crashtest
