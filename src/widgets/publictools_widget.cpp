#include "publictools_widget.h"

#include "globals.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>
#include <csignal>

SplashFrame* g_splashframe = nullptr;

QString kitText(int row)
{
    if (row < 0 || row >= kLanRows)
        return QString();
    const int lan = (gLan >= 0 && gLan < kLanCols) ? gLan : 0;
    return gaLanStr[row][lan];
}

QPixmap kitPixmap(const QString& fileName)
{
    const QString path = QStringLiteral("./images/") + fileName;
    QPixmap pm;
    if (QFile::exists(path))
        pm.load(path);
    return pm;
}

int fittingPixelSize(QFont font, const QString& text, const QSize& box, int pixels, int minPixels)
{
    if (text.isEmpty())
        return pixels;
    for (int px = pixels; px > minPixels; --px) {
        font.setPixelSize(px);
        const QSize need = QFontMetrics(font).size(0, text);
        if (need.width() <= box.width() && need.height() <= box.height())
            return px;
    }
    return minPixels;
}

bool breaksBetweenCharacters(QChar c)
{
    // Ideographs stand each for a word; kana do not: a run of katakana or
    // hiragana ("エジェクタ", "ライブ") is one word like a Latin one.
    const ushort u = c.unicode();
    return (u >= 0x2E80 && u <= 0x2FFF)      // CJK radicals
           || (u >= 0x3000 && u <= 0x303F)   // CJK punctuation
           || (u >= 0x3400 && u <= 0x4DBF)   // ideographs, extension A
           || (u >= 0x4E00 && u <= 0x9FFF)   // ideographs
           || (u >= 0xF900 && u <= 0xFAFF)   // compatibility ideographs
           || (u >= 0xFF00 && u <= 0xFF60);  // full-width forms (not the half-width kana)
}

namespace {

// Punctuation that closes what stands before it: no line starts with it.
bool closesPhrase(QChar c)
{
    static const QString closing = QStringLiteral("、。，．！？：；）」』】〉》〕！？,.!?:;)]}");
    return closing.contains(c);
}

bool isHiragana(QChar c)
{
    return c.unicode() >= 0x3040 && c.unicode() <= 0x309F;
}

bool isKatakana(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x30A0 && u <= 0x30FF) || (u >= 0x31F0 && u <= 0x31FF) || (u >= 0xFF66 && u <= 0xFF9F);
}

// Opening marks belong to what follows them: no line ends with one.
bool opensPhrase(QChar c)
{
    static const QString opening = QStringLiteral("「『（【〈《〔［｛“‘([{");
    return opening.contains(c);
}

struct Token {
    QString text;
    bool blankBefore = false;
    // A line breaks here before it breaks inside a group: a Chinese clause
    // (up to its punctuation), a Japanese phrase (a run of kanji, of
    // katakana or of Latin letters with the kana that follow it:
    // "収まりません。", "金型", "キャビティを"), a word between blanks.
    bool startsGroup = true;
};

// Marks where the groups of one paragraph's tokens begin. Without a
// dictionary, the words of Chinese are not known: a clause is kept whole
// where it fits on a line (the break falls at its punctuation), else it is
// broken between characters. Japanese words end where the script changes.
void markGroups(QVector<Token>& tokens)
{
    bool japanese = false;
    for (const Token& t : tokens)
        for (const QChar c : t.text)
            japanese = japanese || isHiragana(c) || isKatakana(c);
    for (int i = 1; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        const QChar last = tokens[i - 1].text.back();
        const QChar first = t.text.front();
        const bool ideograph = breaksBetweenCharacters(last) && !closesPhrase(last) && !opensPhrase(last);
        const bool ideographNext = breaksBetweenCharacters(first) && !opensPhrase(first);
        if (t.blankBefore)
            t.startsGroup = true;
        else if (opensPhrase(last))
            t.startsGroup = false;
        else if (closesPhrase(last) || opensPhrase(first))
            t.startsGroup = true;
        else if (!japanese)
            t.startsGroup = false;
        else
            t.startsGroup = (isHiragana(last) && !isHiragana(first)) || (ideograph && isKatakana(first)) ||
                            (isKatakana(last) && ideographNext);
    }
}

