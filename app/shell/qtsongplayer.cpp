// The About song through Qt Multimedia.
#include "realservices.h"

#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

namespace kivo {

namespace {

// A quick look at the first bytes, so a file that is not audio is refused at once instead of
// after the decoder has given up in the background.
bool looksLikeAudio(const QByteArray& head) {
  if (head.startsWith("ID3") || head.startsWith("OggS") || head.startsWith("fLaC")) return true;
  if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE") return true;
  // An MPEG audio frame: 11 set sync bits.
  return head.size() >= 2 && static_cast<uchar>(head[0]) == 0xFF && (static_cast<uchar>(head[1]) & 0xE0) == 0xE0;
}

class QtSongPlayer : public SongPlayer {
public:
  QtSongPlayer() { player_.setAudioOutput(&output_); }

  QString open(const QString& path) override {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("Resource not found.");
    if (!looksLikeAudio(file.read(16))) return QStringLiteral("Could not determine type of stream.");
    player_.setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    return {};
  }
  // The position stays where playing stopped. A player that is not playing is left alone, so
  // the start (which sends stop) does not wake the decoder before the window is painted.
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
  QMediaPlayer player_;
  QAudioOutput output_;
};

}  // namespace

std::unique_ptr<SongPlayer> makeQtSongPlayer() { return std::make_unique<QtSongPlayer>(); }

}  // namespace kivo
