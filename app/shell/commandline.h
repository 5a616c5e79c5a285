#pragma once
// Splits a command line into arguments by the Windows C run-time's rules, so that the command
// lines the pages build (quoted paths, nothing escaped) mean on Linux what they mean there.

#include <string>
#include <vector>

namespace kivo {

/// The first word is the program name: quotes group, backslashes are literal. In the other
/// words 2n backslashes before a quote give n and the quote toggles quoting; 2n+1 give n and a
/// literal quote; "" inside quotes is a literal quote.
std::vector<std::string> splitCommandLine(const std::string& line);

}  // namespace kivo
