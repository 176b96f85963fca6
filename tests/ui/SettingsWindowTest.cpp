#include "core/Registry.h"
#include "engine/Startup.h"
#include "support/ProgramFolderSetup.h"
#include "support/StandInSystemctl.h"
#include "ui/DesktopHost.h"
#include "ui/frmSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace {

// Both language files and the stand-in systemctl; message boxes are recorded.
class SettingsWindow : public StandInSystemctl {
protected:
    void SetUp() override {
        StandInSystemctl::SetUp();
        PrepareProgramFolder(home);
        SetHost(&host);
        host.answerer = [this](const std::string& text, MsgButtons, MsgIcon icon) {
            boxes += text + (icon == MsgIcon::Critical ? "(critical)" : "");
            return MsgAnswer::Ok;
        };
    }
    void TearDown() override {
        SetHost(nullptr);
        ReleaseProgramFolder();
        StandInSystemctl::TearDown();
    }
    // With `on`: service and hidden start take it, the scheduler block the opposite.
    void Open(std::optional<bool> on = {}, const char* language = "") {
        window = std::make_unique<frmSettings>();
        window->show();
        for (const char* name : {"chkService", "chkHide", "Check1"})
            Box(name)->setChecked(on ? *on != (name[0] == 'C') : Box(name)->isChecked());
        window->findChild<QComboBox*>("Combo1")->setCurrentText(language);
    }
    QCheckBox* Box(const char* name) const { return window->findChild<QCheckBox*>(name); }
    // Scheduler block, hidden start, service and language: as shown, then as stored.
    std::string State() const {
        std::string text;
        for (const char* name : {"Check1", "chkHide", "chkService"})
            text += Box(name)->isChecked() ? "1," : "0,";
        text += window->findChild<QComboBox*>("Combo1")->currentText().toStdString() + ",";
        for (const char* name : {"blockSchedule", "HideWindowOnStart", "RunAsService", "Language"})
            text += GetRegSetting(kAppName, kGeneralSettings, name, "-") + ",";
        return text;
    }
    TempHome home;
    DesktopHost host;
    std::string boxes;
    std::unique_ptr<frmSettings> window;
};

TEST_F(SettingsWindow, OkStoresWhatIsShownCancelNothingAndTheServiceFollowsOnlyItsBox) {
    const std::tuple<int, bool, const char*, const char*, const char*> rows[] = {
        {0, true, "", "Tidevault service service installed!", "0,1,1,English,"},
        {0, true, "enable", "Tidevault service failed to install!(critical)", "0,1,0,English,"},
        {1, false, "disable", "Tidevault service failed to uninstall!(critical)", "1,0,1,English,"},
        {1, false, "", "Tidevault service uninstalled!", "1,0,0,English,"},
        {0, false, "", "", "1,0,0,German,"}};
    for (const auto& [runAs, on, failOn, messages, stored] : rows) {
        gRunAsService = runAs;
        FailOn(failOn);
        Open(on, stored[6] == 'G' ? "German" : "English");
        window->findChild<QPushButton*>("cmdOK")->click();
        EXPECT_EQ(std::exchange(boxes, ""), messages);
        EXPECT_EQ(State(), std::string(stored) + stored);
        EXPECT_EQ(TakeCalls().empty(), runAs == on) << stored;
        Open(); // the stored values, shown again
        EXPECT_EQ(State(), std::string(stored) + stored);
    }
    // German from now on; the stored name is matched whatever its case.
    SaveRegSetting(kAppName, kGeneralSettings, "Language", "gERMAN");
    Open();
    EXPECT_EQ(window->windowTitle().toStdString() + State(),
              "Programmeinstellungen1,0,0,German,1,0,0,gERMAN,");
    EXPECT_TRUE(Box("chkService")->toolTip().startsWith("Startet Tidevault"));
    EXPECT_EQ(GetMsg("strMsgFailInstall"), "%s konnte nicht installiert werden!");
    ::unlink(home.File("Languages").c_str()); // no languages: Cancel keeps, OK deletes
    Open(true);
    window->findChild<QPushButton*>("cmdCancel")->click();
    EXPECT_EQ(State() + TakeCalls() + boxes, "0,1,1,,1,0,0,gERMAN,");
    Open(false);
    window->findChild<QPushButton*>("cmdOK")->click();
    EXPECT_EQ(State(), "1,0,0,,1,0,0,-,");
}

} // namespace
