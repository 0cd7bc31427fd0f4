// The update from start to end as plain steps: preparing the download list,
// then one attempt at closing clients, downloading and installing the
// package, recording the folder, writing the launchers and starting the
// client. The steps report through an observer in terms of meaning; which
// threads run them, how the window shows the reports and how the process
// ends belong to the caller.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message.h"
#include "platform/message_box.h"
#include "ui/language_texts.h"
#include "update/launch_settings.h"

// What the steps tell whoever shows the update. Called on the thread that
// runs the step.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  // The status line shows the text of this key.
  virtual void OnStatus(TextKey key) = 0;
  // The second bar's percentage label ("100%" once the list is prepared).
  virtual void OnPercentText(const std::u16string& text) = 0;
  // The second bar's style: 2 once the installation begins.
  virtual void OnSecondBarStyle(int nStyle) = 0;
  // The installation has handled this share (0 to 100) of the package.
  virtual void OnInstallProgress(int nPercent) = 0;
  // Asks the player (closing running clients, a damaged package, a client
  // that cannot start); IDOK or IDCANCEL. The system's plain prompt unless
  // the observer shows its own.
  virtual int Ask(const std::u16string& text, const std::u16string& caption,
                  platform::PromptButtons buttons) {
    return platform::MessageBox(text, caption, buttons);
  }
};

// Clears and fills the settings' download list. 1.
int32_t PrepareUpdate(IUpdateObserver& observer, UpdateSettings* pSettings);

enum class UpdateOutcome {
  kRefused,         // the player refused to close a running client
  kDownloadFailed,  // the package could not be fetched
  kInstallFailed,   // the package was damaged or could not be put in place
  kDone,            // installed, recorded, launchers written, client started
};

// One attempt at the whole update with the settings (the caller's worker
// thread owns them meanwhile). Download progress goes from the engine to
// hProgress (the engine's own notification, 0 for none).
UpdateOutcome RunUpdate(IUpdateObserver& observer, UpdateSettings* pSettings,
                        platform::HWND hProgress);
