#include "ui/ApplyLanguage.h"

#include "core/Globals.h"
#include "platform/IniFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QString>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVariant>
#include <QWidget>

namespace {

QString Read(const IniFile& file, const std::string& section, const std::string& key) {
    return QString::fromStdString(file.ReadString(section, key));
}

// "name", or "name|index" for a member of a control array.
std::string ControlKey(const QObject* control) {
    std::string key = control->objectName().toStdString();
    const QVariant index = control->property(kControlIndexProperty);
    if (index.isValid())
        key += "|" + std::to_string(index.toInt());
    return key;
}

void ApplyToControl(const IniFile& file, const std::string& section, QWidget* control) {
    if (control->objectName().isEmpty())
        return;
    const std::string key = ControlKey(control);
    if (const QString tip = Read(file, section, key + ".ToolTipText"); !tip.isEmpty())
        control->setToolTip(tip);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        if (const QString text = Read(file, section, key); !text.isEmpty())
            label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        if (const QString text = Read(file, section, key); !text.isEmpty())
            button->setText(text);
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        if (const QString text = Read(file, section, key); !text.isEmpty())
            frame->setTitle(text);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (const QString text = Read(file, section, key + "|" + std::to_string(i));
                !text.isEmpty())
                tabs->setTabText(i, text);
    } else if (auto* tree = qobject_cast<QTreeWidget*>(control)) {
        // Column headers, "name|column".
        for (int i = 0; i < tree->columnCount(); ++i)
            if (const QString text = Read(file, section, key + "|" + std::to_string(i));
                !text.isEmpty())
                tree->headerItem()->setText(i, text);
    } else if (auto* menu = qobject_cast<QMenu*>(control)) {
        if (const QString text = Read(file, section, key); !text.isEmpty())
            menu->setTitle(text);
    }
}

} // namespace

void ApplyLanguage(QWidget* form) {
    if (form == nullptr || gLanguageFile.empty())
        return;
    IniFile file;
    if (!file.Load(gLanguageFile))
        return;
    const std::string section = form->objectName().toStdString();
    if (const QString caption = Read(file, section, "Caption"); !caption.isEmpty())
        form->setWindowTitle(caption);
    for (QWidget* control : form->findChildren<QWidget*>())
        ApplyToControl(file, section, control);
    // Menu items by their names, as controls.
    for (QAction* action : form->findChildren<QAction*>())
        if (!action->objectName().isEmpty())
            if (const QString text = Read(file, section, action->objectName().toStdString());
                !text.isEmpty())
                action->setText(text);
}
