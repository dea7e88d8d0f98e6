// The camera order: for every camera view the camera that should show in it.
// OK stores the new order in SN.db when no camera is chosen twice.
#pragma once

#include <QDialog>
#include <QVector>

class ComboBox;

class WidgetChangeCamera : public QDialog {
    Q_OBJECT
public:
    WidgetChangeCamera(int cameras, QWidget* parent = nullptr);

    QVector<ComboBox*> position;   // position[i]: the camera shown at place i

public slots:
    void accept() override;
};
