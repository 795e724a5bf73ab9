#include "app/core/properties.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <set>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace parlune::app {
namespace {

// A write must give the key's own type: a misspelt key does not exist, and a
// value of another type does not compile.
template <typename K, typename V, typename = void>
struct CanSet : std::false_type {};
template <typename K, typename V>
struct CanSet<
    K, V,
    std::void_t<decltype(std::declval<PropertyStore&>().set(std::declval<K>(), std::declval<V>()))>>
    : std::true_type {};
static_assert(CanSet<decltype(prop::pitch), double>::value);
static_assert(CanSet<decltype(prop::fname), QString>::value);
static_assert(!CanSet<decltype(prop::pitch), int>::value);
static_assert(!CanSet<decltype(prop::isRunning), int>::value);
static_assert(!CanSet<decltype(prop::fname), const char*>::value);
static_assert(!CanSet<decltype(prop::warp), bool>::value);

TEST(PropertyStore, NamesNeverWrittenReadAsEmpty) {
    PropertyStore store;
    EXPECT_FALSE(store.stored(prop::isReverb).isValid());
    EXPECT_FALSE(store.get(prop::isReverb));
    EXPECT_FALSE(store.get(prop::isDspBipassed));
    EXPECT_EQ(store.get(prop::micDevice), 0);
    EXPECT_EQ(store.get(prop::pitch), 0.0);
    EXPECT_TRUE(store.get(prop::fname).isEmpty());
    EXPECT_TRUE(store.get(prop::speakerPlayDevice).isEmpty());
    const voice::MorphParams params = store.morphSnapshot();
    EXPECT_FALSE(params.isCartoonMorph);
    EXPECT_EQ(params.pitch, 0.0f);
    EXPECT_EQ(params.formant, 0.0f);
    EXPECT_EQ(params.warp, 0);
}

TEST(PropertyStore, StartUpValuesHaveTheirTypes) {
    PropertyStore store;
    writeInitialProperties(store);
    struct Expected {
        const char* name;
        QVariant stored;
        QVariant value;
    };
    const std::vector<Expected> expected = {
        {prop::isRunning.name, store.stored(prop::isRunning), true},
        {prop::isDspEchoBipassed.name, store.stored(prop::isDspEchoBipassed), true},
        {prop::isDspChorusBipassed.name, store.stored(prop::isDspChorusBipassed), true},
        {prop::isDspDistortionBipassed.name, store.stored(prop::isDspDistortionBipassed), true},
        {prop::isDspTremoloBipassed.name, store.stored(prop::isDspTremoloBipassed), true},
        {prop::isCartoonMorph.name, store.stored(prop::isCartoonMorph), true},
        {prop::formant.name, store.stored(prop::formant), 1.5},
        {prop::pitch.name, store.stored(prop::pitch), 1},
        {prop::warp.name, store.stored(prop::warp), 1},
        // Left unwritten: the morph on, reverb off, capture driver 0.
        {prop::isReverb.name, store.stored(prop::isReverb), QVariant()},
        {prop::isDspBipassed.name, store.stored(prop::isDspBipassed), QVariant()},
        {prop::micDevice.name, store.stored(prop::micDevice), QVariant()},
        {prop::fname.name, store.stored(prop::fname), QVariant()},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.stored.userType(), e.value.userType());
        EXPECT_EQ(e.stored, e.value);
    }
    const voice::MorphParams params = store.morphSnapshot();
    EXPECT_TRUE(params.isCartoonMorph);
    EXPECT_EQ(params.pitch, 1.0f);
    EXPECT_EQ(params.formant, 1.5f);
    EXPECT_EQ(params.warp, 1);

    writeDataFolderProperties(store, "/home/u/.local/share/Parlune/");
    EXPECT_EQ(store.get(prop::applicationPath), "/home/u/.local/share/Parlune");
    EXPECT_EQ(store.get(prop::applicationPathREC),
              "/home/u/.local/share/Parlune/media/recorded.wav");
    EXPECT_EQ(store.get(prop::applicationPathREC16khz),
              "/home/u/.local/share/Parlune/media/recorded16khz.wav");
}

TEST(PropertyStore, SnapshotFollowsWritesWithTheReadersConversions) {
    PropertyStore store;
    store.set(prop::pitch, 0.835);
    store.set(prop::formant, 2.5);
    store.set(prop::isCartoonMorph, false);
    store.set(prop::warp, 3);
    voice::MorphParams params = store.morphSnapshot();
    EXPECT_EQ(params.pitch, 0.835f);
    EXPECT_EQ(params.formant, 2.5f);
    EXPECT_FALSE(params.isCartoonMorph);
    EXPECT_EQ(params.warp, 3);
    store.clear(prop::pitch);  // back to empty
    EXPECT_EQ(store.morphSnapshot().pitch, 0.0f);
}

TEST(PropertyStore, BelongsToTheApplicationObject) {
    int argc = 1;
    char name[] = "properties_test";
    char* argv[] = {name};
    QCoreApplication application(argc, argv);
    PropertyStore& store = properties();
    EXPECT_EQ(&store, &properties());
    EXPECT_EQ(store.parent(), &application);
    store.set(prop::pitch, 1.4);
    // The application object's own dynamic properties are not the store.
    EXPECT_FALSE(application.property(prop::pitch.name).isValid());
    EXPECT_EQ(properties().get(prop::pitch), 1.4);
}

// One writer moves the pad while readers take snapshots and read general
// names: every read sees a value that was written, never a torn one.
TEST(PropertyStore, ConcurrentWritesAndReadsSeeWrittenValues) {
    PropertyStore store;
    writeInitialProperties(store);
    const std::vector<double> pitches = {0.65, 0.85, 1.0, 1.4, 1.7};
    const std::vector<QString> devices = {"speaker one", "a much longer speaker name", ""};
    std::set<float> pitchFloats;
    for (double p : pitches) pitchFloats.insert(float(p));
    pitchFloats.insert(1.0f);
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!done.load()) {
                const voice::MorphParams params = store.morphSnapshot();
                if (!pitchFloats.count(params.pitch)) ++badReads;
                if (params.warp != 1 && params.warp != 3) ++badReads;
                const QString device = store.get(prop::speakerPlayDevice);
                if (!device.isEmpty() && device != devices[0] && device != devices[1]) ++badReads;
            }
        });
    for (int i = 0; i < 20000; ++i) {
        store.set(prop::pitch, pitches[i % pitches.size()]);
        store.set(prop::warp, i % 2 ? 3 : 1);
        store.set(prop::speakerPlayDevice, devices[i % devices.size()]);
        store.set(prop::isRunning, i % 2 == 0);
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(store.morphSnapshot().pitch, float(pitches[19999 % pitches.size()]));
}

}  // namespace
}  // namespace parlune::app
