#include "app/step_runner.h"

#include <QMetaObject>
#include <QPointer>
#include <QRunnable>

namespace parlune::app {

StepRunner::StepRunner(QObject* parent) : QObject(parent) {
    // One thread keeps the sequences in order: a sequence asked for while
    // another runs starts when it ends.
    pool_.setMaxThreadCount(1);
}

StepRunner::~StepRunner() { pool_.waitForDone(); }

void StepRunner::run(std::function<void()> work, std::function<void()> then) {
    if (pending_++ == 0) emit busyChanged(true);
    QPointer<StepRunner> self(this);
    pool_.start(QRunnable::create([self, work = std::move(work), then = std::move(then)] {
        if (work) work();
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, then] {
                if (!self) return;
                if (then) then();
                if (--self->pending_ == 0) emit self->busyChanged(false);
            },
            Qt::QueuedConnection);
    }));
}

void StepRunner::waitForIdle() { pool_.waitForDone(); }

}  // namespace parlune::app
