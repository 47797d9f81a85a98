#include <QApplication>

#include "app/app_state.h"
#include "app/main_window.h"
#include "platform/widget_dialogs.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
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
