#include "engine/TaskDispatcher.h"

NetApi NetApi::Real() {
    NetApi api;
    api.AddCamera = Net_AddCamera;
    api.ConnCamera = Net_ConnCamera;
    api.ProbeCamera = Net_ProbeCamera;
    api.AbortCamera = Net_AbortCamera;
    api.QueryTimeSetup = Net_QueryTimeSetup;
    api.TimeSetup = Net_TimeSetup;
    api.FileUpdate = Net_FileUpdate;
    api.DisConnCamera = Net_DisConnCamera;
    api.DelCamera = Net_DelCamera;
    api.SetProgressCallback = Net_SetProgressCallback;
    api.GetCallDetail = Net_GetCallDetail;
    api.GetHelloInfo = Net_GetHelloInfo;
    api.ProbeDevice = Net_ProbeDevice;
    api.FindDevice = Net_FindDevice;
    api.ProbeDevices = Net_ProbeDevices;
    return api;
}
