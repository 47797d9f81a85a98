#include <QApplication>
#include <QTimer>

#include "app/app_state.h"
#include "app/main_window.h"
#include "cli/command_line.h"
#include "platform/widget_dialogs.h"

int main(int argc, char** argv)
{
    // A command runs without a window and needs no display; anything else starts the window.
    if (const std::optional<int> exitCode = runCommandLineIfAsked(argc, argv))
        return *exitCode;

    QApplication application(argc, argv);
    // The desktop entry this window belongs to, for its icon and "Open With".
    QGuiApplication::setDesktopFileName(QStringLiteral("tilegrid"));
    // The files named at start-up, once Qt has taken its own options out.
    const QStringList windowArguments = application.arguments().mid(1);
    AppState state;
    WidgetDialogs dialogs;
    MainWindow window(state, dialogs);
    dialogs.setOwner(&window);
    window.show();
    window.refreshControls();
    window.redrawView();
    // The first file named is opened once the window is up, so its questions show over it.
    if (!windowArguments.isEmpty())
        QTimer::singleShot(0, &window, [&] { window.dispatch().onOpenAtStart(windowArguments.first()); });
    application.exec();
    // Every way out ends with exit code 0.
    return 0;
}
