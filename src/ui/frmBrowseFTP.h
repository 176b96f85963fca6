#pragma once
#include "ftp/clsFTPConnection.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTreeWidgetItem;

namespace Ui {
class frmBrowseFTP;
}

// The FTP fields of the backup editor that the browser logs in with.
struct FtpAccount {
    std::string host;
    std::int32_t port = 21;
    std::string user;
    std::string password;
    bool passive = true;
};

// Lets the user pick the remote folder of an FTP job, creating and deleting
// remote folders on the way. The window owns its own connection, logged in
// from Open until the window goes.
class frmBrowseFTP : public QDialog {
    Q_OBJECT

public:
    explicit frmBrowseFTP(FtpAccount account, QWidget* parent = nullptr);
    ~frmBrowseFTP() override;

    // Logs in and lists the login folder under the root node. False, after
    // the message saying why, when there is nothing to browse.
    bool Open();
    // The remote folder chosen with Select; empty until then.
    const std::string& ChosenFolder() const { return chosen_; }
    // The login folder followed by the sub-folders down to `node`.
    static std::string RemotePath(const QTreeWidgetItem* node);
    // Starts the tree: the root node for `loginFolder`, expanded.
    QTreeWidgetItem* PutRoot(const std::string& loginFolder);
    // Shows a folder's listing, as the server sent it, as the contents of
    // the opened folder node.
    void ShowOpened(QTreeWidgetItem* node, std::vector<clsFTPFile> entries);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs a server exchange; when it failed because the server had hung
    // up on the idle connection, logs in again once and repeats it.
    bool Exchange(const std::function<bool()>& exchange);
    bool ConnectionDropped();
    // Lists the node's folder into it; leaves it as it was when the server
    // refuses.
    bool ListFolder(QTreeWidgetItem* node);
    void Expanded(QTreeWidgetItem* node);
    void Collapsed(QTreeWidgetItem* node);
    void CreateFolder();
    void DeleteFolder();
    void Select();
    // The connection is gone for good: say so and close.
    void GiveUp();
    QTreeWidgetItem* SelectedNode() const;

    std::unique_ptr<Ui::frmBrowseFTP> ui_;
    FtpAccount account_;
    clsFTPConnection ftp_;
    std::string chosen_;
    bool busy_ = false;
    bool closed_ = false;
    bool lost_ = false;
};
