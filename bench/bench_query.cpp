// Queries through the query component and SQL text beside SQLite running the same statements
// (rollback journal, synchronous=FULL), each engine in a child process of its own:
//   orders (ROWS rows, 200,000 by default or OSTRA_BENCH_ROWS: integer primary key, customer with
//   an index, a 40-character name, a float amount, a date) and customers (10,000 rows: id, region).
// Workloads, in order, on one database per engine:
//   insert        every row of both tables by a prepared parameterised INSERT, one transaction
//   pk autocommit ROWS primary-key SELECTs with a parameter, each on its own
//   pk in txn     the same inside one transaction
//   between       WHERE customer BETWEEN 100 AND 199 (about 2% of the orders)
//   amount > 900  about 10% of the orders
//   group         SELECT customer, COUNT(*), SUM(amount) FROM orders GROUP BY customer
//   join group    the orders joined with their customers, counted and summed per region
//   durable       1,000 single-row INSERTs, each committed to disk
// Every SELECT reads all of its rows. Printed: one line per workload with both times and
// Ostra/SQLite, then the peak resident memory of each child.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/BenchFolder.h"
#include "bench/support/BenchOrders.h"
#include "engine/components/orqDataBase.h"
#include "engine/components/orqSQL.h"
#include "host/db/Field.h"

