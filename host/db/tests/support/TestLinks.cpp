// The recording link and the people table of the dataset framework's tests.
#include "host/db/tests/support/TestLinks.h"

#include "host/DateTime.h"
#include "host/SysUtils.h"
#include "host/db/Field.h"

namespace ostra::test {

std::vector<std::string> TRecordingLink::Take() {
    std::vector<std::string> taken;
    taken.swap(Log);
    return taken;
}

void TRecordingLink::ActiveChanged() { Log.push_back(std::string("active ") + (Active() ? "1" : "0")); }
void TRecordingLink::CheckBrowseMode() { Log.push_back("check"); }
void TRecordingLink::DataSetChanged() { Log.push_back("changed"); }
void TRecordingLink::DataSetScrolled(int Distance) { Log.push_back("scrolled " + IntToStr(Distance)); }
void TRecordingLink::EditingChanged() { Log.push_back(std::string("editing ") + (Editing() ? "1" : "0")); }
void TRecordingLink::FocusControl(TField* Field) { Log.push_back("focus " + (Field ? Field->FieldName() : "*")); }
void TRecordingLink::LayoutChanged() { Log.push_back("layout"); }
void TRecordingLink::RecordChanged(TField* Field) { Log.push_back("record " + (Field ? Field->FieldName() : "*")); }
void TRecordingLink::UpdateData() { Log.push_back("update"); }

void AddPeople(TVectorDataSet& DataSet, int Count) {
    DataSet.AddColumn("ID", ftInteger, 0, true);
    DataSet.AddColumn("Name", ftString, 20);
    DataSet.AddColumn("Amount", ftFloat);
    DataSet.AddColumn("Born", ftDate);
    for (int i = 1; i <= Count; ++i)
        DataSet.AppendRow({i, "Name" + IntToStr(i), i * 1.5, VarFromDateTime(EncodeDate(2000, 1, i % 28 + 1))});
}

}  // namespace ostra::test
