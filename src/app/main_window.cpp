#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>

#include "app/app_icon.h"
#include "app/background_work.h"
#include "app/captions.h"
#include "view/redraw_view.h"
#include "view/zoom_canvas.h"

namespace {
constexpr int kInitialWidth = 640;
constexpr int kInitialHeight = 480;
constexpr int kInitialCanvas = 256;
constexpr int kScrollStep = 8;
constexpr int kZoomFieldWidth = 100;
const QString kKeepTransparencyKey = QStringLiteral("keepTransparency");

// The user's settings, where the platform keeps them (on Linux ~/.config/tilegrid/tilegrid.conf).
QSettings userSettings()
{
    return QSettings(QSettings::UserScope, QStringLiteral("tilegrid"), QStringLiteral("tilegrid"));
}

// The file paths of a drop, one per line, in the order the platform lists them.
QString dropList(const QMimeData* data)
{
    QStringList paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths.join(QLatin1Char('\n'));
}

bool carriesFiles(const QMimeData* data)
{
    return data && data->hasUrls() && !dropList(data).isEmpty();
}
}  // namespace

MainWindow::MainWindow(AppState& state, Dialogs& dialogs)
    : state_(state), dispatch_(state, *this, dialogs)
{
    shutDownHandler = [] { QCoreApplication::exit(0); };
    work_ = new BackgroundWork(this);
    connect(work_, &BackgroundWork::busyChanged, this, [this](bool busy) {
        if (!busy)
            dispatch_.onWorkDone();
    });
    buildMainWindow();
    // Whatever changed the sheet, the window shows it.
    connect(&state_.document, &Document::changed, this, [this] {
        refreshControls();
        redrawView();
    });
    // The wheel zooms wherever it turns over this window; it never scrolls or changes the list.
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
}

void MainWindow::buildMainWindow()
{
    setWindowTitle(windowTitleText());
    setWindowIcon(appIcon());
    resize(kInitialWidth, kInitialHeight);
    setMinimumSize(kInitialWidth, kInitialHeight);
    // Centred on the primary screen, which need not be at the origin of the desktop; a window
    // larger than the screen starts at its top-left corner.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        const QSize free = area.size() - size();
        move(area.topLeft() + QPoint(std::max(0, free.width() / 2), std::max(0, free.height() / 2)));
    }
    setAcceptDrops(true);
    buildMenus();

    auto* bar = new QStatusBar(this);
    zoomField = new QLabel(bar);
    zoomField->setFixedWidth(kZoomFieldWidth);
    zoomField->setAlignment(Qt::AlignCenter);
    zoomField->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(zoomField);
    tileField = new QLabel(bar);
    selectionField = new QLabel(bar);
    bar->addWidget(tileField);
    bar->addWidget(selectionField);
    setStatusBar(bar);

    buildControls();
}

