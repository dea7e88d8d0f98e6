#include "wizardparawidget.h"

#include "databases.h"
#include "productioncounters.h"
#include "cameraviews.h"
#include "cameramanager.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "customionamewidget.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "editsession.h"
#include "editip.h"
#include "globals.h"
#include "iowidget.h"
#include "lanstr.h"
#include "notice.h"
#include "paragroup.h"
#include "platform.h"
#include "resstatisticsparam.h"
#include "screenfit.h"
#include "settingword.h"
#include "tapguard.h"
#include "warnbox.h"
#include "widgetchangecamera.h"
#include "winstate.h"
#include "wizardpara.h"
#include "operatordialogs.h"
#include "cyclecontrol.h"

#include <QCheckBox>
#include <QPointer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// A label of the table; "%1" stands for the output number (outputs 1-9) or
// input 4 (the input that doubles as another signal).
QString wordLabel(const SettingWord& w)
{
    const QString text = lanStr(w.labelRow);
    if (!text.contains(QLatin1String("%1")))
        return text.trimmed();
    return text.arg(w.word >= 76 && w.word <= 84 ? w.word - 75 : 4).trimmed();
}

const char* const kLanguageNames[4] = {"简体中文", "English", "繁體中文", "日本語"};

}  // namespace

std::function<void()> WizardParaWidget::networkHook;
std::function<void(int, int)> WizardParaWidget::usbCopyHook;

WizardParaWidget::WizardParaWidget(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("WizardParaWidget"));
    // Painted from the style sheet: the screen covers the run screen whole.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("WizardParaWidget{background:#20303c;} QLabel,QCheckBox{color:white;font-size:20px;}"));
    // Cancel and Confirm lie over the run screen's button bar: the second
    // tap of a double tap must not stop detection or open a page.
    tapguard::guardPage(this);
    auto* top = new QVBoxLayout(this);

    auto* tabBar = new QHBoxLayout;
    pages = new QStackedWidget(this);
    const int tabRows[] = {260, 215, 228, 205, 266, 261};
    for (int p = 0; p < 6; ++p) {
        auto* b = new ColorButton(lanStr(tabRows[p]).trimmed(), this, 3);
        screenfit::button(b);
        b->setCheckable(true);   // the open page's tab is drawn checked
        connect(b, &QPushButton::clicked, this, [this, p] {
            pages->setCurrentIndex(p);
            tabs[p]->setChecked(true);   // a tap on the open page's tab keeps it marked
        });
        tabBar->addWidget(b);
        tabs.append(b);
    }
    for (int p = 0; p < SettingWord::PageCount; ++p)
        pages->addWidget(buildWordPage(p));
    pages->addWidget(buildGroupPage());
    tabs[0]->setChecked(true);
    connect(pages, &QStackedWidget::currentChanged, this, [this](int p) {
        for (int k = 0; k < tabs.size(); ++k)
            tabs[k]->setChecked(k == p);
    });
    top->addLayout(tabBar);
    top->addWidget(pages, 1);
    top->addWidget(buildSystemButtons());
    hide();
}

WizardParaWidget::~WizardParaWidget() = default;