namespace {

using namespace ostra;
using Clock = std::chrono::steady_clock;

constexpr int Customers = 10000;
constexpr int Regions = 8;
constexpr int DurableInserts = 1000;

const char* const Workloads[] = {"insert",        "pk autocommit", "pk in txn",  "between",
                                 "amount > 900",  "group",         "join group", "durable"};
constexpr int WorkloadCount = int(std::size(Workloads));

// What a child reports: the seconds of each workload, its peak memory and a checksum of the rows
// read (the two engines must agree).
struct TReport {
    std::array<double, WorkloadCount> Seconds{};
    long PeakKiB = 0;
    long long RowsRead = 0;
    bool Ok = false;
};

int Rows() {
    const char* text = std::getenv("OSTRA_BENCH_ROWS");
    const int rows = text ? std::atoi(text) : 0;
    return rows > 0 ? rows : 200000;
}

int CustomerOf(int ID) { return int(int64_t(ID) * 7919 % Customers); }
// Spread over 0 .. 999.99, so about a tenth of the orders lie above 900.
double AmountOf(int ID) { return double(int64_t(ID) * 104729 % 100000) / 100.0; }
std::string RegionOf(int Customer) { return "region " + std::to_string(Customer % Regions); }

// The SELECT workloads both sides run as they stand, timed into Seconds[3..6].
constexpr int SelectWorkloads = 4;
constexpr const char* CSelectWorkloads[SelectWorkloads] = {
    "SELECT * FROM orders WHERE customer BETWEEN 100 AND 199",
    "SELECT * FROM orders WHERE amount > 900",
    "SELECT customer, COUNT(*), SUM(amount) FROM orders GROUP BY customer",
    "SELECT c.region, COUNT(*), SUM(o.amount) FROM orders o JOIN customers c ON o.customer = c.id "
    "GROUP BY c.region",
};

double Time(const std::function<void()>& Work) {
    const auto start = Clock::now();
    Work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs Body in a child process and returns what it reported.
TReport InChild(const std::function<void(TReport&)>& Body) {
    int channel[2];
    TReport report;
    if (pipe(channel) != 0) return report;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        TReport own;
        try {
            Body(own);
            own.Ok = true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_query: %s\n", e.what());
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        own.PeakKiB = usage.ru_maxrss;
        if (write(channel[1], &own, sizeof own) != sizeof own) _exit(1);
        _exit(0);
    }
    close(channel[1]);
    if (read(channel[0], &report, sizeof report) != sizeof report) report.Ok = false;
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return report;
}

// ----- Ostra, through the query component

struct TOstraRun {
    TOrqDataBase DataBase{nullptr};
    TOrqQuery Query{nullptr};
    TReport& Report;

    TOstraRun(const std::string& Path, TReport& AReport) : Report(AReport) {
        DataBase.SetDataBaseName(Path);
        DataBase.CreateDatabase();
        DataBase.SetConnected(true);
        Query.SetDatabase(&DataBase);
    }
    void Exec(const std::string& Sql) {
        Query.SQL()->SetText(Sql);
        Query.ExecSQL();
    }
    // Opens Sql and reads every row; the number of rows.
    long long Select(TOrqQuery& Q) {
        Q.Open();
        long long rows = 0;
        const int fields = Q.Fields().Count();
        for (; !Q.Eof(); Q.Next()) {
            for (int i = 0; i < fields; ++i) Q.Fields()[i]->AsVariant();
            ++rows;
        }
        Q.Close();
        return rows;
    }
    long long Select(const std::string& Sql) {
        Query.SQL()->SetText(Sql);
        return Select(Query);
    }

    // The orders From..To through Insert, one prepared parameterised INSERT.
    void InsertOrders(TOrqQuery& Insert, int From, int To) {
        Insert.SQL()->SetText("INSERT INTO orders VALUES (:id, :customer, :name, :amount, :odate)");
        Insert.Prepare();
        for (int id = From; id <= To; ++id) {
            Insert.Params()[0]->SetAsInteger(id);
            Insert.Params()[1]->SetAsInteger(CustomerOf(id));
            Insert.Params()[2]->SetAsString(bench::OrderName(id));
            Insert.Params()[3]->SetAsFloat(AmountOf(id));
            Insert.Params()[4]->SetAsDate(bench::OrderDate(id));
            Insert.ExecSQL();
        }
    }

    void Run() {
        const int rows = Rows();
        Exec("CREATE TABLE orders (id INTEGER, customer INTEGER, name VARCHAR(40), amount FLOAT, odate DATE, "
             "PRIMARY KEY (id))");
        Exec("CREATE INDEX ixCustomer ON orders (customer)");
        Exec("CREATE TABLE customers (id INTEGER, region VARCHAR(10), PRIMARY KEY (id))");
        Report.Seconds[0] = Time([&] {
            DataBase.StartTransaction();
            TOrqQuery insert(nullptr);
            insert.SetDatabase(&DataBase);
            InsertOrders(insert, 1, rows);
            insert.SQL()->SetText("INSERT INTO customers VALUES (:id, :region)");
            insert.Prepare();
            for (int id = 0; id < Customers; ++id) {
                insert.Params()[0]->SetAsInteger(id);
                insert.Params()[1]->SetAsString(RegionOf(id));
                insert.ExecSQL();
            }
            DataBase.Commit();
        });
        TOrqQuery byKey(nullptr);
        byKey.SetDatabase(&DataBase);
        byKey.SQL()->SetText("SELECT * FROM orders WHERE id = :id");
        auto keys = [&] {
            for (int i = 0; i < rows; ++i) {
                byKey.Params()[0]->SetAsInteger(1 + int(int64_t(i) * 7 % rows));
                Report.RowsRead += Select(byKey);
            }
        };
        Report.Seconds[1] = Time(keys);
        Report.Seconds[2] = Time([&] {
            DataBase.StartTransaction();
            keys();
            DataBase.Commit();
        });
        for (int k = 0; k < SelectWorkloads; ++k)
            Report.Seconds[3 + k] = Time([&] { Report.RowsRead += Select(CSelectWorkloads[k]); });
        Report.Seconds[7] = Time([&] {
            TOrqQuery insert(nullptr);
            insert.SetDatabase(&DataBase);
            InsertOrders(insert, rows + 1, rows + DurableInserts);
        });
    }
};

// ----- SQLite

struct TSqliteRun {
    sqlite3* Db = nullptr;
    TReport& Report;

    TSqliteRun(const std::string& Path, TReport& AReport) : Report(AReport) {
        sqlite3_open(Path.c_str(), &Db);
        Exec("PRAGMA page_size=4096; PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL");
    }
    ~TSqliteRun() { sqlite3_close(Db); }
    void Exec(const std::string& Sql) {
        char* error = nullptr;
        if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string text = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error("sqlite: " + text);
        }
    }
    sqlite3_stmt* Prepare(const char* Sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(Db, Sql, -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(Db));
        return statement;
    }
    // Steps Statement to its end, reading every column; the number of rows.
    long long Drain(sqlite3_stmt* Statement) {
        long long rows = 0;
        const int columns = sqlite3_column_count(Statement);
        while (sqlite3_step(Statement) == SQLITE_ROW) {
            for (int i = 0; i < columns; ++i) sqlite3_column_text(Statement, i);
            ++rows;
        }
        sqlite3_reset(Statement);
        return rows;
    }
    long long Select(const char* Sql) {
        sqlite3_stmt* statement = Prepare(Sql);
        const long long rows = Drain(statement);
        sqlite3_finalize(statement);
        return rows;
    }
    void InsertOrders(sqlite3_stmt* Insert, int From, int To) {
        for (int id = From; id <= To; ++id) {
            const std::string name = bench::OrderName(id);
            sqlite3_bind_int(Insert, 1, id);
            sqlite3_bind_int(Insert, 2, CustomerOf(id));
            sqlite3_bind_text(Insert, 3, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(Insert, 4, AmountOf(id));
            sqlite3_bind_double(Insert, 5, bench::OrderDate(id));
            if (sqlite3_step(Insert) != SQLITE_DONE) throw std::runtime_error("sqlite: insert failed");
            sqlite3_reset(Insert);
        }
    }

    void Run() {
        const int rows = Rows();
        Exec("CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INTEGER, name VARCHAR(40), amount FLOAT, "
             "odate DATE)");
        Exec("CREATE INDEX ixCustomer ON orders (customer)");
        Exec("CREATE TABLE customers (id INTEGER PRIMARY KEY, region VARCHAR(10))");
        sqlite3_stmt* insert = Prepare("INSERT INTO orders VALUES (?, ?, ?, ?, ?)");
        Report.Seconds[0] = Time([&] {
            Exec("BEGIN");
            InsertOrders(insert, 1, rows);
            sqlite3_stmt* customers = Prepare("INSERT INTO customers VALUES (?, ?)");
            for (int id = 0; id < Customers; ++id) {
                const std::string region = RegionOf(id);
                sqlite3_bind_int(customers, 1, id);
                sqlite3_bind_text(customers, 2, region.c_str(), int(region.size()), SQLITE_TRANSIENT);
                sqlite3_step(customers);
                sqlite3_reset(customers);
            }
            sqlite3_finalize(customers);
            Exec("COMMIT");
        });
        sqlite3_stmt* byKey = Prepare("SELECT * FROM orders WHERE id = ?");
        auto keys = [&] {
            for (int i = 0; i < rows; ++i) {
                sqlite3_bind_int(byKey, 1, 1 + int(int64_t(i) * 7 % rows));
                Report.RowsRead += Drain(byKey);
            }
        };
        Report.Seconds[1] = Time(keys);
        Report.Seconds[2] = Time([&] {
            Exec("BEGIN");
            keys();
            Exec("COMMIT");
        });
        sqlite3_finalize(byKey);
        for (int k = 0; k < SelectWorkloads; ++k)
            Report.Seconds[3 + k] = Time([&] { Report.RowsRead += Select(CSelectWorkloads[k]); });
        Report.Seconds[7] = Time([&] { InsertOrders(insert, rows + 1, rows + DurableInserts); });
        sqlite3_finalize(insert);
    }
};

}  // namespace

int main() {
    bench::TBenchFolder folder("ostra-bench-query");
    const int rows = Rows();
    const TReport ostra = InChild([&](TReport& Report) { TOstraRun(folder.File("query.orq"), Report).Run(); });
    const TReport sqlite = InChild([&](TReport& Report) { TSqliteRun(folder.File("query.sqlite"), Report).Run(); });
    std::printf("Queries over %d orders and %d customers\n", rows, Customers);
    std::printf("%-14s %12s %12s %14s\n", "workload", "Ostra ms", "SQLite ms", "Ostra/SQLite");
    for (int i = 0; i < WorkloadCount; ++i)
        std::printf("%-14s %12.1f %12.1f %14.2f\n", Workloads[i], ostra.Seconds[size_t(i)] * 1e3,
                    sqlite.Seconds[size_t(i)] * 1e3,
                    sqlite.Seconds[size_t(i)] > 0 ? ostra.Seconds[size_t(i)] / sqlite.Seconds[size_t(i)] : 0.0);
    std::printf("peak memory: Ostra %ld MiB, SQLite %ld MiB\n", ostra.PeakKiB / 1024, sqlite.PeakKiB / 1024);
    if (!ostra.Ok || !sqlite.Ok) {
        std::printf("a run failed (Ostra %s, SQLite %s)\n", ostra.Ok ? "ok" : "failed", sqlite.Ok ? "ok" : "failed");
        return 1;
    }
    if (ostra.RowsRead != sqlite.RowsRead)
        std::printf("the engines read different row counts: Ostra %lld, SQLite %lld\n", ostra.RowsRead,
                    sqlite.RowsRead);
    return 0;
}
