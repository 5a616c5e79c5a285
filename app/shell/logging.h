#pragma once
// What Kivo prints on its terminal: by default only what a user should read.

#include <cstddef>

namespace kivo {

/// Unless KIVO_DEBUG is set (to anything but 0), Qt's logging rules silence the start-up chatter
/// of the web engine, the audio back end and the web pages' consoles, and Chromium's own log
/// keeps to fatal errors. Call before the application object exists.
void quietStartupNoise();

/// The web engine's sandboxed processes cannot read the font configuration and say so on the
/// terminal at every start ("Fontconfig error: Cannot load default config file"), harmlessly:
/// they get their fonts through the main process. Unless KIVO_DEBUG is set, standard error then
/// goes through a small filter process that drops those lines and passes on everything else. It
/// outlives Kivo as long as a program started from it still writes there. Call first in main(),
/// while the process has no other thread.
void filterTerminalNoise();

/// True for a line filterTerminalNoise() drops.
bool isTerminalNoise(const char* line, std::size_t length);

}  // namespace kivo