void MainWindow::buildMenus()
{
    struct Item {
        const char* menu;
        const char* text;
        MenuCommand command;
        QList<QKeySequence> shortcuts;
        bool separatorBefore;
    };
    const Item items[] = {
        {"File", "Open..\tCtrl + O", MenuCommand::OpenImage, {QKeySequence(Qt::CTRL | Qt::Key_O)}, false},
        {"File", "Save As..\tCtrl + S", MenuCommand::SaveImage, {QKeySequence(Qt::CTRL | Qt::Key_S)}, false},
        {"File", "Quit", MenuCommand::Quit, {}, true},
        {"Edit", "Undo\tCtrl + Z", MenuCommand::Undo, {QKeySequence(Qt::CTRL | Qt::Key_Z)}, false},
        {"Edit", "Redo\tCtrl + Shift + Z", MenuCommand::Redo,
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}, false},
        {"Map", "Open..", MenuCommand::OpenMap, {}, false},
        {"Map", "Save As..", MenuCommand::SaveMap, {}, false},
        {"Map", "Reset Map", MenuCommand::ResetMap, {}, true},
        {"Map", "Apply to Level Files..", MenuCommand::ApplyToLevels, {}, true},
        {"Settings", "Set GridColor", MenuCommand::SetGridColor, {}, false},
        {"Settings", "Keep Transparency", MenuCommand::KeepTransparency, {}, false},
        {"Settings", "Tile Size..", MenuCommand::TileSize, {}, false},
        {"Help", "About", MenuCommand::About, {}, false},
    };
    QMenu* menu = nullptr;
    QString menuTitle;
    for (const Item& item : items) {
        if (menuTitle != QLatin1String(item.menu)) {
            menuTitle = QLatin1String(item.menu);
            menu = menuBar()->addMenu(menuTitle);
        }
        if (item.separatorBefore)
            menu->addSeparator();
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setShortcuts(item.shortcuts);
        action->setShortcutContext(Qt::WindowShortcut);
        const MenuCommand command = item.command;
        connect(action, &QAction::triggered, this, [this, command] { dispatch_.onMenu(command); });
        menuActions_.emplace_back(command, action);
    }
    // Off on the first start, then as last chosen.
    QAction* keep = menuAction(MenuCommand::KeepTransparency);
    keep->setCheckable(true);
    keep->setChecked(userSettings().value(kKeepTransparencyKey, false).toBool());
    state_.document.setKeepTransparency(keep->isChecked());
}

void MainWindow::rememberKeepTransparency(bool keep)
{
    userSettings().setValue(kKeepTransparencyKey, keep);
}

void MainWindow::buildControls()
{
    interior = new QWidget(this);
    setCentralWidget(interior);
    interior->installEventFilter(this);  // its resizes re-run the layout

    tileModeLabel = new QLabel(QStringLiteral("TileMode:"), interior);
    tileModeLabel->setTextFormat(Qt::PlainText);
    tileModeLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    tileModeLabel->setGeometry(5, 7, 70, 20);

    tileModeCombo = new QComboBox(interior);
    tileModeCombo->addItem(QStringLiteral(" 8x8 Grid"));
    tileModeCombo->addItem(QStringLiteral("16x16 Grid (default)"));
    tileModeCombo->setCurrentIndex(1);
    tileModeCombo->setGeometry(85, 5, 120, 20);
    // Only a change by the user reaches the dispatch: refreshControls blocks the signal.
    connect(tileModeCombo, &QComboBox::currentIndexChanged, this,
            [this] { dispatch_.onTileModeChanged(); });

    auto makeButton = [this](const QString& caption, int x, void (Dispatch::*handler)()) {
        auto* button = new QPushButton(caption, interior);
        button->setGeometry(x, 5, 120, 20);
        connect(button, &QPushButton::clicked, this, [this, handler] { (dispatch_.*handler)(); });
        return button;
    };
    addGridButton = makeButton(QStringLiteral("Add Grid"), 210, &Dispatch::onAddGrid);
    removeGridButton = makeButton(QStringLiteral("Remove Grid"), 335, &Dispatch::onRemoveGrid);
    resetMapButton = makeButton(QStringLiteral("Reset Map"), kInitialWidth - 125, &Dispatch::onResetMap);

    const QPalette background(QColor::fromRgb(state_.viewBackground));
    viewScrollArea = new QScrollArea(interior);
    viewScrollArea->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    viewScrollArea->setAlignment(Qt::AlignCenter);
    viewScrollArea->setWidgetResizable(false);
    viewScrollArea->horizontalScrollBar()->setSingleStep(kScrollStep);
    viewScrollArea->verticalScrollBar()->setSingleStep(kScrollStep);
    viewScrollArea->viewport()->setPalette(background);
    viewScrollArea->viewport()->setBackgroundRole(QPalette::Window);
    viewScrollArea->viewport()->setAutoFillBackground(true);

    viewInner = new QWidget;
    viewInner->setPalette(background);
    viewInner->setAutoFillBackground(true);
    viewInner->resize(kInitialCanvas, kInitialCanvas);
    viewCanvas = new ZoomCanvas(state_.viewBackground, viewInner);
    viewCanvas->setGeometry(0, 0, kInitialCanvas, kInitialCanvas);
    viewScrollArea->setWidget(viewInner);

    connect(viewCanvas, &ZoomCanvas::leftPressed, this,
            [this](QPoint p, Qt::KeyboardModifiers modifiers) { dispatch_.onCanvasPress(p, modifiers); });
    connect(viewCanvas, &ZoomCanvas::pointerMoved, this,
            [this](QPoint p) { dispatch_.onPointerMoved(p); });
    connect(viewCanvas, &ZoomCanvas::pointerLeft, this, [this] { dispatch_.onPointerLeft(); });
    connect(viewCanvas, &ZoomCanvas::keyPressed, this,
            [this](int key, Qt::KeyboardModifiers modifiers) { dispatch_.onCanvasKey(key, modifiers); });
    connect(viewCanvas, &ZoomCanvas::leftReleased, this,
            [this](QPoint p) { dispatch_.onCanvasRelease(p); });
    connect(viewCanvas, &ZoomCanvas::dragMoved, this,
            [this](QPoint p) { dispatch_.onCanvasMove(p); });
    connect(viewCanvas, &ZoomCanvas::dragCancelled, this, [this] { dispatch_.onCancelDrag(); });

    // The interior's size is known once the window's own layout has run.
    if (layout())
        layout()->activate();
    layoutMainWindow();
}

