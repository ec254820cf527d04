// Plays found audio and video with a media player installed on the system (mpv, mplayer or
// ffplay, the first found). The player's output is watched: once it reports its progress it is
// taken as playing; a player that ends without having done so could not play the file, and the
// user is told ("MSG1207").
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QProcess;
class QWidget;

namespace keltra {

struct PlayerProgram {
    QString program;           // full path
    QStringList arguments;     // before the file's path
    QStringList playingMarks;  // texts in its output that mean it plays
};

// The first of mpv, mplayer and ffplay found on the PATH; an empty program when none is.
PlayerProgram FindPlayer();

class CPlayerLauncher : public QObject {
    Q_OBJECT

  public:
    explicit CPlayerLauncher(QWidget* owner);
    ~CPlayerLauncher() override;  // ends the players still running

    // For tests: the player to start instead of the one found on the PATH.
    void SetPlayer(PlayerProgram player) { player_ = std::move(player); }

    // Starts the player on `path`. With no player installed the user is told at once.
    void Play(const QString& path, bool audio);
    // Ends every player started here that still runs.
    void EndAll();
    int Running() const;

  signals:
    // A player reported progress.
    void Playing();
    // A player ended without playing (after the user was told), or none could be started.
    void Failed();

  private:
    struct Run {
        std::unique_ptr<QProcess> process;
        QByteArray output;
        bool playing = false;
        bool ended = false;  // ended by EndAll, not by itself
    };
    void OnOutput(Run* run);
    void OnEnded(Run* run);
    void TellFailure();

    QWidget* owner_;
    PlayerProgram player_;
    std::vector<std::unique_ptr<Run>> runs_;
};

}  // namespace keltra
