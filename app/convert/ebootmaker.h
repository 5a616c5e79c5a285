#pragma once
// The PS1 EBOOT maker's work outside the widgets: staging the artwork in the tool folder, the
// psx command line, and placing the result and the key file in the output folder.

#include "shell/services.h"

#include <QIODevice>
#include <QString>

namespace kivo {

/// The artwork a user may add; each is staged in the tool folder under one fixed name, which
/// the build also deletes (one spelling, so a case-sensitive file system sees one file).
enum class Artwork { Icon0, Pic0, Pic1, Icon1, Snd0 };
QString stagedName(Artwork artwork);

/// Copies the user's file into the tool folder under its staged name, replacing an older one.
/// Fails silently, as every copy of the maker does; throws Failure when another Kivo working
/// from the same folder has artwork of its own staged there.
bool stageArtwork(const QString& programFolder, Artwork artwork, const QString& file);

struct EbootRequest {
  QString title;         ///< the game label
  QString idPrefix;      ///< "SCUS", ...
  QString idNumber;      ///< the number part of the game ID
  QString level;         ///< "0" when compression is off
  QString image;         ///< the PS1 disc image
  QString outputFolder;  ///< where EBOOT.PBP and KEYS.BIN go
};

/// psx.exe "title" "id" "level" "image": each text one argument, exactly as typed; throws
/// Failure when one cannot be carried.
QString psxCommandLine(const EbootRequest& request);

/// A folder text joined with a file name: one separator between them, none added when the
/// folder already ends in one.
QString joinFolder(const QString& folder, const QString& name);

/// Enters the tool folder ("bin" of the current folder); Failure("File not found") when missing.
void enterToolFolder();

/// Runs psx in the tool folder, moves its EBOOT.PBP to the output folder (never over an existing
/// one), copies the key file beside it and removes the staged artwork. The current folder is the
/// same afterwards, however it ends. Returns what became of the EBOOT, for the page to say:
/// where it went, or why there is none there. Throws Failure, starting nothing, while another
/// Kivo working from the same folder has artwork staged.
QString makeEboot(ToolRunner& runner, const EbootRequest& request);

/// The base EBOOT psx takes the boot code from: BASE.PBP in the tool folder (any letter case).
struct BaseEboot {
  QString path;    ///< empty when there is none
  QString problem; ///< why psx would refuse it; empty when it serves
  bool serves() const { return !path.isEmpty() && problem.isEmpty(); }
};
inline const QString kBaseEboot = QStringLiteral("BASE.PBP");
BaseEboot findBaseEboot(const QString& toolFolder);

/// Why psx cannot take boot code from the file, as psx says it ("it holds no boot code ..."), or
/// empty when it can: a PBP whose DATA.PSAR holds a PS1 disc image and whose DATA.PSP is a PSP
/// module. Reads only the headers.
QString baseEbootProblem(QIODevice& file);

/// Copies a PS1 EBOOT the user owns into the tool folder as BASE.PBP, replacing an older one
/// safely; throws Failure saying why when it does not serve, leaving the tool folder as it was.
void stageBaseEboot(const QString& programFolder, const QString& file);

/// What the page says before a build: whether an EBOOT made now starts on a PSP.
QString startsOnPspText(const BaseEboot& base, const QString& level);

/// A folder as the chooser hands it back: no trailing separator, except for a root.
QString chosenFolderText(QString folder);

}  // namespace kivo