// The words of one paragraph with whether a blank stood before each; a
// closing mark stays with the word before it.
QVector<Token> tokens(const QString& paragraph)
{
    QVector<Token> out;
    QString run;
    bool blank = false;
    auto flush = [&] {
        if (!run.isEmpty())
            out.append({run, blank});
        run.clear();
        blank = false;
    };
    for (const QChar c : paragraph) {
        if (c.isSpace()) {
            flush();
            blank = true;
            continue;
        }
        const bool toLast = run.isEmpty() && !out.isEmpty() && !blank;
        if (closesPhrase(c) && breaksBetweenCharacters(c)) {
            // A CJK closing mark ends its word: a line may break after it.
            if (toLast)
                out.last().text += c;
            else
                run += c;
            flush();
            continue;
        }
        if (closesPhrase(c) && toLast) {
            out.last().text += c;
            continue;
        }
        if (breaksBetweenCharacters(c) && !closesPhrase(c)) {
            flush();
            out.append({QString(c), blank});
            blank = false;
            continue;
        }
        // A katakana word after hiragana (a particle, "前の|テンプレート")
        // starts a word of its own; hiragana after katakana stays with it.
        if (isKatakana(c) && !run.isEmpty() && isHiragana(run.back()))
            flush();
        // So does a Latin word or a number after a particle ("が|NGの").
        if (c.isLetterOrNumber() && !isHiragana(c) && !isKatakana(c) && !run.isEmpty() && isHiragana(run.back()))
            flush();
        run += c;
    }
    flush();
    return out;
}

}  // namespace

QStringList unbreakableWords(const QString& text)
{
    QStringList words;
    QString paragraphs = text;
    paragraphs.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& p : paragraphs.split(QLatin1Char('\n')))
        for (const Token& t : tokens(p))
            words << t.text;
    return words;
}

QFont screenFont(int pixels)
{
    QFont f(QStringLiteral("wqy-microhei"));
    f.setPixelSize(pixels);
    return f;
}

