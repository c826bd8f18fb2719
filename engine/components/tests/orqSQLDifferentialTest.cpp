// Generated SELECTs run through the query component and through SQLite on the same generated
// tables; both results must hold the same rows. The statements stay inside what the two dialects
// share: comparisons, AND/OR, BETWEEN, IN lists, inner and left joins, GROUP BY with COUNT, SUM,
// MIN and MAX, DISTINCT, ORDER BY. Where the dialects differ by design the generator stays out:
//   - texts are lower-case letters only, so the dictionary order of texts is the byte order;
//   - aggregates come with GROUP BY only, and SUM, MIN and MAX of a group without values are 0
//     (an empty text for a text column) here where SQLite gives NULL: SQLite's side reads
//     COALESCE(..., 0) or COALESCE(..., '');
//   - no NOT: a comparison with NULL is not true in either dialect, and without NOT the rows a
//     condition admits are the same under both dialects' NULL rules;
//   - numbers are compared as numbers (an integral float prints as "3" here, "3.0" there).
// Rows are compared as sorted lists; statements ordered by a unique key are compared in order.
// OSTRA_SQL_DIFF_SEED adds a seed of its own and OSTRA_SQL_DIFF_QUERIES sets how many statements
// each seed runs, for longer runs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "engine/storage/orqErrors.h"
#include "support/orqCursorFixture.h"
#include "support/orqQueryTest.h"

namespace ostra::componentstest {
namespace {

using Rows = std::vector<std::string>;

// A number in canonical form; any other text as it stands.
std::string Normalised(const std::string& Text) {
    if (Text.empty()) return Text;
    char* end = nullptr;
    const double value = std::strtod(Text.c_str(), &end);
    if (*end != '\0') return Text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    return buffer;
}

std::string Row(const std::vector<std::string>& Cells) {
    std::string row;
    for (size_t i = 0; i < Cells.size(); ++i) row += (i ? "|" : "") + Normalised(Cells[i]);
    return row;
}

// The generated tables in both engines and the statement generator.
class SQLDifferential : public ::testing::Test {
protected:
    void SetUp() override {
        DataBase = MakeDataBase("");
        ASSERT_EQ(sqlite3_open(":memory:", &Lite), SQLITE_OK);
    }
    void TearDown() override {
        sqlite3_close(Lite);
        DataBase.reset();
    }

