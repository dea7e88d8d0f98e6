// The display names of the inputs and outputs in the multiple-detection
// mode: a name from the fixed input and output name lists per slot.
#pragma once

#include <QDialog>

class ComboBox;

class CustomIONameWidget : public QDialog {
    Q_OBJECT
public:
    static constexpr int kSlots = 8;

    explicit CustomIONameWidget(QWidget* parent = nullptr);

    ComboBox* inputName[kSlots] = {};    // index into gInName
    ComboBox* outputName[kSlots] = {};   // index into gOutName

public slots:
    // Writes words 251-258 and 259-266 of the working copy.
    void accept() override;
};
