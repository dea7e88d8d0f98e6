// The painted value slider of the parameter panels: caption, value box,
// track with fill and thumb, and -1 / +1 buttons. A tap on the value box
// calls up the digit pad; typed digits set the value.
#pragma once

#include <QAbstractSlider>
#include <QRect>

class ColorButton;
class Edit;

class Slider : public QAbstractSlider {
    Q_OBJECT
public:
    Slider(int min, int max, int pageStep, int value, QWidget* parent = nullptr, const QString& name = QString());

    void Reset(int min, int max, int pageStep, int value, const QString& name);

    ColorButton* plusButton = nullptr;
    ColorButton* minusButton = nullptr;
    Edit* valueEdit = nullptr;
    int trackLength = 0;
    int fillOffset = 0;
    int fillScale = 0;
    QRect thumbRect;
    int dragX = -1;
    int dragY = -1;

    // The thumb's rectangle for the current value and size.
    QRect computeThumbRect() const;
    // Width of the fill for the current value; 0 for an empty range.
    int fillWidth() const;
    // Where the caption (the object name) is drawn, and the font it is drawn
    // with: 30 px, smaller when a long caption would not fit.
    QRect captionRect() const { return QRect(0, 0, 130, height()); }
    QFont captionFont() const;

public slots:
    void Add();
    void Sub();
    void SetText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void updateGeometryValues();
    void setValueClamped(qint64 v);
};
