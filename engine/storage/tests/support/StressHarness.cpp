// StressHarness: processes, kills, logs and the report of a stress run (see StressHarness.h).
//
// Log lines: "T <n> <changes>" announced, "C <n> <ms>" committed, "L <n>" lost, "R" a read,
// "E <code>" an engine error survived, "P <text>" a problem; from the harness "S <ms>" a process
// of the slot started, "K <ms>" it was killed. Times are milliseconds of the steady clock.
#include "StressHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testsupport/TestFiles.h"

namespace ostra::stresstest {
namespace {

using Clock = std::chrono::steady_clock;

int64_t Milliseconds(Clock::time_point Time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
}

// What one log says.
struct TLogContents {
    TStressHistory History;
    uint64_t Reads = 0;
    std::map<int32_t, uint64_t> Errors;
    std::vector<std::string> Problems;
    std::vector<TStressProcess> Processes;  // End -1 while the log does not say
};

TLogContents ParseLog(const std::string& Path) {
    TLogContents contents;
    const std::string text = test::ReadAll(Path);
    std::map<uint64_t, std::size_t> byNumber;
    std::map<uint64_t, std::size_t> announcedBy;  // transaction number -> process
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (line.empty()) continue;
        const char kind = line[0];
        const std::string rest = line.size() > 2 ? line.substr(2) : "";
        switch (kind) {
            case 'T': {
                const std::size_t space = rest.find(' ');
                TStressTransaction transaction;
                transaction.Number = std::stoull(rest.substr(0, space));
                transaction.Changes = space == std::string::npos ? "" : rest.substr(space + 1);
                byNumber[transaction.Number] = contents.History.size();
                if (!contents.Processes.empty()) announcedBy[transaction.Number] = contents.Processes.size() - 1;
                contents.History.push_back(transaction);
                break;
            }
            case 'C':
            case 'L': {
                std::istringstream in(rest);
                uint64_t number = 0;
                int64_t time = -1;
                in >> number >> time;
                auto it = byNumber.find(number);
                if (it == byNumber.end()) {
                    contents.Problems.push_back("an outcome for transaction " + rest +
                                                " that was not announced");
                    break;
                }
                contents.History[it->second].Outcome =
                    kind == 'C' ? TStressTransaction::Committed : TStressTransaction::Lost;
                // A commit counts for the process that made it, at its time when that process
                // logged it (a later process that finds it committed does not know when).
                if (auto by = announcedBy.find(number); kind == 'C' && by != announcedBy.end())
                    contents.Processes[by->second].Commits.push_back(
                        by->second + 1 == contents.Processes.size() ? time : -1);
                break;
            }
            case 'R':
                ++contents.Reads;
                if (!contents.Processes.empty()) ++contents.Processes.back().Reads;
                break;
            case 'S':
                contents.Processes.push_back({std::stoll(rest), -1, {}, 0});
                break;
            case 'K':
                if (!contents.Processes.empty()) contents.Processes.back().End = std::stoll(rest);
                break;
            case 'E':
                ++contents.Errors[std::stoi(rest)];
                break;
            case 'P':
                contents.Problems.push_back(rest);
                break;
            default:
                contents.Problems.push_back("an unreadable log line: " + line);
        }
    }
    return contents;
}

std::string LogPath(const std::string& Folder, bool Writer, int Slot) {
    return Folder + (Writer ? "/writer" : "/reader") + std::to_string(Slot) + ".log";
}

int EnvironmentInt(const char* Name, int Default) {
    const char* value = std::getenv(Name);
    return value && *value ? std::atoi(value) : Default;
}

}  // namespace

