#pragma once
// The About song's player. stop keeps the position; rewind seeks to the start; play goes on
// from the current position (from the start when it stands at the end).

#include <QString>

namespace kivo {

class SongPlayer {
public:
  virtual ~SongPlayer() = default;
  /// Opens the song; returns the media system's reason when it cannot be opened, else empty.
  virtual QString open(const QString& path) = 0;
  virtual void stop() = 0;
  virtual void rewind() = 0;
  virtual void play() = 0;
  virtual void close() = 0;
};

}  // namespace kivo
