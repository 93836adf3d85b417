// The installed program and the program under a real X server: both start,
// find their files, load a picture and show its page.

#include "support/GuiTestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run RunProgram(
    const QString& program, const QStringList& arguments, const QProcessEnvironment& environment, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.output = "timed out: " + QString::fromLocal8Bit(process.readAll());
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;
    QString m_picture;

    QProcessEnvironment Environment(const QString& platform) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", platform);
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_CONFIG_HOME", m_home.path() + "/config");
        environment.insert("XDG_DATA_HOME", m_home.path() + "/data");
        // Under the sanitizers: leaks of the system's D-Bus library are not ours.
        const QString leakOptions = environment.value("LSAN_OPTIONS");
        environment.insert("LSAN_OPTIONS",
            (leakOptions.isEmpty() ? QString() : leakOptions + ":")
                + "suppressions=" VEILMARK_APP_TEST_DIR "/lsan.supp");
        return environment;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_work.isValid());
        m_picture = m_work.path() + "/picture.bmp";
        QVERIFY(WriteTestPicture(m_picture, 200, 120));
    }

    void installedProgramFindsItsFiles()
    {
        const QString prefix = m_work.path() + "/prefix";
        const Run install = RunProgram(VEILMARK_CMAKE_COMMAND,
            { "--install", VEILMARK_BUILD_DIR, "--prefix", prefix, "--component", "desktop" },
            QProcessEnvironment::systemEnvironment());
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));

        const QString programDir = prefix + "/libexec/veilmark/";
        for (const char* file : { "veilmark", "Veilmark.html", "welcome.html", "veilmark.png" })
            QVERIFY2(QFileInfo::exists(programDir + file), file);
        QCOMPARE(QFileInfo(prefix + "/bin/veilmark").canonicalFilePath(),
            QFileInfo(programDir + "veilmark").canonicalFilePath());
        const QByteArray entry = ReadFileBytes(prefix + "/share/applications/veilmark.desktop");
        QVERIFY(entry.contains("Exec=veilmark") && entry.contains("Icon=veilmark"));
        QVERIFY(QFileInfo::exists(prefix + "/share/icons/hicolor/256x256/apps/veilmark.png"));

        // A template in the installed program folder is used.
        QVERIFY(WriteFileBytes(programDir + "ltemplateBMP.htm", "<p>installed %IMGWIDTH%x%IMGHEIGHT%</p>"));
        const Run run = RunProgram(prefix + "/bin/veilmark", { "--self-test", m_picture }, Environment("offscreen"));
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains("program-folder: " + programDir + "\n"), qPrintable(run.output));
        QVERIFY2(run.output.contains("help-file: " + programDir + "Veilmark.html (ok)"), qPrintable(run.output));
        QVERIFY2(run.output.contains("home-page: " + programDir + "welcome.html (ok)"), qPrintable(run.output));
        QVERIFY2(run.output.contains("load-page: " + programDir + "load.htm (ok)"), qPrintable(run.output));
        QCOMPARE(ReadFileBytes(programDir + "load.htm"), QByteArray("<p>installed 200x120</p>\0", 25));
    }

    void programShowsThePictureUnderAnXServer()
    {
        const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
        if (xvfbRun.isEmpty())
            QSKIP("xvfb-run is not installed");
        const QString screenshot = m_work.path() + "/screenshot.png";
        const Run run = RunProgram(xvfbRun,
            { "-a", "-s", "-screen 0 1280x1024x24", VEILMARK_BIN_DIR "/veilmark", "--self-test", m_picture,
                "--screenshot", screenshot },
            Environment("xcb"));
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));

        // The picture's magenta block and the report table's teal header row
        // are on screen.
        const QImage shot(screenshot);
        QVERIFY(!shot.isNull());
        int magenta = 0;
        int teal = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                magenta += pixel == qRgb(255, 0, 255);
                teal += pixel == qRgb(0, 128, 128);
            }
        }
        QVERIFY2(magenta >= 60 * 40, qPrintable(QString::number(magenta)));
        QVERIFY2(teal > 1000, qPrintable(QString::number(teal)));
    }
};

QTEST_MAIN(InstallTest)
#include "InstallTest.moc"
