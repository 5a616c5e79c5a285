#pragma once
// What each program Kivo starts is for, so that a missing one is named with what to do: which
// program, the full folder it belongs in, and what it would have done. A tool of its own adds a
// row to the table in toolpurpose.cpp.

#include <QString>

namespace kivo {

struct ToolPurpose {
  const char* program;  ///< the name as the command lines give it, without ".exe" (lower case)
  const char* what;     ///< what it is: "the CSO converter"
  const char* purpose;  ///< what it is for, as the end of a sentence: "converts ISO images to CSO"
  /// For a program Kivo has no Linux version of: the whole word on it, said instead of where to
  /// put the program (nullptr for the others).
  const char* unavailable = nullptr;
};

/// The row for a program named as in a command line ("bin\usb.exe", "psx.exe", "doit.cmd"),
/// matched on its file name without ".exe" and without regard to case; nullptr when unknown.
const ToolPurpose* toolPurpose(const QString& program);

/// The message for a program that is not there. folder is the full folder it was looked for in
/// (the tool folder, as a rule). Windows scripts (".cmd", ".bat") get a plain message of their own.
QString missingToolMessage(const QString& program, const QString& folder);

}  // namespace kivo
