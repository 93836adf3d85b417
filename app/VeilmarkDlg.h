#pragma once

#include "app/ProgramDir.h"
#include "app/ResizableDlg.h"
#include "app/SealedPasswordDlg.h"
#include "app/Settings.h"
#include "picture/PictureKind.h"

#include <QIcon>
#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CCarrierPicture;
class CSealedPicture;
class QLabel;
class QPushButton;
class CWebBrowser2;
class QMenu;
class QMimeData;
class QPlainTextEdit;

// The main window: the command buttons on the left, the HTML view of the
// current picture's page on the right, the message box below it. It owns the
// current picture and runs the load and save commands.
//
// Beside the compatible format of the picture objects, every picture that
// can be a sealed cover (CSealedPicture decides which) is also held as one:
// a save may seal the message or a file into it, and Reveal opens a sealed
// message with its password.
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
    // The sealed format's commands: open a sealed message, and choose a file
    // to hide in place of the text (or give up the chosen one).
    void OnReveal();
    void OnHideFile();
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

    // The compatible picture object (BMP or JPEG); none for a PNG picture.
    CCarrierPicture* GetCurrentPicture() const;
    // The current picture as a sealed cover, once a load has read it.
    CSealedPicture* GetSealedPicture() const { return m_pSealedPicture.get(); }
    // The format the count under the message box is for, and the one the
    // next save offers first.
    SaveFormat GetChosenFormat() const { return m_chosenFormat; }
    CWebBrowser2& GetBrowser() const { return *m_browser; }
    const std::string& GetProgramFolder() const { return m_strProgramDir; }
    const std::string& GetLoadPagePath() const { return m_strLoadPage; }
    const std::string& GetResultPagePath() const { return m_strResultPage; }
    const std::string& GetHomePage() const { return m_strHomePage; }
    std::string GetHelpFilePath() const { return m_strProgramDir + kHelpFileName; }

protected:
    // The user interactions of the commands; tests replace them.
    virtual QString ChooseOpenFile();
    // The output file and, in the same dialog, the format (offered: the
    // value `format` comes in with).
    virtual QString ChooseSaveFile(PictureKind kind, SaveFormat& format);
    virtual bool AskPassword(unsigned promptId, std::string& password);
    virtual bool AskSealedPassword(CSealedPasswordDlg::Mode mode, std::string& password);
    virtual QString ChooseHiddenFile();
    // Where a revealed file goes; `name` is the name it was hidden with.
    virtual QString ChooseRevealedFileTarget(const QString& name);
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
    // The loaded picture, a bitmap or a JPEG picture, as the picture factory
    // made it for the file's kind.
    std::unique_ptr<CCarrierPicture> m_pPicture;
    std::unique_ptr<CSealedPicture> m_pSealedPicture;
    SaveFormat m_defaultFormat = SaveFormat::Compatible;

private:
    // A file chosen with "Hide a file...", read whole when chosen.
    struct HiddenFile {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };

    bool HasPicture() const;
    std::uint64_t CapacityFor(SaveFormat format) const;
    SaveFormat AvailableFormat(SaveFormat preferred) const;
    void EnableSealedCommands(bool enable);
    void LoadPngPicture(const std::string& path);
    std::uint64_t PayloadBytes() const;
    void UpdateCount();
    // Shows why the message cannot be hidden in `format` (false), before
    // any question is asked.
    bool MayHideIn(SaveFormat format, const std::string& message);
    void SealAndShow(const std::string& path, const std::string& message);
    void SaveRevealedFile(const std::string& name, const std::vector<std::uint8_t>& bytes);
    void ForgetHiddenFile();
    void LoadSealedCover(const std::string& path);
    QString SealedReportNote() const;
    QString ResultNote(SaveFormat format, const std::string& path) const;
    void ShowResultPage(const std::string& text, const QString& note);
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
    QPushButton* m_revealButton = nullptr;
    QPushButton* m_hideFileButton = nullptr;
    QLabel* m_countLabel = nullptr;
    QString m_strHideFileText;
    PictureKind m_pictureKind = PictureKind::Unknown;
    bool m_bSealedLoaded = false; // the sealed cover was read and its page shown
    SaveFormat m_chosenFormat = SaveFormat::Compatible;
    std::optional<HiddenFile> m_hiddenFile;
};
