#include "app/app_state.h"

QString zoomText(int zoom)
{
    return QStringLiteral("Zoom: %1x%1").arg(zoom);
}
