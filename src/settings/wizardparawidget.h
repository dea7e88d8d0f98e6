// The settings screen: a page per group of system parameter words, the
// camera picture controls, the parameter groups, language, date and time,
// shut-down and exit. It edits the working copy `gpWParaBak`; accept makes it
// the live record `gpWPara` and saves it, cancel throws it away.
//
// Built by the main window over its whole area; it reaches the shared state
// through gpState and the ROI page through setRoiPage.
#pragma once

#include <QHash>
#include <QString>
#include <QVector>
#include <QWidget>

#include <functional>

class CammerWidget;
class ColorButton;
class ComboBox;
class DrawROIWidget;
class Edit;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QLabel;
class QListWidget;
class QStackedWidget;
struct SettingWord;

class WizardParaWidget : public QWidget {
    Q_OBJECT
public:
    explicit WizardParaWidget(QWidget* parent = nullptr);
    ~WizardParaWidget() override;

    // The ROI page whose step list follows the mode-3 step count.
    void setRoiPage(DrawROIWidget* page) { roiPage = page; }

    // Opens the screen: the working copy from the live record, every field
    // from the working copy.
    void openScreen();

    // Range-checks `value` for `word` and writes it into `gpWParaBak`; a
    // camera word is handed to its camera at once. A refused value is
    // logged and shown, and the working copy keeps the old one.
    bool setWord(int word, int value);

    // The number field of `word` (camera words by their camera-0 word), or null.
    Edit* wordField(int word) const { return fields_.value(word).edit; }

    // The camera whose picture controls are shown (0-based).
    int currentCamera() const { return camera_; }
    void setCurrentCamera(int camera);

    // Opens the network settings; empty until the network dialog exists.
    static std::function<void()> networkHook;
    // Hands accepted USB copy words (days kept, switch) to the picture
    // copier; empty: they are taken at the next start.
    static std::function<void(int days, int on)> usbCopyHook;

    // The operator password setting: typed twice, then set.
    Edit* passwordEdit = nullptr;
    Edit* passwordAgain = nullptr;
    ColorButton* passwordButton = nullptr;

    QStackedWidget* pages = nullptr;
    QVector<ColorButton*> tabs;   // one per page, in page order
    QListWidget* groupList = nullptr;
    Edit* groupName = nullptr;
    ComboBox* languageBox = nullptr;

public slots:
    void accept();
    void cancel();
    void SlotChangeLan(int lan);
    void SlotShutDown();
    void SlotExit();
    void SlotModifyTime();
    void SlotUpdateApp();
    void SlotToNetwork();
    void SlotResetCount();
    void SlotAutoExposure();
    void SlotRestoreDefault();
    void SlotParaGroupBackup();
    void SlotParaGroupRestore();
    void SlotParaGroupDelete();
    void SlotIO();
    void SlotIOName();
    void SlotChangeCamera();
    void SlotSetPassword();

signals:
    // The screen was put away (accept, cancel or otherwise hidden).
    void closed();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    QWidget* buildWordPage(int page);
    QWidget* buildGroupPage();
    QWidget* buildSystemButtons();
    void buildPasswordRow(QWidget* page, QGridLayout* grid, int row);
    void retrainAccepted();
    void refreshFields();
    void refreshGroups();
    void applyCamera(CammerWidget* view, int base);
    void applyAllCameraSetters();
    CammerWidget* view(int camera) const;
    void endRun(bool reboot);

    struct Field {
        const SettingWord* entry = nullptr;
        Edit* edit = nullptr;
        QCheckBox* check = nullptr;
        ComboBox* combo = nullptr;
    };
    QHash<int, Field> fields_;   // by the table's word (camera words by their camera-0 word)
    bool filling_ = false;
    int camera_ = 0;
    ComboBox* cameraBox_ = nullptr;
    DrawROIWidget* roiPage = nullptr;
};
