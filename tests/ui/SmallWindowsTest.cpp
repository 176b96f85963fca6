#include "engine/JobPassword.h"
#include "support/ProgramFolderSetup.h"
#include "ui/frmAbout.h"
#include "ui/frmPassword.h"
#include "ui/frmSplash.h"

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

template <typename T = QLabel> T* Child(QWidget* window, const char* name) {
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// A program folder with the language files; message boxes go to the test host.
struct SmallWindows : ::testing::Test {
    void SetUp() override { PrepareProgramFolder(home); }
    void TearDown() override { ReleaseProgramFolder(); }
    TempHome home;
    TestHost host;
};

const std::string kPassword = " Grüße aus Köln 42 ";

TEST_F(SmallWindows, PasswordPromptComparesTheTypedTextByteForByte) {
    // clang-format off
    const struct { std::string typed; bool ok, result; } rows[] = {
        {kPassword, true, true}, {"Grüße aus Köln 42", true, false},
        {" grüße aus köln 42 ", true, false}, {kPassword, false, false}};
    // clang-format on
    for (const auto& row : rows) {
        frmPassword prompt(kPassword);
        prompt.show();
        Child<QLineEdit>(&prompt, "Text1")->setText(QString::fromStdString(row.typed));
        Child<QPushButton>(&prompt, row.ok ? "cmdOk" : "cmdCancel")->click();
        EXPECT_EQ(prompt.Result(), row.result) << row.typed;
        EXPECT_EQ(prompt.TypedText(), row.ok ? row.typed : "") << row.typed;
        EXPECT_FALSE(prompt.isVisible());
    }
}

TEST_F(SmallWindows, ProtectedJobsAskOnceAndLogTheOutcome) {
    clsBackup job;
    job.sName = "Photos";
    job.password = "   "; // blanks only protect nothing
    int asked = 0;
    const auto ask = [&](bool right) {
        return CheckJobPassword(
            job, right ? PasswordPurpose::Edit : PasswordPurpose::Delete,
            [&](const std::string& typed) { return ++asked, right && typed == kPassword; });
    };
    EXPECT_TRUE(ask(false));
    EXPECT_EQ(asked + host.activity.size(), 0u);

    job.password = kPassword;
    EXPECT_FALSE(ask(false));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Wrong password for deleting Photos!");
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(ask(true));
    for (const char* line :
         {"Requesting  password for deleting Photos...", "Wrong password for deleting Photos!",
          "Requesting for password for editing Photos ...", "Password OK for editing Photos!"})
        EXPECT_TRUE(host.Logged(line)) << line;
    EXPECT_EQ(asked, 2);
}

TEST_F(SmallWindows, AboutAndSplashShowTheVersionInEitherLanguage) {
    for (const char* language : {"english", "german"}) {
        gLanguageFile = LanguageFileFor(language);
        const bool german = language[0] == 'g';
        frmAbout about;
        EXPECT_EQ(Child(&about, "lblVersion")->text(), "Version " TIDEVAULT_PROJECT_VERSION);
        EXPECT_EQ(frmPassword("").windowTitle(), german ? "Kennwort" : "Password");

        frmSplash splash;
        int finished = 0;
        QEventLoop loop; // bounded, so a timer that never fires fails instead of hanging
        QObject::connect(&splash, &frmSplash::finished, [&] { ++finished, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        splash.SetInterval(1);
        splash.show();
        loop.exec();
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(Child(&splash, "lblCaption")->text(),
                  (german ? "Tidevault-Datensicherung, Revision " : "Tidevault backup, revision ") +
                      QString(TIDEVAULT_PROJECT_VERSION).section('.', 2));
    }
}

} // namespace
