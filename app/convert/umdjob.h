#pragma once
// The UMD image conversions: which tool lines a conversion starts and how, and the intermediate
// image the two-step conversions pass between ciso and dax.

#include "shell/services.h"

#include <QString>
#include <vector>

namespace kivo {

/// In the order the page tests its radio buttons: the six described, then those to and from CHD.
enum class UmdConversion { IsoToCso, IsoToDax, CsoToIso, CsoToDax, DaxToIso, DaxToCso, IsoToChd, ChdToIso, ChdToCso };

struct UmdStep {
  QString commandLine;
  bool wait = false;  ///< run-and-wait; otherwise start-and-forget
  ToolJob job;        ///< what the step reads and writes
};

/// The image the two-step conversions write and read in the current folder.
inline const QString kTempImage = QStringLiteral("temp.iso");

/// The tool lines for a conversion. Source, destination and level each reach the tool as one
/// argument, exactly as typed; throws Failure when one cannot be carried, or when the level of a
/// conversion that compresses is neither empty nor a number. A game's name, when
/// given, follows the conversion's in the jobs' titles ("ISO to CSO - <TITLE> [ULUS10041]").
std::vector<UmdStep> umdSteps(UmdConversion conversion, const QString& source,
                              const QString& destination, const QString& level, const QString& game = {});

/// Whether the conversion compresses, so the level box means something for it.
bool umdUsesLevel(UmdConversion conversion);

/// Starts the conversion from the current folder (the program folder). A two-step conversion
/// throws Failure, starting nothing, while another Kivo converts through the same temp.iso.
void runUmdConversion(ToolRunner& runner, UmdConversion conversion, const QString& source,
                      const QString& destination, const QString& level, const QString& game = {});

}  // namespace kivo
