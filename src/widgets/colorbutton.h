// The kit's push button, check box and combo box, in the common look.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

class ColorButton : public QPushButton {
    Q_OBJECT
public:
    // `style` chooses the font size: 3 (27 px Chinese, 22 px otherwise),
    // 4 (33 / 30 px), anything else 25 px.
    explicit ColorButton(const QString& text, QWidget* parent = nullptr, int style = 0);

    // Auto-repeat: first repeat after 300 ms, then every 50 ms.
    void SetRepeat();

    int style = 0;

    static int fontPixelsFor(int style, int lan);
};

class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(QWidget* parent = nullptr, const QString& text = QString());
    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int v) { setChecked(v != 0); }
};

class ComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);
    void setItemHeight(int h);

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
