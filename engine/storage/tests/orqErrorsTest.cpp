// Tests of the error table, its lookup, the engine exception's texts and the trace line that
// every raise writes to the global logger.
#include "engine/storage/orqErrors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "engine/storage/orqConsts.h"
#include "engine/storage/orqLogger.h"
#include "host/Component.h"
#include "host/DateTime.h"

namespace ostra {
namespace {

// The rule the lookup must match: rows 1, 2, ... in turn, the first equal code wins, else row 0.
const OrqErr& LinearLookup(int32_t code) {
    for (std::size_t i = 1; i < C_ORQERRORS.size(); ++i)
        if (C_ORQERRORS[i].Code == code) return C_ORQERRORS[i];
    return C_ORQERRORS[0];
}

TEST(OrqErrorTable, HasTheFallbackRowAnd316DistinctCodedRowsInTheirCategories) {
    ASSERT_EQ(C_ORQERRORS.size(), 317u);
    EXPECT_EQ(C_ORQERRORS[0].Code, 65535);
    EXPECT_EQ(C_ORQERRORS[0].Msg, "Error code unknown");

    std::set<uint16_t> codes;
    std::map<int, int> perCategory;
    int empty = 0, trailingBlank = 0;
    for (std::size_t i = 1; i < C_ORQERRORS.size(); ++i) {
        const OrqErr& row = C_ORQERRORS[i];
        codes.insert(row.Code);
        ++perCategory[row.Code >> 8];
        if (row.Msg.empty())
            ++empty;
        else if (row.Msg.back() == ' ')
            ++trailingBlank;
    }
    EXPECT_EQ(codes.size(), 316u) << "every code occurs once";
    EXPECT_EQ(codes.count(65535), 0u);
    const std::map<int, int> expected{{0x21, 14}, {0x22, 11}, {0x23, 9},  {0x24, 7}, {0x25, 40},
                                      {0x26, 23}, {0x27, 96}, {0x28, 21}, {0x29, 9}, {0x2A, 21},
                                      {0x2B, 36}, {0x2C, 14}, {0x2F, 9},  {0x33, 6}};
    EXPECT_EQ(perCategory, expected);
    EXPECT_EQ(empty, 17);          // 16 lock rows and 11269
    EXPECT_EQ(trailingBlank, 53);  // 30 limit rows and the 23 integrity rows
}

TEST(OrqErrorTable, KeepsTextsExactlyWithTheirBlanksAndSpellings) {
    const std::map<int, std::string> texts{
        {8449, "Cannot open the requested file"},
        {8581, "There was an unexpected internal error in the database engine"},
        {9473, "Not enough Memory for this op "},
        {9499, "Pathname is too long for a Paradox 5.0 or less table "},
        {9502, "Not enough shared Memory for this operation "},
        {9600, "The database file size limit has been reached"},
        {9645, "SQL Error"},
        {9729, "Key violation "},
        {9747, "Cannot make a master a detail of another table if its details are not empty. "},
        {9751, "Expr val check failed "},
        {10006, "Invalid array of  val. check descriptors"},
        {10114, "Alter table operation failed (exact cause unknown)"},
        {10241, ""},
        {10263, ""},
        {10249, "The requested lock could not be obtained. The request timed out"},
        {10497, "Not sufficient field  rights for operation"},
        {10498, "Not sufficient table  rights for operation"},
        {10880, "The requested operation cannot be performed on an in-memory database"},
        {11047, "Unkown | illegal error from rtl"},
        {11269, ""},
        {11278, "0x0e SQL Server not found"},
        {12041, "Higher database level required"},
        {13057, "File already exsits"},
        {13062, "Update operation aborted"},
    };
    for (const auto& [code, text] : texts) {
        const OrqErr& row = FindOrqErr(code);
        EXPECT_EQ(row.Code, code);
        EXPECT_EQ(row.Msg, text) << code;
    }
}

TEST(OrqErrorTable, LookupFindsEveryRowAndAgreesWithTheLinearRuleForAnyCode) {
    for (std::size_t i = 1; i < C_ORQERRORS.size(); ++i)
        EXPECT_EQ(&FindOrqErr(C_ORQERRORS[i].Code), &C_ORQERRORS[i]) << C_ORQERRORS[i].Code;
    for (int32_t code = -2; code <= 0x10000 + 2; ++code)
        ASSERT_EQ(&FindOrqErr(code), &LinearLookup(code)) << code;
    for (int32_t code : {INT32_MIN, -65535, 8449 + 65536, 65535 + 65536, INT32_MAX})
        EXPECT_EQ(&FindOrqErr(code), &C_ORQERRORS[0]) << code;
}

// Raises through OrqDatabaseError and hands back the exception and the trace line it logged.
class OrqRaise : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(GDBLogger(), nullptr);
        GDBLogger()->Clear();
        GDBLogger()->SetMaxLogItemCount(500);
    }

