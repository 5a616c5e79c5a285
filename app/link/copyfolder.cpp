#include "copyfolder.h"

#include "filemask.h"
#include "shell/failure.h"
#include "shell/platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace kivo {

namespace {

constexpr QFileDevice::Permissions kUserBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;

QString withSeparator(QString folder) {
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

QString shortStamp(const QDateTime& time, const QLocale& locale) {
  return locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(time.time(), QLocale::ShortFormat);
}

class TreeCopy {
public:
  TreeCopy(const QString& mask, int32_t mode, bool subfolders, bool clearReadOnly, MessageBoxes& boxes,
           const QLocale& locale)
      : mask_(mask), compiled_(FileMask::compile(mask)), mode_(mode), subfolders_(subfolders),
        clearReadOnly_(clearReadOnly), boxes_(boxes), locale_(locale) {}

  bool run(QString source, QString target) {
    source = withSeparator(source);
    target = withSeparator(target);
    if (!folderExists(target) && !createFolder(target))
      throw Failure(QStringLiteral("Cannot create ") + target);
    if (targetRoot_.isEmpty()) {
      targetRoot_ = QFileInfo(target).canonicalFilePath();
      sourceRoot_ = QFileInfo(source).canonicalFilePath();
    }
    entered_.push_back(QFileInfo(source).canonicalFilePath());
    const bool ran = copyEntries(source, target);
    entered_.pop_back();
    return ran;
  }

  QStringList notCopied;

private:
  bool copyEntries(const QString& source, const QString& target) {
    const QFileInfoList entries =
        QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                   QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
      const QString name = entry.fileName();
      // Volume labels never show up in a folder listing here; the other skips do.
      if (name.isEmpty() || name.toUpper() == QLatin1String("RECYCLED") || name.startsWith(QLatin1Char('.')))
        continue;
      if (entry.isDir()) {
        if (!subfolders_ || leadsBack(entry)) continue;
        if (!run(source + name + QLatin1Char('/'), target + name + QLatin1Char('/'))) return false;
        continue;
      }
      if (!compiled_) {
        boxes_.showMessage(QStringLiteral("Invalid mask \"") + mask_ + QStringLiteral("\" entered, see documentation"));
        return false;
      }
      // A dangling link, a FIFO or a device is no file to copy (and a FIFO would block).
      if (!entry.isFile() || !compiled_->matches(name)) continue;
      if (!copyOne(entry, target + name)) return false;
    }
    return true;
  }

  static bool within(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
  }

  // Every subfolder is entered, links included, except those that would copy without end: the
  // target itself, and a link that leads back into the tree being copied or into the target
  // (or to a folder holding either, or holding a folder entered on the way here).
  bool leadsBack(const QFileInfo& folder) const {
    const QString canonical = folder.canonicalFilePath();
    if (canonical.isEmpty()) return true;
    if (canonical == targetRoot_) return true;
    if (!folder.isSymLink()) return false;
    if (within(canonical, sourceRoot_) || within(canonical, targetRoot_) || within(targetRoot_, canonical)) return true;
    return std::any_of(entered_.begin(), entered_.end(), [&](const QString& f) { return within(f, canonical); });
  }

  // False only when the user cancelled the whole copy.
  bool copyOne(const QFileInfo& from, const QString& to) {
    const QFileInfo existing(to);
    if (existing.exists()) {
      switch (mode_) {
      case ReplaceAlways: break;
      case ReplaceOlder:
        if (!(existing.lastModified() < from.lastModified())) return true;
        break;
      case ReplaceAsk: {
        const QString text = QStringLiteral("Replace ") + existing.absoluteFilePath() + QStringLiteral(" created ") +
                             shortStamp(existing.lastModified(), locale_) + QLatin1Char('\r') +
                             QStringLiteral("with ") + from.absoluteFilePath() + QStringLiteral(" created ") +
                             shortStamp(from.lastModified(), locale_);
        const Answer answer = boxes_.ask(QStringLiteral("Confirm"), text, Buttons::YesNoCancel, BoxIcon::Question);
        if (answer == Answer::Cancel) return false;
        if (answer != Answer::Yes) return true;
        break;
      }
      default: return true;
      }
    }
    // A file that cannot be copied (a full disk, an unwritable target) does not stop the rest.
    if (!copyFile(from.filePath(), to, true)) {
      notCopied << to;
      return true;
    }
    // The owner, group and other bits only: the "user" bits say what we may do, and for root
    // they would make every copy writable.
    QFileDevice::Permissions bits = from.permissions() & ~kUserBits;
    if (clearReadOnly_) bits |= QFileDevice::WriteOwner;
    QFile::setPermissions(to, bits);
    return true;
  }

  QString mask_;
  std::optional<FileMask> compiled_;
  int32_t mode_;
  bool subfolders_, clearReadOnly_;
  MessageBoxes& boxes_;
  QLocale locale_;
  QString sourceRoot_, targetRoot_;
  std::vector<QString> entered_;  ///< the folders being copied, from the top down to here
};

}  // namespace

bool CopyFolder(QString source, QString target, const QString& mask, int32_t replaceMode, bool subfolders,
                bool clearReadOnly, MessageBoxes& boxes, const QLocale& locale, QStringList* notCopied) {
  TreeCopy copy(mask, replaceMode, subfolders, clearReadOnly, boxes, locale);
  const bool ran = copy.run(source, target);
  if (notCopied) *notCopied = copy.notCopied;
  return ran;
}

}  // namespace kivo