// A page holds every word of its group at once, three to a row: the control,
// then its label, wrapped, so that every label shows whole in every language
// without scrolling.
QWidget* WizardParaWidget::buildWordPage(int page)
{
    auto* inner = new QWidget(this);
    auto* grid = new QGridLayout(inner);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    for (int c = 0; c < 3; ++c) {
        grid->setColumnStretch(2 * c + 1, 1);
        grid->setColumnMinimumWidth(2 * c, 180);
    }
    int n = 0;
    if (page == SettingWord::CameraPage) {
        cameraBox_ = new ComboBox(inner);
        for (int c = 0; c < qBound(1, numCamera, kMaxCamera); ++c)
            cameraBox_->addItem(lanStr(43).arg(c + 1).trimmed());
        connect(cameraBox_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this](int c) { setCurrentCamera(c); });
        screenfit::combo(cameraBox_);
        grid->addWidget(cameraBox_, 0, 0, 1, 2);
        auto* autoExp = new ColorButton(lanStr(500), inner, 3);
        connect(autoExp, &QPushButton::clicked, this, &WizardParaWidget::SlotAutoExposure);
        screenfit::button(autoExp);
        grid->addWidget(autoExp, 0, 2, 1, 2);
        auto* restore = new ColorButton(lanStr(526), inner, 3);
        connect(restore, &QPushButton::clicked, this, &WizardParaWidget::SlotRestoreDefault);
        screenfit::button(restore);
        grid->addWidget(restore, 0, 4, 1, 2);
        n = 3;
    }
    for (const SettingWord& w : settingwords::all()) {
        if (w.page != page)
            continue;
        Field f;
        f.entry = &w;
        const int row = n / 3;
        const int col = (n % 3) * 2;
        if (w.kind != SettingWord::Check) {
            auto* label = new QLabel(wordLabel(w), inner);
            label->setWordWrap(true);
            grid->addWidget(label, row, col + 1);
        }
        if (w.kind == SettingWord::Check) {
            // The caption is part of the check box: a tap on it toggles.
            f.check = new CheckBox(inner, wordLabel(w));
            connect(f.check, &QCheckBox::toggled, this, [this, &w](bool on) {
                if (filling_)
                    return;
                const int word = settingwords::cameraBase(w.word) >= 0 ? w.word + camera_ : w.word;
                setWord(word, on ? w.onValue : w.offValue);
            });
            grid->addWidget(f.check, row, col, 1, 2);
        } else if (w.kind == SettingWord::Choice) {
            f.combo = new ComboBox(inner);
            for (int r : w.choiceRows)
                f.combo->addItem(lanStr(r).trimmed());
            screenfit::combo(f.combo);
            connect(f.combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, &w](int i) {
                if (!filling_)
                    setWord(w.word, i);
            });
            grid->addWidget(f.combo, row, col);
        } else {
            f.edit = new Edit(Edit::Numeric, inner);
            f.edit->setFixedWidth(170);
            Edit* e = f.edit;
            connect(e, &QLineEdit::editingFinished, this, [this, &w, e] {
                if (filling_)
                    return;
                const int word = settingwords::cameraBase(w.word) >= 0 ? w.word + camera_ : w.word;
                int v = 0;
                if (!Edit::parseInt(e->text(), &v)) {
                    OperatorDialogs::get().warn(lanStr(686).arg(w.min).arg(w.max));
                    refreshFields();
                    return;
                }
                if (gpWParaBak && v != gpWParaBak->words[word] && !setWord(word, v))
                    refreshFields();
            });
            grid->addWidget(f.edit, row, col);
        }
        fields_.insert(w.word, f);
        ++n;
    }
    if (page == SettingWord::SystemPage) {
        buildPasswordRow(inner, grid, n / 3 + 1);
        n += 3;
    }
    grid->setRowStretch(n / 3 + 1, 1);
    return inner;
}

// Two password fields and the button that sets what they hold.
void WizardParaWidget::buildPasswordRow(QWidget* page, QGridLayout* grid, int row)
{
    passwordEdit = new Edit(Edit::Numeric, page);
    passwordAgain = new Edit(Edit::Numeric, page);
    const int rows[] = {125, 706};
    int col = 0;
    for (Edit* e : {passwordEdit, passwordAgain}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(kPasswordBytes - 1);
        e->setFixedWidth(170);
        grid->addWidget(e, row, col);
        auto* label = new QLabel(lanStr(rows[col / 2]).trimmed(), page);
        label->setWordWrap(true);
        grid->addWidget(label, row, col + 1);
        col += 2;
    }
    passwordButton = new ColorButton(lanStr(225).trimmed(), page, 3);
    screenfit::button(passwordButton);
    connect(passwordButton, &QPushButton::clicked, this, &WizardParaWidget::SlotSetPassword);
    grid->addWidget(passwordButton, row, 4, 1, 2);
}

QWidget* WizardParaWidget::buildGroupPage()
{
    auto* page = new QWidget(this);
    auto* lay = new QGridLayout(page);
    groupList = new QListWidget(page);
    groupList->setStyleSheet(QStringLiteral("font-size:24px;"));
    lay->addWidget(groupList, 0, 0, 5, 1);
    groupName = new Edit(Edit::LetterPad, page);
    groupName->setFixedWidth(400);
    lay->addWidget(groupName, 0, 1);
    const int rows[] = {182, 183, 184};
    void (WizardParaWidget::*actions[])() = {&WizardParaWidget::SlotParaGroupBackup,
                                           &WizardParaWidget::SlotParaGroupRestore,
                                           &WizardParaWidget::SlotParaGroupDelete};
    for (int k = 0; k < 3; ++k) {
        auto* b = new ColorButton(lanStr(rows[k]), page, 3);
        screenfit::button(b);
        connect(b, &QPushButton::clicked, this, actions[k]);
        lay->addWidget(b, k + 1, 1);
    }
    return page;
}

