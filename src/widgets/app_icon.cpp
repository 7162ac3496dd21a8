// The application icon; see app_icon.h.
#include "widgets/app_icon.h"

#include <QString>

// The resources of a static library are only linked when something calls their initialiser; it
// has to be named outside any namespace.
static void InitVelmorResources() {
    Q_INIT_RESOURCE(velmor);
}

namespace velmor {

QIcon AppIcon() {
    static const bool initialised = (InitVelmorResources(), true);
    (void)initialised;
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/velmor-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace velmor
