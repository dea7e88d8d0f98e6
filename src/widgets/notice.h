// A short word to the operator that a step took effect ("The count has been
// cleared"): shown over the lower middle of a window for a few seconds,
// without taking the input or waiting for a tap. A new notice replaces the
// one still shown.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QTimer>

class Notice : public QLabel {
    Q_OBJECT
public:
    static constexpr int kShownMs = 3000;
    static constexpr int kTextPixels = 28;

    // Shows `text` over `over`'s window (or the screen when it has none).
    static Notice* post(QWidget* over, const QString& text);
    // The notice on screen, or null.
    static Notice* shown();

private:
    explicit Notice(QWidget* window);
    static QPointer<Notice> current_;
    QTimer timer_;
};