void MainWindow::layoutMainWindow()
{
    // The interior widget ends at the status bar, so its height is the interior less the bar.
    const int width = interior->width();
    const int height = interior->height();
    viewScrollArea->setGeometry(5, 30, width - 10, height - 35);
    resetMapButton->move(width - 125, 5);
}

void MainWindow::refreshControls()
{
    const Document& doc = state_.document;
    if (!doc.hasImage()) {
        addGridButton->setEnabled(false);
        removeGridButton->setEnabled(false);
        tileModeCombo->setEnabled(false);
        resetMapButton->setEnabled(false);
    } else {
        const bool gridded = doc.gridFlag() == 1;
        addGridButton->setEnabled(!gridded);
        removeGridButton->setEnabled(gridded);
        tileModeCombo->setEnabled(!gridded);
        resetMapButton->setEnabled(doc.remapped() != 0);
        // A size from Settings "Tile Size.." shows as a third item while it is in use.
        const QSignalBlocker quiet(tileModeCombo);
        const TileShape size = doc.tileSize();
        const bool listed = size == TileShape(8) || size == TileShape(16);
        if (listed && tileModeCombo->count() > 2)
            tileModeCombo->removeItem(2);
        if (!listed) {
            const QString other = QStringLiteral("%1x%2 Grid").arg(size.width).arg(size.height);
            if (tileModeCombo->count() < 3)
                tileModeCombo->addItem(other);
            tileModeCombo->setItemText(2, other);
        }
        tileModeCombo->setCurrentIndex(size == TileShape(8) ? 0 : size == TileShape(16) ? 1 : 2);
    }
    // Undo and Redo say which step they would take.
    const auto name = [](const char* verb, const QString& step, const char* keys) {
        const QString what = step.isEmpty() ? QLatin1String(verb) : QLatin1String(verb) + u' ' + step;
        return what + u'\t' + QLatin1String(keys);
    };
    QAction* undo = menuAction(MenuCommand::Undo);
    QAction* redo = menuAction(MenuCommand::Redo);
    undo->setText(name("Undo", doc.undoName(), "Ctrl + Z"));
    undo->setEnabled(!doc.undoName().isEmpty());
    redo->setText(name("Redo", doc.redoName(), "Ctrl + Shift + Z"));
    redo->setEnabled(!doc.redoName().isEmpty());
    showZoomText();
    // The selection is view state: it goes when the whole tiles no longer hold it (another tile
    // size, another sheet), and its frame follows the pitch.
    const TileMap& map = doc.tileMap();
    if (!doc.hasImage() || !QRect(0, 0, map.columns(), map.rows()).contains(state_.selection))
        state_.selection = QRect();
    showSelection();
    showPointerTile(pointerTile_);
}

