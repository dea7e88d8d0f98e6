// The password dialog: the only place where a rights level is granted.
// Level 1 (operator) for the operator password of the system parameters,
// level 2 (factory) for the factory code, 0 after any wrong try.
#pragma once

#include <QDateTime>
#include <QDialog>

#include <functional>

class ColorButton;
class Edit;

class PasswordBox;
// The shared password box; the main window creates it (null until then).
extern PasswordBox* gpPasswordBox;

class PasswordBox : public QDialog {
    Q_OBJECT
public:
    explicit PasswordBox(QWidget* parent = nullptr);

    ColorButton* okButton = nullptr;
    ColorButton* cancelButton = nullptr;
    Edit* pwdEdit = nullptr;
    // Refused after a wrong password until the field next becomes empty.
    enum FailState : int { NotRefused = 0, Refused = 2 };
    int failState = NotRefused;

    // The fixed 4-digit factory password.
    static const char* const kFactoryPassword;
    // The factory code at `now`: the fixed password alone while the operator
    // password is not in use, else followed by "MMddhh" of `now`.
    static QString factoryCode(bool passwordInUse, const QDateTime& now);

    // The clock the hourly factory code is built from (tests set their own;
    // an empty function restores the real local time).
    static void setClock(std::function<QDateTime()> clock);

public slots:
    void accept() override;
    void SlotTextChanged(const QString& text);

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
};
