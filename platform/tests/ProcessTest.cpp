// Windows command lines split into arguments, quoting that splits back, and start errors.
#include <gtest/gtest.h>

#include <random>

#include "platform/Process.h"

using namespace ostra::platform;

TEST(CommandLine, SplitsByTheRulesOfWindowsPrograms) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}},
        {"  a\tb  ", {"a", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"a\"b c\"d", {"ab cd"}},
        {"C:\\dir\\ x", {"C:\\dir\\", "x"}},
        {"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"\"", {""}},
        {"\"unclosed arg", {"unclosed arg"}},
        {"-r \"-sC:\\My Build\" -c", {"-r", "-sC:\\My Build", "-c"}},
    };
    for (const auto& [line, args] : cases) EXPECT_EQ(SplitCommandLineArguments(line), args) << line;
}

TEST(CommandLine, QuotedArgumentsSplitBackIntoThemselves) {
    std::mt19937 random(12345);
    const std::string alphabet = "ab \t\"\\";
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::string> args(1 + random() % 4);
        std::string line;
        for (std::string& arg : args) {
            for (int n = random() % 7; n > 0; --n) arg += alphabet[random() % alphabet.size()];
            line += (line.empty() ? "" : " ") + QuoteCommandLineArgument(arg);
        }
        ASSERT_EQ(SplitCommandLineArguments(line), args) << line;
    }
}

TEST(StartErrors, MapErrnoToWindowsNumbers) {
    EXPECT_EQ(StartErrorOf(ENOENT, "/tmp/missing-program"), ErrorFileNotFound);
    EXPECT_EQ(StartErrorOf(ENOENT, "/no/such/folder/program"), ErrorPathNotFound);
    EXPECT_EQ(StartErrorOf(EACCES, "/tmp/x"), ErrorAccessDenied);
    EXPECT_EQ(StartErrorOf(ENOEXEC, "/tmp/x"), ErrorBadFormat);
    EXPECT_EQ(StartErrorOf(ENOMEM, "/tmp/x"), ErrorNotEnoughMemory);
    EXPECT_EQ(StartErrorOf(EIO, "/tmp/x"), ErrorApplicationBit | EIO);
}
