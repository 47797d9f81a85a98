#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <memory>
#include <optional>

#include "app/app_state.h"
#include "app/main_window.h"
#include "support/scripted_dialogs.h"

// The real main window, offscreen, with scripted dialogs and a shut-down that only counts.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Makes image the open sheet (tile size 16, no grid) as a successful open would, and redraws.
    void openSheet(const QImage& image, TileShape tileSize = 16, int gridFlag = 0);

    // The canvas point into pixels (unzoomed) into a tile, at the current pitch and zoom.
    QPoint canvasPoint(QPoint tile, QPoint into = QPoint(2, 1)) const;

    // Sends one wheel event with the given vertical delta to widget, at its middle or at.
    void turnWheel(QWidget* widget, int delta, std::optional<QPoint> at = std::nullopt);

    AppState state;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;
    int shutDowns = 0;
};
