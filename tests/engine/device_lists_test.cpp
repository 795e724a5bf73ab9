// The two driver lists: read afresh each time, in driver order, and names
// beyond ASCII kept intact from the library to the text written out later.
#include "engine_test_fixture.h"

namespace parlune::engine::testing {
namespace {

TEST_F(EngineTest, ListsFollowTheDevicesPresentNow) {
    EXPECT_EQ(recordDriverNames(), (QStringList{"Microphone", "Line In"}));
    EXPECT_EQ(playbackDriverNames(), (QStringList{"Speaker", "Headphones"}));
    // A device plugged in later shows in the next reading.
    ip::configure({{"Speaker", 48000, 2}, {"Headphones", 44100, 2}, {"USB Headset", 48000, 2}},
                  {captureDevice("Microphone", 48000, 1), captureDevice("Microphone", 16000, 1)});
    EXPECT_EQ(playbackDriverNames(), (QStringList{"Speaker", "Headphones", "USB Headset"}));
    // Two drivers of one name stay two entries.
    EXPECT_EQ(recordDriverNames(), (QStringList{"Microphone", "Microphone"}));
}

TEST_F(EngineTest, NonAsciiNamesKeepTheirTextAndTheirBytes) {
    // Names as the server hands them out (UTF-8), one longer than 31 bytes.
    const std::string names[] = {"Kopfhörer Ü", "Écouteurs — salon", "Наушники (USB Audio Device)"};
    ip::configure({{names[0], 48000, 2}, {names[1], 48000, 2}, {names[2], 48000, 2}},
                  {captureDevice(names[0], 48000, 1)});
    const QStringList playback = playbackDriverNames();
    ASSERT_EQ(playback.size(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        // The menu shows the real text...
        EXPECT_EQ(playback[i], QString::fromUtf8(names[i].c_str()));
        // ...and the bytes written to config.ini are the server's bytes, so a
        // byte-wise reader that cuts at 31 bytes cuts both sides alike.
        const QByteArray written = playback[i].toUtf8();
        EXPECT_EQ(written.toStdString(), names[i]);
        EXPECT_EQ(written.left(31).toStdString(), names[i].substr(0, 31));
    }
    EXPECT_EQ(recordDriverNames(), QStringList{QString::fromUtf8(names[0].c_str())});
}

}  // namespace
}  // namespace parlune::engine::testing
