// Tests of the trace log: line limits and trimming, counters, trace slots, saving to a file,
// and logging from several threads at once.
#include "engine/storage/orqLogger.h"

#include <gtest/gtest.h>

#include "testsupport/TestFiles.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/Exceptions.h"

namespace ostra {
namespace {

namespace fs = std::filesystem;

// The text that LogItem put after the date, caller and " : ".
std::string TextOf(const std::string& line) {
    auto sep = line.find(" : ");
    return sep == std::string::npos ? std::string() : line.substr(sep + 3);
}

void AddLines(TDBLogger& logger, int first, int last) {
    for (int i = first; i <= last; ++i) logger.LogItem("Test", "line " + std::to_string(i));
}

TEST(TDBLogger, StartsEmptyWithLimit500) {
    TDBLogger logger;
    EXPECT_EQ(logger.LogCount(), 0);
    EXPECT_EQ(logger.LockMonitorList()->Count(), 0);
    EXPECT_EQ(logger.MaxLogItemCount(), 500);
    EXPECT_FALSE(logger.Active());
    EXPECT_EQ(logger.DumpMod(), 0);
    EXPECT_EQ(logger.OutputFileName(), "");
    logger.SetActive(true);
    logger.SetDumpMod(7);
    EXPECT_TRUE(logger.Active());
    EXPECT_EQ(logger.DumpMod(), 7);
}

TEST(TDBLogger, LineHasDateCallerRightAlignedAndText) {
    TDBLogger logger;
    logger.LogItem("TDiskMgr.Open", "opened");
    const std::string longCaller(40, 'c');
    logger.LogItem(longCaller, "");
    auto log = logger.LogSnapshot();
    ASSERT_EQ(log->Count(), 2);
    const std::string first = log->Strings(0);
    auto sep = first.find("; ");
    ASSERT_NE(sep, std::string::npos);
    EXPECT_GE(sep, 10u);
    EXPECT_EQ(first.substr(sep), "; " + std::string(17, ' ') + "TDiskMgr.Open : opened");
    const std::string second = log->Strings(1);
    EXPECT_EQ(second.substr(second.find("; ")), "; " + longCaller + " : ");
}

TEST(TDBLogger, LimitKeepsOneLineMoreThanTheLimitDroppingTheOldest) {
    TDBLogger logger;
    AddLines(logger, 1, 600);
    auto log = logger.LogSnapshot();
    ASSERT_EQ(log->Count(), 501);
    EXPECT_EQ(TextOf(log->Strings(0)), "line 100");
    EXPECT_EQ(TextOf(log->Strings(500)), "line 600");
}

TEST(TDBLogger, SetMaxLogItemCountTrimsAtOnce) {
    struct Case {
        int limit;
        int remaining;
    };
    for (Case c : {Case{10, 9}, Case{49, 48}, Case{50, 50}, Case{1, 0}, Case{0, 50}, Case{-1, 50}}) {
        TDBLogger logger;
        AddLines(logger, 1, 50);
        logger.SetMaxLogItemCount(c.limit);
        EXPECT_EQ(logger.MaxLogItemCount(), c.limit);
        auto log = logger.LogSnapshot();
        ASSERT_EQ(log->Count(), c.remaining) << c.limit;
        if (c.remaining) {
            EXPECT_EQ(TextOf(log->Strings(0)), "line " + std::to_string(51 - c.remaining));
        }
    }
    // Without a limit nothing is dropped.
    for (int unlimited : {0, -1}) {
        TDBLogger logger;
        logger.SetMaxLogItemCount(unlimited);
        AddLines(logger, 1, 700);
        EXPECT_EQ(logger.LogCount(), 700);
    }
}

TEST(TDBLogger, CountersAddResetAndClear) {
    TDBLogger logger;
    logger.NamedMonitorDelta("X", 5);
    logger.NamedMonitorDelta("X", 5);
    EXPECT_EQ(logger.LockMonitorList()->Values("X"), "10");
    logger.NamedMonitorReset("X", 3);
    EXPECT_EQ(logger.LockMonitorList()->Values("X"), "3");
    logger.NamedMonitorDelta("ROOTADDRNOTVALID", 1);
    EXPECT_EQ(logger.LockMonitorList()->Text(), "X=3\r\nROOTADDRNOTVALID=1\r\n");

    // A value that is not a number counts as 0; the sum wraps like a 32-bit counter.
    logger.LockMonitorList()->SetValues("Y", "abc");
    logger.NamedMonitorDelta("Y", 2);
    EXPECT_EQ(logger.LockMonitorList()->Values("Y"), "2");
    logger.NamedMonitorReset("Z", INT32_MAX);
    logger.NamedMonitorDelta("Z", 1);
    EXPECT_EQ(logger.LockMonitorList()->Values("Z"), std::to_string(INT32_MIN));

    logger.LogItem("A", "b");
    logger.Clear();
    EXPECT_EQ(logger.LogCount(), 0);
    EXPECT_EQ(logger.LockMonitorList()->Count(), 0);
}

std::vector<std::string> ZeroTrace(int count) {
    return std::vector<std::string>(count, "Caller 0  Event 0");
}

std::vector<std::string> Lines(const TStringList& list, int from) {
    std::vector<std::string> lines;
    for (int i = from; i < list.Count(); ++i) lines.push_back(list.Strings(i));
    return lines;
}

TEST(TDBLogger, DumpTraceWritesAll101SlotsFromThePositionOn) {
    TDBLogger logger;
    logger.SetMaxLogItemCount(10);
    logger.DumpTraceToLog();
    auto log = logger.LogSnapshot();
    ASSERT_EQ(log->Count(), 102) << "dumped lines are not limited";
    EXPECT_EQ(log->Strings(0), "TraceLog");
    EXPECT_EQ(Lines(*log, 1), ZeroTrace(101));

    // Three items: slots 3..100 are still zero and come first, then slots 0..2.
    logger.Clear();
    for (int i = 1; i <= 3; ++i) logger.AddLogTraceItem(i, i * 10);
    logger.DumpTraceToLog();
    auto expected = ZeroTrace(98);
    for (int i = 1; i <= 3; ++i)
        expected.push_back("Caller " + std::to_string(i) + "  Event " + std::to_string(i * 10));
    EXPECT_EQ(Lines(*logger.LogSnapshot(), 1), expected);

    // 105 items: the first 100 fill slots 0..99, the position wraps from 100 to 0, and items
    // 101..105 overwrite slots 0..4; slot 100 is never written.
    logger.Clear();
    logger.ClearLogTrace();
    for (int i = 1; i <= 105; ++i) logger.AddLogTraceItem(i, -i);
    logger.DumpTraceToLog();
    expected.clear();
    auto item = [](int i) { return "Caller " + std::to_string(i) + "  Event " + std::to_string(-i); };
    for (int i = 6; i <= 100; ++i) expected.push_back(item(i));
    expected.push_back("Caller 0  Event 0");
    for (int i = 101; i <= 105; ++i) expected.push_back(item(i));
    EXPECT_EQ(Lines(*logger.LogSnapshot(), 1), expected);

    logger.Clear();
    logger.ClearLogTrace();
    logger.DumpTraceToLog();
    EXPECT_EQ(Lines(*logger.LogSnapshot(), 1), ZeroTrace(101));
}

class TDBLoggerFiles : public ::testing::Test {
protected:
    static std::string ReadFile(const fs::path& path) { return ostra::test::ReadAll(path.string()); }

