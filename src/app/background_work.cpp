#include "app/background_work.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <exception>

BackgroundWork::BackgroundWork(QWidget* window) : QObject(window), window_(window) {}

BackgroundWork::~BackgroundWork() = default;

void BackgroundWork::run(const QString& what, qint64 bytes, const Work& work, bool canCancel)
{
    Q_ASSERT(!busy_);
    progress_.cancelled_ = false;
    progress_.permille_ = -1;
    if (bytes < threshold_) {
        work(progress_);
        return;
    }

    busy_ = true;
    what_ = what;
    emit busyChanged(true);
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    qApp->installEventFilter(this);

    QEventLoop loop;
    // Whatever the work throws (running out of memory, most likely) is thrown again here, on
    // this thread, rather than ending the program from the worker.
    std::exception_ptr thrown;
    QThread* thread = QThread::create([&] {
        try {
            work(progress_);
        } catch (...) {
            thrown = std::current_exception();
        }
    });
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer later;
    later.setSingleShot(true);
    connect(&later, &QTimer::timeout, this, [this, canCancel] { showProgress(canCancel); });
    later.start(kShowAfterMs);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, &BackgroundWork::updateProgress);
    ticker.start(100);
    thread->start();
    // Only events of this thread's loop run meanwhile; input to the window is held back by the
    // event filter, so nothing can start a second piece of work or change the document.
    loop.exec();
    thread->wait();
    delete thread;

    later.stop();
    ticker.stop();
    delete dialog_;
    dialog_ = nullptr;
    qApp->removeEventFilter(this);
    QGuiApplication::restoreOverrideCursor();
    busy_ = false;
    what_.clear();
    emit busyChanged(false);
    if (thrown)
        std::rethrow_exception(thrown);
}

void BackgroundWork::showProgress(bool canCancel)
{
    dialog_ = new QProgressDialog(what_, canCancel ? tr("Cancel") : QString(), 0, 0, window_);
    dialog_->setWindowTitle(QString());
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    if (canCancel)
        connect(dialog_, &QProgressDialog::canceled, this, [this] {
            requestCancel();
            dialog_->setLabelText(tr("Stopping…"));
        });
    updateProgress();
    dialog_->show();
}

void BackgroundWork::updateProgress()
{
    // A bar that moves when the work says how far it is, a busy one otherwise.
    const int permille = progress_.permille_;
    if (!dialog_ || permille < 0)
        return;
    dialog_->setMaximum(1000);
    dialog_->setValue(permille);
}

bool BackgroundWork::eventFilter(QObject* watched, QEvent* event)
{
    if (!busy_ || !watched->isWidgetType() ||
        static_cast<QWidget*>(watched)->window() != window_)
        return false;
    // Presses wait; releases go through, so that a button held when the work began is let go.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;  // the window's commands wait until the work is done; the wheel still zooms
    default:
        return false;
    }
}
