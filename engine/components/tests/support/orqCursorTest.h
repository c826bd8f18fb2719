// orqCursorTest: the GoogleTest base of the cursor tests that run once on a database file and once
// in memory (INSTANTIATE_CURSOR_TESTS names the two runs "Disk" and "Memory").
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/storage/tests/support/orqErrorCapture.h"
#include "orqCursorFixture.h"
#include "testsupport/TestFiles.h"

namespace ostra::componentstest {

using storagetest::ErrorCode;
using storagetest::ErrorText;

// A fresh database per test: a file in a temporary folder (parameter false) or "MEMORY" (true).
class TCursorTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { DataBase = MakeDataBase(Memory() ? "" : Dir.File("cursor.orq")); }
    void TearDown() override { DataBase.reset(); }
    bool Memory() const { return GetParam(); }
    // The table on this run's storage, and a cursor on it.
    void Create(const std::string& Name, const std::vector<TFieldSpec>& Fields, const std::vector<TIndexSpec>& Indexes) {
        CreateTable(*DataBase, Name, Fields, Indexes, Memory());
    }
    std::unique_ptr<TOrqDataSet> Open(const std::string& Name, const std::string& IndexName = "") {
        return OpenCursor(*DataBase, Name, Memory(), IndexName);
    }

    test::TempDir Dir;
    std::unique_ptr<TTestDataBase> DataBase;
};

}  // namespace ostra::componentstest

#define INSTANTIATE_CURSOR_TESTS(Suite)                                                   \
    INSTANTIATE_TEST_SUITE_P(Storage, Suite, ::testing::Values(false, true),             \
                             [](const ::testing::TestParamInfo<bool>& Info) {             \
                                 return std::string(Info.param ? "Memory" : "Disk");      \
                             })
