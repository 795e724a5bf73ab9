#include "app/core/properties.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>

namespace parlune::app {

static_assert(std::atomic<float>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the audio thread reads the voice controls without a lock");

PropertyStore::PropertyStore(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("parluneProperties"));
}

void PropertyStore::write(const char* name, const QVariant& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.insert(QLatin1String(name), value);
    // The mirrors change under the same lock, so they never disagree with the
    // stored value for longer than one write.
    if (std::strcmp(name, prop::isCartoonMorph.name) == 0)
        cartoon_.store(value.toBool(), std::memory_order_relaxed);
    else if (std::strcmp(name, prop::pitch.name) == 0)
        pitch_.store(value.toFloat(), std::memory_order_relaxed);
    else if (std::strcmp(name, prop::formant.name) == 0)
        formant_.store(value.toFloat(), std::memory_order_relaxed);
    else if (std::strcmp(name, prop::warp.name) == 0)
        warp_.store(value.toInt(), std::memory_order_relaxed);
}

QVariant PropertyStore::read(const char* name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.value(QLatin1String(name));
}

voice::MorphParams PropertyStore::morphSnapshot() const {
    voice::MorphParams params;
    params.isCartoonMorph = cartoon_.load(std::memory_order_relaxed);
    params.pitch = pitch_.load(std::memory_order_relaxed);
    params.formant = formant_.load(std::memory_order_relaxed);
    params.warp = warp_.load(std::memory_order_relaxed);
    return params;
}

namespace {

std::mutex storeMutex;
PropertyStore* applicationStore = nullptr;  // guarded by storeMutex

}  // namespace

PropertyStore& properties() {
    std::lock_guard<std::mutex> lock(storeMutex);
    if (applicationStore) return *applicationStore;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) {
        static PropertyStore processStore;
        return processStore;
    }
    auto* store = new PropertyStore;
    if (QThread::currentThread() == application->thread()) {
        store->setParent(application);
    } else {
        // Made off the application's thread: it still lives and dies with it.
        store->moveToThread(application->thread());
        QObject::connect(
            application, &QObject::destroyed, store, [store] { delete store; },
            Qt::DirectConnection);
    }
    // A later application object gets a store of its own.
    QObject::connect(store, &QObject::destroyed, [store] {
        std::lock_guard<std::mutex> relock(storeMutex);
        if (applicationStore == store) applicationStore = nullptr;
    });
    applicationStore = store;
    return *store;
}

void writeInitialProperties(PropertyStore& store) {
    store.set(prop::isRunning, true);
    store.set(prop::isDspEchoBipassed, true);
    store.set(prop::isDspChorusBipassed, true);
    store.set(prop::isDspDistortionBipassed, true);
    store.set(prop::isDspTremoloBipassed, true);
    store.set(prop::isCartoonMorph, true);
    store.set(prop::formant, 1.5);
    store.write(prop::pitch.name, 1);  // an integer, as the start-up writes it
    store.set(prop::warp, 1);
}

void writeDataFolderProperties(PropertyStore& store, const QString& dataFolder) {
    QString folder = dataFolder;
    while (folder.size() > 1 && (folder.endsWith('/') || folder.endsWith('\\'))) folder.chop(1);
    store.set(prop::applicationPath, folder);
    store.set(prop::applicationPathREC, folder + QStringLiteral("/media/recorded.wav"));
    store.set(prop::applicationPathREC16khz, folder + QStringLiteral("/media/recorded16khz.wav"));
}

}  // namespace parlune::app
