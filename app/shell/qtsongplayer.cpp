// The About song through Qt Multimedia.
#include "realservices.h"

#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <memory>

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

// The media system is brought up only when the song is first needed, or shortly after the
// window has appeared: starting it costs more than painting the whole window.
class QtSongPlayer : public SongPlayer {
public:
  QString open(const QString& path) override {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("Resource not found.");
    if (!looksLikeAudio(file.read(16))) return QStringLiteral("Could not determine type of stream.");
    source_ = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    QTimer::singleShot(kWarmUpMs, &context_, [this] { player(); });
    return {};
  }
  // The position stays where playing stopped; a player that never played has nothing to stop.
  void stop() override {
    if (player_ && player_->playbackState() == QMediaPlayer::PlayingState) player_->pause();
  }
  void rewind() override { player().setPosition(0); }
  void play() override {
    QMediaPlayer& p = player();
    if (p.mediaStatus() == QMediaPlayer::EndOfMedia) p.setPosition(0);
    p.play();
  }
  void close() override {
    if (player_) player_->stop();
  }

private:
  static constexpr int kWarmUpMs = 1500;

  QMediaPlayer& player() {
    if (!player_) {
      output_ = std::make_unique<QAudioOutput>();
      player_ = std::make_unique<QMediaPlayer>();
      player_->setAudioOutput(output_.get());
      player_->setSource(source_);
    }
    return *player_;
  }

  QObject context_;
  QUrl source_;
  std::unique_ptr<QAudioOutput> output_;
  std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace

std::unique_ptr<SongPlayer> makeQtSongPlayer() { return std::make_unique<QtSongPlayer>(); }

}  // namespace kivo
