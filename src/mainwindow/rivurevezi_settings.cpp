// The run screen's settings and help buttons, the version labels and the
// zoom slider; the settings screen and the help pager themselves belong to
// the settings library.
#include "rivurevezi.h"

#include "colorbutton.h"
#include "drawroiwidget.h"
#include "editsession.h"
#include "helpwidget.h"
#include "iostatus.h"
#include "lanstr.h"
#include "viewutil.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QFontMetrics>
#include <QSlider>

#include <opencv2/core/version.hpp>

#include <functional>

namespace {
constexpr int kZoomSteps = 10;   // slider value / 10 = zoom factor
constexpr int kZoomMax = 40;

// Calls `place` whenever the watched window is resized.
class CornerFollower : public QObject {
public:
    CornerFollower(QWidget* window, std::function<void()> place) : QObject(window), place_(std::move(place))
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Resize)
            place_();
        return false;
    }

private:
    std::function<void()> place_;
};
}  // namespace

void RiVuRevezi::InitSettings()
{
    wizardParaWidget = new WizardParaWidget(this);
    wizardParaWidget->setRoiPage(drawROIWidget);
    // Between the settings' pages and their own buttons: the NG that waits
    // behind the screen (the alarm sounds, nothing else shows it).
    ngWaitingMark = new QLabel(lanStr(752), wizardParaWidget);
    ngWaitingMark->setObjectName(QStringLiteral("ngWaitingMark"));
    ngWaitingMark->setAlignment(Qt::AlignCenter);
    ngWaitingMark->setStyleSheet(QStringLiteral("QLabel#ngWaitingMark{color:white;background:rgb(200,30,30);"
                                                "font-size:26px;font-weight:bold;padding:6px;}"));
    ngWaitingMark->hide();
    if (auto* column = qobject_cast<QBoxLayout*>(wizardParaWidget->layout()))
        column->insertWidget(column->count() - 1, ngWaitingMark);
    helpWidget = new HelpWidget(this);
    connect(wizardParaWidget, &WizardParaWidget::closed, this, [this] {
        showhideHelp(true);
        // Names confirmed on the settings screen reach the I/O panel at once.
        if (gpWPara)
            gpWPara->FillNames();
        if (ioStatusWidget)
            ioStatusWidget->update();
        // An NG that came while the settings were open shows now, once the
        // settings have finished closing (they hide before they apply).
        QMetaObject::invokeMethod(this, [this] { OpenWaitingRoiPage(); }, Qt::QueuedConnection);
    });
    // The ROI page has set the picture it wants.
    if (drawROIWidget)
        connect(drawROIWidget, &DrawROIWidget::helpRequested, this, [this] {
            helpWidget->show();
            helpWidget->raise();
        });

    // The top right corner of the run screen, over the camera pictures: the
    // version labels, the settings and help buttons and the zoom slider.
    auto* corner = new QWidget(this);
    settingsCorner = corner;
    corner->setObjectName(QStringLiteral("settingsCorner"));
    auto* lay = new QGridLayout(corner);
    lay->setContentsMargins(6, 6, 6, 6);
    auto* settings = new ColorButton(lanStr(215).trimmed(), corner, 4);
    settings->setMinimumSize(QFontMetrics(settings->font()).horizontalAdvance(settings->text()) + 40, 64);
    connect(settings, &QPushButton::clicked, this, &RiVuRevezi::SlotSettings);
    settingsButton = settings;
    auto* help = new ColorButton(lanStr(111).trimmed(), corner, 4);
    help->setMinimumSize(QFontMetrics(help->font()).horizontalAdvance(help->text()) + 40, 64);
    connect(help, &QPushButton::clicked, this, &RiVuRevezi::SlotHelp);
    helpButton = help;

    auto* version = new QLabel(QStringLiteral("V%1").arg(QString::fromLatin1(kAppVersion)), corner);
    auto* library = new QLabel(QStringLiteral("%1 OpenCV %2").arg(lanStr(615), QStringLiteral(CV_VERSION)), corner);
    versionLabel[0] = version;
    versionLabel[1] = library;
    for (QLabel* l : {version, library}) {
        l->setStyleSheet(QStringLiteral("font-family: wqy-microhei; font-size: 18px; color: rgb(0, 255, 0);"));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    auto* slider = new QSlider(Qt::Horizontal, corner);
    slider->setRange(kZoomSteps, kZoomMax);
    connect(slider, &QSlider::valueChanged, this, [this](int v) {
        EditSession::get().setZoom(double(v) / kZoomSteps);
        // No movement: only keeps the picture over the whole view.
        viewutil::updateMScale(EditSession::get().lastPressX(), EditSession::get().lastPressY());
        update();
    });
    zoomSlider = slider;
    slider->setVisible(gpWPara && gpWPara->words[Word::ZoomSlider] != 0);

    lay->addWidget(version, 0, 0, 1, 2);
    lay->addWidget(library, 1, 0, 1, 2);
    lay->addWidget(settings, 2, 0);
    lay->addWidget(help, 2, 1);
    lay->addWidget(slider, 3, 0, 1, 2);
    corner->adjustSize();

    // Kept in the corner whatever size the window takes.
    auto place = [this, corner] {
        corner->adjustSize();
        corner->move(width() - corner->width(), 30);
        corner->raise();
    };
    auto* follower = new CornerFollower(this, place);
    Q_UNUSED(follower);
    place();
}

void RiVuRevezi::ShowNgWaitingMark()
{
    if (ngWaitingMark)
        ngWaitingMark->setVisible(roiPageWaiting);
}

void RiVuRevezi::SlotSettings()
{
    if (!wizardParaWidget)
        return;
    if (CheckPassword() == 0)
        return;
    showhideHelp(false);
    wizardParaWidget->openScreen();
}

void RiVuRevezi::SlotHelp()
{
    if (!helpWidget)
        return;
    gHelpC = 0;
    helpWidget->show();
    helpWidget->raise();
}
