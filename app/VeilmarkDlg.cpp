#include "app/VeilmarkDlg.h"

#include "carrier/PictureFactory.h"

#include "app/AboutDlg.h"
#include "app/LogDlg.h"
#include "app/OptionDlg.h"
#include "app/PasswordDlg.h"
#include "app/SaveFormatChoice.h"
#include "app/Settings.h"
#include "base/FileIO.h"
#include "jpeg/JpegPicture.h"
#include "mail/SendMailDlg.h"
#include "picture/BmpPicture.h"
#include "picture/PictureKind.h"
#include "picture/ReportPage.h"
#include "picture/SecretContainer.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "sealed/SealedContainer.h"
#include "sealed/SealedPicture.h"
#include "ui/BusyIndicator.h"
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
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

#include <algorithm>
#include <span>

namespace {

// The pictures the compatible format carries, and PNG for the sealed one.
bool CanOpenHere(PictureKind kind)
{
    return kind == PictureKind::Bmp || kind == PictureKind::Jpeg || kind == PictureKind::Png;
}

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

QString Res(unsigned id) { return ToUiText(LoadResString(id)); }

// A string-table text with each "%s" replaced by the next value, without the
// string table's length limit (values may be long paths).
QString FillIn(unsigned id, const QStringList& values)
{
    const QString format = Res(id);
    QString text;
    qsizetype start = 0;
    for (const QString& value : values) {
        const qsizetype found = format.indexOf(QLatin1String("%s"), start);
        if (found < 0)
            break;
        text += format.mid(start, found - start) + value;
        start = found + 2;
    }
    return text + format.mid(start);
}

QString Decimal(std::uint64_t value) { return QString::number(value); }

QString Html(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

QString FormatName(SaveFormat format)
{
    return Res(format == SaveFormat::Sealed ? IDS_FORMAT_SEALED : IDS_FORMAT_COMPATIBLE);
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The report page of a PNG picture, in the look of the built-in pages. The
// compatible format has no place in a PNG file, so its rows say so.
std::string BuildPngReportPage(const std::string& path, const CPngPicture& png)
{
    const QString file = Html(path);
    QString page = QStringLiteral("<html>\n<head>\n<title>%1</title>\n</head>\n<body>\n<p>&nbsp;</p>\n"
                                  "<table border=\"0\" width=\"100%\" cellspacing=\"0\" cellpadding=\"0\">\n<tr>\n"
                                  "<td width=\"100%\" bgcolor=\"#3399FF\"><b><font color=\"#FFFFFF\"><br>\n"
                                  "&nbsp;<font face=\"Arial Black\" size=\"4\">Veilmark ver0.1<br>\n"
                                  "</font></font></b></td>\n</tr>\n</table>\n"
                                  "<p><b><font face=\"Arial Black\" color=\"#3399FF\">Loaded Picture</font></b></p>\n"
                                  "<p><img border=\"0\" src=\"%1\"></p>\n"
                                  "<table border=\"1\" width=\"100%\" cellspacing=\"0\">\n<tr>\n"
                                  "<td width=\"100%\" colspan=\"2\" bgcolor=\"#008080\"><font color=\"#FFFFFF\" "
                                  "face=\"Arial Black\"><b>Picture Informaion</b></font></td>\n</tr>\n")
                       .arg(file);
    const auto row = [&page](const QString& label, const QString& value) {
        page += QStringLiteral("<tr>\n<td width=\"28%\">%1</td>\n<td width=\"72%\">%2</td>\n</tr>\n").arg(label, value);
    };
    row(QStringLiteral("PNG Size (w/h in pixel)"), QStringLiteral("%1/%2").arg(png.GetWidth()).arg(png.GetHeight()));
    row(QStringLiteral("Colour type"),
        QStringLiteral("%1, %2 bits per sample%3")
            .arg(QString::fromStdString(png.GetColorTypeName()))
            .arg(png.GetBitDepth())
            .arg(png.IsInterlaced() ? QStringLiteral(", interlaced") : QString()));
    row(QStringLiteral("Available Data space"), QStringLiteral("0 byte (only the Sealed format fits a PNG picture)"));
    row(QStringLiteral("Is this a Secret picture?"), QStringLiteral("Normal PNG"));
    page += QStringLiteral("</table>\n</body>\n</html>");
    return page.toStdString();
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
    AddAnchor(IDC_MESSAGE_COUNT, ANCHOR_SIZE_X | ANCHOR_MOVE_Y);

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
    m_revealButton = FindControl<QPushButton>(*this, IDC_REVEAL);
    m_hideFileButton = FindControl<QPushButton>(*this, IDC_HIDE_FILE);
    m_countLabel = FindControl<QLabel>(*this, IDC_MESSAGE_COUNT);
    m_strHideFileText = m_hideFileButton->text();
    connect(m_messageEdit, &QPlainTextEdit::textChanged, this, &CVeilmarkDlg::UpdateCount);

    const auto bind = [this](int id, void (CVeilmarkDlg::*command)()) {
        connect(FindControl<QPushButton>(*this, id), &QPushButton::clicked, this, command);
    };
    bind(IDC_LOAD_PICTURE, &CVeilmarkDlg::OnLoadPicture);
    bind(IDC_SAVE_PICTURE, &CVeilmarkDlg::OnSavePicture);
    bind(IDC_PROGRAM_OPTION, &CVeilmarkDlg::OnProgramOption);
    bind(IDC_SOFTWARE_UPDATE, &CVeilmarkDlg::OnSoftwareUpdate);
    bind(IDC_HELP_ME, &CVeilmarkDlg::OnHelpMe);
    bind(IDC_REVEAL, &CVeilmarkDlg::OnReveal);
    bind(IDC_HIDE_FILE, &CVeilmarkDlg::OnHideFile);
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
    m_pPicture.reset();
    m_pSealedPicture.reset();
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
    m_defaultFormat = ReadDefaultSaveFormat();
    m_chosenFormat = m_defaultFormat;
    m_mailSettings = settings;
}

void CVeilmarkDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate)
        m_strMessage = MessageFromUiText(m_messageEdit->toPlainText());
    else
        m_messageEdit->setPlainText(MessageToUiText(m_strMessage));
}

CCarrierPicture* CVeilmarkDlg::GetCurrentPicture() const { return m_pPicture.get(); }

void CVeilmarkDlg::EnableSave(bool enable) { FindControl(*this, IDC_SAVE_PICTURE)->setEnabled(enable); }

void CVeilmarkDlg::EnableSealedCommands(bool enable)
{
    const bool sealable = enable && m_pSealedPicture && m_pSealedPicture->HasElements();
    m_revealButton->setEnabled(sealable);
    m_hideFileButton->setEnabled(sealable);
}

bool CVeilmarkDlg::HasPicture() const
{
    if (const CCarrierPicture* picture = GetCurrentPicture(); picture != nullptr && picture->IsLoaded())
        return true;
    return m_pictureKind == PictureKind::Png && m_bSealedLoaded;
}

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
    if (!m_pPicture && !m_pSealedPicture)
        return true;
    if (ShowResMessage(IDS_ALREADY_OPENED, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question)
        != QMessageBox::Yes)
        return false;
    m_pPicture.reset();
    m_pSealedPicture.reset();
    m_bSealedLoaded = false;
    m_pictureKind = PictureKind::Unknown;
    ForgetHiddenFile();
    EnableSealedCommands(false);
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
    m_chosenFormat = AvailableFormat(m_defaultFormat);
    UpdateCount();
}

