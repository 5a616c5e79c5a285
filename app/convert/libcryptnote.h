#pragma once
// What the PSX group says of the LibCrypt data of the disc about to become an EBOOT: that psx
// will take it along (an .sbi beside the disc, on its playlist line, a CloneCD sheet's .sub), or
// that a disc known to check LibCrypt comes without it. Plain logic over the tools' readers.

#include <QString>

namespace kivo {

struct LibCryptNote {
  QString text;      ///< a few words for one short line; empty when there is nothing to say
  QString details;   ///< the whole sentence, then each disc and where its data comes from
  bool warning = false;
};

/// The note for the image, sheet or playlist at path, as psx will read it.
LibCryptNote libCryptNote(const QString& path);

}  // namespace kivo
