// The IPv4 address field and the date and time editor.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QWidget>

class QDateEdit;
class QHBoxLayout;
class QLabel;
class QTimeEdit;
class Edit;

class EditIP : public QWidget {
    Q_OBJECT
public:
    // Where the part fields place their pad: in this widget's parent, or in
    // the network settings dialog `gpNetDialog`.
    enum PadPlace : int { PadInParent = 0, PadInNetDialog = 1 };
    EditIP(const QString& title, int mode, QWidget* parent = nullptr);

    QLabel* titleLabel = nullptr;
    QLabel* dotLabels[3] = {};
    Edit* parts[4] = {};
    QHBoxLayout* layout = nullptr;
    QColor titleColor = Qt::yellow;

    // The four parts joined with "."; an empty or non-numeric part reads "0".
    QString getAddress() const;
    // Splits a dotted text into the parts; a part whose segment is empty or
    // missing keeps its previous text.
    void setAddress(const QString& address);

public slots:
    void SlotPressDot_0();
    void SlotPressDot_1();
    void SlotPressDot_2();

signals:
    void textchange(const QString& address);

private:
    void pressDot(int next);
};

class EditDateTime : public QWidget {
    Q_OBJECT
public:
    static constexpr int kEditorWidth = 330;
    static constexpr int kEditorHeight = 64;

    // Starts at the construction time; ShowDateTime refreshes it.
    EditDateTime(const QString& title, QWidget* parent = nullptr);
    ~EditDateTime() override;

    QDateEdit* dateEdit = nullptr;
    QTimeEdit* timeEdit = nullptr;
    QLabel* titleLabel = nullptr;
    QDateTime* dateTime = nullptr;   // construction time until setSysDateTime

    // Both editors show the current date and time.
    void ShowDateTime();
    // Sets the system clock (and the hardware clock) to the editors' date and
    // time. False, with a warning logged, when either command failed.
    bool setSysDateTime();
};
