// Where the folder named on a host's command line is. The PC - PSP link page writes folders as
// a Windows console would have them, "/cygdrive/C/PSP/ISO" for C:\PSP\ISO; on Linux each drive
// letter stands for a folder of the user's choosing, the home folder for C unless told
// otherwise. Any other path is taken as it is.
#pragma once

#include <map>
#include <string>

namespace kivo::psplink {

/// Drive letter (upper case) -> folder.
using DriveMap = std::map<char, std::string>;

/// Reads "C=/home/me/psp" lines ('#' starts a comment, blanks around the parts are dropped).
/// Lines that are not of that form are listed in problems, one message each.
DriveMap parseDriveMap(const std::string& text, std::string* problems = nullptr);

/// "C=FOLDER" as given to --drive; false when it is not of that form.
bool parseDriveOption(const std::string& option, DriveMap& map);

/// The drive map of this user: C is the home folder, then the lines of
/// $XDG_CONFIG_HOME/kivo/drives (~/.config/kivo/drives) change or add letters.
DriveMap userDriveMap(std::string* problems = nullptr);
/// The file userDriveMap reads.
std::string driveMapFile();

/// The folder to serve for a path as typed; empty with why set when a /cygdrive/ letter has no
/// folder.
std::string hostFolder(const std::string& typed, const DriveMap& drives, std::string& why);

}  // namespace kivo::psplink
