// The About song: a quick look at the file now, the media system (the song module) later.
#include "realservices.h"

#include "modules.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

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
// window has appeared: loading it costs more than painting the whole window. Without the song
// module the commands do nothing, as failed commands do.
class QtSongPlayer : public SongPlayer {
public:
  QString open(const QString& path) override {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("Resource not found.");
    if (!looksLikeAudio(file.read(16))) return QStringLiteral("Could not determine type of stream.");
    path_ = QFileInfo(path).absoluteFilePath();
    QTimer::singleShot(kWarmUpMs, &context_, [this] { player(); });
    return {};
  }
  void stop() override {
    if (player_) player_->stop();  // a player that never played has nothing to stop
  }
  void rewind() override {
    if (SongPlayer* p = player()) p->rewind();
  }
  void play() override {
    if (SongPlayer* p = player()) p->play();
  }
  void close() override {
    if (player_) player_->close();
  }

private:
  static constexpr int kWarmUpMs = 1500;

  SongPlayer* player() {
    if (!player_ && !tried_) {
      tried_ = true;
      QString why;
      auto* module = qobject_cast<SongModule*>(loadModule(moduleFolder(), QStringLiteral("kivo_song"), &why));
      if (module) {
        player_ = module->createPlayer();
        player_->open(path_);
      } else {
        qInfo("The song cannot be played: %s", qPrintable(why.isEmpty() ? QStringLiteral("not a song module") : why));
      }
    }
    return player_.get();
  }

  QObject context_;
  QString path_;
  bool tried_ = false;
  std::unique_ptr<SongPlayer> player_;
};

}  // namespace

std::unique_ptr<SongPlayer> makeQtSongPlayer() { return std::make_unique<QtSongPlayer>(); }

}  // namespace kivo
