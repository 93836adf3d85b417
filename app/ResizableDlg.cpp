#include "app/ResizableDlg.h"

#include "ui/DialogBuilder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QResizeEvent>
#include <QSettings>

namespace {

QSettings OpenProfile()
{
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QSettings(
        QSettings::IniFormat, QSettings::UserScope, executable.isEmpty() ? QStringLiteral("veilmark") : executable);
}

} // namespace

CResizableDlg::CResizableDlg(int templateId, QWidget* parent)
    : QDialog(parent)
    , m_templateId(templateId)
{
    BuildDialog(*this, templateId);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // The creation size is the smallest the window may become; it is also the
    // size the anchored controls are laid out for.
    m_minWidth = width();
    m_minHeight = height();
    setMinimumSize(m_minWidth, m_minHeight);
    m_lastWidth = width();
    m_lastHeight = height();
    setSizeGripEnabled(m_bGrip != 0);
}

CResizableDlg::~CResizableDlg() { StoreWindowSize(); }

void CResizableDlg::AddAnchor(int controlId, unsigned flags)
{
    if ((flags & 0xFFFFu) == 0)
        return;
    m_anchors.push_back((std::uint32_t(flags) << 16) | (std::uint32_t(controlId) & 0xFFFFu));
}

QString CResizableDlg::GetSectionName() const { return QString::number(m_templateId, 16); }

QString CResizableDlg::ProfilePath() { return OpenProfile().fileName(); }

void CResizableDlg::OnInitDialog()
{
    if (m_bRememberSize == 0)
        return;
    QSettings profile = OpenProfile();
    profile.beginGroup(GetSectionName());
    const int cx = profile.value(QStringLiteral("CX"), 0).toInt();
    const int cy = profile.value(QStringLiteral("CY"), 0).toInt();
    if (cx != 0 && cy != 0)
        resize(cx, cy);
}

void CResizableDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event); // moves the size grip to the new corner
    if (isMinimized())
        return;
    const int cx = event->size().width();
    const int cy = event->size().height();
    const int dx = cx - m_lastWidth;
    const int dy = cy - m_lastHeight;
    if (m_lastWidth != 0 && (dx != 0 || dy != 0)) {
        m_bResized = 1;
        for (const std::uint32_t anchor : m_anchors) {
            const unsigned flags = anchor >> 16;
            QWidget* control = FindControl(*this, int(anchor & 0xFFFFu));
            if (control == nullptr || flags == 0)
                continue;
            QRect rect = control->geometry();
            if ((flags & ANCHOR_SIZE_X) != 0)
                rect.setRight(rect.right() + dx);
            else if ((flags & ANCHOR_MOVE_X) != 0)
                rect.translate(dx, 0);
            if ((flags & ANCHOR_SIZE_Y) != 0)
                rect.setBottom(rect.bottom() + dy);
            else if ((flags & ANCHOR_MOVE_Y) != 0)
                rect.translate(0, dy);
            control->setGeometry(rect);
        }
    }
    m_lastWidth = cx;
    m_lastHeight = cy;
}

void CResizableDlg::StoreWindowSize()
{
    if (m_bRememberSize != 0 && m_bResized != 0 && m_lastWidth != 0 && m_lastHeight != 0) {
        QSettings profile = OpenProfile();
        profile.beginGroup(GetSectionName());
        profile.setValue(QStringLiteral("CX"), width());
        profile.setValue(QStringLiteral("CY"), height());
        profile.endGroup();
        profile.sync();
    }
    m_minWidth = m_minHeight = 0;
    m_lastWidth = m_lastHeight = 0;
    m_bResized = 0;
}

void CResizableDlg::done(int result)
{
    StoreWindowSize();
    QDialog::done(result);
}
