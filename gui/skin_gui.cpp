#include "gui/skin_gui.h"

#include <QApplication>
#include <QString>

#include "skin/builtin_skin.h"
#include "skin/skin_engine.h"

namespace qj {

void ApplyBuiltInSkin() {
    static StyleSheetSkinEngine engine([](const std::string& styleSheet) {
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            application->setStyleSheet(QString::fromUtf8(styleSheet.data(), static_cast<qsizetype>(styleSheet.size())));
        }
    });
    ApplySkin(engine, BuiltInSkin());
}

}  // namespace qj
