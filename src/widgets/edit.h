// The program's text and number fields. A tap on a field calls up one of the
// two shared on-screen pads (numberinput.h) and places it next to the field;
// the pads write into whichever field `Edit::currentEdit()` names at the
// moment a key is pressed, through the virtual addValue/deleteValue.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QLabel;
class QHBoxLayout;
class ColorButton;
class EditBox;

// The network settings dialog while it is open: fields with flag 32 place
// their pad inside it. Guarded, so a closed dialog reads as null.
extern QPointer<QDialog> gpNetDialog;

class Edit : public QLineEdit {
    Q_OBJECT
public:
    // The field receiving the on-screen pads' keys (null: none, and always
    // null while no main window state exists).
    static Edit* currentEdit();
    static void setCurrentEdit(Edit* e);

    enum Flag {
        Numeric = 1,                 // passed by numeric fields; nothing reads it
        LetterPad = 2,               // letter pad instead of the digit pad
        InDialog = 4,                // passed by fields in dialogs; nothing reads it
        PadInGrandparent = 8,        // the field sits inside a compound widget
        PadInGreatGrandparent = 16,
        PadInNetDialog = 32,
    };

    static constexpr int kTouchHeight = 48;
    static constexpr int kTextPixels = 22;

    Edit(int flags, QWidget* parent = nullptr, int style = 1);
    ~Edit() override;

    int flags = 0;
    int minValue = -1;   // -1 on either side: no range
    int maxValue = -1;

    void setRange(int min, int max);
    int value() const;
    void setValue(int v);
    void setValue(double v);

    // Where the pad goes for this field: the host widget (null when the field
    // has no ancestor to hold it) and the field's origin in the host.
    QWidget* padHost(QPoint* fieldPos) const;

    // The placement rule: the pad's top-left corner in the host for a field
    // at `fieldPos` of height `fieldH`. `limitH` is the screen height.
    static QPoint placePad(int flags, QPoint fieldPos, int fieldH, QSize pad, QSize host, int screenH);

    // Parses a decimal integer (optional sign, surrounding blanks allowed);
    // digit strings beyond the int range saturate. False when not a number.
    static bool parseInt(const QString& text, int* out);

public slots:
    virtual void addValue(QString key, bool replace);
    virtual void deleteValue(bool& emptied);
    void SlotRange(QString text);

signals:
    void focusOut();
    void sig_Dot();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void callUpPad();
    bool padShownByTap() const;
    bool droppingFocus_ = false;  // the field gives up the focus it was just given
};

// The number field of an EditBox: digits and erase act on the box's value.
class EditParam : public Edit {
    Q_OBJECT
public:
    EditParam(int flags, QString unit, EditBox* box);

    EditBox* box = nullptr;
    QLabel* unitLabel = nullptr;
    int unitFontPx = 27;
    int unitX = 0;

public slots:
    void addValue(QString key, bool replace) override;
    void deleteValue(bool& emptied) override;
    void ChangeLabelP(QString text);
};

// A captioned number field with -5, -1, +1, +5 step buttons. Values are held
// in units of 1/divisor.
class EditBox : public QWidget {
    Q_OBJECT
public:
    EditBox(int min, int max, QWidget* parent, const QString& label, QString unit = QString(), int type = 0,
            int divisor = 1);

    EditParam* edit = nullptr;
    ColorButton* plusOne = nullptr;
    ColorButton* minusOne = nullptr;
    ColorButton* plusFive = nullptr;
    ColorButton* minusFive = nullptr;
    QLabel* label = nullptr;
    QHBoxLayout* layout = nullptr;
    int minValue = 0;
    int maxValue = 0;
    int sizeMode = 4;
    int value_ = 0;
    bool use0 = false;
    int divisor = 1;
    int type = 0;
    QString labelText;

    void setUse0(bool on) { use0 = on; }
    void setSampleMode();

public slots:
    void AddOne();
    void SubOne();
    void AddFive();
    void SubFive();
    int value() const { return value_; }
    void setValue(int v);
    void setValue();
    void CheckRange();
    void setText(const QString& text);

signals:
    void valueChanged(int value);

private:
    void step(int delta);
};