QWidget* WizardParaWidget::buildSystemButtons()
{
    auto* bar = new QWidget(this);
    auto* lay = new QGridLayout(bar);
    languageBox = new ComboBox(bar);
    for (const char* name : kLanguageNames)
        languageBox->addItem(QString::fromUtf8(name));
    languageBox->setCurrentIndex(qBound(0, gLan, 3));
    screenfit::combo(languageBox);
    connect(languageBox, QOverload<int>::of(&QComboBox::activated), this, &WizardParaWidget::SlotChangeLan);
    lay->addWidget(languageBox, 0, 0);
    const struct {
        int row;
        void (WizardParaWidget::*slot)();
    } buttons[] = {
        {288, &WizardParaWidget::SlotModifyTime},   {328, &WizardParaWidget::SlotToNetwork},
        {172, &WizardParaWidget::SlotResetCount},   {396, &WizardParaWidget::SlotChangeCamera},
        {209, &WizardParaWidget::SlotShutDown},     {499, &WizardParaWidget::SlotIO},
        {498, &WizardParaWidget::SlotIOName},       {210, &WizardParaWidget::SlotExit},
        {325, &WizardParaWidget::SlotUpdateApp},    {124, &WizardParaWidget::cancel},
        {121, &WizardParaWidget::accept},
    };
    int k = 1;
    for (const auto& b : buttons) {
        auto* button = new ColorButton(lanStr(b.row).trimmed(), bar, 3);
        screenfit::button(button);
        connect(button, &QPushButton::clicked, this, b.slot);
        lay->addWidget(button, k / 6, k % 6);
        ++k;
    }
    return bar;
}

CammerWidget* WizardParaWidget::view(int camera) const
{
    if (!gpState || camera < 0 || camera >= kMaxCamera)
        return nullptr;
    return CameraViews::at(camera);
}

void WizardParaWidget::setCurrentCamera(int camera)
{
    camera_ = qBound(0, camera, kMaxCamera - 1);
    refreshFields();
}

void WizardParaWidget::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (parentWidget())
        setGeometry(parentWidget()->rect());
}

void WizardParaWidget::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    emit closed();
}

void WizardParaWidget::openScreen()
{
    if (!gpWPara || !gpWParaBak)
        return;
    *gpWParaBak = *gpWPara;
    const int shown = EditSession::get().currentCamera();
    if (gpState && shown < numCamera)
        camera_ = qBound(0, shown, kMaxCamera - 1);
    refreshFields();
    refreshGroups();
    show();
    raise();
}

void WizardParaWidget::refreshFields()
{
    if (!gpWParaBak)
        return;
    filling_ = true;
    if (cameraBox_ && camera_ < cameraBox_->count())
        cameraBox_->setCurrentIndex(camera_);
    for (auto it = fields_.cbegin(); it != fields_.cend(); ++it) {
        const Field& f = it.value();
        const int word = settingwords::cameraBase(f.entry->word) >= 0 ? f.entry->word + camera_ : f.entry->word;
        const int v = gpWParaBak->words[word];
        if (f.check)
            f.check->setChecked(v == f.entry->onValue);
        else if (f.combo)
            f.combo->setCurrentIndex(v < 0 ? 0 : qMin(v, f.combo->count() - 1));   // 177: 3 also means all moulds
        else if (f.edit)
            f.edit->setText(QString::number(v));
    }
    languageBox->setCurrentIndex(qBound(0, gLan, 3));
    filling_ = false;
}

void WizardParaWidget::refreshGroups()
{
    groupList->clear();
    groupList->addItems(ParaGroup::list());
    const int current = gpWPara ? gpWPara->words[Word::GroupIndex] : -1;
    if (current >= 0 && current < groupList->count())
        groupList->setCurrentRow(current);
}

