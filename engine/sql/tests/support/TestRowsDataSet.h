// A read-only dataset over rows of Variants, for tests that need a host dataset (the result of
// a subquery). Columns are Integer, Float or String; a Null Variant is a null value.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "host/db/DataSet.h"
#include "host/db/Field.h"

namespace ostra::test {

struct TestColumn {
    std::string Name;
    TFieldType Type;  // ftInteger, ftFloat or ftString
    int Size = 0;     // characters of a string
};

class TRowsDataSet : public TDataSet {
public:
    TRowsDataSet(std::vector<TestColumn> Columns, std::vector<std::vector<Variant>> Rows)
        : TDataSet(nullptr), FColumns(std::move(Columns)), FRows(std::move(Rows)) {}
    ~TRowsDataSet() override {
        Destroying();
        Close();
    }
    void SetRows(std::vector<std::vector<Variant>> Rows) {
        Close();
        FRows = std::move(Rows);
    }

    bool GetFieldData(TField* Field, void* Buffer) override {
        const int row = RowOf(ActiveBuffer());
        if (row < 0 || row >= static_cast<int>(FRows.size())) return false;
        const Variant& v =
            FRows[static_cast<std::size_t>(row)][static_cast<std::size_t>(Field->FieldNo() - 1)];
        if (VarIsNull(v) || VarIsEmpty(v)) return false;
        if (Buffer == nullptr) return true;
        switch (Field->DataType()) {
            case ftInteger: {
                int32_t i = v.AsInteger();
                std::memcpy(Buffer, &i, sizeof i);
                break;
            }
            case ftFloat: {
                double d = v.AsDouble();
                std::memcpy(Buffer, &d, sizeof d);
                break;
            }
            default: {
                const std::string s = v.AsString();
                std::memcpy(Buffer, s.c_str(), s.size() + 1);
                break;
            }
        }
        return true;
    }

protected:
    struct Rec {
        int Row;
        TBookmarkFlag Flag;
    };
    static int RowOf(TRecordBuffer Buffer) { return Buffer ? reinterpret_cast<Rec*>(Buffer)->Row : -1; }

    TRecordBuffer AllocRecordBuffer() override {
        return reinterpret_cast<TRecordBuffer>(new Rec{-1, bfCurrent});
    }
    void FreeRecordBuffer(TRecordBuffer& Buffer) override {
        delete reinterpret_cast<Rec*>(Buffer);
        Buffer = nullptr;
    }
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override {
        return reinterpret_cast<Rec*>(Buffer)->Flag;
    }
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override {
        reinterpret_cast<Rec*>(Buffer)->Flag = Value;
    }
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override {
        const int n = static_cast<int>(FRows.size());
        if (GetMode == gmNext) {
            if (FCursor + 1 >= n) {
                FCursor = n;
                return grEOF;
            }
            ++FCursor;
        } else if (GetMode == gmPrior) {
            if (FCursor - 1 < 0) {
                FCursor = -1;
                return grBOF;
            }
            --FCursor;
        } else if (FCursor < 0 || FCursor >= n) {
            return grError;
        }
        *reinterpret_cast<Rec*>(Buffer) = Rec{FCursor, bfCurrent};
        return grOK;
    }
    void InternalFirst() override { FCursor = -1; }
    void InternalLast() override { FCursor = static_cast<int>(FRows.size()); }
    void InternalSetToRecord(TRecordBuffer Buffer) override { FCursor = RowOf(Buffer); }
    int GetRecordCount() override { return static_cast<int>(FRows.size()); }
    void InternalInitFieldDefs() override {
        FieldDefs().Clear();
        for (const TestColumn& c : FColumns) FieldDefs().Add(c.Name, c.Type, c.Type == ftString ? c.Size : 0);
    }
    void InternalOpen() override {
        InitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        FCursor = -1;
        FOpen = true;
    }
    void InternalClose() override {
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        FOpen = false;
    }
    bool IsCursorOpen() const override { return FOpen; }

private:
    std::vector<TestColumn> FColumns;
    std::vector<std::vector<Variant>> FRows;
    int FCursor = -1;
    bool FOpen = false;
};

}  // namespace ostra::test