QString wrapAtWords(const QString& text, const QFontMetrics& fm, int width)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines;
    auto fits = [&](const QString& s) { return fm.horizontalAdvance(s) <= width; };
    auto joined = [](const QString& line, const Token& t) {
        return line.isEmpty() ? t.text : line + (t.blankBefore ? QStringLiteral(" ") : QString()) + t.text;
    };
    for (const QString& paragraph : normal.split(QLatin1Char('\n'))) {
        QVector<Token> words = tokens(paragraph);
        markGroups(words);
        QString line;
        for (int i = 0; i < words.size();) {
            int end = i + 1;
            while (end < words.size() && !words[end].startsGroup)
                ++end;
            QString group;
            for (int k = i; k < end; ++k)
                group = joined(group, words[k]);
            const Token whole{group, words[i].blankBefore};
            if (fits(joined(line, whole))) {
                line = joined(line, whole);
            } else if (!line.isEmpty() && fits(group)) {
                // The group starts the next line rather than be broken.
                lines << line;
                line = group;
            } else {
                // Wider than a line: broken between its words, from here on.
                for (int k = i; k < end; ++k) {
                    if (line.isEmpty() || fits(joined(line, words[k]))) {
                        line = joined(line, words[k]);
                        continue;
                    }
                    lines << line;
                    line = words[k].text;
                }
            }
            i = end;
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

int fittingWrappedPixelSize(QFont font, const QString& text, const QSize& box, int pixels, int minPixels)
{
    if (text.isEmpty())
        return pixels;
    const QStringList words = unbreakableWords(text);
    for (int px = pixels; px > minPixels; --px) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        bool fits = true;
        for (const QString& w : words)
            fits = fits && fm.horizontalAdvance(w) <= box.width();
        const QSize need = fm.size(0, wrapAtWords(text, fm, box.width()));
        if (fits && need.height() <= box.height())
            return px;
    }
    return minPixels;
}

// ---------------------------------------------------------------------------

C_Type_COM::C_Type_COM(QWidget* parent)
    : QWidget(parent)
{
}

void C_Type_COM::initForm() {}

void C_Type_COM::setTxtQss(QLineEdit* edit, const QString& borderColor, const QString& focusColor)
{
    if (!edit)
        return;
    const QString sheet =
        QStringLiteral("QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px solid %1;}").arg(borderColor)
        + QStringLiteral("QLineEdit:focus{border:2px solid %1;}").arg(focusColor);
    edit->setStyleSheet(sheet);
}

void C_Type_COM::setTxtQss(QLineEdit* edit, int color)
{
    static const char* const kFocus[] = {"#34495E", "#1ABC9C", "#3498DB", "#E74C3C"};
    if (color < 0 || color > 3)
        return;
    setTxtQss(edit, QStringLiteral("#DCE4EC"), QString::fromLatin1(kFocus[color]));
}

QString C_Type_COM::getSlider()
{
    return QStringLiteral(
        "QWidget{background-color:rgb(110,110,110);border:0px;}"
        "QScrollBar:vertical{background:#FFFFFF;padding-top:0px;padding-bottom:0px;padding-left:0px;"
        "padding-right:0px;border-radius:7px;}"
        "QScrollBar::handle:vertical{background:#B7B7B7;border-radius:7px;min-height:80px;}"
        "QScrollBar::handle:vertical:hover{background:#949494;}"
        "QScrollBar::add-line:vertical{height:0px;subcontrol-position:bottom;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical{height:0px;subcontrol-position:top;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical:pressed{background-color:#FFC107;}");
}

// ---------------------------------------------------------------------------

QFont_Pix::QFont_Pix(const QString& family, int pixelSize)
    : QFont(family)
{
    if (pixelSize > 0)
        setPixelSize(pixelSize);
}

// ---------------------------------------------------------------------------

TextShowWidget::TextShowWidget(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(560, 300);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    setStyleSheet(QStringLiteral("outline:0px; border:2px solid #00BCD4"));

    textBrowser = new QTextBrowser(this);
    textBrowser->setFixedSize(560, 300);
    textBrowser->setStyleSheet(QStringLiteral("font-size:15px;"));

    closeButton = new QPushButton(this);
    closeButton->setIcon(QIcon(kitPixmap(QStringLiteral("error.png"))));
    closeButton->setStyleSheet(QStringLiteral("outline:0px;border:none;background-color:rgba(110,110,110,0)"));
    closeButton->setGeometry(500, 0, 60, 60);
    closeButton->setFixedSize(60, 60);
    closeButton->setIconSize(QSize(40, 40));
    closeButton->raise();
    connect(closeButton, &QPushButton::clicked, this, [this] {
        emit sigHideWidget();
        hide();
    });
}

// ---------------------------------------------------------------------------

FloatSlider::FloatSlider(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    valueLabel = new QLabel(QStringLiteral("0.00"), this);
    valueLabel->setAlignment(Qt::AlignCenter);
    valueLabel->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:25px;color:#00FF00;}"));

    showHideButton = new QPushButton(this);
    showHideButton->setFixedSize(25, 35);
    setButtonIcon(QStringLiteral("hide.png"));

    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(0, 100);
    slider->setContentsMargins(20, 0, 20, 0);
    slider->setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal{border:0px;}"
        "QSlider::sub-page:horizontal{border-image:url(./images/slideru.png);background:rgb(90,49,255);"
        "border-radius:2px;margin-top:8px;margin-bottom:8px;}"
        "QSlider::add-page:horizontal{border-image:url(./images/sliderd.png);background:rgb(255,255,255);"
        "border:0px;border-radius:2px;margin-top:9px;margin-bottom:9px;}"
        "QSlider::handle:horizontal{border-image:url(./images/slidert.png);background:rgb(193,204,208);"
        "width:25px;border:1px solid rgb(193,204,208);border-radius:2px;margin-top:1px;margin-bottom:1px;}"));

    layout->addWidget(valueLabel, 0, Qt::AlignCenter);
    layout->addWidget(showHideButton, 0, Qt::AlignCenter);
    layout->addWidget(slider, 0, Qt::AlignCenter);
    layout->addStretch();

    idleTimer = new QTimer(this);
    idleTimer->setSingleShot(true);

    connect(slider, &QSlider::valueChanged, this, &FloatSlider::updateLabel);
    connect(idleTimer, &QTimer::timeout, this, &FloatSlider::setToMinValue);
    connect(showHideButton, &QPushButton::clicked, this, &FloatSlider::toggleSlider);
}

