#include "app/player_launcher.h"

#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

#include "app/apply_section.h"
#include "app/message_box.h"

namespace keltra {

namespace {

// Output kept while looking for the playing mark; older output is dropped.
constexpr qsizetype kWatchedOutput = 64 * 1024;
constexpr int kEndWaitMs = 2000;

}  // namespace

PlayerProgram FindPlayer() {
    const struct {
        const char* name;
        QStringList arguments;
        QStringList marks;
    } known[] = {
        // mpv and mplayer write their position with a percentage as they play, also into a
        // pipe; ffplay's statistics line shows the clock difference instead.
        {"mpv", {"--force-window=yes", "--keep-open=no", "--geometry=640x360"}, {"%"}},
        {"mplayer", {"-quiet"}, {"%"}},
        {"ffplay", {"-autoexit", "-stats", "-x", "640", "-y", "360"}, {"M-A:", "M-V:", "A-V:"}},
    };
    for (const auto& player : known) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(player.name));
        if (!path.isEmpty()) return {path, player.arguments, player.marks};
    }
    return {};
}

CPlayerLauncher::CPlayerLauncher(QWidget* owner) : QObject(owner), owner_(owner) {
    player_ = FindPlayer();
}

CPlayerLauncher::~CPlayerLauncher() {
    EndAll();
}

void CPlayerLauncher::Play(const QString& path, bool audio) {
    if (player_.program.isEmpty()) {
        TellFailure();
        return;
    }
    auto run = std::make_unique<Run>();
    run->process = std::make_unique<QProcess>();
    QProcess* process = run->process.get();
    Run* watched = run.get();
    process->setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = player_.arguments;
    if (audio && player_.program.endsWith(QLatin1String("mpv"))) {
        arguments.removeAll(QStringLiteral("--force-window=yes"));
    }
    arguments << QStringLiteral("--") << path;
    if (player_.program.endsWith(QLatin1String("ffplay"))) arguments.removeAll("--");
    connect(process, &QProcess::readyRead, this, [this, watched] { OnOutput(watched); });
    connect(process, &QProcess::finished, this, [this, watched] { OnEnded(watched); });
    connect(process, &QProcess::errorOccurred, this, [this, watched](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) OnEnded(watched);
    });
    runs_.push_back(std::move(run));
    process->start(player_.program, arguments);
}

void CPlayerLauncher::OnOutput(Run* run) {
    const QByteArray more = run->process->readAll();
    if (run->playing) return;  // watching stopped
    run->output += more;
    if (run->output.size() > kWatchedOutput)
        run->output.remove(0, run->output.size() - kWatchedOutput);
    for (const QString& mark : player_.playingMarks) {
        if (!run->output.contains(mark.toUtf8())) continue;
        run->playing = true;
        run->output.clear();
        emit Playing();
        return;
    }
}

void CPlayerLauncher::OnEnded(Run* run) {
    if (run->ended) return;
    run->ended = true;
    if (run->process->bytesAvailable() > 0) OnOutput(run);
    if (!run->playing) TellFailure();
}

// Told from the event loop, not from inside the process's own signal: the box runs a loop of
// its own, in which the next preview may end (and delete) this very process.
void CPlayerLauncher::TellFailure() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            ShowMessage(kMessageInformation, owner_, MessageText("MSG1207"));
            emit Failed();
        },
        Qt::QueuedConnection);
}

void CPlayerLauncher::EndAll() {
    for (auto& run : runs_) {
        run->ended = true;
        if (run->process->state() == QProcess::NotRunning) continue;
        run->process->terminate();
        if (!run->process->waitForFinished(kEndWaitMs)) {
            run->process->kill();
            run->process->waitForFinished(kEndWaitMs);
        }
    }
    runs_.clear();
}

int CPlayerLauncher::Running() const {
    int count = 0;
    for (const auto& run : runs_) count += run->process->state() != QProcess::NotRunning ? 1 : 0;
    return count;
}

}  // namespace keltra