    ostra::test::TempDir FTemp;
    fs::path FDir{FTemp.Path()};
};

TEST_F(TDBLoggerFiles, SaveLogToFileWritesOneLinePerLogLine) {
    TDBLogger logger;
    AddLines(logger, 1, 3);
    const auto file = FDir / "dblog.txt";
    logger.SaveLogToFile(file.string());
    auto log = logger.LogSnapshot();
    EXPECT_EQ(ReadFile(file), log->Strings(0) + "\r\n" + log->Strings(1) + "\r\n" + log->Strings(2) + "\r\n");

    logger.SaveLogToFile("");  // nothing happens
    EXPECT_THROW(logger.SaveLogToFile((FDir / "missing" / "dblog.txt").string()), Exception);
}

TEST_F(TDBLoggerFiles, DestructorSavesToOutputFileName) {
    const auto file = FDir / "out.txt";
    std::string expected;
    {
        TDBLogger logger;
        logger.SetOutputFileName(file.string());
        AddLines(logger, 1, 2);
        expected = logger.LockLogList()->Text();
    }
    EXPECT_EQ(ReadFile(file), expected);
    EXPECT_EQ(expected.substr(expected.size() - 8), "line 2\r\n");

    // A file that cannot be written does not escape the destructor.
    {
        TDBLogger logger;
        logger.SetOutputFileName((FDir / "missing" / "out.txt").string());
        AddLines(logger, 1, 1);
    }
    EXPECT_FALSE(fs::exists(FDir / "missing"));
}

TEST_F(TDBLoggerFiles, GlobalLoggerSavesItsLinesWhenTheProgramEnds) {
    const auto file = FDir / "global.txt";
    EXPECT_EXIT(
        {
            GDBLogger()->SetOutputFileName(file.string());
            GDBLogger()->LogItem("Unit", "stopping");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string saved = ReadFile(file);
    EXPECT_NE(saved.find("Unit : stopping\r\n"), std::string::npos) << saved;
}

// Two starts, as in the runtime package (its entry and the unit's own start object): the logger
// lives until the stop that matches the last start, which saves and frees it; no lazy creation
// after that until the unit starts again. Run in a child, since it stops the program's logger.
TEST_F(TDBLoggerFiles, TheStopOfTheLastStartFreesTheGlobalLogger) {
    const auto file = FDir / "units.txt";
    EXPECT_EXIT(
        {
            StartLoggerUnit();
            TDBLogger* logger = GDBLogger();
            logger->SetOutputFileName(file.string());
            StopLoggerUnit();
            if (GDBLogger() != logger) std::exit(2);
            logger->LogItem("Unit", "still here");
            StopLoggerUnit();
            if (GDBLogger() != nullptr || !fs::exists(file)) std::exit(3);
            StopLoggerUnit();  // unmatched: nothing happens
            StartLoggerUnit();
            if (GDBLogger() == nullptr) std::exit(4);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_NE(ReadFile(file).find("Unit : still here\r\n"), std::string::npos);
}

TEST(TDBLogger, ConcurrentLoggingStaysWithinTheLimitAndLosesNoCount) {
    TDBLogger logger;
    logger.SetMaxLogItemCount(100);
    constexpr int kThreads = 6;
    constexpr int kLines = 1500;
    std::atomic<bool> done{false};
    std::atomic<int> maxSeen{0};

    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&logger, t] {
            for (int i = 0; i < kLines; ++i) {
                logger.LogItem("Thread" + std::to_string(t), std::to_string(t) + "-" + std::to_string(i));
                logger.NamedMonitorDelta("lines", 1);
                logger.AddLogTraceItem(t, i);
            }
        });
    std::thread reader([&] {
        while (!done) {
            maxSeen = std::max(maxSeen.load(), logger.LogSnapshot()->Count());
            logger.SetMaxLogItemCount(50);
            logger.SetMaxLogItemCount(100);
            maxSeen = std::max(maxSeen.load(), logger.LogCount());
        }
    });
    for (auto& w : writers) w.join();
    done = true;
    reader.join();

    EXPECT_LE(maxSeen.load(), 101);
    EXPECT_EQ(logger.LockMonitorList()->Values("lines"), std::to_string(kThreads * kLines));
    auto log = logger.LogSnapshot();
    EXPECT_LE(log->Count(), 101);
    EXPECT_GE(log->Count(), 49);
    // Every kept line is whole, and each thread's lines are still in the order written.
    std::vector<int> last(kThreads, -1);
    for (int i = 0; i < log->Count(); ++i) {
        std::string text = TextOf(log->Strings(i));
        auto dash = text.find('-');
        ASSERT_NE(dash, std::string::npos) << log->Strings(i);
        int t = std::stoi(text.substr(0, dash));
        int n = std::stoi(text.substr(dash + 1));
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_GT(n, last[t]);
        last[t] = n;
    }
}

TEST(GDBLogger, IsTheSameLoggerForTheWholeProgram) {
    ASSERT_NE(GDBLogger(), nullptr);
    EXPECT_EQ(GDBLogger(), GDBLogger());
}

}  // namespace
}  // namespace ostra
