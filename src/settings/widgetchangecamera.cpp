#include "widgetchangecamera.h"

#include "databases.h"
#include "cameramanager.h"
#include "colorbutton.h"
#include "lanstr.h"
#include "notice.h"
#include "screenfit.h"
#include "winstate.h"
#include "wizardparawidget.h"
#include "operatordialogs.h"

#include <QGridLayout>
#include <QLabel>

WidgetChangeCamera::WidgetChangeCamera(int cameras, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(lanStr(396));
    setStyleSheet(QStringLiteral("QDialog{background:#20303c;} QLabel{color:white;font-size:20px;}"));
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < cameras; ++i) {
        grid->addWidget(new QLabel(lanStr(395).arg(i + 1).trimmed(), this), i, 0);
        auto* box = new ComboBox(this);
        for (int c = 0; c < cameras; ++c)
            box->addItem(lanStr(43).arg(c + 1).trimmed());
        box->setCurrentIndex(i);
        screenfit::combo(box);
        grid->addWidget(box, i, 1);
        position.append(box);
    }
    auto* ok = new ColorButton(lanStr(121), this, 3);
    auto* no = new ColorButton(lanStr(124), this, 3);
    screenfit::button(ok);
    screenfit::button(no);
    connect(ok, &QPushButton::clicked, this, &WidgetChangeCamera::accept);
    connect(no, &QPushButton::clicked, this, &WidgetChangeCamera::reject);
    grid->addWidget(no, cameras, 0);
    grid->addWidget(ok, cameras, 1);
}

void WidgetChangeCamera::accept()
{
    QVector<int> order;
    for (ComboBox* box : position) {
        const int c = box->currentIndex();
        if (order.contains(c)) {
            OperatorDialogs::get().warn(lanStr(361).arg(lanStr(43).arg(c + 1).trimmed()));
            return;
        }
        order.append(c);
    }
    if (!CameraManager::getInstance()->resortCameraSN(order)) {
        OperatorDialogs::get().warn(lanStr(688));
        return;
    }
    Databases::get().InsertRecord(lanStr(396));
    Notice::post(parentWidget() ? parentWidget() : this, lanStr(709));
    QDialog::accept();
}
