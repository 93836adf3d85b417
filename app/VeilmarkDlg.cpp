#include "app/VeilmarkDlg.h"

#include "app/AboutDlg.h"
#include "app/LogDlg.h"
#include "app/OptionDlg.h"
#include "app/PasswordDlg.h"
#include "app/Settings.h"
#include "base/FileIO.h"
#include "jpeg/JpegPicture.h"
#include "mail/SendMailDlg.h"
#include "picture/BmpPicture.h"
#include "picture/PictureKind.h"
#include "picture/SecretContainer.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "ui/DialogBuilder.h"
#include "ui/UiText.h"
#include "ui/WebBrowser2.h"
#include "update/UpdateDlg.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

#include <span>

namespace {

// The desktop program opens the pictures the compatible format carries.
bool CanOpenHere(PictureKind kind) { return kind == PictureKind::Bmp || kind == PictureKind::Jpeg; }

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

} // namespace

CVeilmarkDlg::CVeilmarkDlg(QWidget* parent, const std::string& programDir)
    : CResizableDlg(IDD_VEILMARK_DIALOG, parent)
    , m_hIcon(QStringLiteral(":/veilmark/veilmark.png"))
    , m_strProgramDir(programDir)
{
    AddAnchor(IDC_LOAD_PICTURE, 0);
    AddAnchor(IDC_SAVE_PICTURE, 0);
    AddAnchor(IDC_SEPARATOR, ANCHOR_SIZE_Y);
    AddAnchor(IDC_BROWSER, ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
    AddAnchor(IDC_MESSAGE_GROUP, ANCHOR_SIZE_X | ANCHOR_MOVE_Y);
    AddAnchor(IDC_MESSAGE, ANCHOR_SIZE_X | ANCHOR_MOVE_Y);

    if (!m_strProgramDir.empty() && m_strProgramDir.back() != '/')
        m_strProgramDir += '/';
    // Pages are written where the program is when it may write there (a
    // build tree, a portable copy), else to the per-user data folder.
    const std::string pageFolder = ChoosePageFolder(m_strProgramDir);
    m_strHomePage = m_strProgramDir + kHomePageName;
    m_strLoadPage = pageFolder + "load.htm";
    m_strResultPage = pageFolder + "result.htm";
    m_strBmpReportTemplate = m_strProgramDir + "ltemplateBMP.htm";
    m_strBmpResultTemplate = m_strProgramDir + "stemplateBMP.htm";
    m_strJpegReportTemplate = m_strProgramDir + "ltemplateJPG.htm";
    m_strJpegResultTemplate = m_strProgramDir + "stemplateJPG.htm";

    m_browser = FindControl<CWebBrowser2>(*this, IDC_BROWSER);
    m_messageEdit = FindControl<QPlainTextEdit>(*this, IDC_MESSAGE);

    const auto bind = [this](int id, void (CVeilmarkDlg::*command)()) {
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, command);
    };
    bind(IDC_LOAD_PICTURE, &CVeilmarkDlg::OnLoadPicture);
    bind(IDC_SAVE_PICTURE, &CVeilmarkDlg::OnSavePicture);
    bind(IDC_PROGRAM_OPTION, &CVeilmarkDlg::OnProgramOption);
    bind(IDC_SOFTWARE_UPDATE, &CVeilmarkDlg::OnSoftwareUpdate);
    bind(IDC_HELP_ME, &CVeilmarkDlg::OnHelpMe);
    // The usual keys for the commands; each presses its button, so a disabled
    // Save stays out of reach.
    const auto shortcut = [this](const QKeySequence& keys, int id) {
        auto* button = FindControl<QPushButton>(*this, id);
        connect(new QShortcut(keys, this), &QShortcut::activated, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), IDC_LOAD_PICTURE);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), IDC_SAVE_PICTURE);
    shortcut(QKeySequence(Qt::Key_F1), IDC_HELP_ME);

    setAcceptDrops(true);
    m_messageEdit->viewport()->installEventFilter(this);

    OnInitDialog();
}

CVeilmarkDlg::~CVeilmarkDlg()
{
    CloseLogWindow();
    m_pBmpPicture.reset();
    m_pJpegPicture.reset();
}

