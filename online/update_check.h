// The program's side of the update check: UpdateCheck starts the update
// component, hears its callbacks, knows where its status file is and reads
// the four values the dialogs show; handleUpdateEvent is the window's update
// handler, which talks to the user through the prompts it is given.
//
// Status.ini (profile-file format, section "Update"): Title, Version and
// ReleaseDate are texts of up to 255 characters, DownloadSize an integer
// (bytes); a missing file or key reads as empty text or 0. Each value is read
// when a dialog needs it.
//
// Thread contract: GUI thread only, like the component it wraps.
#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "online/update_component.h"

namespace parlune::online {

class UpdateCheck {
public:
    using Handler = UpdateComponent::Callback;

    // Takes the component (which may be null: then nothing can be started).
    explicit UpdateCheck(std::unique_ptr<UpdateComponent> component);
    ~UpdateCheck();  // releases the component
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Registers handler and asks the component to run its check. False when
    // it could not be started (lastResultText says why); nothing is shown.
    bool start(Handler handler);
    // Passes an update_action code on. A refusal, or an exception from the
    // component, only leaves its text in lastResultText.
    void request(int action);

    int lastResultCode() const { return lastCode_; }
    const QString& lastResultText() const { return lastText_; }
    // The folder of event 0 + "/Status.ini"; empty before event 0.
    const QString& statusFilePath() const { return statusFile_; }

    QString title() const;
    QString version() const;
    QString releaseDate() const;
    qint64 downloadSize() const;

private:
    void onEvent(quint16 value, quint16 event, const QString& text);
    QString readText(const char* key) const;
    void keep(const UpdateResult& result);

    std::unique_ptr<UpdateComponent> component_;
    Handler handler_;
    int lastCode_ = 0;
    QString lastText_;
    QString statusFile_;
};

// What the update handler needs from the window.
struct UpdatePrompts {
    // A modal box with the information icon and an OK button.
    std::function<void(const QString& title, const QString& text)> information;
    // A modal box with the question icon, Yes and No; true on Yes only.
    std::function<bool(const QString& title, const QString& text)> question;
    // Ends the application's event loop.
    std::function<void()> quit;
};

// The window's update handler: acts on the event code alone. 1 shows that the
// program is up to date; 2 offers the download (Yes requests it); 3 offers the
// install (Yes ends the event loop, then requests it); 6 ends the event loop;
// any other code does nothing.
void handleUpdateEvent(quint16 event, UpdateCheck& check, const UpdatePrompts& prompts);

// DownloadSize in MB as a standard output stream writes a double: up to six
// significant digits, no trailing zeros (15, 1.5, 1177.38).
QString downloadSizeText(qint64 bytes);

}  // namespace parlune::online
