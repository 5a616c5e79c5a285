#pragma once
// What Kivo prints on its terminal: by default only what a user should read.

namespace kivo {

/// Unless KIVO_DEBUG is set (to anything but 0), Qt's logging rules silence the start-up chatter
/// of the web engine, the audio back end and the web pages' consoles, and Chromium's own log
/// keeps to fatal errors. Call before the application object exists.
void quietStartupNoise();

}  // namespace kivo
