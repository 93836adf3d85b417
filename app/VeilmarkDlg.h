#pragma once

#include "app/ProgramDir.h"
#include "app/ResizableDlg.h"
#include "app/Settings.h"

#include <QIcon>
#include <QMessageBox>
#include <QString>

#include <memory>
#include <string>

class CBmpPicture;
class CCarrierPicture;
class CJpegPicture;
class CWebBrowser2;
class QMenu;
class QMimeData;
class QPlainTextEdit;

// The main window: the command buttons on the left, the HTML view of the
// current picture's page on the right, the message box below it. It owns the
// current picture and runs the load and save commands.
class CVeilmarkDlg : public CResizableDlg {
    Q_OBJECT

public:
    // Files in the program folder.
    static constexpr char kHelpFileName[] = "Veilmark.html";
    static constexpr char kHomePageName[] = "welcome.html";

    // `programDir` (with its trailing '/') is where the help file, the
    // welcome page and the page templates are read from.
    explicit CVeilmarkDlg(QWidget* parent = nullptr, const std::string& programDir = GetProgramDir());
    ~CVeilmarkDlg() override;

    // The five commands. The option and update commands open dialogs that
    // live outside this library; a subclass that links them overrides these.
    void OnLoadPicture();
    void OnSavePicture();
    virtual void OnProgramOption();
    virtual void OnSoftwareUpdate();
    void OnHelpMe();
    // The about entry of the window menu.
    void OnAbout();

    // Loads a file as if it had been chosen in the open dialog (a dropped file).
    void LoadPictureFile(const QString& path);

    // Enter never closes the main window.
    void accept() override;
    // Esc and the close box ask before the program ends.
    void reject() override;

    // The window menu: "Close", a separator and the about entry.
    QMenu* CreateContextMenu(QWidget* parent);

    CCarrierPicture* GetCurrentPicture() const;
    CWebBrowser2& GetBrowser() const { return *m_browser; }
    const std::string& GetProgramFolder() const { return m_strProgramDir; }
    const std::string& GetLoadPagePath() const { return m_strLoadPage; }
    const std::string& GetResultPagePath() const { return m_strResultPage; }
    const std::string& GetHomePage() const { return m_strHomePage; }
    std::string GetHelpFilePath() const { return m_strProgramDir + kHelpFileName; }

protected:
    // The user interactions of the commands; tests replace them.
    virtual QString ChooseOpenFile();
    virtual QString ChooseSaveFile(bool jpeg);
    virtual bool AskPassword(unsigned promptId, std::string& password);
    virtual QMessageBox::StandardButton ShowMessage(const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok, QMessageBox::Icon icon = QMessageBox::Information);
    virtual void OpenHelpFile(const QString& path);
    // Hands a saved picture to the send-mail dialog when the setting asks for it.
    virtual void SendSavedPicture(const std::string& path);

    void OnInitDialog() override;
    void DoDataExchange(bool saveAndValidate);

    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QMessageBox::StandardButton ShowResMessage(
        unsigned stringId, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon);
    // Prompts and message boxes belong to the log window while it is shown,
    // so they appear above it.
    QWidget* DialogParent();

    std::string m_strUserEmail;
    std::string m_strSmtpServer;
    int m_bSendAfterSave = 0;
    MailSettings m_mailSettings; // port, security and user name are taken from here
    CWebBrowser2* m_browser = nullptr;
    std::string m_strMessage;
    QIcon m_hIcon;
    std::string m_strProgramDir;
    std::string m_strHomePage;
    std::string m_strLoadPage;
    std::string m_strResultPage;
    std::string m_strBmpReportTemplate;
    std::string m_strBmpResultTemplate;
    std::string m_strJpegReportTemplate;
    std::string m_strJpegResultTemplate;
    std::unique_ptr<CBmpPicture> m_pBmpPicture;
    std::unique_ptr<CJpegPicture> m_pJpegPicture;

private:
    bool CloseCurrentPicture();
    void RefuseUnsupportedFile(const std::string& path);
    void ShowWelcomePage();
    void LoadChosenFile(const std::string& path);
    void LoadAndReveal(const std::string& path);
    void SaveAndShow(CCarrierPicture& picture, bool jpeg, const std::string& path, const std::string& password,
        const std::string& message);
    void ShowSaveFailure(const std::string& path, const std::string& reason);
    bool WritePage(const std::string& path, const std::string& text);
    void EnableSave(bool enable);
    static QString DroppedPicturePath(const QMimeData* data);

    QPlainTextEdit* m_messageEdit = nullptr;
};
