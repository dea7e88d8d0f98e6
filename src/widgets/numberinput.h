// The two shared on-screen pads: the digit pad `NumberInput` (gpNumPad) and
// the letter pad `NumCharInput` (gpNumCharPad). A pad never remembers a field;
// every key acts on `Edit::currentEdit()` when it is pressed.
#pragma once

#include <QVector>
#include <QWidget>

#include <random>

class QButtonGroup;
class ColorButton;
class NumberInput;
class NumCharInput;

extern NumberInput* gpNumPad;
extern NumCharInput* gpNumCharPad;

// The one place where pads are made: creates a parentless hidden pad, stores
// it in its global and wires it (its hide key to the password check, and a
// replacement made at once when the pad is destroyed). A pad re-created this
// way behaves exactly like the first one.
NumberInput* createNumPad();
NumCharInput* createNumCharPad();
// Creates whichever pad is missing, digit pad first.
void ensurePads();
// Hides both pads (when they exist).
void hidePads();

class NumberInput : public QWidget {
    Q_OBJECT
public:
    explicit NumberInput(QWidget* parent = nullptr);
    ~NumberInput() override;

    QButtonGroup* group = nullptr;
    ColorButton* keys[10] = {};
    ColorButton* hideKey = nullptr;
    ColorButton* eraseKey = nullptr;
    bool replaceNext = true;

    // The ten digits 0-9 in random order.
    QVector<int> genRandomNumber();

public slots:
    void setContent(int id);
    void eraseContent();
    void eraseAll();
    void HideUpdate();

signals:
    void chkpassword();

protected:
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    std::mt19937 rng_;
};

class NumCharInput : public QWidget {
    Q_OBJECT
public:
    enum Page { LowerPage, CapitalPage, PunctuationPage };

    explicit NumCharInput(QWidget* parent = nullptr);
    ~NumCharInput() override;

    QButtonGroup* group = nullptr;
    ColorButton* keys[41] = {};   // 37 page key, 38 caps, 39 erase, 40 hide

    Page page() const { return page_; }

public slots:
    void SlotChgChar_Punc();
    void setContent(int id);
    void eraseContent();
    void HideUpdate();
    void SlotCap();

protected:
    void showEvent(QShowEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void loadPage(Page p);

    // The page is also told by the labels of the page and caps keys; it is
    // kept here as well so that switching works when those texts coincide.
    Page page_ = LowerPage;
};
