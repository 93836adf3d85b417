#pragma once

#include "app/LogDlg.h"
#include "app/PasswordDlg.h"
#include "app/SealedPasswordDlg.h"
#include "res/ControlIds.h"
#include "ui/DialogBuilder.h"

#include <QApplication>
#include <QByteArray>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

// Helpers for driving the program's real dialogs from Qt Test.

// Writes a test picture: a colour gradient with a pure magenta block at
// (20, 20, 60, 40), as a 24-bit BMP or a JPEG file (chosen by the extension).
inline bool WriteTestPicture(const QString& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(x * 255 / width, y * 255 / height, 180));
    }
    QPainter painter(&image);
    painter.fillRect(20, 20, 60, 40, QColor(255, 0, 255));
    painter.end();
    return image.save(path, nullptr, 92);
}

inline QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Types any text, one key event per character (QTest::keyClicks takes ASCII only).
inline void TypeText(QWidget* widget, const QString& text)
{
    for (const QChar character : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
}

// Points the per-user folders at a private temporary folder, so settings and
// pages never touch the real home; call before the first QSettings is used.
inline void UsePrivateUserFolders(const QTemporaryDir& home)
{
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
}

// Answers the modal dialogs a command opens, one scripted step per dialog, in
// order. Every dialog seen is recorded ("message: <text>", "password: <prompt>",
// "file", "about: <version>", ...), so a test can compare the exact sequence.
// A dialog without a step left is recorded as "unexpected ..." and cancelled.
class CDialogScript : public QObject {
public:
    using Step = std::function<void(QWidget* dialog)>;

    CDialogScript()
    {
        m_timer.setInterval(15);
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start();
    }

    void Then(Step step) { m_steps.push_back(std::move(step)); }
    bool Finished() const { return m_steps.empty(); }
    QStringList m_seen;
    // Text of the log window when each message box appeared.
    QStringList m_logAtMessage;
    // Busy indicators seen; they close themselves and are not answered.
    int m_busySeen = 0;

private:
    void Poll()
    {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || dialog->property("scriptHandled").toBool() || !dialog->isVisible())
            return;
        if (qobject_cast<QProgressDialog*>(dialog) != nullptr) {
            dialog->setProperty("scriptHandled", true);
            ++m_busySeen;
            return;
        }
        dialog->setProperty("scriptHandled", true);
        if (m_steps.empty()) {
            m_seen << QStringLiteral("unexpected ") + dialog->metaObject()->className();
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                m_seen.last() += QStringLiteral(": ") + box->text();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        step(dialog);
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
};

// Steps of a dialog script.
namespace Answer {

inline QString LogText()
{
    CLogDlg* log = GetLogWindow();
    return log != nullptr ? log->GetText() : QString();
}

// Records the message box and presses one of its buttons.
inline CDialogScript::Step Message(CDialogScript& script, QMessageBox::StandardButton button)
{
    return [&script, button](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QAbstractButton* pressed = box != nullptr ? box->button(button) : nullptr;
        if (pressed == nullptr) {
            script.m_seen << QStringLiteral("wrong dialog for a message answer: ") + dialog->metaObject()->className();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        script.m_seen << QStringLiteral("message: ") + box->text();
        script.m_logAtMessage << LogText();
        pressed->click();
    };
}

// Types the file name into the file dialog and accepts it.
inline CDialogScript::Step File(CDialogScript& script, QString path)
{
    return [&script, path](QWidget* dialog) {
        auto* fileDialog = qobject_cast<QFileDialog*>(dialog);
        if (fileDialog == nullptr) {
            script.m_seen << QStringLiteral("wrong dialog for a file answer: ") + dialog->metaObject()->className();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        script.m_seen << QStringLiteral("file");
        auto* nameField = fileDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        nameField->setText(path);
        QMetaObject::invokeMethod(fileDialog, "accept", Qt::DirectConnection);
    };
}

// Types the password into the prompt's field and presses Enter.
inline CDialogScript::Step Password(CDialogScript& script, QString password)
{
    return [&script, password](QWidget* dialog) {
        auto* prompt = qobject_cast<CPasswordDlg*>(dialog);
        if (prompt == nullptr) {
            script.m_seen << QStringLiteral("wrong dialog for a password: ") + dialog->metaObject()->className();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        script.m_seen << QStringLiteral("password: ") + FindControl<QPlainTextEdit>(*prompt, 1009)->toPlainText();
        auto* field = FindControl<QLineEdit>(*prompt, 1007);
        TypeText(field, password);
        QTest::keyClick(field, Qt::Key_Return);
    };
}

// Chooses the format in the save dialog ("sealedFormat" or
// "compatibleFormat"), records it with the sentence shown about it, and
// answers the file name as File does.
inline CDialogScript::Step SaveAs(CDialogScript& script, QString path, QString formatButton)
{
    return [&script, path, formatButton](QWidget* dialog) {
        auto* button = dialog->findChild<QRadioButton*>(formatButton);
        auto* note = dialog->findChild<QLabel*>(QStringLiteral("compatibleNote"));
        if (button == nullptr || note == nullptr) {
            script.m_seen << QStringLiteral("no format question in ") + dialog->metaObject()->className();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        button->click();
        script.m_seen << QStringLiteral("file as ") + button->text().remove(QLatin1Char('&'))
                + (note->isVisibleTo(dialog) ? QStringLiteral(" / ") + note->text() : QString());
        File(script, path)(dialog);
    };
}

// Waits for the sealed prompt's cost line, records prompt and cost, types
// the password (and, when sealing, `confirm` into the second field) and
// presses Enter.
inline CDialogScript::Step SealedPassword(CDialogScript& script, QString password, QString confirm = {})
{
    return [&script, password, confirm](QWidget* dialog) {
        auto* prompt = qobject_cast<CSealedPasswordDlg*>(dialog);
        if (prompt == nullptr) {
            script.m_seen << QStringLiteral("wrong dialog for a sealed password: ") + dialog->metaObject()->className();
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
            return;
        }
        auto* cost = FindControl<QLabel>(*prompt, IDC_SEALED_COST);
        [[maybe_unused]] const bool measured
            = QTest::qWaitFor([cost] { return cost->text().contains(QLatin1String("seconds")); }, 10000);
        script.m_seen << QStringLiteral("sealed password: ")
                + FindControl<QPlainTextEdit>(*prompt, IDC_SEALED_PROMPT)->toPlainText();
        script.m_seen.last().replace(QLatin1Char('\n'), QLatin1Char(' '));
        script.m_seen << QStringLiteral("cost: ") + cost->text();
        TypeText(FindControl<QLineEdit>(*prompt, IDC_SEALED_PASSWORD), password);
        auto* second = FindControl<QLineEdit>(*prompt, IDC_SEALED_CONFIRM);
        if (second->isVisibleTo(prompt))
            TypeText(second, confirm.isNull() ? password : confirm);
        QTest::keyClick(FindControl<QLineEdit>(*prompt, IDC_SEALED_PASSWORD), Qt::Key_Return);
    };
}

// Records the dialog and cancels it.
inline CDialogScript::Step Cancel(CDialogScript& script)
{
    return [&script](QWidget* dialog) {
        script.m_seen << QStringLiteral("cancelled ") + dialog->metaObject()->className();
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    };
}

} // namespace Answer
