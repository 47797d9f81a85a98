#pragma once

#include <QDialog>

#include "platform/dialogs.h"

class QPushButton;

// "This image has a grid added?" with the answers "8x8", "16x16" and "no Grid": a small modal
// window without a close box, centred over its owner. Escape or a close request leaves it without
// an answer.
class GridQuestionWindow : public QDialog {
    Q_OBJECT
public:
    explicit GridQuestionWindow(QWidget* owner);

    // Shows the window modally and returns the answer.
    GridAnswer ask();

    QPushButton* grid8Button() const { return grid8Button_; }
    QPushButton* grid16Button() const { return grid16Button_; }
    QPushButton* noGridButton() const { return noGridButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPushButton* grid8Button_;
    QPushButton* grid16Button_;
    QPushButton* noGridButton_;
};
