#pragma once
// The folder-tree copy: every file of a folder whose name matches a mask, optionally with all
// subfolders, into a target folder, following a replace mode for files already there.

#include "shell/services.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace kivo {

/// What happens to a file that already exists in the target.
enum ReplaceMode : int32_t {
  ReplaceAlways = 1,
  ReplaceOlder = 2,   ///< replace a target that is older than the source
  ReplaceAsk = 3,     ///< ask Yes / No / Cancel
};

/// Copies source into target. A target folder that cannot be created throws Failure
/// ("Cannot create " + folder). An invalid mask is reported in a message box and stops the
/// copy, as does Cancel in the replace prompt; both return false. Read-only copies lose the
/// read-only bit when clearReadOnly is set. The prompt's times use the locale's short formats.
/// A file that cannot be copied does not stop the copy; its target path goes to notCopied.
bool CopyFolder(QString source, QString target, const QString& mask, int32_t replaceMode, bool subfolders,
                bool clearReadOnly, MessageBoxes& boxes, const QLocale& locale = QLocale::system(),
                QStringList* notCopied = nullptr);

}  // namespace kivo