    struct Raised {
        EOrqDatabaseError error;
        std::string logLine;
    };

    template <typename F>
    std::unique_ptr<Raised> Catch(F raise) {
        GDBLogger()->Clear();
        try {
            raise();
        } catch (const EOrqDatabaseError& e) {
            auto log = GDBLogger()->LogSnapshot();
            EXPECT_EQ(log->Count(), 1);
            return std::make_unique<Raised>(Raised{e, log->Count() ? log->Strings(log->Count() - 1) : ""});
        }
        ADD_FAILURE() << "nothing raised";
        return std::make_unique<Raised>(Raised{EOrqDatabaseError(0, "", "", nullptr), ""});
    }

    // The part of a log line after the date-time text: "; " + caller in 30 + " : " + text.
    static std::string AfterDate(const std::string& line) {
        auto sep = line.find("; ");
        return sep == std::string::npos ? line : line.substr(sep);
    }
};

TEST_F(OrqRaise, KnownCodeWithoutCustomTextUsesTheBaseFrame) {
    auto r = Catch([] { OrqDatabaseError(8449, "TDiskMgr.Open", "", nullptr); });
    EXPECT_EQ(r->error.ErrorCode, 8449);
    EXPECT_EQ(r->error.ErrorMessage, "Cannot open the requested file");
    EXPECT_EQ(r->error.Sender, nullptr);
    EXPECT_EQ(
        r->error.Message(),
        "The Ostra database engine raised an error\r\n (error code #8449). Cannot open the requested file");
    EXPECT_EQ(AfterDate(r->logLine),
              "; " + std::string(17, ' ') + "TDiskMgr.Open : Exception:  Caller " + std::string(20, ' ') +
                  " ErrCode  8449 [ErrContext Cannot open the requested file]. CustomMsg ");
}

TEST_F(OrqRaise, TheLogLineStartsWithTheLocalDateTimeInTenCharactersAtLeast) {
    Catch([] { OrqDatabaseError(8449, "X.Y", "", nullptr); });
    auto line = GDBLogger()->LogSnapshot()->Strings(0);
    auto stamp = line.substr(0, line.find("; "));
    EXPECT_GE(stamp.size(), 10u);
    TDateTime value;
    ASSERT_TRUE(TryStrToDateTime(stamp.substr(stamp.find_first_not_of(' ')), value)) << stamp;
    EXPECT_LT(std::abs(double(value) - double(Now())), 2.0 / 86400) << stamp;
}

TEST_F(OrqRaise, CustomTextUsesTheCustomFrameAndIsNeverReadAsAFormat) {
    auto r = Catch([] { OrqDatabaseError(8581, "TCacheMgr.Open", "100% of %s used", nullptr); });
    EXPECT_EQ(r->error.ErrorCode, 8581);
    EXPECT_EQ(r->error.Message(),
              "The Ostra database engine raised an error\r\n There was an unexpected internal error in the "
              "database engine (error code #8581) - 100% of %s used");
    EXPECT_NE(r->logLine.find("[ErrContext There was an unexpected internal error in the database engine]. "
                              "CustomMsg 100% of %s used"),
              std::string::npos)
        << r->logLine;
}

TEST_F(OrqRaise, CodeWithoutARowKeepsItsCodeAndTracesTheFallbackCode) {
    for (int32_t code : {1, -5, 65535, 8449 + 65536}) {
        auto r = Catch([code] { OrqDatabaseError(code, "T.M", "", nullptr); });
        EXPECT_EQ(r->error.ErrorCode, code);
        EXPECT_EQ(r->error.ErrorMessage, "Error code unknown");
        EXPECT_EQ(r->error.Message(), "The Ostra database engine raised an error\r\n (error code #" +
                                          std::to_string(code) + "). Error code unknown");
        EXPECT_NE(r->logLine.find(" ErrCode 65535 [ErrContext Error code unknown]. CustomMsg "),
                  std::string::npos)
            << r->logLine;
    }
    auto custom = Catch([] { OrqDatabaseError(1, "T.M", "extra", nullptr); });
    EXPECT_EQ(custom->error.Message(),
              "The Ostra database engine raised an error\r\n Error code unknown (error code #1) - extra");
}

