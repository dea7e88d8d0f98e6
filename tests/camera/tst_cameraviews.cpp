#include "cameraviews.h"
#include "editsession.h"
#include "viewrig.h"
#include "viewutil.h"

#include <QtTest>

#include <memory>

using rig::ViewRig;

// The registry of views and the edit session are process-wide: what they
// keep must never outlive the views and timers the main window owns.
class TestCameraViews : public QObject {
    Q_OBJECT
private slots:
    void viewsAndFoldersStayInRange()
    {
        CameraViews::clear();
        QCOMPARE(CameraViews::at(0), nullptr);
        {
            auto r = std::make_unique<ViewRig>();
            CammerWidget* view = r->view.get();
            QCOMPARE(CameraViews::at(0), view);
            CameraViews::set(kMaxCamera - 1, view);
            CameraViews::set(kMaxCamera, view);   // outside: ignored
            CameraViews::set(-1, view);
            QCOMPARE(CameraViews::at(kMaxCamera - 1), view);
            QCOMPARE(CameraViews::at(kMaxCamera), nullptr);
            QCOMPARE(CameraViews::at(-1), nullptr);
            r.reset();
            // The view is gone: the registry does not hand out a dangling pointer.
            QCOMPARE(CameraViews::at(kMaxCamera - 1), nullptr);
        }

        CameraViews::setPictureFolders(1, 7, QDir(QStringLiteral("/ng17")), QDir(QStringLiteral("/ok17")));
        CameraViews::setPictureFolders(1, kMaxDetect, QDir(QStringLiteral("/bad")), QDir(QStringLiteral("/bad")));
        QCOMPARE(CameraViews::pictureFolder(1, 7, false).path(), QStringLiteral("/ng17"));
        QCOMPARE(CameraViews::pictureFolder(1, 7, true).path(), QStringLiteral("/ok17"));
        QCOMPARE(CameraViews::pictureFolder(2, 0, true), QDir());
        QCOMPARE(CameraViews::pictureFolder(1, kMaxDetect, true), QDir());
        QCOMPARE(CameraViews::pictureFolder(-1, 0, false), QDir());
        CameraViews::clear();
        QCOMPARE(CameraViews::pictureFolder(1, 7, false), QDir());
    }

    void sessionForgetsWhatAWindowOwned()
    {
        EditSession& s = EditSession::get();
        {
            QTimer hint;
            QTimer bar;
            s.setSizeHintTimer(&hint);
            s.setButtonBarTimer(&bar);
            QCOMPARE(s.sizeHintTimer(), &hint);
            QCOMPARE(s.buttonBarTimer(), &bar);
        }
        QCOMPARE(s.sizeHintTimer(), nullptr);
        QCOMPARE(s.buttonBarTimer(), nullptr);

        s.setCurrentCamera(3);
        s.setCurrentDetect(5);
        s.setZoom(2.5);
        s.setPan(-10, -20);
        s.reset();
        QCOMPARE(s.currentCamera(), 0);
        QCOMPARE(s.currentDetect(), 0);
        QCOMPARE(s.zoom(), 1.0);
        QCOMPARE(s.panX(), 0.0);
        QCOMPARE(s.panY(), 0.0);

        const QVector<QRgb> grey = viewutil::greyTable();
        QCOMPARE(grey.size(), 256);
        for (int i : {0, 1, 128, 255})
            QCOMPARE(grey[i], qRgb(i, i, i));
    }
};

QTEST_MAIN(TestCameraViews)
#include "tst_cameraviews.moc"
