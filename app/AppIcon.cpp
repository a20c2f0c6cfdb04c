#include "app/AppIcon.h"

QIcon kivaroIcon()
{
    // The pictures are compiled into a static library, whose resource object the linker drops unless named here.
    Q_INIT_RESOURCE(appicon);
    QIcon icon;
    for (const int size : { 16, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/appicon/kivaro-%1.png").arg(size), QSize(size, size));
    return icon;
}
