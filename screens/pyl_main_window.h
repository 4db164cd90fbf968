// The channel's main window pair, the classes the launcher creates: the foreground with the
// channel's layout, the login parameters, the step events and the game start; and the layered
// background that creates it, moves the group with the host window and shuts the launcher down
// when the player closes it.
#pragma once

#include <functional>
#include <memory>

#include "core/command_line.h"
#include "screens/main_foreground.h"
#include "screens/step_event_upload.h"
#include "skin/main_background.h"

namespace kwrt {

// The controls of the channel's main foreground, as the launcher's window and the gallery's
// preview both carry them.
struct ChannelControls {
    CCustomProgress& progress;
    CCustomLabel& speedLabel;
    CCustomLabel& statusLabel;
    CCustomLabel& bannerLabel;
    CCustomLabel& groupLabel;
    CSkinButton& minimizeButton;
    CSkinButton& closeButton;
    CSkinButton& groupButton;
};

// Whether the deployment names a chat group: its label and its join page.
bool HasChatGroup();
// The channel's look of a foreground: only the band from 103 to 350 of the picture shows, the
// label styles, the bar's track and the button images; the chat group's controls hidden when the
// deployment names none.
void ApplyChannelLook(HWND window, const ChannelControls& controls);
// The channel's layout table, at the UI scale.
void LayoutChannelControls(const ChannelControls& controls);

class CPylMainForegroundDialog : public CMainForegroundDialog {
  public:
    CPylMainForegroundDialog();

    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    void DialogOnClose() override;
    void LayoutControls() override;
    void LoadBackgroundImage() override {}  // the picture comes from the background
    void StartLogin() override;
    // The step events still on their way (the download's success, the game's start) get up to
    // kExitEventWaitMs to reach the event log: the game already runs, so nobody waits for it.
    void OnGameStarted() override;
    void StartGame();
    void SetStepLogDataUpByClose();

    // The step events: the controller's step codes, the keys sent by name, and their answers;
    // each key at most once per run.
    void OnStepCode(int code) { m_events.OnStepCode(code); }
    void StepLogDataUploaded(const std::wstring& key) { m_events.StepLogDataUploaded(key); }
    void OrvandelLogDataUploaded(int code, const std::wstring& msg, const std::wstring& stepKey,
                                 const std::wstring& uid) {
        m_events.OrvandelLogDataUploaded(code, msg, stepKey, uid);
    }

    // The upload request (m_upload) and the keys already sent (m_uploadedSteps).
    StepEventReporter m_events;
    RunParameterMap m_loginParams;
    CCustomLabel m_bannerLabel;
    CCustomLabel m_groupLabel;
    CSkinButton m_minimizeButton;
    CSkinButton m_closeButton;
    CSkinButton m_groupButton;

  protected:
    BOOL OnCommand(UINT id, UINT code, HWND control) override;

  private:
    ChannelControls Controls();
};

class CPylMainBackgroundDialog : public CMainBackgroundDialog {
  public:
    // How long a confirmed close, its windows hidden, waits for the exit event to be sent.
    static constexpr int kExitEventWaitMs = 2000;

    CPylMainBackgroundDialog();

    // Creates and places the foreground once, then shows the background.
    void CreateForeground();
    void MoveBy(int dx, int dy) override;
    void CreateCompanions() override {}
    void LayoutCompanions() override;
    // The launcher's shutdown after a confirmed close: the exit event, the platform client,
    // "version.txt", the downloads stopped, the end of the process.
    void DialogOnClose() override;
    void SetCloseCallback(std::function<void(int)> callback) { m_onClose = std::move(callback); }
    // Starts the platform client that the current user's App Paths key of "PylGame.exe" names.
    static void StartPlatformClient();

    CDialogBase* m_pHost = nullptr;  // not owned
    std::function<void(int)> m_onClose;

  private:
    std::unique_ptr<CPylMainForegroundDialog> m_pPylForeground;  // lives until the process ends
};

}  // namespace kwrt
