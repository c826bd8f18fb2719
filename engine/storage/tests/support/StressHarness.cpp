// StressHarness: processes, kills, logs and the report of a stress run (see StressHarness.h).
//
// Log lines: "T <n> <changes>" announced, "C <n>" committed, "L <n>" lost, "R" a read,
// "E <code>" an engine error survived, "P <text>" a problem.
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
#include <stdexcept>
#include <thread>

#include "testsupport/TestFiles.h"

namespace ostra::stresstest {
namespace {

using Clock = std::chrono::steady_clock;

// What one log says.
struct TLogContents {
    TStressHistory History;
    uint64_t Reads = 0;
    std::map<int32_t, uint64_t> Errors;
    std::vector<std::string> Problems;
};

TLogContents ParseLog(const std::string& Path) {
    TLogContents contents;
    const std::string text = test::ReadAll(Path);
    std::map<uint64_t, std::size_t> byNumber;
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
                contents.History.push_back(transaction);
                break;
            }
            case 'C':
            case 'L': {
                auto it = byNumber.find(std::stoull(rest));
                if (it == byNumber.end()) {
                    contents.Problems.push_back("an outcome for transaction " + rest +
                                                " that was not announced");
                    break;
                }
                contents.History[it->second].Outcome =
                    kind == 'C' ? TStressTransaction::Committed : TStressTransaction::Lost;
                break;
            }
            case 'R':
                ++contents.Reads;
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
    Line("C " + std::to_string(Number));
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

TStressHistory ReadHistory(const std::string& Path) {
    return ParseLog(Path).History;
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
    auto collect = [&](const TLogContents& Log, const std::string& Name) {
        std::map<int32_t, uint64_t>& errors =
            Name.rfind("writer", 0) == 0 ? report.WriterErrors : report.ReaderErrors;
        for (const auto& [code, count] : Log.Errors) errors[code] += count;
        for (const std::string& problem : Log.Problems) report.Problems.push_back(Name + ": " + problem);
        report.Reads += Log.Reads;
    };
    for (int slot = 0; slot < Options.Writers; ++slot) {
        const TLogContents log = ParseLog(LogPath(folder, true, slot));
        collect(log, "writer " + std::to_string(slot));
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
        const TLogContents log = ParseLog(LogPath(folder, false, slot));
        collect(log, "reader " + std::to_string(slot));
        report.ReadsPerReader.push_back(log.Reads);
    }

    const std::string check = Workload.Check(Path, histories);
    if (!check.empty()) report.Problems.push_back("the final check: " + check);
    return report;
}

}  // namespace ostra::stresstest
