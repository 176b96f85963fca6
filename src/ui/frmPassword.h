#pragma once
#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class frmPassword;
}

// The prompt for a protected job's password before it is edited or deleted.
// OK (or Enter) compares the typed text with the expected password byte for
// byte; Cancel (or Escape) leaves the result false. Both close the prompt.
class frmPassword : public QDialog {
    Q_OBJECT

public:
    explicit frmPassword(std::string expected, QWidget* parent = nullptr);
    ~frmPassword() override;

    // Shows the prompt modally; true only when the right password was confirmed.
    static bool Ask(const std::string& expected, QWidget* parent);

    bool Result() const { return result_; }
    // What was confirmed, exactly as typed (UTF-8); empty after Cancel.
    const std::string& TypedText() const { return typed_; }

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmPassword> ui_;
    std::string expected_;
    std::string typed_;
    bool result_ = false;
};
