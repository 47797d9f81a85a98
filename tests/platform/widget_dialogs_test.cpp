#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/file_commands.h"
#include "platform/grid_question_window.h"
#include "platform/widget_dialogs.h"

namespace {

// Runs inspect on the modal dialog that the next call opens, once it is up.
template <typename Dialog>
void whenShown(std::function<void(Dialog*)> inspect)
{
    QTimer::singleShot(0, [inspect] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no modal dialog of the expected kind";
        inspect(dialog);
    });
}

QStringList comboItems(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

}  // namespace

TEST(WidgetDialogs, OpenDialogShowsTheTitleAndFilterAsGivenWithAnEmptyNameBox)
{
    WidgetDialogs dialogs;
    QTemporaryDir folder;
    dialogs.fileNamed(folder.filePath(QStringLiteral("sheet.png")));
    QString title, nameBox, directory;
    QStringList filters;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        filters = comboItems(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")));
        nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        dialog->reject();
    });
    const QString before = QDir::currentPath();
    const FileChoice choice = dialogs.openFile(kOpenImageTitle, kImageOpenFilter);
    EXPECT_TRUE(choice.path.isEmpty());
    EXPECT_EQ(title, QStringLiteral("Please choose file to open.."));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Supported Images (*.bmp;*.jpg;*.png;*.gif)")});
    EXPECT_EQ(nameBox, QString());
    EXPECT_EQ(directory, folder.path());  // beside the last file named
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST(WidgetDialogs, SaveDialogReturnsThePathAndTheChosenFilterWithoutAddingAnExtension)
{
    QTemporaryDir folder;
    QFile existing(folder.filePath(QStringLiteral("sheet")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    WidgetDialogs dialogs;
    QStringList filters;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        filters = comboItems(dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")));
        dialog->selectNameFilter(dialog->nameFilters().value(1));
        dialog->selectFile(existing.fileName());
        // An existing file: Return accepts it without a question about replacing it.
        QTest::keyClick(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")), Qt::Key_Return);
    });
    const FileChoice choice = dialogs.saveFile(kSaveTitle, kImageSaveFilter);
    EXPECT_EQ(filters, (QStringList{QStringLiteral("Portable Network Graphics (*.png)"),
                                    QStringLiteral("Windows Bitmap (*.bmp)")}));
    EXPECT_EQ(choice.path, existing.fileName());
    EXPECT_EQ(choice.filterIndex, 1);
}

TEST(WidgetDialogs, ColourDialogStartsFromTheGivenColourAndCancelGivesNothing)
{
    WidgetDialogs dialogs;
    QColor shown;
    whenShown<QColorDialog>([&](QColorDialog* dialog) {
        shown = dialog->currentColor();
        dialog->setCurrentColor(QColor(1, 2, 3));
        dialog->accept();
    });
    EXPECT_EQ(dialogs.chooseColor(qRgb(255, 0, 255)), std::optional<QRgb>(qRgb(1, 2, 3)));
    EXPECT_EQ(shown, QColor(255, 0, 255));
    EXPECT_EQ(QColorDialog::customColor(0), QColor(255, 0, 255));

    whenShown<QColorDialog>([](QColorDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(dialogs.chooseColor(qRgb(10, 20, 30)), std::nullopt);
    EXPECT_EQ(QColorDialog::customColor(0), QColor(10, 20, 30));
}

TEST(WidgetDialogs, QuestionsHaveAnEmptyTitleNoIconAndTheirButtons)
{
    WidgetDialogs dialogs;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(dialogs.askYesNo(QStringLiteral("Reset alle remapped tiles?")));
    EXPECT_EQ(title, QString());
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);

    whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    EXPECT_FALSE(dialogs.askYesNo(QStringLiteral("?")));

    whenShown<QMessageBox>([&](QMessageBox* box) {
        buttons = box->standardButtons();
        box->button(QMessageBox::Discard)->click();
    });
    EXPECT_EQ(dialogs.askUnsaved(QStringLiteral("lost")), UnsavedAnswer::Discard);
    EXPECT_EQ(buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
}

TEST(GridQuestionWindow, LooksAsDescribedAndEachButtonGivesItsAnswer)
{
    QMainWindow owner;
    owner.setGeometry(100, 80, 640, 480);
    owner.show();
    struct Case {
        QPushButton* (GridQuestionWindow::*button)() const;
        GridAnswer answer;
        QString text;
        int x;
    };
    const Case cases[] = {
        {&GridQuestionWindow::grid8Button, GridAnswer::Grid8x8, QStringLiteral("8x8"), 5},
        {&GridQuestionWindow::grid16Button, GridAnswer::Grid16x16, QStringLiteral("16x16"), 130},
        {&GridQuestionWindow::noGridButton, GridAnswer::NoGrid, QStringLiteral("no Grid"), 255},
    };
    for (const Case& c : cases) {
        GridQuestionWindow window(&owner);
        QPushButton* button = (window.*c.button)();
        EXPECT_EQ(button->text(), c.text);
        EXPECT_EQ(button->geometry(), QRect(c.x, 30, 120, 20));
        QRect placed;
        bool ownerBlocked = false;
        QTimer::singleShot(0, [&] {
            placed = window.geometry();
            ownerBlocked = !owner.isEnabled() || QApplication::activeModalWidget() == &window;
            button->click();
        });
        EXPECT_EQ(window.ask(), c.answer);
        EXPECT_EQ(placed.size(), QSize(380, 55));
        EXPECT_NEAR(placed.center().x(), owner.frameGeometry().center().x(), 1);
        EXPECT_TRUE(ownerBlocked);
        EXPECT_EQ(window.windowTitle(), QString());
        EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_EQ(window.findChild<QLabel*>()->text(), QStringLiteral("This image has a grid added?"));
    }
}

TEST(GridQuestionWindow, EscapeLeavesWithoutAnAnswer)
{
    GridQuestionWindow window(nullptr);
    QTimer::singleShot(0, [&] { QTest::keyClick(&window, Qt::Key_Escape); });
    EXPECT_EQ(window.ask(), GridAnswer::Closed);
}

TEST(WidgetDialogs, TileSizeTakesATypedSizeAndEnterWithTheGridUnchecked)
{
    // A number is a square; WxH a tile that is not; a size out of range is not taken by Enter.
    const struct {
        const char* typed;
        std::optional<TileShape> taken;
    } cases[] = {{"24", TileShape(24)}, {"32x64", TileShape(32, 64)}, {"64X32", TileShape(64, 32)},
                 {"300", std::nullopt}, {"32x", std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        WidgetDialogs dialogs;
        bool unchecked = false;
        whenShown<QDialog>([&](QDialog* dialog) {
            unchecked = !dialog->findChild<QCheckBox*>()->isChecked();
            auto* size = dialog->findChild<QLineEdit*>();
            QWidget* focus = dialog->focusWidget();
            EXPECT_TRUE(focus == size) << "the size does not have the focus";
            EXPECT_EQ(size->text(), QStringLiteral("8"));
            QTest::keyClicks(size, QString::fromUtf8(c.typed));
            QTest::keyClick(size, Qt::Key_Return);
            if (dialog->isVisible())  // Enter was refused: the user gives up
                dialog->reject();
        });
        const std::optional<TileSizeAnswer> answer = dialogs.askTileSize(8);
        ASSERT_EQ(answer.has_value(), c.taken.has_value());
        if (answer) {
            EXPECT_TRUE(answer->tileSize == *c.taken);
            EXPECT_FALSE(answer->gridded);
        }
        EXPECT_TRUE(unchecked);
    }
}
