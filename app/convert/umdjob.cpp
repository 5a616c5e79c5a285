#include "umdjob.h"

#include "shell/commandline.h"
#include "shell/platform.h"

namespace kivo {

namespace {
// The program's own tool path: a fixed name, quoted as the first word of a line is.
QString tool(const char* name) { return QLatin1Char('"') + native(QString::fromLatin1(name)) + QLatin1Char('"'); }

// The level is typed by the user: one argument whatever it holds, bare when it can be.
QString ciso(const QString& level, const QString& in, const QString& out) {
  return tool("bin\\ciso.exe") + QLatin1Char(' ') + commandArgument(level, Quoting::AsNeeded) + QLatin1Char(' ') +
         commandArgument(in) + QLatin1Char(' ') + commandArgument(out);
}

QString dax(const QString& mode, const QString& in, const QString& out) {
  return tool("bin\\dax.exe") + QLatin1Char(' ') + commandArgument(mode, Quoting::AsNeeded) + QLatin1Char(' ') +
         commandArgument(in) + QLatin1Char(' ') + commandArgument(out);
}
}  // namespace

std::vector<UmdStep> umdSteps(UmdConversion conversion, const QString& source, const QString& destination,
                              const QString& level) {
  const QString compress = QStringLiteral("-l") + level;
  const QString decompress = QStringLiteral("-d");
  switch (conversion) {
  case UmdConversion::IsoToCso: return {{ciso(level, source, destination), false}};
  case UmdConversion::IsoToDax: return {{dax(compress, source, destination), false}};
  case UmdConversion::CsoToIso: return {{ciso(QStringLiteral("0"), source, destination), false}};
  case UmdConversion::CsoToDax:
    return {{ciso(QStringLiteral("0"), source, kTempImage), true}, {dax(compress, kTempImage, destination), true}};
  case UmdConversion::DaxToIso: return {{dax(decompress, source, destination), false}};
  case UmdConversion::DaxToCso:
    return {{dax(decompress, source, kTempImage), true}, {ciso(level, kTempImage, destination), true}};
  }
  return {};
}

bool umdUsesLevel(UmdConversion conversion) {
  return conversion != UmdConversion::CsoToIso && conversion != UmdConversion::DaxToIso;
}

void runUmdConversion(ToolRunner& runner, UmdConversion conversion, const QString& source,
                      const QString& destination, const QString& level) {
  const std::vector<UmdStep> steps = umdSteps(conversion, source, destination, level);
  // A first step that fails must not leave the second step an older conversion's image to
  // pack under the new name.
  if (steps.size() > 1) deleteFile(kTempImage);
  for (const UmdStep& step : steps) {
    if (step.wait)
      runner.runAndWait(step.commandLine, SW_SHOWNORMAL);
    else
      runner.startAndForget(step.commandLine, SW_SHOWNORMAL);
  }
  if (conversion == UmdConversion::CsoToDax) deleteFile(kTempImage);
}

}  // namespace kivo
