// The contract between the update check and the component that finds,
// downloads and installs new versions. The check knows nothing else of the
// component: it starts it, hands it the two action codes, and hears back
// through one callback with a 16-bit value, a 16-bit event code and a text.
//
// Events: 0 the text is the folder that holds Status.ini (reported before
// anything that needs the file); 1 up to date; 2 a newer version is
// available; 3 the download is verified and ready to install; 4 the check
// failed; 5 the download failed; 6 the installer was handed to the desktop.
// Actions: 2 download the new version, 3 install it.
//
// Thread contract: a component is used and calls back on the thread it was
// made on (the GUI thread), never from inside a call into it, so a callback
// may open a modal dialog or call the component again.
#pragma once

#include <QString>

#include <functional>

namespace parlune::online {

namespace update_event {
inline constexpr quint16 kStatusFolder = 0;
inline constexpr quint16 kUpToDate = 1;
inline constexpr quint16 kAvailable = 2;
inline constexpr quint16 kReadyToInstall = 3;
inline constexpr quint16 kCheckFailed = 4;
inline constexpr quint16 kDownloadFailed = 5;
inline constexpr quint16 kInstallerOpened = 6;
}  // namespace update_event

namespace update_action {
inline constexpr int kDownload = 2;
inline constexpr int kInstall = 3;
}  // namespace update_action

// The outcome of a call into the component: code 0 when it was accepted.
struct UpdateResult {
    int code = 0;
    QString text;
};

class UpdateComponent {
public:
    using Callback = std::function<void(quint16 value, quint16 event, const QString& text)>;

    virtual ~UpdateComponent() = default;
    // Starts a check in the background; a non-zero code means it could not
    // be started and nothing will be reported.
    virtual UpdateResult runUpdateCheck(Callback callback) = 0;
    // One of the update_action codes; the result says whether it started.
    virtual UpdateResult request(int action) = 0;
};

}  // namespace parlune::online
