#include "support/window_fixture.h"

#include <QApplication>
#include <QTest>
#include <QWheelEvent>

#include "tilemap/tile_ops.h"

void WindowTest::SetUp()
{
    window = std::make_unique<MainWindow>(state, dialogs);
    window->shutDownHandler = [this] { ++shutDowns; };
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->refreshControls();
    window->redrawView();
}

void WindowTest::TearDown()
{
    EXPECT_TRUE(dialogs.allAnswered()) << "a scripted answer was not used";
    window.reset();
}

void WindowTest::openSheet(const QImage& image, TileShape tileSize, int gridFlag)
{
    state.zoom = 1;
    state.document.replaceSheet(image, tileSize, gridFlag);
    window->redrawView();
    window->refreshControls();
}

QPoint WindowTest::canvasPoint(QPoint tile, QPoint into) const
{
    const TileShape pitch = state.document.tilePitch();
    return QPoint(tile.x() * pitch.width, tile.y() * pitch.height) * state.zoom + into;
}

void WindowTest::turnWheel(QWidget* widget, int delta, std::optional<QPoint> at)
{
    const QPointF local =
        at ? QPointF(*at) : QPointF(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(local, widget->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}
