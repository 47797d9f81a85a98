#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <limits>

class QProgressDialog;
class QWidget;

// Work that can take longer than a moment (opening, saving, grid steps and restores of a large
// sheet) runs here on a worker thread while the window's own thread keeps its event loop: the
// window repaints and timers fire. Meanwhile the window takes no input (its commands wait until
// the work ends), shows a busy cursor and, after half a second, what is being done.
//
// run() returns when the work has finished, so the code around it reads as if it ran in place.
class BackgroundWork : public QObject {
    Q_OBJECT
public:
    // window is what stops taking input and what the progress indication belongs to.
    explicit BackgroundWork(QWidget* window);
    ~BackgroundWork() override;

    // What the work and the window tell each other while it runs; safe from either thread.
    class Progress {
    public:
        // The user asked to stop; the work may end early.
        bool cancelled() const { return cancelled_; }
        // How far the work is, in any unit.
        void report(qint64 done, qint64 total)
        {
            permille_ = total > 0 ? int(done * 1000 / total) : -1;
        }

    private:
        friend class BackgroundWork;
        std::atomic<bool> cancelled_{false};
        std::atomic<int> permille_{-1};  // -1 while unknown
    };
    using Work = std::function<void(Progress& progress)>;

    // Runs work. What says what is being done ("Saving “sheet.png”…"). Work on fewer bytes than
    // the threshold is run at once on this thread: it is over before anyone could notice.
    // canCancel offers a Cancel button in the progress indication.
    void run(const QString& what, qint64 bytes, const Work& work, bool canCancel = false);

    bool isBusy() const { return busy_; }
    const QString& what() const { return what_; }
    // Asks the running work to stop early, if it can.
    void requestCancel() { progress_.cancelled_ = true; }
    // Whether the last work was asked to stop.
    bool wasCancelled() const { return progress_.cancelled(); }

    // Bytes from which work runs away from the window's thread; tests set 0.
    void setThreshold(qint64 bytes) { threshold_ = bytes; }
    // The size of work whose cost no size on disk tells (a small level file may declare huge
    // layers): it always runs away from the window's thread.
    static constexpr qint64 kAlwaysAway = std::numeric_limits<qint64>::max();
    // How long the work runs before its progress indication shows.
    static constexpr int kShowAfterMs = 500;

signals:
    void busyChanged(bool busy);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showProgress(bool canCancel);
    void updateProgress();

    QWidget* window_;
    bool busy_ = false;
    QString what_;
    Progress progress_;
    qint64 threshold_ = qint64(8) << 20;
    QProgressDialog* dialog_ = nullptr;
};
