#pragma once
#include "support/ProgramFolderSetup.h"
#include "ui/DesktopHost.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

// A program folder in English (RunFixture) under the desktop host. Every message box
// is recorded in `boxes` as "text|" ("text(critical)|" for a critical one) and
// answered with `answer`; the main window counts as visible while `mainVisible`.
class WindowTest : public RunFixture {
protected:
    void SetUp() override {
        gLanguageFile.clear();
        RunFixture::SetUp();
        SetHost(&desktop);
        desktop.answerer = [this](const std::string& text, MsgButtons, MsgIcon icon) {
            boxes += text + (icon == MsgIcon::Critical ? "(critical)|" : "|");
            return answer;
        };
        desktop.mainWindowVisible = [this] { return mainVisible; };
    }
    void TearDown() override { SetHost(nullptr), RunFixture::TearDown(); }

    template <typename T = QLabel> static T* Child(const QWidget* window, const std::string& name) {
        T* child = window->findChild<T*>(QString::fromStdString(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void Click(const QWidget* window, const std::string& name) {
        Child<QPushButton>(window, name)->click();
    }
    static bool SamePicture(const QIcon& icon, const char* file) {
        return icon.pixmap(16).toImage() == QIcon(QString::fromLatin1(file)).pixmap(16).toImage();
    }

    DesktopHost desktop;
    MsgAnswer answer = MsgAnswer::Yes;
    bool mainVisible = true;
    std::string boxes;
};
