#pragma once

#include <QMainWindow>
#include <functional>
#include <optional>

#include "app/app_state.h"
#include "app/dispatch.h"

class BackgroundWork;
class Dialogs;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class ZoomCanvas;

// The one window: menus, the row of controls, the zoomed view and the status bar. It turns Qt's
// signals and events into Dispatch calls and offers the few operations the dispatch needs.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppState& state, Dialogs& dialogs);
    ~MainWindow() override;

    // Enable states, the tile-mode selection and the zoom text from the state.
    void refreshControls();
    // Fits the scroll area and the right-hand button to the window's size.
    void layoutMainWindow();
    void redrawView();
    // Redraws after the zoom changed from fromZoom, scrolled so that the image point at anchor
    // (pixels of the view's visible part) stays there, as far as the scroll bars reach; without
    // an anchor inside the view, the point in its middle.
    void redrawViewAbout(int fromZoom, std::optional<QPoint> anchor);
    void showZoomText();
    // A message in the status bar until the next one; empty clears it.
    void showStatusText(const QString& text);
    // Stores the Keep Transparency setting for the next runs.
    void rememberKeepTransparency(bool keep);
    // Outlines the pressed tile and marks where it would go, or that it cannot (image pixels;
    // empty rects for none).
    void showDragMarks(const QRect& pressed, const QRect& target, bool refused = false);
    // Frames the selection of the state and says its size in the status bar.
    void showSelection();
    // Names the tile under the pointer in the status bar: its number, place and original number.
    void showPointerTile(std::optional<QPoint> tile);
    // 0 for " 8x8 Grid", 1 for "16x16 Grid (default)", 2 for another size in use.
    int tileModeSelection() const;
    // Ends the program with exit code 0.
    void shutDown();

    Dispatch& dispatch() { return dispatch_; }
    BackgroundWork& work() { return *work_; }
    QAction* menuAction(MenuCommand command) const;

    // What ends the program; tests replace it.
    std::function<void()> shutDownHandler;

    // The named controls, reachable for tests.
    QWidget* interior = nullptr;
    QLabel* tileModeLabel = nullptr;
    QComboBox* tileModeCombo = nullptr;
    QPushButton* addGridButton = nullptr;
    QPushButton* removeGridButton = nullptr;
    QPushButton* resetMapButton = nullptr;
    QScrollArea* viewScrollArea = nullptr;
    QWidget* viewInner = nullptr;
    ZoomCanvas* viewCanvas = nullptr;
    QLabel* zoomField = nullptr;
    QLabel* tileField = nullptr;
    QLabel* selectionField = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMainWindow();
    void buildMenus();
    void buildControls();

    AppState& state_;
    Dispatch dispatch_;
    BackgroundWork* work_ = nullptr;
    std::vector<std::pair<MenuCommand, QAction*>> menuActions_;
    std::optional<QPoint> pointerTile_;
};
