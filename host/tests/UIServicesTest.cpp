// The user-interface services: the headless default's answers and records, scripting, and the
// exception handler behind TDataSet::InternalHandleException.
#include <gtest/gtest.h>

#include "host/Exceptions.h"
#include "host/Object.h"
#include "host/UIServices.h"

namespace ostra::test {
namespace {

TEST(UIServices, HeadlessDialogsAnswerWithTheFirstOfferedButtonOrTheScript) {
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    EXPECT_EQ(MessageDlg("Saved", mtInformation, {mbOK}), mrOk);
    EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, {mbYes, mbNo}), mrYes);
    EXPECT_EQ(MessageDlg("Retry?", mtError, {mbAbort, mbRetry, mbIgnore}), mrAbort);
    ui.ScriptAnswer(mrNo);
    EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, {mbYes, mbNo}), mrNo);
    ASSERT_EQ(ui.Messages().size(), 4u);
    EXPECT_EQ(ui.Messages()[3].Msg, "Save changes?");
    EXPECT_EQ(ui.Messages()[3].DlgType, mtConfirmation);
    EXPECT_EQ(ui.Messages()[3].Result, mrNo);
    ui.ClearLog();
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(UIServices, TheExceptionHandlerRecordsAllButAborts) {
    THeadlessUIServices ui;
    {
        TUIServicesScope scope(ui);
        EXPECT_EQ(&UIServices(), &ui);
        TObject sender;
        try {
            throw EDatabaseError("broken");
        } catch (...) {
            ApplicationHandleException(&sender);
        }
        try {
            throw EAbort("quiet");
        } catch (...) {
            ApplicationHandleException(&sender);
        }
        ApplicationHandleException(&sender);  // no exception in flight: nothing
        ASSERT_EQ(ui.Exceptions().size(), 1u);
        EXPECT_EQ(ui.Exceptions()[0].Message, "broken");
        EXPECT_EQ(ui.Exceptions()[0].Sender, &sender);
    }
    EXPECT_NE(&UIServices(), &ui) << "the scope restores the previous services";
}

}  // namespace
}  // namespace ostra::test