bool WizardParaWidget::setWord(int word, int value)
{
    const SettingWord* entry = settingwords::find(word);
    if (!gpWParaBak || !entry || !entry->accepts(value)) {
        qWarning("settings: value %d refused for word %d", value, word);
        if (entry)
            OperatorDialogs::get().warn(lanStr(686).arg(entry->min).arg(entry->max));
        return false;
    }
    gpWParaBak->words[word] = value;
    const int base = settingwords::cameraBase(word);
    if (base >= 0)
        applyCamera(view(word - base), base);
    else if (word == 179)
        for (int c = 0; c < kMaxCamera; ++c)
            if (CammerWidget* v = view(c))
                v->SetWDR();
    return true;
}

void WizardParaWidget::applyCamera(CammerWidget* v, int base)
{
    if (!v)
        return;
    switch (base) {
    case 0: v->SetExposeTime(); break;
    case 8: v->SetAdjustPlus(); break;
    case 16: v->SetSharp(); break;
    case 24: v->SetContrast(); break;
    case 32: v->SetGamma(); break;
    case 317: v->SetHMirror(); break;
    case 325: v->SetVMirror(); break;
    default: break;
    }
}

void WizardParaWidget::applyAllCameraSetters()
{
    for (int c = 0; c < kMaxCamera; ++c) {
        CammerWidget* v = view(c);
        if (!v)
            continue;
        for (int base : {0, 8, 16, 24, 32, 317, 325})
            applyCamera(v, base);
        v->SetWDR();
    }
}

void WizardParaWidget::accept()
{
    if (!gpWPara || !gpWParaBak)
        return;
    if (*gpWParaBak == *gpWPara) {
        hide();
        return;
    }
    if (!OperatorDialogs::get().choose(lanStr(234))) {
        // Nothing of the working copy survives a refusal, on screen or in the cameras.
        *gpWParaBak = *gpWPara;
        applyAllCameraSetters();
        refreshFields();
        hide();
        return;
    }
    bool restartWordsChanged = false;
    for (int word : {Word::SerialPort, Word::ColourCamera, Word::GreyChannel, Word::NoLensOptimisation})
        restartWordsChanged = restartWordsChanged || gpWPara->words[word] != gpWParaBak->words[word];
    const int oldTrigger = gpWPara->words[Word::ExternalTrigger];
    const int oldSteps = gpWPara->words[Word::StepCountMode3];
    const bool usbChanged = gpWPara->words[Word::UsbDaysKept] != gpWParaBak->words[Word::UsbDaysKept] ||
                            gpWPara->words[Word::UsbSave] != gpWParaBak->words[Word::UsbSave];
    *gpWPara = *gpWParaBak;
    // The steps and trigger inputs that follow from the switches (word 85
    // among them) take effect now, as a load would lay them out. In mode 3
    // the layout also follows the I/O assignment and is left to the start.
    if (gpWPara->words[Word::Mode] >= DetectMode::Standard && gpWPara->words[Word::Mode] <= DetectMode::Turntable) {
        gpWPara->DeriveSteps();
        *gpWParaBak = *gpWPara;
    }
    // The cycle stops judging the steps now disabled and holds those now
    // enabled at once, and the outputs go out in the wiring just accepted,
    // before the record's write and the cameras' restart take their time;
    // the retraining of every step waits until the open cycle has closed,
    // so that none of its countdowns overruns behind it.
    CycleControl::get().wordsAccepted();
    gpWPara->SaveDatatoFile();
    hide();
    for (int c = 0; c < kMaxCamera; ++c) {
        CammerWidget* v = view(c);
        if (!v)
            continue;
        v->SetSpeed();
        if (gpWPara->words[Word::ExternalTrigger] != oldTrigger)
            v->CameraChangeTrig(gpWPara->words[Word::ExternalTrigger] != 0);
        // Buffers only for the steps the accepted record judges.
        v->SyncStepBuffers();
    }
    CycleControl::get().afterCycle([screen = QPointer<WizardParaWidget>(this)] {
        if (screen)
            screen->retrainAccepted();
    });
    if (usbChanged && usbCopyHook)
        usbCopyHook(gpWPara->words[Word::UsbDaysKept], gpWPara->words[Word::UsbSave]);
    const int steps = gpWPara->words[Word::StepCountMode3];
    if (gpWPara->words[Word::Mode] == DetectMode::MultiStep && steps != oldSteps && roiPage)
        roiPage->ChangeDetectNum(steps);
    Databases::get().InsertRecord(lanStr(235));
    Notice::post(parentWidget() ? parentWidget() : this, lanStr(708));
    // The mode, the serial port and the picture kind are taken at start-up.
    if (gpWPara->words[Word::ModeChosen] != gpWPara->words[Word::Mode] || restartWordsChanged)
        OperatorDialogs::get().warn(lanStr(309));
}

