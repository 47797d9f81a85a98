#include "platform/widget_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QLineEdit>
#include <QRegularExpression>

#include "platform/grid_question_window.h"

QStringList WidgetDialogs::nameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return result;
}

QWidget* WidgetDialogs::dialogOwner() const
{
    // The program's window in front, if any, else the main window.
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return owner_;
}

FileChoice WidgetDialogs::runFileDialog(const QString& title, const QString& filter,
                                        const QString& folder, bool save)
{
    QFileDialog dialog(dialogOwner(), title, folder);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                      QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Like a save dialog, the open dialog lets the user type a name that does not exist; opening
    // it then reports the missing file.
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = nameFilters(filter);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    // With the details hidden, Qt may report the filter as shown rather than as set.
    const QString selected = dialog.selectedNameFilter();
    int index = 0;
    for (int i = 0; i < filters.size(); ++i)
        if (selected == filters[i] || selected == filter.section(QLatin1Char('|'), 2 * i, 2 * i))
            index = i;
    return {dialog.selectedFiles().constFirst(), index};
}

FileChoice WidgetDialogs::chooseOpenFile(const QString& title, const QString& filter,
                                         const QString& folder)
{
    return runFileDialog(title, filter, folder, false);
}

QStringList WidgetDialogs::chooseOpenFiles(const QString& title, const QString& filter,
                                           const QString& folder)
{
    QFileDialog dialog(dialogOwner(), title, folder);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    const QStringList filters = nameFilters(filter);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

FileChoice WidgetDialogs::chooseSaveFile(const QString& title, const QString& filter,
                                         const QString& folder)
{
    return runFileDialog(title, filter, folder, true);
}

std::optional<QRgb> WidgetDialogs::chooseColor(QRgb initial)
{
    QColorDialog::setCustomColor(0, QColor::fromRgb(initial));
    const QColor chosen = QColorDialog::getColor(QColor::fromRgb(initial), dialogOwner(), QString(),
                                                 QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid())
        return std::nullopt;
    return qRgb(chosen.red(), chosen.green(), chosen.blue());
}

bool WidgetDialogs::askYesNo(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Yes | QMessageBox::No,
                    dialogOwner());
    return box.exec() == QMessageBox::Yes;
}

GridAnswer WidgetDialogs::askGridLayout()
{
    GridQuestionWindow window(owner_);
    const GridAnswer answer = window.ask();
    // The main window takes the keyboard again, as after any question it asked.
    if (owner_)
        owner_->activateWindow();
    return answer;
}

namespace {

// A tile size as Settings "Tile Size.." takes it, when it is one.
std::optional<TileShape> tileShapeIn(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\s*(\d{1,3})\s*(?:[xX×]\s*(\d{1,3}))?\s*$)"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int width = match.captured(1).toInt();
    const int height = match.hasCaptured(2) ? match.captured(2).toInt() : width;
    const auto fits = [](int side) { return side >= kLeastTileSize && side <= kMostTileSize; };
    if (!fits(width) || !fits(height))
        return std::nullopt;
    return TileShape(width, height);
}

}  // namespace

std::optional<TileSizeAnswer> WidgetDialogs::askTileSize(TileShape current)
{
    QDialog dialog(dialogOwner());
    dialog.setWindowTitle(QStringLiteral("Tile Size"));
    // One number is a square tile; width x height one that is not.
    auto* size = new QLineEdit(shapeText(current), &dialog);
    size->setPlaceholderText(QStringLiteral("16 or 32x64"));
    size->setToolTip(QStringLiteral("Pixels, %1 to %2: one number for square tiles, or width x "
                                    "height (32x64).")
                         .arg(kLeastTileSize)
                         .arg(kMostTileSize));
    auto* gridded = new QCheckBox(QStringLiteral("The sheet already has a grid"), &dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    // Enter takes only a size that can be used.
    QObject::connect(size, &QLineEdit::textChanged, ok,
                     [ok](const QString& text) { ok->setEnabled(tileShapeIn(text).has_value()); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Tile size:"), size);
    form->addRow(gridded);
    form->addRow(buttons);
    // Typing a size and Enter is enough.
    size->setFocus();
    size->selectAll();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (owner_)
        owner_->activateWindow();
    const std::optional<TileShape> shape = tileShapeIn(size->text());
    if (!accepted || !shape)
        return std::nullopt;
    return TileSizeAnswer{*shape, gridded->isChecked()};
}

UnsavedAnswer WidgetDialogs::askUnsaved(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, dialogOwner());
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return UnsavedAnswer::Save;
    case QMessageBox::Discard:
        return UnsavedAnswer::Discard;
    default:
        return UnsavedAnswer::Cancel;
    }
}

OutdatedSheetAnswer WidgetDialogs::askOutdatedSheet(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Save | QMessageBox::Cancel,
                    dialogOwner());
    QPushButton* anyway = box.addButton(QStringLiteral("Apply Anyway"), QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Save);
    box.exec();
    if (box.clickedButton() == anyway)
        return OutdatedSheetAnswer::ApplyAnyway;
    return box.clickedButton() == box.button(QMessageBox::Save) ? OutdatedSheetAnswer::Save
                                                                : OutdatedSheetAnswer::Cancel;
}

void WidgetDialogs::showAbout(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, dialogOwner());
    box.exec();
}

void WidgetDialogs::showInfo(const QString& text)
{
    QMessageBox box(QMessageBox::Information, QString(), text, QMessageBox::Ok, dialogOwner());
    box.exec();
}

void WidgetDialogs::showError(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, dialogOwner());
    box.exec();
}
