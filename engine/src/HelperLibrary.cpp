#include "engine/HelperLibrary.h"

#include <utility>

#include "nimbrel.h"
#include "platform/ExeDir.h"
#include "platform/Paths.h"

namespace engine {
namespace {

std::string FolderOf(std::string folder) {
    if (folder.empty()) {
        folder = platform::ExeDir();
    }
    return platform::JoinPath(folder.empty() ? "." : folder, "");
}

}  // namespace

HelperLibrary::HelperLibrary(std::string folder) : folder_(FolderOf(std::move(folder))) {
    lib_ = platform::DynLib(folder_ + NIMBREL_LIBRARY_NAME);
    if (lib_.Loaded()) {
        api_.ModifyDevIp = reinterpret_cast<ModifyDevIpFn>(lib_.Symbol(NIMBREL_MODIFY_DEV_IP));
        api_.GetDevList = reinterpret_cast<GetDevListFn>(lib_.Symbol(NIMBREL_GET_DEV_LIST));
        api_.SetInterface = reinterpret_cast<SetInterfaceFn>(lib_.Symbol(NIMBREL_SET_INTERFACE));
        api_.ModifyDevIpEx =
            reinterpret_cast<ModifyDevIpExFn>(lib_.Symbol(NIMBREL_MODIFY_DEV_IP_EX));
    }
}

HelperLibrary::HelperLibrary(HelperApi given) : api_(given), given_(true), folder_(FolderOf({})) {}

bool HelperLibrary::Loaded() const {
    return lib_.Loaded() || (given_ && api_.ModifyDevIp != nullptr);
}

void HelperLibrary::Unload() {
    api_ = {};
    lib_.Unload();
}

}  // namespace engine
