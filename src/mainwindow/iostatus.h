// The I/O lamp panel: one lamp per board input and output with its display
// name, the run and detect state, and the production counters.
#pragma once

#include <QTimer>
#include <QWidget>

class IOStatusWidget : public QWidget {
    Q_OBJECT
public:
    explicit IOStatusWidget(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {900, 96}; }
    int shownInputs() const { return in_; }
    int shownOutputs() const { return out_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void refresh();
    QTimer timer_;
    int in_ = -1;
    int out_ = -1;
};
