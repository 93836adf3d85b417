// The resizable dialog base: anchored controls, minimum size, remembered size.

#include "support/GuiTestSupport.h"

#include "app/ResizableDlg.h"
#include "app/VeilmarkDlg.h"

#include <QSettings>
#include <QSizeGrip>

#include <memory>

namespace {

// Any template works with the base; the option dialog's controls serve as
// anchored controls here.
class CAnchorDlg : public CResizableDlg {
public:
    CAnchorDlg()
        : CResizableDlg(IDD_OPTION)
    {
        m_bRememberSize = 0;
    }
};

struct Geometries {
    QMap<int, QRect> rects;
};

Geometries Capture(const QWidget& dialog, const QList<int>& ids)
{
    Geometries result;
    for (int id : ids)
        result.rects[id] = FindControl(dialog, id)->geometry();
    return result;
}

} // namespace

class ResizeTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_program;

    std::unique_ptr<CVeilmarkDlg> OpenMainWindow()
    {
        auto dialog = std::make_unique<CVeilmarkDlg>(nullptr, m_program.path().toStdString());
        dialog->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(dialog.get());
        return dialog;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_program.isValid());
        UsePrivateUserFolders(m_home);
    }

    void init() { QFile::remove(CResizableDlg::ProfilePath()); }

    void anchorFlags_data()
    {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<QPoint>("moved"); // in units of (dx, dy)
        QTest::addColumn<QPoint>("resized"); // in units of (dx, dy)
        QTest::newRow("none") << 0u << QPoint(0, 0) << QPoint(0, 0);
        QTest::newRow("1 moves right") << 1u << QPoint(1, 0) << QPoint(0, 0);
        QTest::newRow("2 moves down") << 2u << QPoint(0, 1) << QPoint(0, 0);
        QTest::newRow("5 widens, the move is ignored") << 5u << QPoint(0, 0) << QPoint(1, 0);
        QTest::newRow("6 widens and moves down") << 6u << QPoint(0, 1) << QPoint(1, 0);
        QTest::newRow("8 grows taller") << 8u << QPoint(0, 0) << QPoint(0, 1);
        QTest::newRow("12 grows both ways") << 12u << QPoint(0, 0) << QPoint(1, 1);
        QTest::newRow("15 grows both ways") << 15u << QPoint(0, 0) << QPoint(1, 1);
    }

    void anchorFlags()
    {
        QFETCH(unsigned, flags);
        QFETCH(QPoint, moved);
        QFETCH(QPoint, resized);
        CAnchorDlg dialog;
        dialog.AddAnchor(1015, flags);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QRect before = FindControl(dialog, 1015)->geometry();
        const QSize start = dialog.size();
        const int dx = 37, dy = 23;
        dialog.resize(start + QSize(dx, dy));
        QTRY_COMPARE(dialog.size(), start + QSize(dx, dy));
        const QRect after = FindControl(dialog, 1015)->geometry();
        QCOMPARE(after.topLeft() - before.topLeft(), QPoint(moved.x() * dx, moved.y() * dy));
        QCOMPARE(QPoint(after.width() - before.width(), after.height() - before.height()),
            QPoint(resized.x() * dx, resized.y() * dy));
        // Shrinking back restores the layout exactly.
        dialog.resize(start);
        QTRY_COMPARE(FindControl(dialog, 1015)->geometry(), before);
    }

    void mainWindowFollowsItsEdgesAndRemembersItsSize()
    {
        const QList<int> ids { 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008 };
        QSize created;
        QSize enlarged;
        Geometries after;
        {
            auto dialog = OpenMainWindow();
            created = dialog->size();
            const Geometries before = Capture(*dialog, ids);
            const int dx = 140, dy = 90;
            enlarged = created + QSize(dx, dy);
            dialog->resize(enlarged);
            QTRY_COMPARE(dialog->size(), enlarged);
            after = Capture(*dialog, ids);

            const QRect browser = before.rects[1000];
            QCOMPARE(after.rects[1000], browser.adjusted(0, 0, dx, dy));
            QCOMPARE(after.rects[1003], before.rects[1003].adjusted(0, dy, dx, dy));
            QCOMPARE(after.rects[1005], before.rects[1005].adjusted(0, dy, dx, dy));
            QCOMPARE(after.rects[1004], before.rects[1004].adjusted(0, 0, 0, dy));
            for (int button : { 1001, 1002, 1006, 1007, 1008 })
                QCOMPARE(after.rects[button], before.rects[button]);
            const auto* grip = dialog->findChild<QSizeGrip*>();
            QVERIFY(grip != nullptr && grip->isVisible());
            QTRY_COMPARE(grip->geometry().bottomRight(), dialog->rect().bottomRight());

            // Never smaller than at creation.
            dialog->resize(created / 2);
            QTRY_COMPARE(dialog->size(), created);
            QCOMPARE(Capture(*dialog, ids).rects, before.rects);
            dialog->resize(enlarged);
            QTRY_COMPARE(dialog->size(), enlarged);
            dialog->done(QDialog::Rejected);
        }
        QSettings profile(CResizableDlg::ProfilePath(), QSettings::IniFormat);
        QCOMPARE(QFileInfo(profile.fileName()).fileName(), QString("gui_resize.ini"));
        QCOMPARE(profile.value("66/CX").toInt(), enlarged.width());
        QCOMPARE(profile.value("66/CY").toInt(), enlarged.height());

        // The next start opens at the remembered size, laid out for it.
        auto dialog = OpenMainWindow();
        QTRY_COMPARE(dialog->size(), enlarged);
        QCOMPARE(Capture(*dialog, ids).rects, after.rects);
        QCOMPARE(dialog->minimumSize(), created);
    }

    void sizeIsRememberedOnlyAfterAResize()
    {
        QSize created;
        {
            auto dialog = OpenMainWindow();
            created = dialog->size();
        }
        QVERIFY(!QSettings(CResizableDlg::ProfilePath(), QSettings::IniFormat).contains("66/CX"));

        // A stored zero for either size leaves the template size in force.
        {
            QSettings profile(CResizableDlg::ProfilePath(), QSettings::IniFormat);
            profile.setValue("66/CX", 0);
            profile.setValue("66/CY", created.height() + 100);
        }
        auto dialog = OpenMainWindow();
        QCOMPARE(dialog->size(), created);
    }
};

QTEST_MAIN(ResizeTest)
#include "ResizeTest.moc"