void CVeilmarkDlg::OnInitDialog()
{
    CResizableDlg::OnInitDialog();
    setWindowIcon(m_hIcon);
    if (!m_strHomePage.empty())
        m_browser->Navigate(QString::fromStdString(m_strHomePage));
    const MailSettings settings = ReadMailSettings();
    m_strSmtpServer = settings.smtpServer;
    m_strUserEmail = settings.userEmail;
    m_bSendAfterSave = settings.sendAfterSave ? 1 : 0;
    m_mailSettings = settings;
}

void CVeilmarkDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate)
        m_strMessage = MessageFromUiText(m_messageEdit->toPlainText());
    else
        m_messageEdit->setPlainText(MessageToUiText(m_strMessage));
}

CCarrierPicture* CVeilmarkDlg::GetCurrentPicture() const
{
    if (m_pJpegPicture)
        return m_pJpegPicture.get();
    return m_pBmpPicture.get();
}

void CVeilmarkDlg::EnableSave(bool enable) { FindControl(*this, IDC_SAVE_PICTURE)->setEnabled(enable); }

QWidget* CVeilmarkDlg::DialogParent()
{
    if (CLogDlg* log = GetLogWindow())
        return log;
    return this;
}

// ---- the load command -------------------------------------------------------

void CVeilmarkDlg::OnLoadPicture()
{
    if (!CloseCurrentPicture())
        return;
    const QString path = ChooseOpenFile();
    if (path.isEmpty())
        return;
    LoadChosenFile(path.toStdString());
}

void CVeilmarkDlg::LoadPictureFile(const QString& path)
{
    // A file the program cannot load is refused before the current picture
    // is given up for it.
    if (!CanOpenHere(PictureKindFromPath(path.toStdString()))) {
        RefuseUnsupportedFile(path.toStdString());
        return;
    }
    if (!CloseCurrentPicture())
        return;
    LoadChosenFile(path.toStdString());
}

void CVeilmarkDlg::RefuseUnsupportedFile(const std::string& path)
{
    ShowMessage(ToUiText(FormatResString(IDS_UNSUPPORTED_FILE, path.c_str())), QMessageBox::Ok, QMessageBox::Warning);
}

void CVeilmarkDlg::ShowWelcomePage()
{
    if (m_strHomePage.empty())
        m_browser->clear();
    else
        m_browser->Navigate(QString::fromStdString(m_strHomePage));
}

bool CVeilmarkDlg::CloseCurrentPicture()
{
    if (!m_pBmpPicture && !m_pJpegPicture)
        return true;
    if (ShowResMessage(IDS_ALREADY_OPENED, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question)
        != QMessageBox::Yes)
        return false;
    m_pJpegPicture.reset();
    m_pBmpPicture.reset();
    // Nothing is left to save until another picture has loaded, and the pane
    // no longer shows the picture: a cancelled choice, a failed load or a
    // wrong password leave the welcome page.
    EnableSave(false);
    ShowWelcomePage();
    return true;
}

void CVeilmarkDlg::LoadChosenFile(const std::string& path)
{
    if (!CanOpenHere(PictureKindFromPath(path))) {
        RefuseUnsupportedFile(path);
        return;
    }
    m_strMessage.clear();
    DoDataExchange(false);
    ShowLogWindow(this);
    LoadAndReveal(path);
    CloseLogWindow();
}

