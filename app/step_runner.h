// Runs the window's blocking sequences (the routing steps with their fixed
// pauses, the conversion after a recording) off the GUI thread, one at a
// time and in the order they were asked for, so the window keeps drawing
// while they run. Each sequence has a `work` part, run on the runner's own
// thread, and an optional `then` part, run on the GUI thread once the work
// has ended.
//
// Thread contract: construct, run() and waitForIdle() on the GUI thread.
// The work parts run on one worker thread, never two at once; busyChanged
// and the `then` parts are delivered on the GUI thread.
#pragma once

#include <QObject>
#include <QThreadPool>

#include <functional>

namespace parlune::app {

class StepRunner : public QObject {
    Q_OBJECT
public:
    explicit StepRunner(QObject* parent = nullptr);
    // Waits for the queued sequences to end (their `then` parts are dropped).
    ~StepRunner() override;

    void run(std::function<void()> work, std::function<void()> then = {});
    bool busy() const { return pending_ > 0; }
    // Blocks until every queued work part has ended; the `then` parts still
    // arrive through the event loop. For the end of the program and tests.
    void waitForIdle();

signals:
    // True when the first sequence is queued, false when the last one's
    // `then` part has run.
    void busyChanged(bool busy);

private:
    QThreadPool pool_;
    int pending_ = 0;
};

}  // namespace parlune::app
