// The run screen's button bar.
#pragma once

#include <QPushButton>
#include <QWidget>

class IndexButton : public QWidget {
    Q_OBJECT
public:
    explicit IndexButton(QWidget* parent = nullptr);
    // Makes a hidden bar visible again (its show flag set, its buttons shown).
    void checkShowHide();
    void hideButtons();
    bool shown() const { return shown_; }
    QPushButton* startStopButton() const { return startStop_; }
    QPushButton* roiButton() const { return roi_; }
    QPushButton* retrainButton() const { return retrain_; }
    void setRunning(bool running);

signals:
    void startStopClicked();
    void retrainClicked();
    // "Area Settings": the ROI tool page.
    void roiClicked();

private:
    QPushButton* startStop_ = nullptr;
    QPushButton* retrain_ = nullptr;
    QPushButton* roi_ = nullptr;
    bool shown_ = true;
};
