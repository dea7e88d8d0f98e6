// The help pager: shows help picture `gHelpC` in the current language when
// it is made visible; previous and next turn the pages, close hides it.
#pragma once

#include <QWidget>

class QLabel;
class ColorButton;

class HelpWidget : public QWidget {
    Q_OBJECT
public:
    explicit HelpWidget(QWidget* parent = nullptr);

    int page() const { return page_; }
    // Whether the page's picture could be loaded.
    bool pictureShown() const { return shown_; }

    QLabel* picture = nullptr;
    ColorButton* previous = nullptr;
    ColorButton* next = nullptr;
    ColorButton* close = nullptr;

public slots:
    void showPage(int page);

protected:
    void showEvent(QShowEvent* e) override;

private:
    int page_ = 0;
    bool shown_ = false;
};
