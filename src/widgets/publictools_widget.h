// Small reusable pieces of the touch widget kit: style sheets for text
// fields and scroll areas, a font given in pixels, a text panel with a close
// button, the zoom slider with its idle fall-back, and the start-up splash.
#pragma once

#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSplashScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QWidget>

class QLineEdit;

// The operator text of `row` in the current language; empty for a row or a
// language outside the table.
QString kitText(int row);

// Loads a picture from ./images/; a missing file gives a null pixmap.
QPixmap kitPixmap(const QString& fileName);

// The largest pixel size from `pixels` down to `minPixels` at which every
// line of `text`, in `font`, fits `box`; `minPixels` when none does. Fixed
// button and caption sizes shrink their text this way instead of cutting it.
int fittingPixelSize(QFont font, const QString& text, const QSize& box, int pixels, int minPixels = 8);
// The same for a caption that may wrap: lines break between words (and
// between Chinese or Japanese characters), never inside a word, so every
// word must fit the width on its own.
int fittingWrappedPixelSize(QFont font, const QString& text, const QSize& box, int pixels, int minPixels = 8);
// Whether a line may break before or after `c` without breaking a word:
// CJK ideographs and punctuation. Katakana and hiragana do not: a run of
// kana is a word.
bool breaksBetweenCharacters(QChar c);
// The words of `text` that a line may not break: runs between blanks and
// line breaks, and single ideographs (a closing mark stays with the word
// before it).
QStringList unbreakableWords(const QString& text);
// `text` in lines no wider than `width`: broken at its own line breaks, at
// blanks and beside ideographs, never inside a word (a word wider than
// `width` stands on a line of its own; callers shrink the font for it).
// A Chinese clause or a Japanese phrase ("収まりません", "金型") that fits
// on a line is not broken: it starts the next line instead.
QString wrapAtWords(const QString& text, const QFontMetrics& fm, int width);
// The screen's text font ("wqy-microhei") at `pixels` pixels.
QFont screenFont(int pixels);

class C_Type_COM : public QWidget {
    Q_OBJECT
public:
    enum C_Color { C_Color_Dark = 0, C_Color_Green = 1, C_Color_Blue = 2, C_Color_Red = 3 };

    explicit C_Type_COM(QWidget* parent = nullptr);
    void initForm();

    static void setTxtQss(QLineEdit* edit, const QString& borderColor, const QString& focusColor);
    // Colours outside 0..3 leave the line edit's sheet untouched.
    static void setTxtQss(QLineEdit* edit, int color);
    static QString getSlider();
};

class QFont_Pix : public QFont {
public:
    QFont_Pix(const QString& family, int pixelSize);
};

class TextShowWidget : public QWidget {
    Q_OBJECT
public:
    explicit TextShowWidget(QWidget* parent = nullptr);

    QTextBrowser* textBrowser = nullptr;   // the owner appends lines to it
    QPushButton* closeButton = nullptr;

signals:
    void sigHideWidget();
};

// The main window's zoom slider: a 0..100 slider with a two-decimal read-out
// that falls back to its minimum after 30 s without a change.
class FloatSlider : public QWidget {
    Q_OBJECT
public:
    explicit FloatSlider(QWidget* parent = nullptr);

    void setValue(float v);
    void setToMinValue();
    void startTimer();
    float value() const { return value_; }

    QSlider* slider = nullptr;
    QLabel* valueLabel = nullptr;
    QPushButton* showHideButton = nullptr;
    QTimer* idleTimer = nullptr;

public slots:
    void updateLabel(int position);

signals:
    void updateValue(float value);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void toggleSlider();
    void setButtonIcon(const QString& file);

    float value_ = 1.0f;
    float scale_ = 1.0f;
};

class SplashFrame;
// The start-up splash screen while it is shown (null otherwise).
extern SplashFrame* g_splashframe;

class SplashFrame : public QSplashScreen {
    Q_OBJECT
public:
    SplashFrame();
    ~SplashFrame() override;

    // Shows progress `step` (0..100, never backwards) and, when `text` is not
    // empty, the text under the bar. A step above 99 removes the progress dialog.
    void flushstep(int step, QString text = QString());

    int shownStep() const { return highest_; }

private:
    QPointer<QDialog> progressDialog_;
    QProgressBar* progressBar_ = nullptr;
    QLabel* label_ = nullptr;
    int highest_ = 0;
};
