// The message box (OK only) and the choice box (YES / NO), with the boxes
// that carry a fixed action or an input widget. Callers set the text, run
// the box modally and read Accepted (OK or YES) or Rejected.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>

class ColorButton;
class QPainter;
class ComboBox;
class EditDateTime;
class ProductAlarmWarnBox;
class LostCameraWarnBox;
class WarnBox;
class ChooseBox;

// The shared boxes; the main window creates them (null until then).
extern WarnBox* gpWarnBox;
extern ChooseBox* gpChooseBox;

extern ProductAlarmWarnBox* gpProductAlarmWarnBox;
extern LostCameraWarnBox* gpLostCameraWarnBox;

// Where and how a box paints its message: the area between the frame and
// the buttons, the size (40 px, smaller only for a word wider than the
// area) and the lines, broken between words.
struct MessageArea {
    QRect area;
    int align = 0;
    int pixels = 0;
    QString lines;

    QFont font() const;
    // The rectangle the painted lines take.
    QRect needs() const;
    void paint(QPainter& p) const;
    static MessageArea lay(const QString& text, const QRect& area, int align);
};

class WarnBox : public QDialog {
    Q_OBJECT
public:
    explicit WarnBox(QWidget* parent = nullptr);

    static constexpr int kWidth = 750;
    static constexpr int kHeight = 370;

    ColorButton* okButton = nullptr;
    QString text;   // the painted message; line breaks come from the text

    void setText(const QString& message);
    // The message as it is painted: the box grows to hold its lines.
    MessageArea message() const;

protected:
    void fitToText();
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    // The text row of the OK button: boxes are built before the language is
    // known, so the caption is taken again each time the box opens.
    int okRow = 121;
};

// The production count alarm: confirming switches the alarm outputs off and
// clears the counter and the latch.
class ProductAlarmWarnBox : public WarnBox {
    Q_OBJECT
public:
    explicit ProductAlarmWarnBox(QWidget* parent = nullptr);
public slots:
    void accept() override;
};

// A camera was lost: confirming records the reason and powers the machine off.
class LostCameraWarnBox : public WarnBox {
    Q_OBJECT
public:
    explicit LostCameraWarnBox(QWidget* parent = nullptr);
public slots:
    void accept() override;
};

class ChooseBox : public QDialog {
    Q_OBJECT
public:
    ChooseBox(QWidget* parent = nullptr, int width = 750, int height = 370);

    ColorButton* yesButton = nullptr;
    ColorButton* noButton = nullptr;
    QString text;
    int boxWidth = 0;
    int boxHeight = 0;

    void setText(const QString& question);
    // The question as it is painted, above the buttons.
    MessageArea message() const;

protected:
    void fitToText();
    void paintEvent(QPaintEvent* e) override;
    // Centred on the screen and captioned in the current language each time
    // it opens: the box may be built before the screen size and the
    // language are known.
    void showEvent(QShowEvent* e) override;
    void paintFrame(QPainter& p, bool border);

    int yesRow = 122;
    int noRow = 123;
};

class ModifyTimeWidget : public ChooseBox {
    Q_OBJECT
public:
    explicit ModifyTimeWidget(QWidget* parent = nullptr);
    EditDateTime* dateTimeEdit = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
};

class ChooseCaliNumWidget : public ChooseBox {
    Q_OBJECT
public:
    explicit ChooseCaliNumWidget(QWidget* parent = nullptr);
    ComboBox* comboBox = nullptr;

protected:
    void paintEvent(QPaintEvent* e) override;
};