// The engines judge with the accepted words from the next detection on: with
// word 94 the regions shared between detections are copied first (as a
// region save does), then every enabled step of every camera is trained
// again.
void WizardParaWidget::retrainAccepted()
{
    const int mode = gpWPara->words[Word::Mode];
    const bool shared = gpWPara->words[Word::SameParameters] != 0 &&
        ((mode == DetectMode::Standard && gpWPara->words[Word::StepEnabled0] != 0) || mode == DetectMode::TwoColour ||
         mode == DetectMode::Turntable);
    for (int c = 0; c < kMaxCamera; ++c) {
        CammerWidget* v = view(c);
        if (!v)
            continue;
        if (shared && v->savedRecord && v->editRecord) {
            v->CopyPara();
            v->revertEdits();
            v->savedRecord->SaveDatatoFile();
        }
        if (!v->engine())
            continue;
        for (int g = 0; g < gDNum && g < kMaxDetect && g < v->stepCount(); ++g) {
            if (gpWPara->words[Word::StepEnabled0 + g] == 0)
                continue;
            v->engine()->CreateHomoShape(g);
            v->engine()->CreateShape(g);
            v->engine()->VarTrain(g);
        }
    }
}

void WizardParaWidget::cancel()
{
    if (gpWPara && gpWParaBak) {
        *gpWParaBak = *gpWPara;
        applyAllCameraSetters();
    }
    hide();
}

void WizardParaWidget::endRun(bool reboot)
{
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    Databases::get().FLushAll();
    StopWTD();
    if (reboot)
        platform::reboot();
    else
        platform::powerOff();
}

void WizardParaWidget::SlotChangeLan(int lan)
{
    if (lan < 0 || lan > 3 || lan == gLan) {
        languageBox->setCurrentIndex(qBound(0, gLan, 3));
        return;
    }
    if (!OperatorDialogs::get().choose(lanStr(318, lan))) {
        languageBox->setCurrentIndex(qBound(0, gLan, 3));
        return;
    }
    gLan = lan;
    Databases::get().InsertRecord(lanStr(319));
    endRun(true);
}

void WizardParaWidget::SlotShutDown()
{
    if (!OperatorDialogs::get().choose(lanStr(291)))
        return;
    endRun(false);
}

void WizardParaWidget::SlotExit()
{
    if (!OperatorDialogs::get().choose(lanStr(294)))
        return;
    Databases::get().InsertRecord(lanStr(295));
    if (gpWPara)
        gpWPara->SaveDatatoFile();
    for (int c = 0; c < kMaxCamera; ++c)
        if (CammerWidget* v = view(c)) {
            v->CameraStop();
            v->CameraClose();
        }
    Databases::get().FLushAll();
    StopWTD();
    platform::exitProcess(0);
}

void WizardParaWidget::SlotModifyTime()
{
    ModifyTimeWidget box(this);
    if (box.exec() != QDialog::Accepted)
        return;
    if (!box.dateTimeEdit->setSysDateTime()) {
        OperatorDialogs::get().warn(lanStr(366));
        return;
    }
    Databases::get().InsertRecord(lanStr(402));
    endRun(true);
}

void WizardParaWidget::SlotToNetwork()
{
    if (networkHook)
        networkHook();
    else
        qInfo("settings: the network settings are not available in this build");
}

void WizardParaWidget::SlotResetCount()
{
    if (!OperatorDialogs::get().choose(lanStr(616)))
        return;
    ProductionCounters::get().resetFromSettings();
    Databases::get().CountWrite();
    Databases::get().InsertRecord(lanStr(255));
    Notice::post(this, lanStr(255));
}

