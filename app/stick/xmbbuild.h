#pragma once
// The builders behind the Customize XMB page, without widgets: the top-menu build with
// doit.cmd, the font build with pgf.exe and the font preview's choice of face.

#include "xmbpicture.h"

#include "shell/services.h"

#include <array>
#include <optional>

class TTtfComp;

namespace kivo::stick {

inline const QString kTopMenuFile = QStringLiteral("topmenu_plugin.rco");
inline const QString kTopMenuDone = QStringLiteral("Done. Your topmenu has been outputted.");
inline const QString kTopMenuMissing =
    QStringLiteral("Oops! Topmenu was not created. Please check your bitmaps for compability!");
inline const QString kFontDone = QStringLiteral("Done. Your font has been outputted.");
inline const QString kFontMissing = QStringLiteral("Oops! Font was not created. Please check your font for compability!");

/// What the page says when the tool folder lacks the PSP's own topmenu_plugin.rco, which the top
/// menu is built on (the firmware's file is the user's, never shipped).
QString missingBaseNote(const QString& toolFolder);

/// pgf.exe "font" "output": each path one argument, exactly as given, even when empty; throws
/// Failure when one cannot be carried.
QString pgfCommandLine(const QString& fontPath, const QString& outputPath);

/// Builds the top menu from the six slots. programFolder is current when called and current
/// again when it returns. Writes bin/1.bmp to bin/6.bmp, runs doit.cmd in the tool folder,
/// copies the program folder's topmenu_plugin.rco to target (unless target is that file) and
/// deletes it. Returns the result text, empty when the built file could not be copied to target;
/// throws kivo::Failure when a picture cannot be saved, the tool folder cannot be entered or
/// another Kivo working from the same folder is building a top menu.
/// When nothing was built because the base file is missing, *note says what to do.
QString buildTopMenu(const std::array<XmbPicture, 6>& icons, const QString& programFolder, const QString& target,
                     ToolRunner& runner, QString* note = nullptr);

/// Starts pgf.exe in the tool folder and returns at once; throws kivo::Failure when the tool
/// folder cannot be entered.
void startFontBuild(const QString& fontPath, const QString& outputPath, const QString& programFolder,
                    ToolRunner& runner);

/// The font build's result text, following whether the output file is there.
QString fontResult(const QString& outputPath);

/// How the captions show a chosen font: the face name the user sees (the font's full name,
/// cut to 31 characters) and what Qt draws with (the registered family and the sub-family).
struct CaptionFace {
  QString faceName;
  QString family;
  QString styleName;
};

/// Registers the font file with the application and reads its names with ttf. Nothing when the
/// font has no full name, so the captions keep their face.
std::optional<CaptionFace> chooseCaptionFace(const QString& fontFile, TTtfComp& ttf);

}  // namespace kivo::stick
