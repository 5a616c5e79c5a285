#include "libcryptnote.h"

#include "ccd.h"
#include "cue.h"
#include "libcrypt.h"
#include "pbp.h"

#include <QFileInfo>
#include <QStringList>

#include <cstring>
#include <filesystem>
#include <memory>
#include <strings.h>

namespace kivo {

namespace {

namespace fs = std::filesystem;

struct Disc {
  std::string path, sbi, source, serial, problem;
  libcrypt::DiscShape shape;
  bool empty = false;  // an .sbi without a record: psx takes the disc without protection data
};

bool endsWith(const std::string& path, const char* ext) {
  const size_t n = std::strlen(ext);
  return path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0;
}

// The serial SYSTEM.CNF boots and the disc's size and tracks; nothing when it cannot be read.
void readDisc(Disc& d) {
  const std::string& path = d.path;
  try {
    std::unique_ptr<InputFile> file;
    std::unique_ptr<DiscSource> disc;
    if (endsWith(path, ".cue")) {
      disc = std::make_unique<CueDisc>(path);
    } else if (endsWith(path, ".ccd")) {
      disc = std::make_unique<CcdDisc>(path);
    } else {
      file = openRegularFile(path);
      disc = std::make_unique<pbp::DiscImage>(*file);
    }
    d.serial = readDiscId(*disc);
    d.shape = {disc->sectors(), disc->tracks()};
  } catch (const ToolError&) {
  }
}

// The discs psx would read, with the .sbi lines of a playlist.
std::vector<Disc> discsOf(const std::string& path) {
  std::vector<Disc> discs;
  if (!endsWith(path, ".m3u") && !endsWith(path, ".m3u8")) {
    discs.push_back({path, {}, {}, {}, {}, {}});
    return discs;
  }
  const fs::path folder = fs::path(path).parent_path();
  for (const std::string& entry : parsePlaylist(readTextFile(path))) {
    if (endsWith(entry, ".sbi")) {
      if (!discs.empty()) discs.back().sbi = findBeside(folder, entry);
    } else {
      discs.push_back({findBeside(folder, entry), {}, {}, {}, {}, {}});
    }
  }
  return discs;
}

QString name(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).fileName();
}

QString discList(const QList<int>& numbers) {
  QStringList parts;
  for (int n : numbers) parts << QString::number(n);
  const QString last = parts.takeLast();
  return parts.isEmpty() ? last : parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

}  // namespace

LibCryptNote libCryptNote(const QString& path) {
  LibCryptNote note;
  std::vector<Disc> discs;
  try {
    discs = discsOf(path.toStdString());
  } catch (const ToolError&) {
    return note;
  }
  QList<int> carried, missing, unusable;
  QStringList lines, serials, bad;
  for (size_t k = 0; k < discs.size(); ++k) {
    Disc& d = discs[k];
    std::error_code ec;
    if (!fs::is_regular_file(d.path, ec)) continue;
    d.source = !d.sbi.empty() ? d.sbi : siblingFile(d.path, ".sbi");
    if (d.source.empty() && endsWith(d.path, ".ccd")) d.source = siblingFile(d.path, ".sub");
    readDisc(d);
    // psx refuses an .sbi that is not well formed: say so before the build rather than after it.
    if (endsWith(d.source, ".sbi") && d.shape.sectors) {
      try {
        d.empty = libcrypt::readSbiFile(d.source, d.shape).empty();
      } catch (const ToolError& e) {
        d.problem = e.what();
      }
    }
    const QString which = discs.size() > 1 ? QStringLiteral("Disc %1").arg(k + 1) : QStringLiteral("The disc");
    if (!d.problem.empty()) {
      unusable << int(k + 1);
      bad << name(d.source);
      lines << QString::fromStdString(d.problem);
    } else if (!d.source.empty() && !d.empty) {
      carried << int(k + 1);
      lines << QStringLiteral("%1: LibCrypt data from %2").arg(which, QString::fromStdString(d.source));
    } else if (libcrypt::knownProtected(d.serial)) {
      missing << int(k + 1);
      serials << QString::fromStdString(d.serial);
      lines << (d.empty ? QStringLiteral("%1 (%2) checks LibCrypt, and %3 holds no record")
                            .arg(which, QString::fromStdString(d.serial), name(d.source))
                        : QStringLiteral("%1 (%2) checks LibCrypt, and no %3 lies beside it")
                            .arg(which, QString::fromStdString(d.serial),
                                 QString::fromStdString(fs::path(d.path).stem().string() + ".sbi")));
    }
  }
  const bool several = discs.size() > 1;
  QString sentence;
  if (!unusable.isEmpty()) {
    note.warning = true;
    note.text = several ? QStringLiteral("Unusable .sbi: disc %1").arg(unusable.front()) : QStringLiteral("Unusable .sbi");
    sentence = QStringLiteral("%1 is not well formed: psx will refuse it.").arg(bad.front());
  } else if (!missing.isEmpty()) {
    note.warning = true;
    const QString hang = QStringLiteral(": the game may hang on the PSP.");
    if (!several) {
      note.text = QStringLiteral("No .sbi: LibCrypt disc");
      sentence = QStringLiteral("No .sbi for LibCrypt disc %1").arg(serials.front()) + hang;
    } else {
      note.text = QStringLiteral("No .sbi for %1 %2")
                      .arg(missing.size() == 1 ? QStringLiteral("disc") : QStringLiteral("discs"), discList(missing));
      sentence = QStringLiteral("No .sbi for LibCrypt %1 %2")
                     .arg(missing.size() == 1 ? QStringLiteral("disc") : QStringLiteral("discs"), discList(missing)) +
                 hang;
    }
  } else if (!carried.isEmpty()) {
    // The line under the link is short; which file or disc is in the sentence.
    if (!several) {
      note.text = QStringLiteral("With LibCrypt data");
      sentence = QStringLiteral("LibCrypt data from %1 will be included.").arg(name(discs.front().source));
    } else {
      const QString which = (carried.size() == 1 ? QStringLiteral("disc ") : QStringLiteral("discs ")) + discList(carried);
      note.text = carried.size() == int(discs.size()) ? QStringLiteral("With LibCrypt data")
                                                      : QStringLiteral("LibCrypt: ") + which;
      sentence = QStringLiteral("LibCrypt data of %1 will be included.").arg(which);
    }
  }
  if (!sentence.isEmpty()) lines.prepend(sentence);
  note.details = lines.join(QLatin1Char('\n'));
  return note;
}

}  // namespace kivo
