#pragma once

#include <QDialog>
#include <QMessageBox>

#include <string>

#include "update/DownloadNotifier.h"
#include "update/UpdateSession.h"

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The software-update dialog: checks the update server for a newer version,
// fetches the patch meant for the installed one and starts it after the user
// agrees. "Start" (id 2) runs the check, "Exit" (id 1) closes the dialog, and
// so does Esc while no download runs; closing the window while a download runs
// cancels it and waits for the worker.
class CUpdateDlg : public QDialog, private IUpdateView {
    Q_OBJECT

public:
    explicit CUpdateDlg(QWidget* parent = nullptr);
    ~CUpdateDlg() override;

    int DoModal() { return exec(); }

    // The update check behind the dialog (program file, cache folder, limits).
    CUpdateSession& GetSession() { return m_session; }

    void done(int result) override;
    void reject() override;

protected:
    void OnInitDialog();
    void DoDataExchange(bool saveAndValidate);
    void closeEvent(QCloseEvent* event) override;

    // Shows a message box captioned with the application name, with Enter on
    // `defaultButton` when one is given; tests replace it.
    virtual QMessageBox::StandardButton ShowMessage(const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::Icon icon, QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

private slots:
    void OnStartUpdate();
    void OnDownloadStatus(const DownloadProgress* progress);
    void OnDownloadDone();

private:
    // IUpdateView
    void AppendLogText(const std::string& text) override;
    void SetStageProgress(int stage, int position) override;
    void EnableUpdateButtons(bool enable) override;
    void ShowErrorMessage(unsigned stringId) override;
    void ShowSystemError(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    bool StartProgram(const std::string& path, std::string& error) override;
    void EndDialog(int result) override;

    // Cancels a running download and keeps handling its reports until the
    // worker has ended.
    void StopWorker();

    std::string m_strServerAddress = kDefaultServerAddress;
    CDownloadNotifier m_notifier;
    CUpdateSession m_session;
    QLineEdit* m_serverEdit = nullptr;
    QPlainTextEdit* m_logEdit = nullptr;
    QProgressBar* m_versionBar = nullptr;
    QProgressBar* m_listBar = nullptr;
    QProgressBar* m_patchBar = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_exitButton = nullptr;
};
