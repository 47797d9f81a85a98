#include "document/drop_target.h"

#include "document/path_extension.h"

DropTarget dropTarget(const QString& dropList)
{
    const QString path = dropList.section(QLatin1Char('\n'), 0, 0);
    const bool map = pathExtension(path.toUpper()) == QLatin1StringView("ZEKO-MAP");
    return DropTarget{path, map ? DropKind::Map : DropKind::Image};
}
