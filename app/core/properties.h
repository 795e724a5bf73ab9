// The application properties: the one store through which the parts of the
// program share their live settings. The interface writes them; the engine
// runs, the routing and the morph unit read them. A name never written reads
// as an invalid value, which converts to false, 0, 0.0 or empty text.
//
// Thread contract: any number of threads may read and write; each single read
// or write is atomic. morphSnapshot() takes no lock and allocates nothing, so
// the audio thread may call it.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <mutex>

#include "voice/morph_params.h"

namespace parlune::app {

// A property's name and the type it holds. Writes must give exactly that
// type and reads return it, so a misspelt name or a wrong type fails to
// compile instead of silently reading as false.
template <typename T>
struct Key {
    const char* name;
};

// The properties, by the names the whole program uses.
namespace prop {
inline constexpr Key<bool> isRunning{"isRunning"};
inline constexpr Key<bool> isDspEchoBipassed{"isDspEchoBipassed"};
inline constexpr Key<bool> isDspChorusBipassed{"isDspChorusBipassed"};
inline constexpr Key<bool> isDspDistortionBipassed{"isDspDistortionBipassed"};
inline constexpr Key<bool> isDspTremoloBipassed{"isDspTremoloBipassed"};
inline constexpr Key<bool> isReverb{"isReverb"};
inline constexpr Key<bool> isDspBipassed{"isDspBipassed"};
inline constexpr Key<bool> isCartoonMorph{"isCartoonMorph"};
inline constexpr Key<double> pitch{"pitch"};
inline constexpr Key<double> formant{"formant"};
inline constexpr Key<int> warp{"warp"};
inline constexpr Key<int> micDevice{"micDevice"};
inline constexpr Key<QString> speakerPlayDevice{"speakerPlayDevice"};
inline constexpr Key<QString> applicationPath{"applicationPath"};
inline constexpr Key<QString> applicationPathREC{"applicationPathREC"};
inline constexpr Key<QString> applicationPathREC16khz{"applicationPathREC16khz"};
inline constexpr Key<QString> fname{"fname"};
}  // namespace prop

class PropertyStore : public QObject {
    Q_OBJECT
public:
    explicit PropertyStore(QObject* parent = nullptr);

    template <typename T>
    void set(Key<T> key, const T& value) {
        write(key.name, QVariant::fromValue(value));
    }
    // The value with the readers' natural conversion; a property never
    // written reads as false, 0, 0.0 or empty text.
    template <typename T>
    T get(Key<T> key) const {
        return read(key.name).template value<T>();
    }
    // What is stored, invalid when never written (or cleared).
    template <typename T>
    QVariant stored(Key<T> key) const {
        return read(key.name);
    }
    template <typename T>
    void clear(Key<T> key) {
        write(key.name, QVariant());
    }

    // isCartoonMorph, pitch, formant and warp as the morph reads them, from
    // atomic copies kept beside the store.
    voice::MorphParams morphSnapshot() const;

private:
    friend void writeInitialProperties(PropertyStore& store);
    void write(const char* name, const QVariant& value);
    QVariant read(const char* name) const;

    mutable std::mutex mutex_;  // a plain mutex: visible to the thread sanitizer
    QHash<QString, QVariant> values_;
    std::atomic<bool> cartoon_{false};
    std::atomic<float> pitch_{0.0f};
    std::atomic<float> formant_{0.0f};
    std::atomic<int> warp_{0};
};

// The store of the running application: a child of the application object,
// made on first use. Call it first on the application's thread (start-up
// does); without an application object there is one store for the process.
PropertyStore& properties();

// The start-up values, in the order the main window writes them: isRunning,
// the four effect flags, isCartoonMorph, formant, pitch, warp.
void writeInitialProperties(PropertyStore& store);

// The data-folder paths, written once the data folder is set up:
// applicationPath (no trailing separator) and the two recording files in its
// "media" folder.
void writeDataFolderProperties(PropertyStore& store, const QString& dataFolder);

}  // namespace parlune::app