void FloatSlider::setButtonIcon(const QString& file)
{
    const QPixmap pm = kitPixmap(file);
    const QSize size = showHideButton->size();
    if (pm.isNull())
        showHideButton->setIcon(QIcon());
    else
        showHideButton->setIcon(QIcon(pm.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    showHideButton->setIconSize(size);
}

void FloatSlider::toggleSlider()
{
    slider->setVisible(!slider->isVisible());
    setButtonIcon(slider->isVisible() ? QStringLiteral("hide.png") : QStringLiteral("show.png"));
}

void FloatSlider::setValue(float v)
{
    slider->setValue(static_cast<int>(v * scale_));
    valueLabel->setText(QString::number(static_cast<double>(v), 'f', 2));
    value_ = v;
}

void FloatSlider::setToMinValue()
{
    setValue(static_cast<float>(slider->minimum()) / scale_);
}

void FloatSlider::updateLabel(int position)
{
    value_ = static_cast<float>(position) / scale_;
    valueLabel->setText(QString::number(static_cast<double>(value_), 'f', 2));
    startTimer();
    emit updateValue(value_);
}

void FloatSlider::startTimer()
{
    idleTimer->start(30000);
}

void FloatSlider::showEvent(QShowEvent* event)
{
    const int w = width() - valueLabel->width() - showHideButton->width() - 10;
    slider->setFixedWidth(qMax(0, w));
    slider->setFixedHeight(height());
    QWidget::showEvent(event);
}

// ---------------------------------------------------------------------------

SplashFrame::SplashFrame()
    : QSplashScreen(QPixmap())
{
    setObjectName(QStringLiteral("splashframe"));
    setGeometry(0, 0, 1920, 1080);

    auto* dialog = new QDialog(nullptr);
    progressDialog_ = dialog;
    dialog->setObjectName(QStringLiteral("progressdialog"));
    dialog->setFixedSize(1920, 1080);
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint);

    label_ = new QLabel(QStringLiteral("程序加载中.."), dialog);
    label_->setObjectName(QStringLiteral("loadlabel"));
    label_->setAlignment(Qt::AlignCenter);
    label_->setMinimumWidth(600);

    progressBar_ = new QProgressBar(dialog);
    progressBar_->setObjectName(QStringLiteral("progressbar"));
    progressBar_->setFixedSize(500, 50);
    progressBar_->setValue(0);

    auto* dl = new QVBoxLayout(dialog);
    dl->setContentsMargins(0, 0, 0, 0);
    dl->setSpacing(10);
    dl->addStretch(1);
    dl->addWidget(progressBar_, 0, Qt::AlignCenter);
    dl->addWidget(label_, 1, Qt::AlignHCenter | Qt::AlignTop);
    dl->addStretch();

    auto* sl = new QVBoxLayout(this);
    sl->setContentsMargins(2, 2, 2, 2);
    sl->addWidget(dialog, 0, Qt::AlignCenter);

    setStyleSheet(QStringLiteral(
        "QProgressBar#progressbar{font-size:30px;text-align: center;background-color: gray;border-radius: 15px; "
        "color: white;}QProgressBar::chunk:enabled#progressbar{border-radius: 4px; background: #3498DB;margin: 6px;}")
        + QStringLiteral("QDialog#progressdialog{border-image: url(./images/background.png);border-width: 1px;}")
        + QStringLiteral("QLabel{color: #FFFFFF;font-size: 26px;}"));

    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    show();
    QCoreApplication::processEvents();
}

SplashFrame::~SplashFrame()
{
    if (g_splashframe == this)
        g_splashframe = nullptr;
}

void SplashFrame::flushstep(int step, QString text)
{
    if (!text.isEmpty()) {
        if (auto* label = findChild<QLabel*>(QStringLiteral("loadlabel"), Qt::FindChildrenRecursively))
            label->setText(text);
    }
    highest_ = qMax(highest_, qBound(0, step, 100));
    if (progressDialog_) {
        progressBar_->setValue(highest_);
        progressBar_->repaint();
    }
    show();
    // Test seam: a SIGTERM at a chosen step of start-up ("VMM_TERM_AT_STEP",
    // a progress value), as a service stop would send one.
    static const int termAt =
        qEnvironmentVariableIsSet("VMM_TERM_AT_STEP") ? qEnvironmentVariableIntValue("VMM_TERM_AT_STEP") : -1;
    static bool termSent = false;
    if (termAt >= 0 && !termSent && step >= termAt) {
        termSent = true;
        ::raise(SIGTERM);
    }
    QCoreApplication::processEvents();
    if (step > 99 && progressDialog_) {
        progressDialog_->close();
        delete progressDialog_.data();
        progressBar_ = nullptr;
        label_ = nullptr;
    }
}
