#include <QApplication>

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
    // The files named at start-up, once Qt has taken its own options out.
    [[maybe_unused]] const QStringList windowArguments = application.arguments().mid(1);
    AppState state;
    WidgetDialogs dialogs;
    MainWindow window(state, dialogs);
    dialogs.setOwner(&window);
    window.show();
    window.refreshControls();
    window.redrawView();
    application.exec();
    // Every way out ends with exit code 0.
    return 0;
}
