#include "platform/grid_question_window.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kWidth = 380;
constexpr int kHeight = 55;
enum Result { Closed = QDialog::Rejected, Grid8x8 = 10, Grid16x16, NoGrid };
}  // namespace

GridQuestionWindow::GridQuestionWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(QString());
    setFixedSize(kWidth, kHeight);

    auto* label = new QLabel(QStringLiteral("This image has a grid added?"), this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(5, 5, kWidth - 10, 20);

    auto makeButton = [this](const QString& text, int x, int result) {
        auto* button = new QPushButton(text, this);
        button->setGeometry(x, kHeight - 25, 120, 20);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        return button;
    };
    grid8Button_ = makeButton(QStringLiteral("8x8"), 5, Grid8x8);
    grid16Button_ = makeButton(QStringLiteral("16x16"), 130, Grid16x16);
    noGridButton_ = makeButton(QStringLiteral("no Grid"), 255, NoGrid);
}

void GridQuestionWindow::showEvent(QShowEvent* event)
{
    // Centred over the owner, never above or left of the screen's origin.
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(std::max(0, frame.center().x() - width() / 2),
             std::max(0, frame.center().y() - height() / 2));
    }
    QDialog::showEvent(event);
}

GridAnswer GridQuestionWindow::ask()
{
    switch (exec()) {
    case Grid8x8:
        return GridAnswer::Grid8x8;
    case Grid16x16:
        return GridAnswer::Grid16x16;
    case NoGrid:
        return GridAnswer::NoGrid;
    default:
        return GridAnswer::Closed;
    }
}
