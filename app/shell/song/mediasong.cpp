// The song module: the About song through Qt Multimedia.
#include "shell/songplayer.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

namespace {

class MediaSong : public kivo::SongPlayer {
public:
  MediaSong() { player_.setAudioOutput(&output_); }

  QString open(const QString& path) override {
    player_.setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    return {};
  }
  // The position stays where playing stopped.
  void stop() override {
    if (player_.playbackState() == QMediaPlayer::PlayingState) player_.pause();
  }
  void rewind() override { player_.setPosition(0); }
  void play() override {
    if (player_.mediaStatus() == QMediaPlayer::EndOfMedia) player_.setPosition(0);
    player_.play();
  }
  void close() override { player_.stop(); }

private:
  QAudioOutput output_;
  QMediaPlayer player_;
};

}  // namespace

class MediaSongModule : public QObject, public kivo::SongModule {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID KIVO_SONG_MODULE_IID)
  Q_INTERFACES(kivo::SongModule)
public:
  std::unique_ptr<kivo::SongPlayer> createPlayer() override { return std::make_unique<MediaSong>(); }
};

#include "mediasong.moc"
