#pragma once
// An installed Kivo shares one program folder among all its users and must not write into it.
// Each user then works from a folder of their own that looks the same: real folders, with a link
// to each installed file, so the registry backups, staged artwork, temp.iso and built files land
// there while the tools and data stay those of the installation.

#include <QString>

namespace kivo {

/// The file that marks a program folder as installed (the build's own folder has none).
inline constexpr const char* kInstalledMark = "etc/installed";

/// Files of the program folder a user may edit ("Edit controls"): the user's folder holds a
/// copy of each, made once and then theirs, rather than a link.
inline constexpr const char* kEditableFiles[] = {"keyboardSetup.cfg"};

/// True for a program folder that Kivo must not write into: an installed one, or one the user
/// cannot write to.
bool isSharedProgramFolder(const QString& programFolder);

/// Brings the user's copy of programFolder at dataHome/kivo up to date: missing folders are made,
/// missing or dangling links point at the installed files again, links to files the installation
/// no longer has are removed, the editable files are copied once, and the user's own files are
/// kept. Returns the copy, or an empty
/// text (and says why in *why) when it could not be completed.
QString mirrorProgramFolder(const QString& programFolder, const QString& dataHome, QString* why = nullptr);

/// The folder Kivo works from: programFolder itself, or for a shared one the user's copy under
/// the XDG data folder. When the copy cannot be made, programFolder, with a warning.
QString workingProgramFolder(const QString& programFolder);

/// The files one build stages in the program folder under fixed names: the artwork of an EBOOT
/// (from the first pick to the end of the build), temp.iso of a two-step conversion, the
/// bitmaps of a top menu. Two Kivo windows working from the same folder must not mix them.
enum class Staging { Artwork, TempImage, TopMenu };

/// Claims the staging files for this Kivo: false when another Kivo holds them (a lock on
/// programFolder's ".kivo-staging" file, which goes with the process that holds it). Claims of
/// one Kivo never stand in each other's way; taking one held already is a no-op. Where no lock
/// can be had at all (a folder Kivo cannot write), the claim is granted: nothing can be staged
/// there anyway.
bool claimStaging(const QString& programFolder, Staging what);
void releaseStaging(Staging what);

/// A claim for the length of a scope; held() is false when another Kivo has it.
class StagingClaim {
public:
  StagingClaim(const QString& programFolder, Staging what);
  ~StagingClaim();
  StagingClaim(const StagingClaim&) = delete;
  StagingClaim& operator=(const StagingClaim&) = delete;
  bool held() const { return held_; }

private:
  Staging what_;
  bool held_ = false, mine_ = false;
};

}  // namespace kivo
