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

    // A caption too wide or too tall for the button is drawn smaller: the
    // "font-size" of the style sheet its owner set shrinks until the text
    // fits (never cut); a caption that fits keeps the size the style asks.
    // A long caption is drawn on two lines when that keeps it larger.
    // Runs whenever a shown button is resized, restyled or repainted.
    void fitCaption();
    // The caption as drawn: the text, or the text on two lines.
    QString shownCaption() const { return shown_.isNull() ? text() : shown_; }

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QString ownSheet_;      // the style sheet as its owner set it
    QString fittedSheet_;   // the sheet fitCaption last applied
    bool fitting_ = false;
    QString shown_;         // the two-line caption; null when drawn as set
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
    // Height of the rows of the drop-down list (the default item delegate
    // ignores a style sheet's item height, so a delegate of ours sets it).
    void setItemHeight(int h);
    int itemHeight() const { return itemHeight_; }

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int itemHeight_ = 0;
};
