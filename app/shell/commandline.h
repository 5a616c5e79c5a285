#pragma once
// Splits a command line into arguments by the Windows C run-time's rules, so that the command
// lines the pages build (quoted paths) mean on Linux what they mean there, and writes a text
// into a command line so that the split gives it back unchanged.

#include <QString>
#include <string>
#include <vector>

namespace kivo {

/// The first word is the program name: quotes group, backslashes are literal. In the other
/// words 2n backslashes before a quote give n and the quote toggles quoting; 2n+1 give n and a
/// literal quote; "" inside quotes is a literal quote.
std::vector<std::string> splitCommandLine(const std::string& line);

/// How commandArgument() writes a text.
enum class Quoting {
  Always,    ///< in double quotes, the way the pages write paths
  AsNeeded,  ///< bare when it can stand bare: not empty, no blank, tab or quote in it
};

/// The text as one argument (not the program name) that splitCommandLine() gives back exactly,
/// whatever it holds: quotes are escaped, and backslashes are doubled where they come before a
/// quote or the closing quote. A text without quotes and without a trailing backslash comes out
/// as "text" (Always) or as it is (AsNeeded), so ordinary command lines read as they always did.
/// The argument must end at a blank or at the end of the line. Throws Failure when the text
/// holds what no command line carries (a NUL, or broken UTF-16).
QString commandArgument(const QString& text, Quoting quoting = Quoting::Always);

}  // namespace kivo