void CVeilmarkDlg::LoadAndReveal(const std::string& path)
{
    m_pictureKind = PictureKindFromPath(path);
    if (m_pictureKind == PictureKind::Png) {
        LoadPngPicture(path);
        return;
    }
    m_pPicture = CreatePicture(m_pictureKind);
    CCarrierPicture* picture = m_pPicture.get();
    picture->SetReportTemplate(m_pictureKind == PictureKind::Jpeg ? m_strJpegReportTemplate : m_strBmpReportTemplate);

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
    LoadSealedCover(path);
    if (!WritePage(m_strLoadPage, picture->GetReportPage()))
        return;
    EnableSealedCommands(true);

    if (!picture->HasSecretData()) {
        EnableSave(true);
        m_browser->NavigateWithNote(QString::fromStdString(m_strLoadPage), SealedReportNote());
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
    m_browser->NavigateWithNote(QString::fromStdString(m_strLoadPage), SealedReportNote());
}

void CVeilmarkDlg::LoadSealedCover(const std::string& path)
{
    m_pSealedPicture = std::make_unique<CSealedPicture>();
    m_bSealedLoaded = m_pSealedPicture->Load(path);
}

void CVeilmarkDlg::LoadPngPicture(const std::string& path)
{
    LoadSealedCover(path);
    if (!m_bSealedLoaded || m_pSealedPicture->GetPng() == nullptr) {
        m_bSealedLoaded = false;
        EnableSave(false);
        std::string text = LoadResString(IDS_FILE_OPEN_ERROR);
        const std::string reason = m_pSealedPicture->GetReason().empty() ? std::string("This is not a PNG file")
                                                                         : m_pSealedPicture->GetReason();
        text += "\r\n\r\n" + reason;
        ShowMessage(ToUiText(text), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (!WritePage(m_strLoadPage, BuildPngReportPage(path, *m_pSealedPicture->GetPng())))
        return;
    EnableSealedCommands(true);
    EnableSave(true);
    m_browser->NavigateWithNote(QString::fromStdString(m_strLoadPage), SealedReportNote());
}

QString CVeilmarkDlg::SealedReportNote() const
{
    if (!m_pSealedPicture)
        return {};
    const std::uint64_t capacity = CapacityFor(SaveFormat::Sealed);
    if (m_pSealedPicture->HasElements() && capacity > 0)
        return FillIn(IDS_REPORT_MAY_BE_SEALED, { Decimal(capacity) });
    std::string reason = m_pSealedPicture->GetReason();
    if (reason.empty())
        reason = "The picture is too small for a sealed message";
    return FillIn(IDS_REPORT_NOT_SEALABLE, { Html(reason) });
}

// ---- what fits ------------------------------------------------------------------

std::uint64_t CVeilmarkDlg::CapacityFor(SaveFormat format) const
{
    if (format == SaveFormat::Compatible) {
        const CCarrierPicture* picture = GetCurrentPicture();
        if (picture == nullptr || !picture->IsLoaded() || !picture->WhyCannotHide().empty())
            return 0;
        return MaxMessageLength(picture->GetDataSpace());
    }
    if (!m_pSealedPicture || !m_pSealedPicture->HasElements())
        return 0;
    const std::size_t nameLength = m_hiddenFile ? m_hiddenFile->name.size() : 0;
    const std::uint64_t count = m_pSealedPicture->GetElementCount();
    return CanCarrySealed(count, nameLength) ? SealedCapacity(count, nameLength) : 0;
}

SaveFormat CVeilmarkDlg::AvailableFormat(SaveFormat preferred) const
{
    // The other format is offered when only it can take a message here.
    const SaveFormat other = preferred == SaveFormat::Sealed ? SaveFormat::Compatible : SaveFormat::Sealed;
    return CapacityFor(preferred) == 0 && CapacityFor(other) > 0 ? other : preferred;
}

std::uint64_t CVeilmarkDlg::PayloadBytes() const
{
    if (m_hiddenFile)
        return m_hiddenFile->bytes.size();
    return MessageFromUiText(m_messageEdit->toPlainText()).size();
}

void CVeilmarkDlg::UpdateCount()
{
    if (!HasPicture()) {
        m_countLabel->clear();
        return;
    }
    const std::uint64_t capacity = CapacityFor(m_chosenFormat);
    const std::uint64_t used = PayloadBytes();
    const QString text = m_hiddenFile
        ? FillIn(IDS_HIDDEN_FILE_COUNT,
            { QString::fromStdString(m_hiddenFile->name), Decimal(used), Decimal(capacity),
                FormatName(m_chosenFormat) })
        : FillIn(IDS_MESSAGE_COUNT, { Decimal(used), Decimal(capacity), FormatName(m_chosenFormat) });
    m_countLabel->setText(text);
    m_countLabel->setToolTip(text);
    QPalette colours = palette();
    if (used > capacity)
        colours.setColor(QPalette::WindowText, Qt::red);
    m_countLabel->setPalette(colours);
}

bool CVeilmarkDlg::MayHideIn(SaveFormat format, const std::string& message)
{
    const auto refuse = [this](const QString& text) {
        ShowMessage(text, QMessageBox::Ok, QMessageBox::Warning);
        return false;
    };
    if (format == SaveFormat::Compatible) {
        CCarrierPicture* picture = GetCurrentPicture();
        if (picture == nullptr || !picture->IsLoaded())
            return refuse(Res(IDS_PNG_NOT_COMPATIBLE));
        if (m_hiddenFile)
            return refuse(Res(IDS_FILE_ONLY_SEALED));
        // A picture or a message that cannot take a hidden message is refused
        // before anything is asked or written.
        if (const std::string refusal = picture->WhyCannotHide(); !refusal.empty())
            return refuse(ToUiText(refusal));
        const ContainerStatus status = CheckMessage(*picture, message);
        if (status == ContainerStatus::MessageHasZeroByte)
            return refuse(ToUiText(DescribeContainerStatus(status, *picture)));
        if (status == ContainerStatus::MessageTooLong) {
            const QString text = ToUiText(DescribeContainerStatus(status, *picture));
            const std::uint64_t sealed = CapacityFor(SaveFormat::Sealed);
            return refuse(message.size() <= sealed
                    ? FillIn(IDS_COMPATIBLE_TOO_LONG_SEALED_FITS, { text, Decimal(sealed) })
                    : text);
        }
        return true;
    }
    const std::uint64_t capacity = CapacityFor(SaveFormat::Sealed);
    if (capacity == 0) {
        std::string reason = m_pSealedPicture ? m_pSealedPicture->GetReason() : std::string();
        if (reason.empty())
            reason = "The picture is too small for a sealed message";
        return refuse(FillIn(IDS_SEALED_UNAVAILABLE, { QString::fromStdString(reason) }));
    }
    const std::uint64_t used = m_hiddenFile ? m_hiddenFile->bytes.size() : message.size();
    if (used > capacity)
        return refuse(FillIn(IDS_SEALED_TOO_LONG,
            { m_hiddenFile ? QStringLiteral("file") : QStringLiteral("message"), Decimal(used), Decimal(capacity) }));
    return true;
}

// ---- the save command -------------------------------------------------------

void CVeilmarkDlg::OnSavePicture()
{
    if (!HasPicture())
        return;
    DoDataExchange(true);
    const std::string message = m_strMessage;
    if (!MayHideIn(m_chosenFormat, message))
        return;

    SaveFormat format = m_chosenFormat;
    const QString output = ChooseSaveFile(m_pictureKind, format);
    if (output.isEmpty())
        return;
    if (format != m_chosenFormat) {
        m_chosenFormat = format;
        UpdateCount();
        if (!MayHideIn(format, message))
            return;
    }
    if (format == SaveFormat::Sealed) {
        SealAndShow(output.toStdString(), message);
        return;
    }

    CCarrierPicture* picture = GetCurrentPicture();
    const bool jpeg = m_pictureKind == PictureKind::Jpeg;
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
    ShowResultPage(picture.GetResultPage(), ResultNote(SaveFormat::Compatible, path));
}

void CVeilmarkDlg::SealAndShow(const std::string& path, const std::string& message)
{
    // The sealed picture is the same kind of file as the one loaded.
    if (PictureKindFromPath(path) != m_pictureKind) {
        const QString kind = m_pictureKind == PictureKind::Png ? QStringLiteral("PNG")
            : m_pictureKind == PictureKind::Jpeg               ? QStringLiteral("JPEG")
                                                               : QStringLiteral("BMP");
        const QString suffix = m_pictureKind == PictureKind::Png ? QStringLiteral(".png")
            : m_pictureKind == PictureKind::Jpeg                 ? QStringLiteral(".jpg")
                                                                 : QStringLiteral(".bmp");
        ShowMessage(FillIn(IDS_SEALED_WRONG_KIND, { kind, suffix }), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (std::string error; !CheckFileReplaceable(path, error)) {
        ShowSaveFailure(path, error);
        return;
    }
    std::string password;
    if (!AskSealedPassword(CSealedPasswordDlg::Mode::Seal, password))
        return;

    SealedPayload payload;
    if (m_hiddenFile) {
        payload.kind = SealedKind::File;
        payload.name = m_hiddenFile->name;
        payload.bytes = m_hiddenFile->bytes;
    } else {
        payload.bytes.assign(message.begin(), message.end());
    }
    // Argon2id and the encoding take a noticeable time: they run beside the
    // user-interface thread, which keeps the windows answering.
    SealedStatus status = SealedStatus::Ok;
    bool saved = false;
    CSealedPicture& cover = *m_pSealedPicture;
    RunWithBusyIndicator(DialogParent(), Res(IDS_BUSY_SEALING), [&] {
        status = SealPayload(cover.GetElements(), password, payload);
        if (status == SealedStatus::Ok)
            saved = cover.Save(path);
    });
    if (status != SealedStatus::Ok) {
        ShowMessage(FillIn(IDS_SEALED_FAILED, { QString::fromStdString(DescribeSealedStatus(status)) }),
            QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (!saved) {
        ShowSaveFailure(path, cover.GetReason());
        return;
    }
    if (m_bSendAfterSave != 0)
        SendSavedPicture(path);
    ShowResMessage(IDS_SAVE_FINISHED, QMessageBox::Ok, QMessageBox::Information);
    const std::string& resultTemplate = m_pictureKind == PictureKind::Bmp ? m_strBmpResultTemplate
        : m_pictureKind == PictureKind::Jpeg                              ? m_strJpegResultTemplate
                                                                          : std::string();
    ShowResultPage(BuildResultPage(resultTemplate, path), ResultNote(SaveFormat::Sealed, path));
}

QString CVeilmarkDlg::ResultNote(SaveFormat format, const std::string& path) const
{
    QString jpegRow;
    if (PictureKindFromPath(path) == PictureKind::Jpeg)
        jpegRow
            = QStringLiteral("<tr><td>JPEG</td><td>%1</td></tr>")
                  .arg(Res(format == SaveFormat::Sealed ? IDS_RESULT_JPEG_COEFFICIENTS : IDS_RESULT_JPEG_REENCODED));
    const qint64 size = QFileInfo(QString::fromStdString(path)).size();
    return FillIn(IDS_RESULT_SUMMARY, { FormatName(format), Html(path), QString::number(size), jpegRow });
}

void CVeilmarkDlg::ShowResultPage(const std::string& text, const QString& note)
{
    if (WritePage(m_strResultPage, text))
        m_browser->NavigateWithNote(QString::fromStdString(m_strResultPage), note);
}

// ---- the sealed commands --------------------------------------------------------

void CVeilmarkDlg::OnReveal()
{
    if (!m_pSealedPicture || !m_pSealedPicture->HasElements())
        return;
    std::string password;
    if (!AskSealedPassword(CSealedPasswordDlg::Mode::Open, password))
        return;
    SealedPayload payload;
    SealedStatus status = SealedStatus::NotFound;
    const CSealedPicture& cover = *m_pSealedPicture;
    RunWithBusyIndicator(DialogParent(), Res(IDS_BUSY_OPENING),
        [&] { status = OpenPayload(const_cast<CSealedPicture&>(cover).GetElements(), password, payload); });
    if (status == SealedStatus::NotFound) {
        ShowResMessage(IDS_NOTHING_SEALED, QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (status != SealedStatus::Ok) {
        ShowMessage(ToUiText(DescribeSealedStatus(status)), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    if (payload.kind == SealedKind::File) {
        SaveRevealedFile(payload.name, payload.bytes);
        return;
    }
    // The message box shows text up to a zero byte, as the compatible road does.
    const auto zero = std::find(payload.bytes.begin(), payload.bytes.end(), std::uint8_t(0));
    ForgetHiddenFile();
    m_strMessage.assign(payload.bytes.begin(), zero);
    DoDataExchange(false);
}

void CVeilmarkDlg::SaveRevealedFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    // The stored name is only a suggestion: it is shown, never trusted as a
    // path, and the file is written where the user says, never opened.
    QString suggested = QString::fromStdString(name);
    for (QChar& character : suggested)
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            character = QLatin1Char('_');
    const QString target = ChooseRevealedFileTarget(suggested);
    if (target.isEmpty())
        return;
    std::string error;
    if (!WriteFileAtomically(target.toStdString(), { std::span<const std::uint8_t>(bytes) }, error)) {
        ShowMessage(FillIn(IDS_REVEALED_FILE_NOT_WRITTEN, { target, QString::fromStdString(error) }), QMessageBox::Ok,
            QMessageBox::Warning);
        return;
    }
    ShowMessage(FillIn(IDS_REVEALED_FILE_WRITTEN, { Decimal(bytes.size()), target }), QMessageBox::Ok,
        QMessageBox::Information);
}

void CVeilmarkDlg::OnHideFile()
{
    if (m_hiddenFile) {
        ForgetHiddenFile();
        return;
    }
    if (!m_pSealedPicture || !m_pSealedPicture->HasElements())
        return;
    const QString chosen = ChooseHiddenFile();
    if (chosen.isEmpty())
        return;
    const std::string path = chosen.toStdString();
    const std::string name = BaseName(path);
    if (!IsValidSealedName(name)) {
        ShowMessage(ToUiText(DescribeSealedStatus(SealedStatus::NameInvalid)), QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    const std::uint64_t count = m_pSealedPicture->GetElementCount();
    const std::uint64_t capacity = CanCarrySealed(count, name.size()) ? SealedCapacity(count, name.size()) : 0;
    // One byte past the capacity tells a file that does not fit; no more is read.
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadFilePrefix(path, std::size_t(capacity) + 1, bytes, error)) {
        ShowMessage(FillIn(IDS_HIDDEN_FILE_UNREADABLE, { chosen, QString::fromStdString(error) }), QMessageBox::Ok,
            QMessageBox::Warning);
        return;
    }
    if (bytes.size() > capacity) {
        const qint64 size = std::max<qint64>(QFileInfo(chosen).size(), qint64(bytes.size()));
        ShowMessage(FillIn(IDS_SEALED_TOO_LONG, { QStringLiteral("file"), QString::number(size), Decimal(capacity) }),
            QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    m_hiddenFile = HiddenFile { name, std::move(bytes) };
    m_chosenFormat = SaveFormat::Sealed;
    m_messageEdit->setReadOnly(true);
    m_hideFileButton->setText(Res(IDS_REMOVE_HIDDEN_FILE));
    UpdateCount();
}

void CVeilmarkDlg::ForgetHiddenFile()
{
    if (!m_hiddenFile)
        return;
    m_hiddenFile.reset();
    m_messageEdit->setReadOnly(false);
    m_hideFileButton->setText(m_strHideFileText);
    UpdateCount();
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
        m_defaultFormat = dialog.m_defaultFormat;
        m_chosenFormat = AvailableFormat(m_defaultFormat);
        UpdateCount();
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
    QFileDialog dialog(
        this, {}, {}, QStringLiteral("All supported Files (*.jpg *.jpeg *.bmp *.png *.JPG *.JPEG *.BMP *.PNG)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString CVeilmarkDlg::ChooseSaveFile(PictureKind kind, SaveFormat& format)
{
    QString filter = QStringLiteral("Windows Bitmap file  (*.bmp)");
    QString suffix = QStringLiteral("bmp");
    if (kind == PictureKind::Jpeg) {
        filter = QStringLiteral("JPG file (*.jpg)");
        suffix = QStringLiteral("jpg");
    } else if (kind == PictureKind::Png) {
        filter = QStringLiteral("PNG file (*.png)");
        suffix = QStringLiteral("png");
    }
    QFileDialog dialog(this, {}, {}, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    // Saving onto an existing name replaces the file without a question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // The format question sits below the file list, which needs the
    // program's own dialog rather than the desktop's.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* choice = new CSaveFormatChoice(format, &dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(choice, grid->rowCount(), 0, 1, grid->columnCount());
    else
        dialog.layout()->addWidget(choice);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    format = choice->GetFormat();
    return dialog.selectedFiles().front();
}

QString CVeilmarkDlg::ChooseHiddenFile()
{
    QFileDialog dialog(this, Res(IDS_CHOOSE_HIDDEN_FILE));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString CVeilmarkDlg::ChooseRevealedFileTarget(const QString& name)
{
    QFileDialog dialog(DialogParent(), FillIn(IDS_SAVE_REVEALED_FILE, { name }));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

bool CVeilmarkDlg::AskSealedPassword(CSealedPasswordDlg::Mode mode, std::string& password)
{
    CSealedPasswordDlg prompt(mode, DialogParent());
    if (prompt.DoModal() != QDialog::Accepted)
        return false;
    password = prompt.GetPassword();
    return true;
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