TStressOptions TStressOptions::FromEnvironment(TStressOptions Defaults) {
    if (const char* seconds = std::getenv("OSTRA_STRESS_SECONDS"); seconds && *seconds)
        Defaults.Seconds = std::atof(seconds);
    Defaults.Writers = EnvironmentInt("OSTRA_STRESS_WRITERS", Defaults.Writers);
    Defaults.Readers = EnvironmentInt("OSTRA_STRESS_READERS", Defaults.Readers);
    Defaults.KillEveryMs = EnvironmentInt("OSTRA_STRESS_KILL_MS", Defaults.KillEveryMs);
    return Defaults;
}

// ---------------------------------------------------------------------------------------------
// TStressLog

TStressLog::TStressLog(const std::string& Path) {
    // A line cut by a kill in the middle of its write is dropped, so the next one stands alone.
    const std::string text = test::ReadAll(Path);
    const std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    if (whole < text.size()) std::filesystem::resize_file(Path, whole);
    FHandle = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (FHandle < 0) throw std::runtime_error("the stress log cannot be opened: " + Path);
}

TStressLog::~TStressLog() {
    if (FHandle >= 0) ::close(FHandle);
}

void TStressLog::Line(const std::string& Text) {
    std::string line = Text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    line += '\n';
    if (::write(FHandle, line.data(), line.size()) != ssize_t(line.size()))
        throw std::runtime_error("the stress log cannot be written");
}

void TStressLog::Announce(uint64_t Number, const std::string& Changes) {
    Line("T " + std::to_string(Number) + " " + Changes);
}
void TStressLog::Committed(uint64_t Number) {
    Line("C " + std::to_string(Number) + " " + std::to_string(Milliseconds(Clock::now())));
}
void TStressLog::Lost(uint64_t Number) {
    Line("L " + std::to_string(Number));
}
void TStressLog::Read() {
    Line("R");
}
void TStressLog::Error(int32_t Code) {
    Line("E " + std::to_string(Code));
}
void TStressLog::Problem(const std::string& Text) {
    Line("P " + Text);
}
void TStressLog::Started() {
    Line("S " + std::to_string(Milliseconds(Clock::now())));
}
void TStressLog::Killed() {
    Line("K " + std::to_string(Milliseconds(Clock::now())));
}

TStressHistory ReadHistory(const std::string& Path) {
    return ParseLog(Path).History;
}

std::vector<std::string> StarvedProcesses(const std::vector<std::vector<TStressProcess>>& Writers,
                                          const std::vector<std::vector<TStressProcess>>& Readers, uint64_t Turns) {
    // The commits of the writers other than Except (all when Except is none) between From and To.
    auto commitsBetween = [&](int64_t From, int64_t To, std::size_t Except) {
        uint64_t count = 0;
        for (std::size_t slot = 0; slot < Writers.size(); ++slot)
            if (slot != Except)
                for (const TStressProcess& process : Writers[slot])
                    for (int64_t time : process.Commits) count += time >= From && time <= To;
        return count;
    };
    std::vector<std::string> starved;
    auto describe = [&](const char* What, std::size_t Slot, std::size_t Index, const TStressProcess& Process,
                        const char* Done, uint64_t Others, const char* Whose) {
        char text[256];
        std::snprintf(text, sizeof text, "%s %zu (its process %zu) %s nothing in %.1f s while %s committed %llu transactions",
                      What, Slot, Index + 1, Done, double(Process.End - Process.Start) / 1000.0, Whose,
                      static_cast<unsigned long long>(Others));
        starved.push_back(text);
    };
    for (std::size_t slot = 0; slot < Writers.size(); ++slot)
        for (std::size_t k = 0; k < Writers[slot].size(); ++k) {
            const TStressProcess& process = Writers[slot][k];
            if (!process.Commits.empty()) continue;
            const uint64_t others = commitsBetween(process.Start, process.End, slot);
            if (others >= Turns) describe("writer", slot, k, process, "committed", others, "the other writers");
        }
    for (std::size_t slot = 0; slot < Readers.size(); ++slot)
        for (std::size_t k = 0; k < Readers[slot].size(); ++k) {
            const TStressProcess& process = Readers[slot][k];
            if (process.Reads > 0) continue;
            const uint64_t commits = commitsBetween(process.Start, process.End, Writers.size());
            if (commits >= Turns) describe("reader", slot, k, process, "read", commits, "the writers");
        }
    return starved;
}

// ---------------------------------------------------------------------------------------------
// The run

std::string TStressReport::Summary() const {
    char text[256];
    const uint64_t least =
        CommitsPerWriter.empty() ? 0 : *std::min_element(CommitsPerWriter.begin(), CommitsPerWriter.end());
    const uint64_t most =
        CommitsPerWriter.empty() ? 0 : *std::max_element(CommitsPerWriter.begin(), CommitsPerWriter.end());
    std::snprintf(text, sizeof text,
                  "%llu transactions in %.1f s: %.1f transactions/s (per writer %llu-%llu), %.1f reads/s, "
                  "%llu writers killed, %llu in doubt; time-outs and errors by code:",
                  static_cast<unsigned long long>(Commits), Seconds,
                  Seconds > 0 ? double(Commits) / Seconds : 0.0, static_cast<unsigned long long>(least),
                  static_cast<unsigned long long>(most), Seconds > 0 ? double(Reads) / Seconds : 0.0,
                  static_cast<unsigned long long>(Kills), static_cast<unsigned long long>(InDoubt));
    std::string summary = text;
    const std::pair<const char*, const std::map<int32_t, uint64_t>*> groups[] = {
        {" writers", &WriterErrors}, {", readers", &ReaderErrors}};
    for (const auto& [who, errors] : groups) {
        summary += who;
        if (errors->empty()) summary += " none";
        for (const auto& [code, count] : *errors)
            summary += " " + std::to_string(code) + " x" + std::to_string(count);
    }
    return summary;
}

TStressReport RunStressHarness(TStressWorkload& Workload, const std::string& Path,
                               const TStressOptions& Options) {
    TStressReport report;
    const std::string folder = std::filesystem::path(Path).parent_path().string();
    Workload.Prepare(Path);

    std::mt19937 random(std::random_device{}());
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(Options.Seconds));
    std::vector<int> incarnations(std::size_t(std::max(Options.Writers, 0)), 0);

    auto startProcess = [&](bool Writer, int Slot) {
        TStressContext context;
        context.Path = Path;
        context.Slot = Slot;
        context.Incarnation = Writer ? incarnations[std::size_t(Slot)] : 0;
        context.Seed = random();
        context.Deadline = deadline;
        const std::string log = LogPath(folder, Writer, Slot);
        if (Writer) context.History = ReadHistory(log);
        TStressLog(log).Started();  // nobody else writes the slot's log now
        return std::make_unique<test::Child>([&Workload, context, log, Writer](test::Child&) mutable -> int {
            TStressLog processLog(log);
            context.Log = &processLog;
            try {
                if (Writer)
                    Workload.Write(context);
                else
                    Workload.Read(context);
                return 0;
            } catch (const std::exception& e) {
                processLog.Problem(std::string("the process ended with: ") + e.what());
            } catch (...) {
                processLog.Problem("the process ended with an exception");
            }
            return 97;
        });
    };

    std::vector<std::unique_ptr<test::Child>> writers, readers;
    for (int slot = 0; slot < Options.Writers; ++slot) writers.push_back(startProcess(true, slot));
    for (int slot = 0; slot < Options.Readers; ++slot) readers.push_back(startProcess(false, slot));

    auto pause = [&] {
        std::uniform_int_distribution<int> spread(Options.KillEveryMs / 2, Options.KillEveryMs * 3 / 2);
        return std::chrono::milliseconds(spread(random));
    };
    Clock::time_point nextKill = Options.KillEveryMs > 0 && Options.Writers > 0 ? start + pause() : deadline;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_until(std::min(nextKill, deadline));
        if (Clock::now() < nextKill || nextKill >= deadline) continue;
        const int slot = int(random() % uint32_t(Options.Writers));
        const int code = writers[std::size_t(slot)]->Kill();
        TStressLog(LogPath(folder, true, slot)).Killed();
        if (code != 128 + SIGKILL)
            report.Problems.push_back("writer " + std::to_string(slot) + " ended before the deadline with " +
                                      std::to_string(code));
        ++report.Kills;
        ++incarnations[std::size_t(slot)];
        writers[std::size_t(slot)] = startProcess(true, slot);
        nextKill = Clock::now() + pause();
    }

    // Every process finishes its last transaction or read; one that does not has hung.
    const Clock::time_point graceEnd = deadline + std::chrono::seconds(Options.GraceSeconds);
    auto finish = [&](std::vector<std::unique_ptr<test::Child>>& Processes, const char* What) {
        for (std::size_t slot = 0; slot < Processes.size(); ++slot) {
            test::Child& process = *Processes[slot];
            while (!process.Ended() && Clock::now() < graceEnd)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::string name = std::string(What) + " " + std::to_string(slot);
            if (!process.Ended()) {
                report.Problems.push_back(name + " had not ended " + std::to_string(Options.GraceSeconds) +
                                          " s after the deadline: it hung");
                process.Kill();
            } else if (const int code = process.Wait(); code != 0) {
                report.Problems.push_back(name + " ended with " + std::to_string(code));
            }
        }
    };
    finish(writers, "writer");
    finish(readers, "reader");
    report.Seconds = Options.Seconds;

    std::vector<TStressHistory> histories;
    std::vector<std::vector<TStressProcess>> writerProcesses, readerProcesses;
    // Processes that were not killed ran to the deadline.
    auto processes = [&](TLogContents& Log) {
        for (TStressProcess& process : Log.Processes)
            if (process.End < 0) process.End = Milliseconds(deadline);
        return Log.Processes;
    };
    auto collect = [&](const TLogContents& Log, const std::string& Name) {
        std::map<int32_t, uint64_t>& errors =
            Name.rfind("writer", 0) == 0 ? report.WriterErrors : report.ReaderErrors;
        for (const auto& [code, count] : Log.Errors) errors[code] += count;
        for (const std::string& problem : Log.Problems) report.Problems.push_back(Name + ": " + problem);
        report.Reads += Log.Reads;
    };
    for (int slot = 0; slot < Options.Writers; ++slot) {
        TLogContents log = ParseLog(LogPath(folder, true, slot));
        collect(log, "writer " + std::to_string(slot));
        writerProcesses.push_back(processes(log));
        uint64_t commits = 0;
        for (const TStressTransaction& transaction : log.History) {
            if (transaction.Outcome == TStressTransaction::Committed) ++commits;
            if (transaction.Outcome == TStressTransaction::InDoubt) ++report.InDoubt;
        }
        report.CommitsPerWriter.push_back(commits);
        report.Commits += commits;
        histories.push_back(log.History);
    }
    for (int slot = 0; slot < Options.Readers; ++slot) {
        TLogContents log = ParseLog(LogPath(folder, false, slot));
        collect(log, "reader " + std::to_string(slot));
        readerProcesses.push_back(processes(log));
        report.ReadsPerReader.push_back(log.Reads);
    }
    // Fair waits hand a lock over within a round of the writers; a process just started first
    // opens the database, which reads under the header lock in the gaps between the others'
    // commits (a few rounds on a busy machine): ten rounds leave room for both.
    for (const std::string& starved :
         StarvedProcesses(writerProcesses, readerProcesses, 10 * uint64_t(std::max(Options.Writers, 1))))
        report.Problems.push_back(starved);

    const std::string check = Workload.Check(Path, histories);
    if (!check.empty()) report.Problems.push_back("the final check: " + check);
    return report;
}

}  // namespace ostra::stresstest
