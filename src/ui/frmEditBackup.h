#pragma once
#include <QDialog>

#include <memory>
#include <string>

#include "jobs/clsBackup.h"

class QButtonGroup;
class QComboBox;

namespace Ui {
class frmEditBackup;
}

// The editor of one backup job: a new one when opened without a name, else
// the job of that name. Saving checks what the user typed and adds the job
// to the list, or writes it back, and saves the list.
class frmEditBackup : public QDialog {
    Q_OBJECT

public:
    explicit frmEditBackup(const std::string& jobName = std::string(), QWidget* parent = nullptr);
    ~frmEditBackup() override;

    // Asks for the password of a protected job and logs as editing requires;
    // true when the editor may open.
    static bool MayEdit(const std::string& jobName, QWidget* parent);

    // The name the job was saved under; empty while nothing was saved.
    const std::string& SavedJobName() const { return savedName_; }

    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillLists();
    void Connect();
    void Load(const clsBackup& job);
    void Collect(clsBackup& job) const;
    bool Save();
    bool KeepIndexIfAsked(const clsBackup& before, const clsBackup& after);
    void RefreshMasks();
    void StoreMask(QComboBox* box, const char* kind);
    void ArchiveTypeChosen(int index);
    void DestinationChosen(int index);
    void ScheduleChosen(int index);
    void EveryDayClicked();
    void DayClicked();
    void MinuteTyped(const QString& text);
    void MinuteStepped(int value);
    void AddSource(const std::string& path, int fileOrFolder, double size);
    void Refuse(const std::string& text, QWidget* focus = nullptr);

    std::unique_ptr<Ui::frmEditBackup> ui_;
    QButtonGroup* archiveType_;
    QButtonGroup* destination_;
    QButtonGroup* method_;
    std::shared_ptr<clsBackup> editing_;
    std::string savedName_;
    int archiveIndex_ = 1;
};
