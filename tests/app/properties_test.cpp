#include "app/properties.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace parlune::app {
namespace {

TEST(PropertyStore, NamesNeverWrittenReadAsEmpty) {
    PropertyStore store;
    for (const char* name : {prop::isReverb, prop::isDspBipassed, prop::micDevice, prop::fname,
                             prop::pitch, prop::speakerPlayDevice}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(store.value(name).isValid());
        EXPECT_FALSE(store.toBool(name));
        EXPECT_EQ(store.toInt(name), 0);
        EXPECT_EQ(store.toDouble(name), 0.0);
        EXPECT_TRUE(store.toString(name).isEmpty());
    }
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
        QVariant value;
    };
    const std::vector<Expected> expected = {
        {prop::isRunning, true},
        {prop::isDspEchoBipassed, true},
        {prop::isDspChorusBipassed, true},
        {prop::isDspDistortionBipassed, true},
        {prop::isDspTremoloBipassed, true},
        {prop::isCartoonMorph, true},
        {prop::formant, 1.5},
        {prop::pitch, 1},
        {prop::warp, 1},
        // Left unwritten: the morph on, reverb off, capture driver 0.
        {prop::isReverb, QVariant()},
        {prop::isDspBipassed, QVariant()},
        {prop::micDevice, QVariant()},
        {prop::fname, QVariant()},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const QVariant got = store.value(e.name);
        EXPECT_EQ(got.userType(), e.value.userType());
        EXPECT_EQ(got, e.value);
    }
    const voice::MorphParams params = store.morphSnapshot();
    EXPECT_TRUE(params.isCartoonMorph);
    EXPECT_EQ(params.pitch, 1.0f);
    EXPECT_EQ(params.formant, 1.5f);
    EXPECT_EQ(params.warp, 1);

    writeDataFolderProperties(store, "/home/u/.local/share/Parlune/");
    EXPECT_EQ(store.toString(prop::applicationPath), "/home/u/.local/share/Parlune");
    EXPECT_EQ(store.toString(prop::applicationPathREC), "/home/u/.local/share/Parlune/media/recorded.wav");
    EXPECT_EQ(store.toString(prop::applicationPathREC16khz),
              "/home/u/.local/share/Parlune/media/recorded16khz.wav");
}

TEST(PropertyStore, SnapshotFollowsWritesWithTheReadersConversions) {
    PropertyStore store;
    store.setValue(prop::pitch, 0.835);
    store.setValue(prop::formant, QString("2.5"));
    store.setValue(prop::isCartoonMorph, false);
    store.setValue(prop::warp, 3);
    voice::MorphParams params = store.morphSnapshot();
    EXPECT_EQ(params.pitch, 0.835f);
    EXPECT_EQ(params.formant, 2.5f);
    EXPECT_FALSE(params.isCartoonMorph);
    EXPECT_EQ(params.warp, 3);
    store.setValue(prop::pitch, QVariant());  // written back to empty
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
    store.setValue(prop::pitch, 1.4);
    // The application object's own dynamic properties are not the store.
    EXPECT_FALSE(application.property(prop::pitch).isValid());
    EXPECT_EQ(properties().toDouble(prop::pitch), 1.4);
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
                const QString device = store.toString(prop::speakerPlayDevice);
                if (!device.isEmpty() && device != devices[0] && device != devices[1]) ++badReads;
            }
        });
    for (int i = 0; i < 20000; ++i) {
        store.setValue(prop::pitch, pitches[i % pitches.size()]);
        store.setValue(prop::warp, i % 2 ? 3 : 1);
        store.setValue(prop::speakerPlayDevice, devices[i % devices.size()]);
        store.setValue(prop::isRunning, i % 2 == 0);
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(store.morphSnapshot().pitch, float(pitches[19999 % pitches.size()]));
}

}  // namespace
}  // namespace parlune::app
