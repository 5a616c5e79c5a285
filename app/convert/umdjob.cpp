#include "umdjob.h"

#include "shell/commandline.h"
#include "shell/failure.h"
#include "shell/platform.h"
#include "shell/userfolder.h"

#include <algorithm>
#include <optional>

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
QString title(UmdConversion conversion) {
  switch (conversion) {
  case UmdConversion::IsoToCso: return QStringLiteral("ISO to CSO");
  case UmdConversion::IsoToDax: return QStringLiteral("ISO to DAX");
  case UmdConversion::CsoToIso: return QStringLiteral("CSO to ISO");
  case UmdConversion::CsoToDax: return QStringLiteral("CSO to DAX");
  case UmdConversion::DaxToIso: return QStringLiteral("DAX to ISO");
  case UmdConversion::DaxToCso: return QStringLiteral("DAX to CSO");
  case UmdConversion::IsoToChd: return QStringLiteral("ISO to CHD");
  case UmdConversion::ChdToIso: return QStringLiteral("CHD to ISO");
  case UmdConversion::ChdToCso: return QStringLiteral("CHD to CSO");
  }
  return {};
}
}  // namespace

std::vector<UmdStep> umdSteps(UmdConversion conversion, const QString& source, const QString& destination,
                              const QString& level, const QString& game) {
  // The level reaches ciso bare: typed text that is no number would reach it as an option.
  if (umdUsesLevel(conversion) &&
      !std::all_of(level.begin(), level.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
    throw Failure(QStringLiteral("The compression level \"%1\" is not a number.").arg(level));
  const QString compress = QStringLiteral("-l") + level;
  const QString decompress = QStringLiteral("-d");
  const QString named = title(conversion) + (game.isEmpty() ? QString() : QStringLiteral(" - ") + game);
  const ToolJob whole{named, {source}, destination};
  const ToolJob first{named + QStringLiteral(", step 1 of 2"), {source}, kTempImage};
  const ToolJob second{named + QStringLiteral(", step 2 of 2"), {kTempImage}, destination};
  switch (conversion) {
  case UmdConversion::IsoToCso: return {{ciso(level, source, destination), false, whole}};
  case UmdConversion::IsoToDax: return {{dax(compress, source, destination), false, whole}};
  case UmdConversion::CsoToIso: return {{ciso(QStringLiteral("0"), source, destination), false, whole}};
  case UmdConversion::CsoToDax:
    return {{ciso(QStringLiteral("0"), source, kTempImage), true, first},
            {dax(compress, kTempImage, destination), true, second}};
  case UmdConversion::DaxToIso: return {{dax(decompress, source, destination), false, whole}};
  case UmdConversion::DaxToCso:
    return {{dax(decompress, source, kTempImage), true, first}, {ciso(level, kTempImage, destination), true, second}};
  // ciso reads every container, a CHD among them, so these need no intermediate image.
  case UmdConversion::IsoToChd:
    return {{tool("bin\\ciso.exe") + QStringLiteral(" -f chd ") + commandArgument(level, Quoting::AsNeeded) +
                 QLatin1Char(' ') + commandArgument(source) + QLatin1Char(' ') + commandArgument(destination),
             false, whole}};
  case UmdConversion::ChdToIso: return {{ciso(QStringLiteral("0"), source, destination), false, whole}};
  case UmdConversion::ChdToCso: return {{ciso(level, source, destination), false, whole}};
  }
  return {};
}

bool umdUsesLevel(UmdConversion conversion) {
  return conversion != UmdConversion::CsoToIso && conversion != UmdConversion::DaxToIso &&
         conversion != UmdConversion::ChdToIso;
}

void runUmdConversion(ToolRunner& runner, UmdConversion conversion, const QString& source,
                      const QString& destination, const QString& level, const QString& game) {
  const std::vector<UmdStep> steps = umdSteps(conversion, source, destination, level, game);
  // Another Kivo working from the same folder must not swap temp.iso under this conversion.
  std::optional<StagingClaim> claim;
  if (steps.size() > 1) {
    claim.emplace(currentFolder(), Staging::TempImage);
    if (!claim->held())
      throw Failure(QStringLiteral("Another Kivo window is converting through %1 in %2; try again when it has finished.")
                        .arg(kTempImage, currentFolder()));
    // A first step that fails must not leave the second step an older conversion's image to
    // pack under the new name.
    deleteFile(kTempImage);
  }
  for (const UmdStep& step : steps) {
    if (!step.wait) {
      runner.startAndForget(step.commandLine, SW_SHOWNORMAL, step.job);
      continue;
    }
    runner.runAndWait(step.commandLine, SW_SHOWNORMAL, step.job);
    // A cancel ends the whole conversion; what follows the tools still runs.
    if (runner.lastRunCancelled()) break;
  }
  if (conversion == UmdConversion::CsoToDax) deleteFile(kTempImage);
}

}  // namespace kivo
