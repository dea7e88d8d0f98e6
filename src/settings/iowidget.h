// The I/O assignment of the multiple-detection mode: how many steps, which
// I/O-page row serves each step, each row's trigger input and cut mode, and
// whether the steps run in sequence. Accept writes the working copy.
#pragma once

#include <QColor>
#include <QDialog>

class ComboBox;
class CheckBox;

class IOWidget : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRows = 8;
    static constexpr int kFrameWidth = 3;
    static constexpr QRgb kBackground = 0xff20303c;
    static constexpr QRgb kFrame = 0xff8fb3d0;

    explicit IOWidget(QWidget* parent = nullptr);

    ComboBox* stepCount = nullptr;         // item i: i + 2 steps
    ComboBox* rowStep[kRows] = {};         // item 0: none, item s + 1: step s
    ComboBox* rowInput[kRows] = {};        // trigger input slot 0-7
    ComboBox* rowCut[kRows] = {};          // cut mode 0-2
    CheckBox* notSequential = nullptr;

public slots:
    // Refused (nothing written) when the last step has no row or a step is
    // served by two rows.
    void accept() override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void load();
};
