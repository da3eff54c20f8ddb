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

    // Load step 5: starts "regsvr32  Update.dll /S" minimised, not waited for.
    void StartRegistration();
    // Load step 6: creates "Quorvel.Detection" (or activates Update.dll from the
    // executable's folder without registration) and keeps it as UpdateDetector.
    void CreateDetector();
    // Load step 7. check1 is the panel's Check1 value (0, 1 or 2).
    // set_label9_caption is called with L"下载新版" when a newer version exists,
    // at the point the algorithm sets Label9's caption.
    void CheckAtLoad(int check1,
                     const std::function<void(const std::wstring&)>& set_label9_caption);
    // Label9_Click: the check on request.
    void CheckOnRequest();

private:
    // The update reply, or an empty text when there is no object or the call
    // fails.
    std::wstring Updates();
    void ActivateWithoutRegistration();

    // Declared first, so that it is freed after UpdateDetector is released.
    UniqueLibrary library_;
    ComPtr<IDispatch> UpdateDetector;
};

}  // namespace korvane
