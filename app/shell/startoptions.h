#pragma once
// Kivo's own command line. Arguments that begin with "--" are options; any other argument keeps
// its meaning for the window (a plug-in file for the Plugins manager). "--" ends the options, so
// a plug-in named "--x.prx" can still be given.

#include <QString>
#include <QStringList>

namespace kivo {

struct StartOptions {
  bool help = false;
  bool version = false;
  QString open;           ///< --open FILE: the Convert page with FILE as its source
  QString error;          ///< an option Kivo does not know, or one missing its value
  QStringList arguments;  ///< what the window receives, options taken out
};

/// Reads the arguments after the program's name.
StartOptions parseStartOptions(const QStringList& arguments);

/// The text of --help and of --version.
QString startHelpText();
QString startVersionText();

}  // namespace kivo
