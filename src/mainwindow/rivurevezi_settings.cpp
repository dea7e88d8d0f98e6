// The run screen's settings and help buttons, the version labels and the
// zoom slider; the settings screen and the help pager themselves belong to
// the settings library.
#include "rivurevezi.h"

#include "drawroiwidget.h"
#include "helpwidget.h"
#include "lanstr.h"
#include "viewutil.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <opencv2/core/version.hpp>

namespace {
constexpr int kZoomSteps = 10;   // slider value / 10 = zoom factor
constexpr int kZoomMax = 40;
}  // namespace

void RiVuRevezi::InitSettings(QHBoxLayout* bar)
{
    wizardParaWidget = new WizardParaWidget(this);
    wizardParaWidget->setRoiPage(drawROIWidget);
    helpWidget = new HelpWidget(this);
    connect(wizardParaWidget, &WizardParaWidget::closed, this, [this] {
        showhideHelp(true);
        showhideVersion(true);
    });
    // The ROI page has set the picture it wants.
    if (drawROIWidget)
        connect(drawROIWidget, &DrawROIWidget::helpRequested, this, [this] {
            helpWidget->show();
            helpWidget->raise();
        });

    const QString style = QStringLiteral("font-family: wqy-microhei; font-size: 26px;");
    auto* settings = new QPushButton(lanStr(215).trimmed(), this);
    settings->setMinimumSize(230, 80);
    settings->setStyleSheet(style);
    connect(settings, &QPushButton::clicked, this, &RiVuRevezi::SlotSettings);
    settingsButton = settings;
    auto* help = new QPushButton(lanStr(111).trimmed(), this);
    help->setMinimumSize(160, 80);
    help->setStyleSheet(style);
    connect(help, &QPushButton::clicked, this, &RiVuRevezi::SlotHelp);
    helpButton = help;

    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(kZoomSteps, kZoomMax);
    slider->setMinimumWidth(200);
    connect(slider, &QSlider::valueChanged, this, [this](int v) {
        zoom = double(v) / kZoomSteps;
        // No movement: only keeps the picture over the whole view.
        viewutil::updateMScale(lastPressX, lastPressY);
        update();
    });
    zoomSlider = slider;
    slider->setVisible(gpWPara && gpWPara->words[166] != 0);

    auto* version = new QLabel(QStringLiteral("V%1").arg(QString::fromLatin1(kAppVersion)), this);
    auto* library = new QLabel(QStringLiteral("%1 OpenCV %2").arg(lanStr(615), QStringLiteral(CV_VERSION)), this);
    versionLabel[0] = version;
    versionLabel[1] = library;
    for (QLabel* l : {version, library})
        l->setStyleSheet(QStringLiteral("font-family: wqy-microhei; font-size: 18px;"));

    bar->addWidget(slider);
    bar->addWidget(version);
    bar->addWidget(library);
    bar->addWidget(settings);
    bar->addWidget(help);
}

void RiVuRevezi::SlotSettings()
{
    if (!wizardParaWidget || runState == 1 || detectState == 3)
        return;
    if (CheckPassword() == 0)
        return;
    showhideHelp(false);
    showhideVersion(false);
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
