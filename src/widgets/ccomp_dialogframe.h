// The frameless dialog with a title bar (title, OK button) that the network
// dialogs derive from, with the kit's dialog and combo-box styles; and the
// small modal wait indicator that runs one job off the GUI thread.
#pragma once

#include <QDialog>
#include <QFuture>

#include <atomic>
#include <functional>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QStyledItemDelegate;
class QThreadPool;

class CComp_DialogFrame : public QDialog {
    Q_OBJECT
public:
    CComp_DialogFrame(const QString& title, QWidget* parent = nullptr);
    ~CComp_DialogFrame() override;

    // Inserts w into the title bar just before the OK button.
    void addTitleWgt(QWidget* w);

    // The area below the title bar; a derived dialog gives it its layout.
    QWidget* bodyWidget() const { return body_; }
    QLabel* titleLabel() const { return title_; }
    QPushButton* okButton() const { return ok_; }

    static QString dialogStyleSheet();
    static QString comboStyleSheet();
    static void setDefaultWgt(QWidget* w, const QString& extra = QString());
    // Places the window `dialog` centred over `over` (its window's screen
    // position; a dialog is a window of its own, placed in screen coordinates).
    static void centreOn(QWidget* dialog, const QWidget* over);
    // The kit's combo look, with `delegate` drawing the rows (the kit's
    // TouchRowDelegate gives them touch size).
    static void setStyleCombobox(QComboBox* box, QStyledItemDelegate* delegate, const QString& extra = QString());

public slots:
    virtual void acceptDialog();

private:
    QLabel* title_ = nullptr;
    QWidget* body_ = nullptr;
    QHBoxLayout* titleLayout_ = nullptr;
    QPushButton* ok_ = nullptr;
};

class CComp_DiaWait : public QDialog {
    Q_OBJECT
public:
    // Starts `job` at once on the wait dialog's own thread pool; exec() then
    // returns Accepted after the job has returned. An empty job or one that
    // throws ends the dialog the same way (with a warning logged).
    explicit CComp_DiaWait(std::function<void()> job, QWidget* parent = nullptr);
    ~CComp_DiaWait() override;

    // The pool the jobs run on: kept apart from Qt's global pool, whose
    // threads the endless disk and copy workers hold.
    static QThreadPool* pool();

public slots:
    void finish();

protected:
    void showEvent(QShowEvent* e) override;

private:
    std::function<void()> job_;
    QFuture<void> future_;
    bool finished_ = false;
};
