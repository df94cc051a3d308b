#include "app/DialogDeps.h"

namespace app {

SearchApi SearchApi::Real() {
    SearchApi api;
    api.Init = &Net_Init;
    api.UNinit = &Net_UNinit;
    api.FindDevice = &Net_FindDevice;
    api.Log = &Net_Log;
    api.GetInitError = &Net_GetInitError;
    api.GetVerifyTimeout = &Net_GetVerifyTimeout;
    api.GetSearchTarget = &Net_GetSearchTarget;
    api.SetInterface = &Net_SetInterface;
    api.GetAnsweredOn = &Net_GetAnsweredOn;
    api.ScanDevice = &Net_ScanDevice;
    api.CancelScan = &Net_CancelScan;
    return api;
}

TaskDispatcher MakeDispatcher(const DialogDeps& deps) {
    if (deps.helper) {
        return TaskDispatcher(deps.net, *deps.helper);
    }
    // The helper library is where the folder rule keeps it (beside the
    // executable, or in the private library folder when installed), even when
    // --config-dir moves config.ini and the logs elsewhere.
    return TaskDispatcher(deps.net,
                          deps.libDir.empty() ? platform::CurrentFolders().libDir : deps.libDir);
}

}  // namespace app
