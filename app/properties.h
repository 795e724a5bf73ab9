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

// The property names, exactly as the parts of the program use them.
namespace prop {
inline const char* const isRunning = "isRunning";
inline const char* const isDspEchoBipassed = "isDspEchoBipassed";
inline const char* const isDspChorusBipassed = "isDspChorusBipassed";
inline const char* const isDspDistortionBipassed = "isDspDistortionBipassed";
inline const char* const isDspTremoloBipassed = "isDspTremoloBipassed";
inline const char* const isReverb = "isReverb";
inline const char* const isDspBipassed = "isDspBipassed";
inline const char* const isCartoonMorph = "isCartoonMorph";
inline const char* const pitch = "pitch";
inline const char* const formant = "formant";
inline const char* const warp = "warp";
inline const char* const micDevice = "micDevice";
inline const char* const speakerPlayDevice = "speakerPlayDevice";
inline const char* const applicationPath = "applicationPath";
inline const char* const applicationPathREC = "applicationPathREC";
inline const char* const applicationPathREC16khz = "applicationPathREC16khz";
inline const char* const fname = "fname";
}  // namespace prop

class PropertyStore : public QObject {
    Q_OBJECT
public:
    explicit PropertyStore(QObject* parent = nullptr);

    void setValue(const QString& name, const QVariant& value);
    QVariant value(const QString& name) const;  // invalid when never written

    // The natural conversions readers use.
    bool toBool(const QString& name) const { return value(name).toBool(); }
    int toInt(const QString& name) const { return value(name).toInt(); }
    float toFloat(const QString& name) const { return value(name).toFloat(); }
    double toDouble(const QString& name) const { return value(name).toDouble(); }
    QString toString(const QString& name) const { return value(name).toString(); }

    // isCartoonMorph, pitch, formant and warp as the morph reads them, from
    // atomic copies kept beside the store.
    voice::MorphParams morphSnapshot() const;

private:
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