void MainWindow::showSelection()
{
    const QRect& tiles = state_.selection;
    viewCanvas->setSelectionFrame(state_.document.tileLayout().blockRect(tiles));
    selectionField->setText(tiles.isEmpty() ? QString()
                                            : QStringLiteral("%1 × %2 selected").arg(tiles.width()).arg(tiles.height()));
}

void MainWindow::showPointerTile(std::optional<QPoint> tile)
{
    pointerTile_ = tile;
    const Document& doc = state_.document;
    const TileMap& map = doc.tileMap();
    if (!tile || !doc.hasImage() || tile->x() < 0 || tile->y() < 0 || tile->x() >= map.columns() ||
        tile->y() >= map.rows()) {
        tileField->clear();
        return;
    }
    tileField->setText(QStringLiteral("Tile %1 (%2, %3), from %4")
                           .arg(qint64(tile->y()) * map.columns() + tile->x())
                           .arg(tile->x())
                           .arg(tile->y())
                           .arg(map.at(tile->x(), tile->y())));
}

void MainWindow::showZoomText()
{
    zoomField->setText(zoomText(state_.zoom));
}

void MainWindow::showStatusText(const QString& text)
{
    // A message hides the tile and selection fields while it shows, so it gives way after a while.
    constexpr int kShowMs = 30000;
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text, kShowMs);
}

void MainWindow::redrawView()
{
    ::redrawView(state_.zoom, state_.document.workingImage(), *viewInner, *viewCanvas);
}

void MainWindow::redrawViewAbout(int fromZoom, std::optional<QPoint> anchor)
{
    const QWidget* viewport = viewScrollArea->viewport();
    const QPoint fixed =
        anchor && viewport->rect().contains(*anchor) ? *anchor : viewport->rect().center();
    // The image point at the middle of the canvas pixel there; the canvas lies at the inner
    // widget's origin.
    const QPointF imagePoint = (QPointF(fixed - viewInner->pos()) + QPointF(0.5, 0.5)) / fromZoom;
    redrawView();  // clamps the zoom and resizes the inner widget, and so the scroll ranges
    if (state_.zoom == fromZoom || !state_.document.hasImage())
        return;
    const QPointF canvasPoint = imagePoint * state_.zoom;
    viewScrollArea->horizontalScrollBar()->setValue(int(std::floor(canvasPoint.x())) - fixed.x());
    viewScrollArea->verticalScrollBar()->setValue(int(std::floor(canvasPoint.y())) - fixed.y());
}

void MainWindow::showDragMarks(const QRect& pressed, const QRect& target, bool refused)
{
    viewCanvas->setDragMarks(pressed, target, refused);
}

int MainWindow::tileModeSelection() const
{
    return tileModeCombo->currentIndex();
}

void MainWindow::shutDown()
{
    shutDownHandler();
}

QAction* MainWindow::menuAction(MenuCommand command) const
{
    for (const auto& [itemCommand, action] : menuActions_)
        if (itemCommand == command)
            return action;
    return nullptr;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == interior && event->type() == QEvent::Resize) {
        dispatch_.onWindowResized();
        return false;
    }
    if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        dispatch_.onWheel(wheel->angleDelta().y(), viewScrollArea->viewport()->mapFromGlobal(
                                                       wheel->globalPosition().toPoint()));
        // Accepted here so that no widget scrolls or changes its selection with it.
        wheel->accept();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (dispatch_.onCloseRequested())
        event->accept();
    else
        event->ignore();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (carriesFiles(event->mimeData()))
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (carriesFiles(event->mimeData()))
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    if (!carriesFiles(event->mimeData()))
        return;
    event->acceptProposedAction();
    dispatch_.onFilesDropped(dropList(event->mimeData()));
}
