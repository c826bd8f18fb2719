// The uninstaller's window on the offscreen platform: its caption and components, the window
// without a product (only "&Close" works), a removal that ticks every step and terminates, and a
// removal that fails part-way.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "host/UIServices.h"
#include "host/ui/tests/support/OffscreenApp.h"
#include "installer/library/WinFileSystem.h"
#include "installer/library/routines_Registry.h"
#include "installer/library/routines_UninstallRecord.h"
#include "installer/library/tests/support/TestMachine.h"
#include "platform/Registry.h"
#include "uninstaller/program/UninstallForm.h"
#include "uninstaller/tests/support/UninstallFixture.h"

using namespace ostra;
using namespace ostra::test;

namespace {

const std::string Program = "C:\\Program Files\\Ostra\\uninstall.exe";

std::vector<bool> Visible(const TForm1& form) {
    std::vector<bool> out;
    for (int step = rsAliases; step <= rsRegistry; ++step) out.push_back(!form.StepBox(TRemovalStep(step))->isHidden());
    return out;
}

std::vector<bool> Ticked(const TForm1& form) {
    std::vector<bool> out;
    for (int step = rsAliases; step <= rsRegistry; ++step) out.push_back(form.StepBox(TRemovalStep(step))->isChecked());
    return out;
}

}  // namespace

TEST(UninstallForm, TheCaptionNamesTheProductAndTheStepsWaitHidden) {
    OffscreenApp();
    TForm1 form({"Ostra", "Database", "Engine"}, Program);
    EXPECT_EQ(form.windowTitle(), "Remove Ostra Database Engine");
    EXPECT_EQ(form.Uninstaller()->RecordKey(), "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Database Engine");
    EXPECT_EQ(form.size(), QSize(469, 328));
    EXPECT_TRUE(form.StartBtn->isEnabled());
    EXPECT_EQ(form.StartBtn->text(), "&Start");
    EXPECT_EQ(form.findChild<QPushButton*>("CloseBtn"), form.CloseBtn);
    EXPECT_EQ(Visible(form), std::vector<bool>(6, false));
    for (int step = rsAliases; step <= rsRegistry; ++step) EXPECT_FALSE(form.StepBox(TRemovalStep(step))->isEnabled());
    EXPECT_EQ(form.findChild<QLabel*>("Label2")->text(), "INI file entries");
    EXPECT_EQ(form.StepBox(rsActiveX)->geometry().topLeft(), QPoint(144, 102));
    EXPECT_TRUE(form.ProgressBar1->isHidden());
    EXPECT_TRUE(form.Label1->text().contains("<u>S</u>tart"));
}

TEST(UninstallForm, WithoutAProductOnlyCloseWorks) {
    OffscreenApp();
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    TForm1 form({}, Program);
    EXPECT_EQ(form.windowTitle(), "Uninstall program");
    EXPECT_FALSE(form.StartBtn->isEnabled());
    EXPECT_EQ(form.Uninstaller(), nullptr);
    ASSERT_EQ(ui.Exceptions().size(), 1u);
    EXPECT_EQ(ui.Exceptions()[0].Message, "Please remove this software from the Add/Remove Programs from the Control Panel");
    form.show();
    form.StartBtn->click();
    EXPECT_FALSE(form.Terminated());
    form.CloseBtn->click();
    EXPECT_FALSE(form.isVisible());
}

TEST(UninstallForm, StartRemovesTheProductAndTicksEveryStep) {
    OffscreenApp();
    TestMachine machine;
    const std::string record = UninstallRecordKey("Ostra");
    ASSERT_TRUE(PutWinFile(Program, "program"));
    InstallFile(record, "C:\\Program Files\\Ostra\\readme.txt");
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    TForm1 form({"Ostra"}, Program);
    form.show();
    form.StartBtn->click();
    EXPECT_FALSE(form.StartBtn->isEnabled());
    EXPECT_EQ(Visible(form), std::vector<bool>(6, true));
    EXPECT_EQ(Ticked(form), std::vector<bool>(6, true));
    EXPECT_TRUE(form.ProgressBar1->isHidden());
    EXPECT_TRUE(form.Terminated());
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].Msg, "Ostra has finished removing itself");
    EXPECT_FALSE(WinFileExists("C:\\Program Files\\Ostra\\readme.txt"));
    EXPECT_FALSE(WinFileExists(Program));
    EXPECT_EQ(MachineKeyText(record), "");
}

TEST(UninstallForm, AFailedStepEndsTheRemovalThere) {
    OffscreenApp();
    TestMachine machine;
    const std::string record = UninstallRecordKey("Ostra");
    InstallFile(record, "C:\\WINDOWS\\system32\\shared.dll", 2);
    THeadlessUIServices ui;
    TUIServicesScope scope(ui);
    TForm1 form({"Ostra"}, Program);
    form.show();
    {
        platform::ScopedRegistryFaultHook hook([](platform::RegistryOp op, int, const std::string& path, const std::string&) -> long {
            return op == platform::RegistryOp::SetValue && path.find("SharedDLLs") != std::string::npos ? platform::regIoFailed
                                                                                                        : platform::regOk;
        });
        form.StartBtn->click();
    }
    ASSERT_EQ(ui.Exceptions().size(), 1u);
    EXPECT_EQ(ui.Exceptions()[0].Message, SharedDllsKey);
    EXPECT_EQ(Visible(form), (std::vector<bool>{true, true, true, false, false, false}));
    EXPECT_EQ(Ticked(form), (std::vector<bool>{true, true, false, false, false, false}));
    EXPECT_TRUE(form.ProgressBar1->isHidden());
    EXPECT_FALSE(form.StartBtn->isEnabled());
    EXPECT_FALSE(form.Terminated());
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_NE(MachineKeyText(record), "");
}