void CVeilmarkDlg::LoadAndReveal(const std::string& path)
{
    CCarrierPicture* picture = nullptr;
    if (PictureKindFromPath(path) == PictureKind::Bmp) {
        m_pBmpPicture = std::make_unique<CBmpPicture>();
        m_pBmpPicture->SetReportTemplate(m_strBmpReportTemplate);
        picture = m_pBmpPicture.get();
    } else {
        m_pJpegPicture = std::make_unique<CJpegPicture>();
        m_pJpegPicture->SetReportTemplate(m_strJpegReportTemplate);
        picture = m_pJpegPicture.get();
    }

    if (picture->Load(path) != kPictureOk) {
        // The failed picture stays current (the next load asks before it
        // replaces it), but it holds nothing that could be saved.
        EnableSave(false);
        std::string text = LoadResString(IDS_FILE_OPEN_ERROR);
        if (!picture->GetFailureReason().empty())
            text += "\r\n\r\n" + picture->GetFailureReason();
        ShowMessage(ToUiText(text), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (!WritePage(m_strLoadPage, picture->GetReportPage()))
        return;

    if (!picture->HasSecretData()) {
        EnableSave(true);
        m_browser->Navigate(QString::fromStdString(m_strLoadPage));
        return;
    }

    std::string password;
    if (!AskPassword(IDS_LOAD_PROMPT, password))
        return;
    std::string message;
    const ContainerStatus status = ReadContainer(*picture, password, message);
    if (status != ContainerStatus::Ok) {
        ShowMessage(
            ToUiText(DescribeContainerStatus(status, picture->GetDataSpace())), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    m_strMessage = message;
    DoDataExchange(false);
    EnableSave(true);
    m_browser->Navigate(QString::fromStdString(m_strLoadPage));
}

// ---- the save command -------------------------------------------------------

void CVeilmarkDlg::OnSavePicture()
{
    CCarrierPicture* picture = GetCurrentPicture();
    if (picture == nullptr || !picture->IsLoaded())
        return;
    const bool jpeg = picture == m_pJpegPicture.get();
    DoDataExchange(true);
    const std::string message = m_strMessage;

    // A picture or a message that cannot take a hidden message is refused
    // before anything is asked or written.
    if (const std::string refusal = picture->WhyCannotHide(); !refusal.empty()) {
        ShowMessage(ToUiText(refusal), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    const std::uint32_t dataSpace = picture->GetDataSpace();
    if (message.find('\0') != std::string::npos) {
        ShowMessage(ToUiText(DescribeContainerStatus(ContainerStatus::MessageHasZeroByte, dataSpace)), QMessageBox::Ok,
            QMessageBox::Warning);
        return;
    }
    if (dataSpace == 0 || CipheredLength(message.size()) > dataSpace) {
        ShowMessage(ToUiText(DescribeContainerStatus(ContainerStatus::MessageTooLong, *picture)), QMessageBox::Ok,
            QMessageBox::Warning);
        return;
    }

    const QString output = ChooseSaveFile(jpeg);
    if (output.isEmpty())
        return;
    // A protected file is refused before the password is typed in vain.
    if (std::string error; !CheckFileReplaceable(output.toStdString(), error)) {
        ShowSaveFailure(output.toStdString(), error);
        return;
    }
    std::string password;
    if (!AskPassword(IDS_SAVE_PROMPT, password))
        return;

    ShowLogWindow(this);
    SaveAndShow(*picture, jpeg, output.toStdString(), password, message);
    CloseLogWindow();
}

void CVeilmarkDlg::SaveAndShow(CCarrierPicture& picture, bool jpeg, const std::string& path,
    const std::string& password, const std::string& message)
{
    picture.SetResultTemplate(jpeg ? m_strJpegResultTemplate : m_strBmpResultTemplate);
    const ContainerStatus status = WriteContainer(picture, password, message);
    if (status != ContainerStatus::Ok) {
        ShowMessage(ToUiText(DescribeContainerStatus(status, picture)), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (picture.Save(path) != kPictureOk) {
        ShowSaveFailure(path, picture.GetFailureReason());
        return;
    }
    if (m_bSendAfterSave != 0)
        SendSavedPicture(path);
    ShowResMessage(IDS_SAVE_FINISHED, QMessageBox::Ok, QMessageBox::Information);
    if (WritePage(m_strResultPage, picture.GetResultPage()))
        m_browser->Navigate(QString::fromStdString(m_strResultPage));
}

void CVeilmarkDlg::ShowSaveFailure(const std::string& path, const std::string& reason)
{
    const std::string text = "\"" + path + "\": " + reason;
    ShowMessage(ToUiText(FormatResString(IDS_SAVE_FAILED, text.c_str())), QMessageBox::Ok, QMessageBox::Warning);
}

bool CVeilmarkDlg::WritePage(const std::string& path, const std::string& text)
{
    // The page text and one zero byte, replaced whole or not at all.
    static const std::uint8_t kTerminator = 0;
    std::string error;
    if (WriteFileAtomically(path, { Bytes(text), std::span<const std::uint8_t>(&kTerminator, 1) }, error))
        return true;
    ShowMessage(ToUiText(FormatResString(IDS_PAGE_NOT_WRITTEN, path.c_str(), error.c_str())), QMessageBox::Ok,
        QMessageBox::Warning);
    return false;
}

// ---- the other commands -----------------------------------------------------

void CVeilmarkDlg::OnProgramOption()
{
    // The dialog shows the stored settings, not this window's copies; the
    // copies change only when all three values were written.
    COptionDlg dialog;
    MailSettings settings;
    switch (EditProgramOptions(dialog, settings)) {
    case OptionResult::Saved:
        m_strSmtpServer = settings.smtpServer;
        m_strUserEmail = settings.userEmail;
        m_bSendAfterSave = settings.sendAfterSave ? 1 : 0;
        m_mailSettings = settings;
        break;
    case OptionResult::SaveFailed:
        ShowResMessage(IDS_SAVE_OPTION_ERROR, QMessageBox::Ok, QMessageBox::Warning);
        break;
    case OptionResult::Cancelled:
        break;
    }
}

void CVeilmarkDlg::OnSoftwareUpdate()
{
    CUpdateDlg dialog;
    dialog.DoModal();
}

void CVeilmarkDlg::SendSavedPicture(const std::string& path)
{
    // Owned by the log window, as the password prompt is, so that it and its
    // message boxes come above the log and are centred over it.
    CSendMailDlg dialog(DialogParent());
    dialog.SetSmtpServer(m_strSmtpServer);
    dialog.SetAttachment(path);
    dialog.SetSender(m_strUserEmail);
    dialog.SetConnection(m_mailSettings.smtpPort, m_mailSettings.smtpSecurity, m_mailSettings.smtpUserName);
    dialog.DoModal();
}

void CVeilmarkDlg::OnHelpMe() { OpenHelpFile(QString::fromStdString(GetHelpFilePath())); }

void CVeilmarkDlg::OnAbout()
{
    CAboutDlg about(this);
    about.DoModal();
}

void CVeilmarkDlg::accept() { }

void CVeilmarkDlg::reject()
{
    if (ShowResMessage(IDS_REALLY_EXIT, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) == QMessageBox::Yes)
        CResizableDlg::reject();
}

QMenu* CVeilmarkDlg::CreateContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setSeparatorsCollapsible(false);
    menu->addAction(ToUiText(LoadResString(IDS_CLOSE)), this, &QWidget::close);
    const std::string about = LoadResString(IDS_ABOUTBOX);
    if (!about.empty()) {
        menu->addSeparator();
        menu->addAction(ToUiText(about), this, &CVeilmarkDlg::OnAbout);
    }
    return menu;
}

void CVeilmarkDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = CreateContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---- dropped files ----------------------------------------------------------

QString CVeilmarkDlg::DroppedPicturePath(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile())
        return {};
    return urls.front().toLocalFile();
}

void CVeilmarkDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedPicturePath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CVeilmarkDlg::dropEvent(QDropEvent* event)
{
    const QString path = DroppedPicturePath(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    LoadPictureFile(path);
}

bool CVeilmarkDlg::eventFilter(QObject* watched, QEvent* event)
{
    // A file dropped onto the message box loads it, like anywhere else in the
    // window; dropped text still goes into the box.
    if (watched == m_messageEdit->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!DroppedPicturePath(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = DroppedPicturePath(drop->mimeData());
            if (!path.isEmpty()) {
                drop->acceptProposedAction();
                LoadPictureFile(path);
                return true;
            }
        }
    }
    return CResizableDlg::eventFilter(watched, event);
}

// ---- user interactions --------------------------------------------------------

QString CVeilmarkDlg::ChooseOpenFile()
{
    QFileDialog dialog(this, {}, {}, QStringLiteral("All supported Files (*.jpg *.jpeg *.bmp *.JPG *.JPEG *.BMP)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString CVeilmarkDlg::ChooseSaveFile(bool jpeg)
{
    QFileDialog dialog(
        this, {}, {}, jpeg ? QStringLiteral("JPG file (*.jpg)") : QStringLiteral("Windows Bitmap file  (*.bmp)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(jpeg ? QStringLiteral("jpg") : QStringLiteral("bmp"));
    // Saving onto an existing name replaces the file without a question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

bool CVeilmarkDlg::AskPassword(unsigned promptId, std::string& password)
{
    CPasswordDlg prompt(promptId, DialogParent());
    if (prompt.DoModal() != QDialog::Accepted)
        return false;
    password = prompt.GetPassword();
    return true;
}

QMessageBox::StandardButton CVeilmarkDlg::ShowMessage(
    const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, DialogParent());
    return QMessageBox::StandardButton(box.exec());
}

QMessageBox::StandardButton CVeilmarkDlg::ShowResMessage(
    unsigned stringId, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    return ShowMessage(ToUiText(LoadResString(stringId)), buttons, icon);
}

void CVeilmarkDlg::OpenHelpFile(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }
