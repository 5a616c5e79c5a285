#pragma once
// The About song's player. stop keeps the position; rewind seeks to the start; play goes on
// from the current position (from the start when it stands at the end).

#include <QObject>
#include <QString>
#include <memory>

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

/// What the song module exports: players on the media system.
class SongModule {
public:
  virtual ~SongModule() = default;
  virtual std::unique_ptr<SongPlayer> createPlayer() = 0;
};

}  // namespace kivo

#define KIVO_SONG_MODULE_IID "net.plovik.kivo.SongModule/1"
Q_DECLARE_INTERFACE(kivo::SongModule, KIVO_SONG_MODULE_IID)
