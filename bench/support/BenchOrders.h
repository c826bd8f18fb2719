// BenchOrders: what the benchmarks of the orders table share: the Ostra table and its rows (the
// same in both engines),
// the best wall time of each workload per engine, and the table of Ostra/SQLite ratios printed
// after the runs.
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqDataSet.h"
#include "host/db/FieldDefs.h"
#include "host/db/IndexDefs.h"

namespace ostra::bench {

// Creates the empty table "Orders" in DataBase: ID (primary key), CUSTOMER (non-unique index
// ixCustomer), NAME of 40 characters, AMOUNT, ODATE.
inline void CreateOrdersTable(TOrqDataBase* DataBase) {
    TOrqDataSet creator(nullptr);
    creator.SetDataBase(DataBase);
    creator.SetTableName("Orders");
    TFieldDefs fields(nullptr);
    fields.Add("ID", ftInteger);
    fields.Add("CUSTOMER", ftInteger);
    fields.Add("NAME", ftString, 40);
    fields.Add("AMOUNT", ftFloat);
    fields.Add("ODATE", ftDateTime);
    TIndexDefs indexes(nullptr);
    indexes.Add("PK", "ID", TIndexOptions{ixPrimary, ixUnique});
    indexes.Add("ixCustomer", "CUSTOMER", {});
    creator.SetTableDef(false, fields, indexes);
    creator.InternalCreateTable();
}

// The row values of order ID.
inline double OrderAmount(int ID) { return ID * 1.25; }
inline double OrderDate(int ID) { return 45000.0 + ID % 365; }
inline std::string OrderName(int ID) {
    std::string name = "Customer order " + std::to_string(ID) + " of the spring campaign";
    name.resize(40, '.');
    return name;
}

// Seconds per workload and engine.
inline std::map<std::string, std::map<std::string, double>>& Times() {
    static std::map<std::string, std::map<std::string, double>> times;
    return times;
}

// Runs Work once per iteration, reports its wall time as the iteration's and keeps the best.
template <class TWork>
void Measure(benchmark::State& State, const std::string& Workload, const std::string& Engine, const TWork& Work) {
    double best = 1e300;
    for (auto _ : State) {
        const auto start = std::chrono::steady_clock::now();
        Work();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        State.SetIterationTime(seconds);
        best = std::min(best, seconds);
    }
    Times()[Workload][Engine] = best;
}

// One line per workload measured on both engines: the times and Ostra / SQLite.
inline void PrintRatios(std::initializer_list<const char*> Workloads) {
    std::printf("\n%-22s %12s %12s %14s\n", "workload", "Ostra ms", "SQLite ms", "Ostra/SQLite");
    for (const char* workload : Workloads) {
        auto& times = Times()[workload];
        if (!times.count("Ostra") || !times.count("SQLite")) continue;
        std::printf("%-22s %12.1f %12.1f %14.2f\n", workload, times["Ostra"] * 1e3, times["SQLite"] * 1e3,
                    times["Ostra"] / times["SQLite"]);
    }
}

}  // namespace ostra::bench
