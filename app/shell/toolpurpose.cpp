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
    {"pgf", "the PSP font builder", "turns a TrueType or OpenType font into the PSP's Latin font ltn0.pgf"},
    {"doit.cmd", "the top-menu builder's script",
     "starts the doit program beside it, which builds topmenu_plugin.rco from 1.bmp to 6.bmp"},
    {"doit", "the top-menu builder",
     "builds topmenu_plugin.rco from 1.bmp to 6.bmp and the PSP's own copy of that file"},
    {"usb", "the USB host", "serves a folder of the PC to a PSP attached by USB, as its host0:"},
    {"net", "the network host", "serves a folder of the PC to PSPs on the network, as their host0:"},
    {"usbkey", "the USB keyboard redirector", "passes the PC's keyboard to IRshell on a PSP attached by USB",
     "USB keyboard redirect: passes the PC's keyboard to IRshell on a PSP attached by USB. There is no Linux "
     "version of it."},
    {"netkey", "the network keyboard redirector", "passes the PC's keyboard to IRshell on a PSP over the network",
     "Network keyboard redirect: passes the PC's keyboard to IRshell on a PSP over the network. There is no Linux "
     "version of it."},
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
  if (t && t->unavailable) return QStringLiteral("Kivo cannot start %1. %2").arg(name, QLatin1String(t->unavailable));
  if (isWindowsScript(name)) {
    const QString whose = t ? QStringLiteral(", %1,").arg(QLatin1String(t->what)) : QString();
    return QStringLiteral("%1%2 is a Windows script, and it is not in the tool folder %3. Here Kivo runs a shell "
                          "script of that name from that folder instead%4.")
        .arg(name, whose, where, t ? QStringLiteral("; it %1").arg(QLatin1String(t->purpose)) : QString());
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
