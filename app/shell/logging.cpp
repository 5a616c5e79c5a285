#include "logging.h"

#include <QLoggingCategory>

namespace kivo {

void quietStartupNoise() {
  if (qEnvironmentVariableIsSet("KIVO_DEBUG") && qgetenv("KIVO_DEBUG") != "0") return;
  // Qt's libraries say what they miss of the desktop (no audio server, no runtime folder) in
  // uncategorised warnings; Kivo's own messages go to the user through its windows.
  // QT_LOGGING_RULES, when a user sets it, still has the last word.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\n"
                                                  "qt.multimedia.*.warning=false\n"
                                                  "qt.multimedia.*.info=false\n"
                                                  "js=false\n"
                                                  "default.info=false\n"
                                                  "default.warning=false\n"));
  if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3");
}

}  // namespace kivo