void WizardParaWidget::SlotAutoExposure()
{
    CammerWidget* v = view(camera_);
    if (!v || !v->camera() || v->cameraBusy() || !gpWParaBak)
        return;
    const QJsonObject s = v->camera()->currentSetting(0);
    if (s.contains(QLatin1String("ExposureTime")))
        setWord(Word::Exposure0 + camera_, static_cast<int>(s.value(QLatin1String("ExposureTime")).toDouble() / 1000));
    if (s.contains(QLatin1String("Gain")))
        setWord(Word::Gain0 + camera_, s.value(QLatin1String("Gain")).toInt());
    refreshFields();
}

void WizardParaWidget::SlotRestoreDefault()
{
    CammerWidget* v = view(camera_);
    if (!v || !OperatorDialogs::get().choose(lanStr(527)))
        return;
    v->RestoreDefaultSettings();
    refreshFields();
}

void WizardParaWidget::SlotParaGroupBackup()
{
    const QString name = groupName->text();
    const ParaGroup::Result check = ParaGroup::checkName(name);
    if (check != ParaGroup::Ok) {
        OperatorDialogs::get().warn(lanStr(check == ParaGroup::BadName ? 687 : ParaGroup::messageRow(check)));
        return;
    }
    if (!OperatorDialogs::get().choose(lanStr(283)))
        return;
    if (ParaGroup::exists(name) && !OperatorDialogs::get().choose(lanStr(284)))
        return;
    if (ParaGroup::backup(name) != ParaGroup::Ok) {
        OperatorDialogs::get().warn(lanStr(688));
    } else {
        if (gpWPara)
            ResStatisticsParam::getInstance()->setCurGroupName(gpWPara->getCurGroupName());
        Notice::post(this, lanStr(711).arg(name));
    }
    refreshGroups();
}

void WizardParaWidget::SlotParaGroupRestore()
{
    const int index = groupList->currentRow();
    if (index < 0 || !OperatorDialogs::get().choose(lanStr(285)))
        return;
    const QString name = groupList->currentItem()->text();
    if (ParaGroup::restore(index) != ParaGroup::Ok) {
        OperatorDialogs::get().warn(lanStr(688));
        return;
    }
    Databases::get().InsertRecord(lanStr(286).arg(name));
    Databases::get().FLushAll();
    StopWTD();
    platform::reboot();
}

void WizardParaWidget::SlotParaGroupDelete()
{
    const int index = groupList->currentRow();
    if (index < 0)
        return;
    if (groupList->currentItem()->text() == QLatin1String("default")) {
        OperatorDialogs::get().warn(lanStr(653));
        return;
    }
    if (!OperatorDialogs::get().choose(lanStr(287)))
        return;
    const bool wasCurrent = gpWPara && index == gpWPara->words[Word::GroupIndex];
    if (ParaGroup::remove(index) != ParaGroup::Ok)
        OperatorDialogs::get().warn(lanStr(688));
    else if (wasCurrent && gpWPara)
        ResStatisticsParam::getInstance()->setCurGroupName(gpWPara->getCurGroupName());
    refreshGroups();
}

void WizardParaWidget::SlotIO()
{
    IOWidget box(this);
    box.exec();
}

void WizardParaWidget::SlotIOName()
{
    CustomIONameWidget box(this);
    box.exec();
}

// The password is set at once, in the live record and the working copy, and
// saved: the texts say it has been changed. An empty password is refused: an
// empty entry never grants the operator's rights.
void WizardParaWidget::SlotSetPassword()
{
    if (!gpWPara || !gpWParaBak)
        return;
    const QString first = passwordEdit->text();
    const QString again = passwordAgain->text();
    const auto clear = [this] {
        passwordEdit->clear();
        passwordAgain->clear();
    };
    if (first.isEmpty() || again.isEmpty()) {
        OperatorDialogs::get().warn(lanStr(278));
        return;
    }
    if (first != again) {
        clear();
        OperatorDialogs::get().warn(lanStr(280));
        return;
    }
    if (!gpWPara->setPassword(first) || !gpWParaBak->setPassword(first)) {
        qWarning("settings: the typed password cannot be stored (too long or outside Latin-1)");
        clear();
        OperatorDialogs::get().warn(lanStr(280));
        return;
    }
    gpWPara->SaveDatatoFile();
    clear();
    Databases::get().InsertRecord(lanStr(235) + lanStr(249));
    OperatorDialogs::get().warn(lanStr(279));
}

void WizardParaWidget::SlotChangeCamera()
{
    WidgetChangeCamera box(qBound(0, numCamera, kMaxCamera), this);
    box.exec();
}
