#include "ccomp_dialogframe.h"

#include "colorbutton.h"
#include "platform.h"
#include "publictools_widget.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>

CComp_DialogFrame::CComp_DialogFrame(const QString& title, QWidget* parent)
    : QDialog(parent)
{
    auto* titleBar = new QWidget(this);
    titleBar->setAttribute(Qt::WA_StyledBackground);
    titleBar->setFixedHeight(60);
    titleBar->setStyleSheet(QStringLiteral("color:white;background-color:rgb(80,80,80);font-size:32px"));

    title_ = new QLabel(title, titleBar);
    title_->setFixedHeight(60);
    ok_ = new QPushButton(QStringLiteral("确定"), titleBar);
    ok_->setFixedSize(100, 50);
    ok_->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#8BC34A;"));
    connect(ok_, &QPushButton::pressed, this, &CComp_DialogFrame::acceptDialog);

    titleLayout_ = new QHBoxLayout(titleBar);
    titleLayout_->addWidget(title_);
    titleLayout_->addStretch();
    titleLayout_->addWidget(ok_);
    titleLayout_->setContentsMargins(8, 0, 8, 0);

    body_ = new QWidget(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleBar);
    layout->addWidget(body_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->setContentsMargins(0, 0, 0, 5);

    setMinimumSize(1000, 800);
    // Frameless with its own title bar; still a window of its own, so that
    // it stays modal when it is given a parent.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);

    qInfo("open dialog:\"%s\"", qPrintable(title));
}

CComp_DialogFrame::~CComp_DialogFrame() = default;

void CComp_DialogFrame::acceptDialog()
{
    accept();
}

void CComp_DialogFrame::addTitleWgt(QWidget* w)
{
    if (!w)
        return;
    titleLayout_->insertWidget(titleLayout_->count() - 1, w);
}

QString CComp_DialogFrame::comboStyleSheet()
{
    return QStringLiteral(
        "QComboBox{color:white;font-size:22px;height:48px;border:1px solid #BDBDBD;background-color:#607D8B;"
        "combobox-popup:0;}"
        "QComboBox::drop-down{width:40px;height:40px;border-style:none;}"
        "QComboBox::down-arrow{width:30px;height:30px;image:url(:/img/Resources/RightTriangle.png);}"
        "QComboBox::down-arrow:open{image:url(:/img/Resources/DownTriangle.png);}"
        "QComboBox QAbstractItemView::item{outline:0px;color:black;min-height:45px;height:40px;"
        "background-color:white;}"
        "QComboBox QAbstractItemView::item:focus{color:white;min-height:50px;height:40px;"
        "background-color:#607D8B;}");
}

QString CComp_DialogFrame::dialogStyleSheet()
{
    return QStringLiteral(
        "QDialog{background-color:rgb(110,110,110);outline:0px;border:none;}"
        "QTabWidget::pane{border:1px solid #BDBDBD;background-color:#616161;}"
        "QTabWidget::tab-bar{alignment:left;top:1px;}"
        "QTabBar::tab{color:white;border:1px solid #BDBDBD;padding-left:10px;padding-right:10px;}"
        "QTabBar::tab:selected{height:50px;width:110px;color:white;font-size:26px;background-color:#616161;"
        "border:1px solid #BDBDBD;border-bottom:1px solid #616161;}"
        "QTabBar::tab:!selected{height:40px;width:110px;font-size:22px;top:10px;"
        "background-color:rgb(110, 110, 110);}"
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;}"
        "QLabel{color:white;font-size:26px;}"
        "QRadioButton,QCheckBox{color:white;font-size:26px;}"
        "QRadioButton::indicator,QCheckBox::indicator{width:32px;height:32px;}"
        "QRadioButton::indicator::unchecked{image:url(:/img/Resources/RadioBox1.png);}"
        "QRadioButton::indicator::checked{image:url(:/img/Resources/RadioBox2.png);}"
        "QCheckBox::indicator::unchecked{image:url(./images/CheckBox1.png);}"
        "QCheckBox::indicator::checked{image:url(./images/CheckBox2.png);}"
        "QListWidget{font-size:22px;color:white;background-color:#616161;alternate-background-color:#757575;"
        "border:1px solid #BDBDBD;}"
        "QScrollArea{background-color:rgb(80,80,80);}"
        "QLineEdit{color:white;font-size:20px;padding:0px 5px 0px 5px;border:1px solid #959595;height:32px;}"
        "QLineEdit:!focus{border:1px solid #959595;background:transparent;color:white;}"
        "QLineEdit:focus{background:white;color:black;}");
}

void CComp_DialogFrame::setDefaultWgt(QWidget* w, const QString& extra)
{
    if (w)
        w->setStyleSheet(dialogStyleSheet() + extra);
}

void CComp_DialogFrame::setStyleCombobox(QComboBox* box, QStyledItemDelegate* delegate, const QString& extra)
{
    if (!box)
        return;
    box->setItemDelegate(delegate);
    box->setStyleSheet(comboStyleSheet() + extra);
}

void CComp_DialogFrame::centreOn(QWidget* dialog, const QWidget* over)
{
    if (!dialog || !over)
        return;
    const QPoint centre = over->mapToGlobal(over->rect().center());
    QPoint at(centre.x() - dialog->width() / 2, centre.y() - dialog->height() / 2);
    if (!dialog->isWindow() && dialog->parentWidget())
        at = dialog->parentWidget()->mapFromGlobal(at);
    dialog->move(at);
}

// ---------------------------------------------------------------------------

QThreadPool* CComp_DiaWait::pool()
{
    static QThreadPool* p = [] {
        auto* tp = new QThreadPool;
        tp->setMaxThreadCount(4);
        return tp;
    }();
    return p;
}

CComp_DiaWait::CComp_DiaWait(std::function<void()> job, QWidget* parent)
    : QDialog(parent)
    , job_(std::move(job))
{
    setFixedSize(64, 64);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* picture = new QLabel(this);
    picture->setPixmap(kitPixmap(QStringLiteral("wait.png")));
    layout->addWidget(picture);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    if (!job_)
        qWarning("wait dialog: started without a job");
    future_ = QtConcurrent::run(pool(), [this] {
        platform::sleeper().sleepMs(100);
        try {
            if (job_)
                job_();
        } catch (const std::exception& ex) {
            qWarning("wait dialog: the job failed: %s", ex.what());
        } catch (...) {
            qWarning("wait dialog: the job failed with an unknown exception");
        }
        // Closing must happen in the GUI thread.
        QMetaObject::invokeMethod(this, "finish", Qt::QueuedConnection);
    });
}

CComp_DiaWait::~CComp_DiaWait()
{
    future_.waitForFinished();
}

void CComp_DiaWait::finish()
{
    finished_ = true;
    if (isVisible())
        accept();
}

void CComp_DiaWait::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    // The job may have returned before the modal run began: end it as soon
    // as its loop runs.
    if (finished_)
        QMetaObject::invokeMethod(this, "accept", Qt::QueuedConnection);
}
