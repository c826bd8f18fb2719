// orqJoinTestModel: the provider tree and the nested-loop model of a join shape (see the header).
#include "orqJoinTestModel.h"

#include <algorithm>
#include <functional>

#include "engine/sql/tests/support/TestTableFields.h"
#include "engine/storage/orqCommon.h"
#include "host/Collation.h"
#include "host/Exceptions.h"

namespace ostra::componentstest {

TJoinShapePtr Leaf(int Table, const std::string& Select) {
    auto shape = std::make_shared<TJoinShape>();
    shape->Table = Table;
    shape->Select = Select;
    return shape;
}

TJoinShapePtr Join(TOrqJoinType Type, TJoinShapePtr Outer, TJoinShapePtr Inner, const std::string& On) {
    auto shape = std::make_shared<TJoinShape>();
    shape->Type = Type;
    shape->On = On;
    shape->Outer = std::move(Outer);
    shape->Inner = std::move(Inner);
    return shape;
}

std::string JoinTypeName(TOrqJoinType Type) {
    static const char* const names[] = {"none", "cross", "union", "inner", "left", "right", "full"};
    return names[Type];
}

int TJoinWorld::AddAlias(int Table, const std::string& Alias) {
    TJoinTable copy = FTables[size_t(Table)];
    copy.Alias = Alias;
    return AddTable(std::move(copy), false);
}

int TJoinWorld::AddTable(TJoinTable Table, bool Create) {
    if (Create) {
        CreateTable(FDataBase, Table.Name, Table.Fields, Table.Indexes, FMemory);
        auto cursor = OpenCursor(FDataBase, Table.Name, FMemory);
        for (const auto& row : Table.Rows) {
            std::vector<std::pair<std::string, Variant>> values;
            for (size_t i = 0; i < Table.Fields.size(); ++i) values.emplace_back(Table.Fields[i].Name, row[i]);
            Insert(*cursor, values);
        }
        cursor->DataSetClose();
    }
    std::vector<test::TestField> fields;
    for (const TFieldSpec& f : Table.Fields)
        fields.push_back({f.Name, f.Type, f.Type == ftString ? f.Size + 1 : DefaultFieldSize(f.Type)});
    TTableNameItem* item = FTableList.Add();
    item->SetTableName(Table.Name);
    item->SetCorrelationName(Table.Alias);
    item->SetMemory(FMemory);
    test::TTestTableFields list(fields);
    item->SetTableFields(&list);
    FTables.push_back(std::move(Table));
    return int(FTables.size()) - 1;
}

const TOrqExprNode* TJoinWorld::Parse(const std::string& Text) {
    if (Text.empty()) return nullptr;
    if (auto known = FParsed.find(Text); known != FParsed.end()) return known->second;
    FParses.push_back(std::make_unique<test::TExprParse>());
    test::TExprParse& parse = *FParses.back();
    parse.Parser.SetTableList(&FTableList);
    const bool parsed = parse.Parse(Text, TOrqParserOptions{opoExtSyntax});
    Assert(parsed, [&] { return "Cannot parse " + Text + ": " + parse.Parser.GetErrorMsg(); });
    FParsed[Text] = parse.Root();
    return parse.Root();
}

TOrqBaseJoinDataProvider* TJoinWorld::Build(TOrqJoinDataProviderMgr& Mgr, const TJoinShapePtr& Shape) {
    std::function<TOrqBaseJoinDataProvider*(const TJoinShape&)> build = [&](const TJoinShape& S) {
        if (S.Table >= 0) {
            const TJoinTable& table = FTables[size_t(S.Table)];
            TOrqNonJoinDataProvider* leaf = Mgr.GetNonJoinProvider(table.Name, table.Alias, FMemory);
            leaf->SetJoinSelectExprRoot(Parse(S.Select));
            return static_cast<TOrqBaseJoinDataProvider*>(leaf);
        }
        TOrqBaseJoinDataProvider* outer = build(*S.Outer);
        TOrqBaseJoinDataProvider* inner = build(*S.Inner);
        TOrqStdJoinDataProvider* join = Mgr.GetStdJoinProvider();
        join->SetProviderName(outer->ProviderName() + "." + inner->ProviderName());
        join->SetJoinType(S.Type);
        join->SetOuterProvider(outer);
        join->SetInnerProvider(inner);
        join->SetJoinExprRoot(Parse(S.On));
        return static_cast<TOrqBaseJoinDataProvider*>(join);
    };
    Mgr.Clear();
    Mgr.SetDatabase(&FDataBase);
    TOrqBaseJoinDataProvider* root = build(*Shape);
    Mgr.SetRootProvider(root);
    return root;
}

std::vector<std::string> TJoinWorld::Rows(TOrqJoinDataProviderMgr& Mgr, const std::string& Where) {
    Mgr.PrepareJoinExprEvaluator(Parse(Where));
    Mgr.OpenProviders();
    TOrqBaseJoinDataProvider* root = Mgr.RootProvider();
    TInternalFields& fields = *root->GetProviderFields();
    std::vector<std::string> rows;
    for (bool found = Mgr.FirstProviderRecord(); found; found = Mgr.NextProviderRecord()) {
        std::string row;
        for (int i = 0; i < fields.Count(); ++i)
            row += (i ? "|" : "") + test::ShowValue(root->GetDataAsVariant(fields.GetIndex(i)->FieldNo()));
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

namespace {

// One table's current row for the model's evaluator; row -1 reads as NULL.
class TModelSource : public TOrqExprDataProvider {
public:
    explicit TModelSource(const TJoinTable& Table) : FTable(Table) {
        for (size_t i = 0; i < Table.Fields.size(); ++i) {
            TInternalFieldItem* item = ProviderFields().Add();
            item->SetFieldName(Table.Fields[i].Name);
            item->SetDataType(Table.Fields[i].Type);
            item->SetFieldNo(int(i));
            item->SetFieldIndex(int(i));
        }
        SetDBStringCompare(DBANSICompareStrings);
    }
    Variant GetDataAsVariant(int FieldNo) override {
        return Row < 0 ? Null() : FTable.Rows[size_t(Row)][size_t(FieldNo)];
    }
    TInternalFieldItem* FindField(const TParserToken*, const std::string& Name) override {
        return ProviderFields().FindField(Name);
    }
    bool Names(const std::string& Name) const {
        return AnsiSameText(Name, FTable.Alias.empty() ? FTable.Name : FTable.Alias);
    }
    int Row = -1;

private:
    const TJoinTable& FTable;
};

// The model's row source: every table's current row; fields are always qualified.
class TModelRoot : public TOrqExprDataProvider {
public:
    TOrqExprDataProvider* FindProvider(const std::string& Name) override {
        for (auto& source : Sources)
            if (source->Names(Name)) return source.get();
        return nullptr;
    }
    std::vector<std::unique_ptr<TModelSource>> Sources;
};

// A joined row: the row number of each table (-1 for NULL).
using TModelRow = std::vector<int>;

}  // namespace

std::vector<std::string> TJoinWorld::ModelRows(const TJoinShapePtr& Shape, const std::string& Where) {
    TModelRoot root;
    for (const TJoinTable& table : FTables) root.Sources.push_back(std::make_unique<TModelSource>(table));
    auto holds = [&](const TModelRow& Row, const std::string& Text) {
        const TOrqExprNode* condition = Parse(Text);
        if (condition == nullptr) return true;
        for (size_t t = 0; t < Row.size(); ++t) root.Sources[t]->Row = Row[t];
        TExprEvaluator evaluator;
        evaluator.SetDBStringCompare(DBANSICompareStrings);
        evaluator.SetExcludeRelopNulls(true);
        evaluator.Prepare(&root, condition);
        return evaluator.Evaluate();
    };
    const TModelRow none(FTables.size(), -1);
    // The tables a tree holds, for NULL-extending its side.
    std::function<void(const TJoinShape&, std::vector<int>&)> tablesOf = [&](const TJoinShape& S, std::vector<int>& T) {
        if (S.Table >= 0) {
            T.push_back(S.Table);
            return;
        }
        tablesOf(*S.Outer, T);
        tablesOf(*S.Inner, T);
    };
    std::function<std::vector<TModelRow>(const TJoinShape&)> rowsOf = [&](const TJoinShape& S) {
        std::vector<TModelRow> result;
        if (S.Table >= 0) {
            for (int r = 0; r < int(FTables[size_t(S.Table)].Rows.size()); ++r) {
                TModelRow row = none;
                row[size_t(S.Table)] = r;
                if (holds(row, S.Select)) result.push_back(row);
            }
            return result;
        }
        const std::vector<TModelRow> outer = rowsOf(*S.Outer);
        const std::vector<TModelRow> inner = rowsOf(*S.Inner);
        auto merge = [](const TModelRow& A, const TModelRow& B) {
            TModelRow row = A;
            for (size_t t = 0; t < B.size(); ++t)
                if (B[t] >= 0) row[t] = B[t];
            return row;
        };
        if (S.Type == jtUnionJoin) {
            result = outer;
            result.insert(result.end(), inner.begin(), inner.end());
            return result;
        }
        std::vector<bool> innerMatched(inner.size(), false);
        for (const TModelRow& o : outer) {
            bool matched = false;
            for (size_t i = 0; i < inner.size(); ++i) {
                const TModelRow row = merge(o, inner[i]);
                if (S.Type != jtCrossJoin && !holds(row, S.On)) continue;
                matched = true;
                innerMatched[i] = true;
                result.push_back(row);
            }
            if (!matched && (S.Type == jtLeftOuterJoin || S.Type == jtFullOuterJoin)) result.push_back(o);
        }
        if (S.Type == jtRightOuterJoin || S.Type == jtFullOuterJoin)
            for (size_t i = 0; i < inner.size(); ++i)
                if (!innerMatched[i]) result.push_back(inner[i]);
        return result;
    };
    std::vector<int> order;
    tablesOf(*Shape, order);
    std::vector<std::string> rows;
    for (const TModelRow& row : rowsOf(*Shape)) {
        if (!holds(row, Where)) continue;
        std::string text;
        bool first = true;
        for (int t : order) {
            const TJoinTable& table = FTables[size_t(t)];
            for (size_t f = 0; f < table.Fields.size(); ++f) {
                text += (first ? "" : "|") + test::ShowValue(row[size_t(t)] < 0 ? Null() : table.Rows[size_t(row[size_t(t)])][f]);
                first = false;
            }
        }
        rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace ostra::componentstest
