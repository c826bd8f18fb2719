// Helpers shared by the dataset framework's tests: a data link that records what it hears, and a
// standard table of people for a TVectorDataSet.
#pragma once
#include <string>
#include <vector>

#include "host/db/DataLink.h"
#include "host/db/tests/support/VectorDataSet.h"

namespace ostra::test {

// A data link that writes one line per notification into Log ("active 1", "record *",
// "record Name", "changed", "scrolled -1", "layout", "editing 1", "check", "update", "focus Name").
class TRecordingLink : public TDataLink {
public:
    std::vector<std::string> Log;
    // Lines logged since the last call.
    std::vector<std::string> Take();

protected:
    void ActiveChanged() override;
    void CheckBrowseMode() override;
    void DataSetChanged() override;
    void DataSetScrolled(int Distance) override;
    void EditingChanged() override;
    void FocusControl(TField* Field) override;
    void LayoutChanged() override;
    void RecordChanged(TField* Field) override;
    void UpdateData() override;
};

// Columns ID (Integer, required), Name (String 20), Amount (Float), Born (Date); rows i = 1..Count
// with ID i, Name "Name<i>", Amount i * 1.5 and Born 2000-01-<i mod 28 + 1>.
void AddPeople(TVectorDataSet& DataSet, int Count);

}  // namespace ostra::test