TEST_F(OrqRaise, RowWithAnEmptyMessageIsFound) {
    auto r = Catch([] { OrqDatabaseError(10241, "TLockMgr.Lock", "", nullptr); });
    EXPECT_EQ(r->error.ErrorCode, 10241);
    EXPECT_EQ(r->error.ErrorMessage, "");
    EXPECT_EQ(r->error.Message(), "The Ostra database engine raised an error\r\n (error code #10241). ");
    EXPECT_NE(r->logLine.find(" ErrCode 10241 [ErrContext ]. CustomMsg "), std::string::npos) << r->logLine;
}

class TNamedThing : public TComponent {
public:
    using TComponent::TComponent;
};

class TPlainThing : public TObject {};

TEST_F(OrqRaise, SenderIsNamedByComponentNameElseClassName) {
    TNamedThing named(nullptr);
    named.SetName("Table1");
    TNamedThing unnamed(nullptr);
    TComponent longName(nullptr);
    longName.SetName("AComponentNameLongerThanTwenty");
    TPlainThing plain;

    struct Case {
        TObject* sender;
        std::string field;  // the sender field between "Caller " and " ErrCode"
    };
    const Case cases[] = {
        {nullptr, std::string(20, ' ')},
        {&named, std::string(14, ' ') + "Table1"},
        {&unnamed, std::string(9, ' ') + "TNamedThing"},
        {&longName, "AComponentNameLongerThanTwenty"},
        {&plain, std::string(9, ' ') + "TPlainThing"},
    };
    for (const Case& c : cases) {
        auto r = Catch([&] { OrqDatabaseError(9997, "TIndexManager.Open", "", c.sender); });
        EXPECT_EQ(r->error.Sender, c.sender);
        EXPECT_NE(r->logLine.find(" : Exception:  Caller " + c.field +
                                  " ErrCode  9997 [ErrContext Index does "
                                  "not exist]. CustomMsg "),
                  std::string::npos)
            << r->logLine;
    }
}

TEST_F(OrqRaise, FmtFormatsTheCustomTextAndIsCaughtAsTheFrameworkError) {
    try {
        OrqDatabaseErrorFmt(10027, "TRestructureIndexDefs.ValidateNewIndexDefs", SorqIndexFmt, {"ByName"},
                            nullptr);
        FAIL() << "nothing raised";
    } catch (const EDatabaseError& e) {
        auto* engine = dynamic_cast<const EOrqDatabaseError*>(&e);
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->ErrorCode, 10027);
        EXPECT_EQ(
            e.Message(),
            "The Ostra database engine raised an error\r\n Index already exists (error code #10027) - Index "
            "ByName");
    }
    auto r = Catch([] {
        OrqDatabaseErrorFmt(9605, "TTableDef.SetName", SorqValueOutOfRangeFmt, {70, 1, 64}, nullptr);
    });
    EXPECT_EQ(
        r->error.Message(),
        "The Ostra database engine raised an error\r\n The object name is out of range (error code #9605) - "
        "70 is not a valid value (min. 1, max. 64)");
    EXPECT_NE(AfterDate(r->logLine).find(std::string(4, ' ') + "TTableDef.SetName : "), std::string::npos);
}

TEST(OrqConsts, MessageFramesAndTextsAreExact) {
    EXPECT_STREQ(SorqErrorAnonBaseMsg, "The Ostra database engine raised an error\r\n (error code #%d). %s");
    EXPECT_STREQ(SorqErrorAnonCustomMsg,
                 "The Ostra database engine raised an error\r\n %s (error code #%d) - %s");
    EXPECT_STREQ(SorqFileVersionDoesNotSupportOperation,
                 "This database version does not support this operation ");
    EXPECT_STREQ(SorqGeneratorNameFmt,
                 "'%s' is not a valid generator name (min. length 1, '$' is a reserved first character");
    EXPECT_STREQ(SorqMDetFldError, " is not a valid index field for this index");
    EXPECT_STREQ(SorqSelectDistinctMaxColsLimit, "Result set colummn count exceeds DISTINCT query limit");
    EXPECT_STREQ(SorqHavingColumnNotFoundFmt, "Column name in having clause not found: %s");
    EXPECT_STREQ(SOrqTrue, "True");
    EXPECT_STREQ(SorqCannotDeletePrimaryIndex, "The primary index cannot be deleted");
}

}  // namespace
}  // namespace ostra
