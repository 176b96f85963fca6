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

// A program folder with both language files and the stand-in systemctl; the
// desktop host records each message box, marking the critical ones.
class SettingsWindow : public StandInSystemctl {
protected:
    void SetUp() override {
        StandInSystemctl::SetUp();
        PrepareProgramFolder(home);
        gBlockSchedule = true;
        gRunAsService = 0;
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
    // A fresh window, its service box and hidden start set to `on`, the
    // scheduler block to the opposite, and `language` chosen.
    void Open(std::optional<bool> on = {}, const char* language = "") {
        window = std::make_unique<frmSettings>();
        window->show();
        for (const char* name : {"chkService", "chkHide", "Check1"})
            if (on)
                Box(name)->setChecked(*on != (name[0] == 'C'));
        Combo()->setCurrentText(language);
    }
    QComboBox* Combo() const { return window->findChild<QComboBox*>("Combo1"); }
    QCheckBox* Box(const char* name) const { return window->findChild<QCheckBox*>(name); }
    void Click(const char* button) const { window->findChild<QPushButton*>(button)->click(); }
    // "blockSchedule,HideWindowOnStart,RunAsService,Language" as stored.
    static std::string Stored() {
        std::string text;
        for (const char* name : {"blockSchedule", "HideWindowOnStart", "RunAsService", "Language"})
            text += GetRegSetting(kAppName, kGeneralSettings, name, "-") + ",";
        return text;
    }

    TempHome home;
    DesktopHost host;
    std::string boxes;
    std::unique_ptr<frmSettings> window;
};

TEST_F(SettingsWindow, ShowsTheStoredValuesAndSelectsTheLanguageWhateverItsCase) {
    SaveRegSetting(kAppName, kGeneralSettings, "Language", "GERMAN");
    SaveRegSetting(kAppName, kGeneralSettings, "HideWindowOnStart", "1");
    gBlockSchedule = false;
    gRunAsService = 1;
    Open();
    ASSERT_EQ(Combo()->count(), 2);
    EXPECT_EQ(Combo()->itemText(0) + Combo()->currentText(), "EnglishGerman");
    EXPECT_TRUE(Box("chkHide")->isChecked() && Box("chkService")->isChecked());
    EXPECT_FALSE(Box("Check1")->isChecked());
    SaveRegSetting(kAppName, kGeneralSettings, "Language", "klingon");
    Open();
    EXPECT_EQ(Combo()->currentIndex(), -1);
}

TEST_F(SettingsWindow, OkStoresWhatIsShownAndChangesTheServiceOnlyWhenItsBoxChanged) {
    const struct {
        int runAs;
        bool on;
        const char* failOn;
        const char* boxes;
        const char* stored;
    } rows[] = {
        {0, false, "", "", "1,0,0,German,"},
        {1, true, "", "", "0,1,1,English,"},
        {0, true, "", "Tidevault service service installed!", "0,1,1,English,"},
        {0, true, "enable", "Tidevault service failed to install!(critical)", "0,1,0,English,"},
        {1, false, "disable", "Tidevault service failed to uninstall!(critical)", "1,0,1,English,"},
        {1, false, "", "Tidevault service uninstalled!", "1,0,0,English,"}};
    for (const auto& row : rows) {
        gRunAsService = row.runAs;
        FailOn(row.failOn);
        boxes.clear();
        Open(row.on, row.stored[6] == 'G' ? "German" : "English");
        Click("cmdOK");
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(boxes, row.boxes);
        EXPECT_EQ(Stored(), row.stored);
        EXPECT_EQ(gRunAsService, row.stored[4] - '0');
        EXPECT_EQ(Box("chkService")->isChecked(), gRunAsService == 1);
        EXPECT_EQ(gBlockSchedule, !row.on);
        EXPECT_EQ(TakeCalls().empty(), row.runAs == row.on) << row.stored;
    }
}

TEST_F(SettingsWindow, WithoutLanguageFilesCancelStoresNothingAndOkDeletesTheLanguage) {
    SaveRegSetting(kAppName, kGeneralSettings, "Language", "german");
    ::unlink(home.File("Languages").c_str());
    Open(true);
    EXPECT_EQ(Combo()->count(), 0);
    Click("cmdCancel");
    EXPECT_EQ(Stored(), "-,-,-,german,");
    EXPECT_EQ(TakeCalls() + boxes, "");
    Open();
    Click("cmdOK");
    EXPECT_EQ(Stored(), "1,0,0,-,");
}

TEST_F(SettingsWindow, ChoosingGermanTurnsTheNextWindowAndTheMessagesGerman) {
    Open(false, "German");
    Click("cmdOK");
    Open();
    EXPECT_EQ(window->windowTitle(), "Programmeinstellungen");
    EXPECT_EQ(Box("chkHide")->text(), "Fenster beim Start &verbergen");
    EXPECT_TRUE(Box("chkService")->toolTip().startsWith("Startet Tidevault"));
    EXPECT_EQ(GetMsg("strMsgFailInstall"), "%s konnte nicht installiert werden!");
}

} // namespace
