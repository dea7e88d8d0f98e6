// The kit's push button, check box and combo box, in the common look.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QStyledItemDelegate>

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

// The kit's check box at touch size: a large box with a clear tick, and its
// caption part of it (a tap on the caption toggles too). A caption that does
// not fit its width wraps between words and, when still too tall, is drawn
// smaller; it never breaks inside a word.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    static constexpr int kBox = 36;
    static constexpr int kTouchHeight = 48;
    static constexpr int kCaptionPixels = 20;

    explicit CheckBox(QWidget* parent = nullptr, const QString& text = QString());
    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int v) { setChecked(v != 0); }

    QRect boxRect() const;
    QRect captionRect() const;
    // The font the caption is drawn with (smaller than the box's font when
    // the wrapped caption would not fit).
    QFont captionFont() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override;

protected:
    bool hitButton(const QPoint& pos) const override;
    void paintEvent(QPaintEvent* e) override;
};

// Rows of a drop-down list at touch size: at least kMinRowHeight high, drawn
// at the owner's font (never below kMinRowPixels). Every combo box of the
// program uses it, through ComboBox or useTouchRows.
class TouchRowDelegate : public QStyledItemDelegate {
public:
    static constexpr int kMinRowHeight = 48;
    static constexpr int kMinRowPixels = 16;

    TouchRowDelegate(const QWidget* owner, int height, QObject* parent);
    void setHeight(int h) { height_ = h; }
    int height() const { return height_; }
    QFont rowFont() const;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    const QWidget* owner_;
    int height_;
};

// Gives `box` the touch rows (at least `height` px); again after its font changed.
void useTouchRows(QComboBox* box, int height = TouchRowDelegate::kMinRowHeight);

// The kit's combo box: 20 px text, at least 48 px high, touch rows.
class ComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kTextPixels = 20;

    explicit ComboBox(QWidget* parent = nullptr);
    // Height of the rows of the drop-down list (never below the touch
    // height; the default item delegate ignores a style sheet's item
    // height, so the kit's delegate sets it).
    void setItemHeight(int h);
    int itemHeight() const { return itemHeight_; }

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* e) override;

private:
    int itemHeight_ = 0;
};
