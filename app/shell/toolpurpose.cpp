#include "toolpurpose.h"

#include <QDir>
#include <QFileInfo>

namespace kivo {

namespace {

const ToolPurpose kTools[] = {
    {"ciso", "the CSO converter", "converts UMD images between ISO and CSO"},
    {"dax", "the DAX converter", "converts UMD images between ISO and DAX"},
    {"psx", "the PS1 EBOOT maker", "makes a PSP EBOOT.PBP from a PS1 disc image"},
    {"rastle", "the EBOOT extractor", "turns a PS1 EBOOT.PBP back into a disc image"},
    {"psxdisc", "the PS1 disc tool", "gives back every disc and track of a PS1 EBOOT as BIN/CUE"},
    {"pgf", "the PSP font builder", "builds a PSP font from a TrueType font"},
    {"doit.cmd", "the top-menu builder's script", "builds the top-menu plug-in from 1.bmp to 6.bmp"},
    {"usb", "the USB host", "lets the PSP reach the PC's files over USB"},
    {"net", "the network host", "lets the PSP reach the PC's files over the network"},
    {"usbkey", "the USB keyboard redirector", "lets you control the PSP with the PC's keyboard over USB"},
    {"netkey", "the network keyboard redirector", "lets you control the PSP with the PC's keyboard over the network"},
};

QString fileNameOf(const QString& program) {
  QString name = program;
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isWindowsScript(const QString& name) {
  return name.endsWith(QLatin1String(".cmd"), Qt::CaseInsensitive) ||
         name.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive);
}

}  // namespace

const ToolPurpose* toolPurpose(const QString& program) {
  QString name = fileNameOf(program).toLower();
  if (name.endsWith(QLatin1String(".exe"))) name.chop(4);
  for (const ToolPurpose& t : kTools)
    if (name == QLatin1String(t.program)) return &t;
  return nullptr;
}

QString missingToolMessage(const QString& program, const QString& folder) {
  const QString name = fileNameOf(program);
  const QString where = QDir::toNativeSeparators(QDir::cleanPath(folder));
  const ToolPurpose* t = toolPurpose(program);
  if (isWindowsScript(name)) {
    const QString whose = t ? QStringLiteral(", %1,").arg(QLatin1String(t->what)) : QString();
    return QStringLiteral("%1%2 is a Windows script, and it is not in the tool folder %3. Here Kivo runs a shell "
                          "script of that name from that folder instead.")
        .arg(name, whose, where);
  }
  QString bare = name;
  if (bare.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) bare.chop(4);
  const QString names = bare == name ? name : QStringLiteral("%1 (or %2)").arg(bare, name);
  if (!t)
    return QStringLiteral("Kivo cannot start %1: it is not in %2. Put the program there as %3.").arg(name, where, names);
  return QStringLiteral("Kivo cannot start %1, %2: it is not in the tool folder %3. Put the program there as %4; it "
                        "%5.")
      .arg(name, QLatin1String(t->what), where, names, QLatin1String(t->purpose));
}

}  // namespace kivo
