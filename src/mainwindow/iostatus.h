// The I/O lamp panel: one lamp per board input and output with its display
// name, the run and detect state, and the production counters.
#pragma once

#include <QFont>
#include <QRect>
#include <QTimer>
#include <QWidget>

class IOStatusWidget : public QWidget {
    Q_OBJECT
public:
    explicit IOStatusWidget(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1200, minimumHeight()}; }
    int shownInputs() const { return in_; }
    int shownOutputs() const { return out_; }

    // Row 0 inputs, 1 outputs; lamp i's cell and the font its name is drawn with.
    QRect lampCell(int row, int i) const;
    QFont lampFont(const QString& name) const;
    // Where lamp i's name is drawn, and the room `name` takes at `font`.
    QRect lampTextRect(int row, int i) const;
    QRect lampTextNeeds(const QString& name, const QFont& font) const;
    // The font a row's names are drawn with (row of inputs or of outputs).
    QFont rowFont(bool inputs) const;
    static QString lampName(bool input, int i);
    // "<run> <OK/NG> step n" and the cycle counters.
    QString stateLine() const;
    QString countLine() const;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void refresh();
    QTimer timer_;
    int in_ = -1;
    int out_ = -1;
};
