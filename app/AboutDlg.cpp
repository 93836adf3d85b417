#include "app/AboutDlg.h"

#include "base/VersionMarker.h"
#include "res/Version.h"
#include "ui/DialogBuilder.h"

#include <QLineEdit>
#include <QPainter>

CAboutDlg::CAboutDlg(QWidget* parent, std::string programPath)
    : QDialog(parent)
    , m_strProgramPath(std::move(programPath))
{
    BuildDialog(*this, IDD_ABOUTBOX);
    OnInitDialog();
}

namespace {

// Keeps the marker object linked into the program, so its file carries it.
[[gnu::used]] const char* const kKeepEmbeddedVersion = kEmbeddedFileVersion;

} // namespace

void CAboutDlg::OnInitDialog()
{
    std::string error;
    if (!ReadVersionText(m_strProgramPath, m_strVersion, error))
        m_strVersion = "GetVer_failed";
    DoDataExchange(false);
}

void CAboutDlg::DoDataExchange(bool saveAndValidate)
{
    auto* version = FindControl<QLineEdit>(*this, IDC_VERSION);
    if (saveAndValidate)
        m_strVersion = version->text().toStdString();
    else
        version->setText(QString::fromStdString(m_strVersion));
}

void CAboutDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // The product name in a heavy italic face, 22 pixels high, centred on the
    // first line of the client area. Arial Black where installed, otherwise
    // the nearest heavy sans-serif face.
    QFont font;
    font.setFamilies({ QStringLiteral("Arial Black"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans"),
        QStringLiteral("Liberation Sans") });
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(22);
    font.setWeight(QFont::Black);
    font.setItalic(true);
    QPainter painter(this);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Veilmark"));
}
