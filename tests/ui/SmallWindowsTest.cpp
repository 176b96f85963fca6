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
class SmallWindows : public ::testing::Test {
protected:
    void SetUp() override { PrepareProgramFolder(home); }
    void TearDown() override { ReleaseProgramFolder(); }
    TempHome home;
    TestHost host;
};

const std::string kPassword = " Grüße aus Köln 42 ";

TEST_F(SmallWindows, PasswordPromptComparesTheTypedTextByteForByte) {
    const struct {
        std::string typed;
        const char* button;
        bool result;
        std::string confirmed;
    } rows[] = {{kPassword, "cmdOk", true, kPassword},
                {"Grüße aus Köln 42", "cmdOk", false, "Grüße aus Köln 42"},
                {" grüße aus köln 42 ", "cmdOk", false, " grüße aus köln 42 "},
                {kPassword, "cmdCancel", false, ""}};
    for (const auto& row : rows) {
        frmPassword prompt(kPassword);
        prompt.show();
        auto* text = Child<QLineEdit>(&prompt, "Text1");
        EXPECT_EQ(text->echoMode(), QLineEdit::Password);
        text->setText(QString::fromStdString(row.typed));
        Child<QPushButton>(&prompt, row.button)->click();
        EXPECT_EQ(prompt.Result(), row.result) << row.typed << row.button;
        EXPECT_EQ(prompt.TypedText(), row.confirmed) << row.typed << row.button;
        EXPECT_FALSE(prompt.isVisible());
    }
}

TEST_F(SmallWindows, ProtectedJobsAskOnceAndLogTheOutcome) {
    clsBackup job;
    job.sName = "Photos";
    int asked = 0;
    const auto answer = [&](bool right) {
        return [&asked, right](const std::string& expected) {
            return ++asked, expected == kPassword && right;
        };
    };
    job.password = "   "; // blanks only protect nothing
    EXPECT_TRUE(CheckJobPassword(job, PasswordPurpose::Edit, answer(false)));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(host.activity.empty());

    job.password = kPassword;
    EXPECT_FALSE(CheckJobPassword(job, PasswordPurpose::Delete, answer(false)));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Wrong password for deleting Photos!");
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(host.Logged("Requesting  password for deleting Photos..."));
    EXPECT_TRUE(host.Logged("Wrong password for deleting Photos!"));

    EXPECT_TRUE(CheckJobPassword(job, PasswordPurpose::Edit, answer(true)));
    EXPECT_TRUE(host.Logged("Requesting for password for editing Photos ..."));
    EXPECT_TRUE(host.Logged("Password OK for editing Photos!"));
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(asked, 2);
}

TEST_F(SmallWindows, AboutShowsTheBuildsVersionAndSplashHandsOverOnce) {
    frmAbout about;
    about.show();
    EXPECT_EQ(Child(&about, "lblVersion")->text(), "Version " TIDEVAULT_PROJECT_VERSION);

    frmSplash splash;
    int finished = 0;
    QEventLoop loop; // bounded, so a timer that never fires fails instead of hanging
    QObject::connect(&splash, &frmSplash::finished, [&] { ++finished, loop.quit(); });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    splash.SetInterval(10);
    splash.show();
    loop.exec();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(splash.isVisible());
    const QString caption = Child(&splash, "lblCaption")->text();
    EXPECT_TRUE(caption.endsWith(" " + QString(TIDEVAULT_PROJECT_VERSION).section('.', 2)))
        << caption.toStdString();
}

TEST_F(SmallWindows, GermanTextsAreApplied) {
    gLanguageFile = LanguageFileFor("german");
    frmPassword prompt(kPassword);
    frmAbout about;
    frmSplash splash;
    EXPECT_EQ(prompt.windowTitle(), "Kennwort");
    EXPECT_EQ(Child<QPushButton>(&prompt, "cmdCancel")->text(), "Abbrechen");
    EXPECT_EQ(Child(&about, "lblVersion")->text(), "Version " TIDEVAULT_PROJECT_VERSION);
    EXPECT_EQ(Child<QPushButton>(&about, "cmdWeb")->text(), "&Website von Quorvane Soft");
    EXPECT_TRUE(Child(&splash, "lblCaption")->text().startsWith("Tidevault-Datensicherung, "));
}

} // namespace
