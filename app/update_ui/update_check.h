// The control panel's side of the update check: registering Update.dll,
// creating its Detection object, and the two checks that tell the user
// through FrmMsgbox. The one place of the program that calls the component.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win_handles.h"

namespace korvane {

class UpdateCheck {
public:
    UpdateCheck() = default;
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;
    ~UpdateCheck();

    // The load's registration command: starts "regsvr32  Update.dll /S"
    // minimised, not waited for: the system folder's regsvr32.exe, in the
    // executable's folder.
    void StartRegistration();
    // The load's creation of the update component: creates
    // "Quorvel.Detection" when it is registered to the Update.dll in the
    // executable's folder, else activates that library without
    // registration; keeps the object as UpdateDetector.
    void CreateDetector();
    // The update check at load, the load's last step. check1 is the panel's
    // Check1 value (0, 1 or 2). set_label9_caption is called with
    // L"下载新版" when a newer version exists: after the notice is filled,
    // before it is shown.
    void CheckAtLoad(int check1,
                     const std::function<void(const std::wstring&)>& set_label9_caption);
    // Label9_Click: the check on request. At most 8 checks run nested inside
    // each other's waits; a click beyond that does nothing.
    void CheckOnRequest();
    // Whether the object was created through the class's registration rather
    // than from the library loaded here.
    bool CreatedThroughRegistration() const { return UpdateDetector && !library_; }

private:
    // The update reply, or an empty text when there is no object or the call
    // fails.
    std::wstring Updates();
    bool CreateRegistered(const CLSID& clsid);
    void ActivateWithoutRegistration();

    // Declared first, so that it is freed after UpdateDetector is released.
    UniqueLibrary library_;
    ComPtr<IDispatch> UpdateDetector;
    // Checks now waiting for their reply, nested inside each other.
    int checks_running_ = 0;
};

}  // namespace korvane
