// The display names of the inputs and outputs in the multiple-detection
// mode: a name from the fixed input and output name lists per slot, each
// slot labelled with the board input or output it names (the lamp of the
// I/O panel). In the other modes the lamps carry the mode's names, which the
// dialog shows without a choice.
#pragma once

#include <QDialog>

class ColorButton;
class ComboBox;
class QLabel;

class CustomIONameWidget : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSlots = 8;

    explicit CustomIONameWidget(QWidget* parent = nullptr);

    ComboBox* inputName[kSlots] = {};    // index into gInName
    ComboBox* outputName[kSlots] = {};   // index into gOutName
    ColorButton* okButton = nullptr;
    ColorButton* cancelButton = nullptr;
    // Outside the multiple-detection mode: why nothing can be chosen.
    QLabel* reason = nullptr;
    static constexpr int kReasonPixels = 22;
    static constexpr int kReasonWidth = 860;

    // Whether the working copy is in the mode whose names are chosen here.
    static bool namesChosen();

public slots:
    // Writes words 251-258 and 259-266 of the working copy.
    void accept() override;
};
