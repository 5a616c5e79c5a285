#include "startoptions.h"

namespace kivo {

StartOptions parseStartOptions(const QStringList& arguments) {
  StartOptions o;
  bool options = true;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (!options || !a.startsWith(QLatin1String("--"))) {
      o.arguments << a;
      continue;
    }
    if (a == QLatin1String("--")) {
      options = false;
    } else if (a == QLatin1String("--help")) {
      o.help = true;
    } else if (a == QLatin1String("--version")) {
      o.version = true;
    } else if (a == QLatin1String("--open") || a.startsWith(QLatin1String("--open="))) {
      if (a.size() > 6) {
        o.open = a.mid(7);
      } else if (i + 1 < arguments.size()) {
        o.open = arguments[++i];
      }
      if (o.open.isEmpty()) o.error = QStringLiteral("--open needs a file");
    } else if (o.error.isEmpty()) {
      o.error = QStringLiteral("unknown option '%1'").arg(a);
    }
  }
  return o;
}

QString startHelpText() {
  return QStringLiteral(
      "Usage: kivo [PLUGIN]\n"
      "       kivo --open FILE\n"
      "Opens the Kivo Workbench window, a toolkit for owners of a PSP handheld.\n"
      "\n"
      "  PLUGIN       a plug-in file (PRX) of four characters or more: the window opens on the\n"
      "               Plugins manager page with it in the plug-in field\n"
      "  --open FILE  opens the Convert page with FILE: a UMD image (ISO, CSO, DAX) to convert, or\n"
      "               a PS1 EBOOT.PBP to turn back into a disc image\n"
      "  --help       shows this text\n"
      "  --version    shows the version\n"
      "  --           ends the options: what follows is a PLUGIN even when it begins with --\n"
      "\n"
      "The console tools rastle, ciso, dax, psx and psxdisc each answer --help too.\n");
}

QString startVersionText() { return QStringLiteral("kivo (Kivo Workbench) %1\n").arg(QLatin1String(KIVO_VERSION)); }

}  // namespace kivo