    // Runs Sql in both engines (OstraSql in Ostra when given).
    void Both(const std::string& Sql, const std::string& OstraSql = "") {
        ExecSql(*DataBase, OstraSql.empty() ? Sql : OstraSql);
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(Lite, Sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    }

    std::string Value(std::mt19937& Random, int NullPercent, const std::function<std::string()>& Make) {
        return int(Random() % 100) < NullPercent ? "NULL" : Make();
    }

    // A(ID, K, S, F) and B(ID, A_ID, V): small value ranges so that conditions, joins and groups
    // meet many rows; some NULLs in every column but the keys.
    void Fill(std::mt19937& Random, int RowsA, int RowsB) {
        // The tables are in-memory ones in Ostra's "MEMORY" database.
        for (const std::string columns : {"A (ID INTEGER, K INTEGER, S VARCHAR(6), F FLOAT, PRIMARY KEY (ID))",
                                          "B (ID INTEGER, A_ID INTEGER, V INTEGER, PRIMARY KEY (ID))"})
            Both("CREATE TABLE " + columns, "CREATE TABLE TEMPORARY " + columns);
        auto text = [&] {
            std::string s;
            const int length = 1 + int(Random() % 3);
            for (int i = 0; i < length; ++i) s += char('a' + Random() % 4);
            return "'" + s + "'";
        };
        for (int id = 1; id <= RowsA; ++id)
            Both("INSERT INTO A VALUES (" + std::to_string(id) + ", " +
                 Value(Random, 10, [&] { return std::to_string(int(Random() % 8)); }) + ", " +
                 Value(Random, 10, text) + ", " +
                 Value(Random, 10, [&] { return std::to_string(int(Random() % 40) * 0.25); }) + ")");
        for (int id = 1; id <= RowsB; ++id)
            Both("INSERT INTO B VALUES (" + std::to_string(id) + ", " +
                 Value(Random, 10, [&] { return std::to_string(1 + int(Random() % (RowsA + 5))); }) + ", " +
                 Value(Random, 10, [&] { return std::to_string(int(Random() % 50) - 10); }) + ")");
    }

    // One condition on the columns of the tables in Aliases (alias -> table).
    std::string Predicate(std::mt19937& Random, const std::vector<std::pair<std::string, char>>& Aliases) {
        const auto& [alias, table] = Aliases[Random() % Aliases.size()];
        const char* ops[] = {"=", "<>", "<", "<=", ">", ">="};
        const std::string op = ops[Random() % 6];
        if (table == 'A') {
            switch (Random() % 6) {
                case 0: return alias + ".K " + op + " " + std::to_string(int(Random() % 8));
                case 1: return alias + ".F " + op + " " + std::to_string(int(Random() % 40) * 0.25);
                case 2: return alias + ".S " + op + " '" + char('a' + Random() % 4) + "'";
                case 3: {
                    const int low = int(Random() % 30);
                    return alias + ".ID BETWEEN " + std::to_string(low) + " AND " + std::to_string(low + int(Random() % 20));
                }
                case 4: {
                    std::string list;
                    for (int i = 0, n = 1 + int(Random() % 4); i < n; ++i)
                        list += (i ? ", " : "") + std::to_string(int(Random() % 8));
                    return alias + ".K IN (" + list + ")";
                }
                default: return alias + ".S IN ('a', 'b', 'ab')";
            }
        }
        switch (Random() % 3) {
            case 0: return alias + ".V " + op + " " + std::to_string(int(Random() % 50) - 10);
            case 1: return alias + ".A_ID " + op + " " + std::to_string(int(Random() % 40));
            default: return alias + ".V BETWEEN -5 AND " + std::to_string(int(Random() % 40));
        }
    }

    std::string Condition(std::mt19937& Random, const std::vector<std::pair<std::string, char>>& Aliases, int Depth = 0) {
        if (Depth >= 2 || Random() % 3 == 0) return Predicate(Random, Aliases);
        return "(" + Condition(Random, Aliases, Depth + 1) + (Random() % 2 ? " AND " : " OR ") +
               Condition(Random, Aliases, Depth + 1) + ")";
    }

    struct TStatement {
        std::string Sql;
        std::string LiteSql;  // SQLite's text when it differs
        bool Ordered = false;
    };

    TStatement Generate(std::mt19937& Random) {
        TStatement s;
        const bool join = Random() % 3 == 0;
        std::vector<std::pair<std::string, char>> aliases{{"a", 'A'}};
        std::string from = "A a";
        if (join) {
            aliases.push_back({"b", 'B'});
            from += Random() % 2 ? " JOIN B b ON b.A_ID = a.ID" : " LEFT JOIN B b ON b.A_ID = a.ID";
        }
        const std::string where = Random() % 5 ? " WHERE " + Condition(Random, aliases) : "";
        switch (Random() % 4) {
            case 0: {  // grouped aggregates
                const std::string key = Random() % 2 ? "a.K" : "a.S";
                const std::vector<std::string> aggregates =
                    join ? std::vector<std::string>{"SUM(b.V)", "MIN(b.V)", "MAX(b.V)"}
                         : std::vector<std::string>{"SUM(a.ID)", "MIN(a.F)", "MAX(a.S)"};
                std::string list = key + ", COUNT(*)", liteList = list;
                for (const std::string& aggregate : aggregates) {
                    list += ", " + aggregate;
                    // A text column's empty aggregate is an empty text here.
                    liteList += ", COALESCE(" + aggregate + (aggregate.find(".S") != std::string::npos ? ", '')" : ", 0)");
                }
                list += join ? ", COUNT(b.V)" : ", COUNT(a.F)";
                liteList += join ? ", COUNT(b.V)" : ", COUNT(a.F)";
                s.Sql = "SELECT " + list + " FROM " + from + where + " GROUP BY " + key;
                s.LiteSql = "SELECT " + liteList + " FROM " + from + where + " GROUP BY " + key;
                break;
            }
            case 1:  // distinct values
                s.Sql = std::string("SELECT DISTINCT ") + (Random() % 2 ? "a.K" : "a.S, a.K") + " FROM " + from + where;
                break;
            default: {  // plain rows, ordered by the unique key when there is no join
                s.Sql = "SELECT a.ID, a.K, a.S, a.F" + std::string(join ? ", b.ID, b.V" : "") + " FROM " + from + where;
                if (!join) {
                    s.Sql += std::string(" ORDER BY a.ID") + (Random() % 2 ? " DESC" : "");
                    s.Ordered = true;
                }
            }
        }
        return s;
    }

    Rows Ostra(const std::string& Sql) {
        auto query = MakeQuery(*DataBase, Sql);
        query->Open();
        Rows rows;
        for (; !query->Eof(); query->Next()) {
            std::vector<std::string> cells;
            for (int i = 0; i < query->Fields().Count(); ++i) cells.push_back(CellText(query->Fields()[i]));
            rows.push_back(Row(cells));
        }
        return rows;
    }

    Rows Sqlite(const std::string& Sql) {
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(Lite, Sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(Lite);
        Rows rows;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<std::string> cells;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto* text = sqlite3_column_text(statement, i);
                cells.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            rows.push_back(Row(cells));
        }
        sqlite3_finalize(statement);
        return rows;
    }

    // Fills the tables from Seed and compares Count generated statements; false after the first
    // difference (reported with the seed and the statement).
    bool RunSeed(uint32_t Seed, int Count) {
        std::mt19937 random(Seed);
        Fill(random, 40, 60);
        for (int i = 0; i < Count; ++i) {
            const TStatement statement = Generate(random);
            Rows ostra;
            try {
                ostra = Ostra(statement.Sql);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "seed " << Seed << ": " << statement.Sql << "\n  " << e.what();
                return false;
            }
            Rows lite = Sqlite(statement.LiteSql.empty() ? statement.Sql : statement.LiteSql);
            if (!statement.Ordered) {
                std::sort(ostra.begin(), ostra.end());
                std::sort(lite.begin(), lite.end());
            }
            if (ostra != lite) {
                std::string a, b;
                for (const auto& r : ostra) a += "\n    " + r;
                for (const auto& r : lite) b += "\n    " + r;
                ADD_FAILURE() << "seed " << Seed << ": " << statement.Sql << "\n  Ostra:" << a << "\n  SQLite:" << b;
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<TTestDataBase> DataBase;
    sqlite3* Lite = nullptr;
};

int QueriesPerSeed() {
    const char* text = std::getenv("OSTRA_SQL_DIFF_QUERIES");
    return text && std::atoi(text) > 0 ? std::atoi(text) : 150;
}

TEST_F(SQLDifferential, FixedSeed) { RunSeed(20261211, QueriesPerSeed()); }

TEST_F(SQLDifferential, SeedFromTheEnvironment) {
    const char* text = std::getenv("OSTRA_SQL_DIFF_SEED");
    if (!text) GTEST_SKIP() << "OSTRA_SQL_DIFF_SEED is not set";
    RunSeed(uint32_t(std::strtoul(text, nullptr, 10)), QueriesPerSeed());
}

}  // namespace
}  // namespace ostra::componentstest
