// The three preparers of an unpacked pack: the check of a single update pack
// (with its forced copy), the composition of one pack per application image of
// a multi-application pack, and the forced choice of images from one.
#include <algorithm>
#include <filesystem>
#include <utility>

#include "pack/PackInfo.h"
#include "pack/UpdatePack.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "upgrade/UpgradeRequest.h"

namespace upgrade {

namespace {

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Camera models that take an application image made for a sibling model.
bool SiblingModel(const std::string& cameraType, const std::string& appName) {
    return (Contains(cameraType, "KQM-RVT3305") && Contains(appName, "KQM-RVT7705")) ||
           (Contains(cameraType, "RVT7705") && Contains(appName, "KQM-RVT3305"));
}

bool Exists(const std::string& path) {
    return platform::InfoOf(path, false).Exists();
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The names of a verified pack's application entries: what a camera flashes.
// False when the file is no pack that verifies.
bool AppEntryNames(const std::string& path, std::vector<std::string>& names) {
    tPackHead head{};
    const auto table = CheckFileMD5(path.c_str(), &head);
    if (!table) {
        return false;
    }
    for (unsigned i = 0; i < head.uifileNum; ++i) {
        if (PackIsAppEntry(table[i])) {
            names.push_back(PackEntryName(table[i]));
        }
    }
    return true;
}

}  // namespace

bool CUpgradeRequest::FitsCameraType(const std::string& name, bool anyCase) {
    return name.find(m_strCameraType) != std::string::npos ||
           (anyCase && Lower(name).find(Lower(m_strCameraType)) != std::string::npos) ||
           SiblingModel(m_strCameraType, name) ||
           (m_strCameraType == "LWZ484-MOE" && Contains(name, "LWZ484-SOE")) ||
           m_fileCheck.MatchSeriesCode(name, m_strCameraType);
}

bool CUpgradeRequest::TableFitsType(const std::string& packPath, std::string& message) {
    std::vector<std::string> apps;
    if (!AppEntryNames(packPath, apps)) {
        message = "升级文件格式已损坏!";
        return false;
    }
    for (const std::string& app : apps) {
        if (!FitsCameraType(app, false)) {
            message = "设备类型不匹配";
            return false;
        }
    }
    return true;
}

bool CUpgradeRequest::TableFitsHardware(const std::string& packPath,
                                        const std::vector<std::size_t>& hw) {
    std::vector<std::string> apps;
    AppEntryNames(packPath, apps);
    return AppsFitHardware(apps, hw);
}

bool CUpgradeRequest::AppsFitHardware(const std::vector<std::string>& apps,
                                      const std::vector<std::size_t>& hw) {
    for (const std::string& app : apps) {
        // An image named for no hardware code is made for every version.
        if (m_fileCheck.HardwareCode(app).empty()) {
            continue;
        }
        for (std::size_t j : hw) {
            if (j < m_hwVersions.size() && !m_fileCheck.MatchHardVersion(app, m_hwVersions[j])) {
                return false;
            }
        }
    }
    return true;
}

// Every hardware version needs an image of its own (or a file queued earlier
// in a bundle); two images for one version do not make up for a missing one.
bool CUpgradeRequest::CoversEveryHw(const BoundImages& images) const {
    std::vector<bool> covered(m_hwVersions.size());
    for (std::size_t j = 0; j < covered.size(); ++j) {
        covered[j] = j < m_fileIndex.size() && m_fileIndex[j] >= 0;
    }
    for (const auto& image : images) {
        if (image.second < covered.size()) {
            covered[image.second] = true;
        }
    }
    return std::find(covered.begin(), covered.end(), false) == covered.end();
}

// True, with the reason set, when the images found cannot serve the request:
// there are none, or a ticked hardware version is left without one.
bool CUpgradeRequest::Unusable(const BoundImages& images, bool seenApp,
                               std::string& message) const {
    if (images.empty()) {
        if (!seenApp) {
            Log("解析BIN文件未成功\n");
            message = "解析BIN文件未成功";
        }
        return true;
    }
    if (!CoversEveryHw(images)) {
        Log("解析BIN文件发现业务软件数量和勾选的设备数量不等，不支持升级！\n");
        message = "此bin包包含的业务软件与硬件版本数量不匹配，不支持升级！";
        return true;
    }
    return false;
}

int CUpgradeRequest::CheckSinglePack(std::string& message, const std::vector<std::string>& names,
                                     bool force, const std::string& packPath,
                                     const std::string& forcedName) {
    const std::string* app = nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Log("bin file[%d]:%s\n", static_cast<int>(i + 1), names[i].c_str());
        if (m_fileCheck.GetFileType(names[i]) == FILE_CLASS_APP) {
            app = &names[i];
            break;
        }
    }
    if (!force) {
        if (app != nullptr && !FitsCameraType(*app, false)) {
            message = "设备类型不匹配";
            return -1;
        }
        // The listing may show another image first, or none (a hidden name):
        // the camera flashes what the pack's own table holds.
        return TableFitsType(packPath, message) ? 1 : -1;
    }
    if (BinUpdateAppFileType(packPath.c_str(), SendDir().c_str(), forcedName.c_str()) == 0) {
        return 1;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(platform::FsPath(packPath), ec);
    message = WorkspaceTrouble(ec ? 0 : size);
    if (message.empty()) {
        message = "Bin文件未合成成功，无法强制升级!";
    }
    return -1;
}

int CUpgradeRequest::ComposeAppPacks(std::string& message, const std::vector<std::string>& paths,
                                     const std::vector<std::string>& names) {
    int major = 0;
    int minor = 0;
    if (!ParseVersionKey(m_strVersionKey, major, minor)) {
        message = "读取相机版本号未成功";
        return -1;
    }
    const std::size_t base = m_upgradeFiles.size();
    std::vector<std::string> common;
    BoundImages accepted;
    bool seen = false;
    for (std::size_t i = 0; i < names.size() && i < paths.size(); ++i) {
        Log("bin file[%d]:%s\n", static_cast<int>(i + 1), names[i].c_str());
        if (m_fileCheck.GetFileType(names[i]) != FILE_CLASS_APP) {
            common.push_back(paths[i]);
            continue;
        }
        seen = true;
        if (!m_fileCheck.IsAppFileOfDevType(names[i], m_strCameraType)) {
            message = "设备类型不匹配";
            continue;
        }
        if (!m_fileCheck.HasVersionTag(names[i], major, minor)) {
            message = "软件版本号不匹配";
            continue;
        }
        const int j = FirstMatchingHw(names[i]);
        if (j < 0) {
            message = "升级文件硬件版本不匹配";
            continue;
        }
        // Only the first image of a hardware version is ever sent; composing
        // the others would cost a full pack each for nothing.
        const auto hw = static_cast<std::size_t>(j);
        const bool served = (hw < m_fileIndex.size() && m_fileIndex[hw] >= 0) ||
                            std::any_of(accepted.begin(), accepted.end(),
                                        [hw](const auto& image) { return image.second == hw; });
        if (!served) {
            accepted.emplace_back(paths[i], hw);
        }
    }
    if (Unusable(accepted, seen, message)) {
        return -1;
    }

    std::string trouble;
    for (std::size_t m = 0; m < accepted.size(); ++m) {
        std::vector<std::string> files = common;
        files.push_back(accepted[m].first);
        const std::string packName = "Pack" + std::to_string(base + m) + ".bin";
        const std::string packPath = platform::JoinPath(SendDir(), packName);
        // A file of that name is already queued: writing over it would change
        // what another camera gets.
        const int r = Exists(packPath) ? 0 : m_fileCheck.ComposePack(SendDir(), packName, files);
        if (r == 1) {
            m_upgradeFiles.push_back(packPath);
            Bind(accepted[m].second, m_upgradeFiles.size() - 1);
            continue;
        }
        if (r == 0) {
            Log("合成BIN文件失败！\n");
        } else if (r == -1) {
            Log("合成BIN文件内存分配未成功\n");
        }
        std::uint64_t needed = 0;
        for (const std::string& f : files) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(platform::FsPath(f), ec);
            needed += ec ? 0 : size;
        }
        trouble = WorkspaceTrouble(needed);
        break;
    }
    if (m_upgradeFiles.size() != base + accepted.size()) {
        Log("合成BIN数量不匹配\n");
        // A full or unwritable workspace is said as such, not as a bad pack.
        message = trouble.empty() ? std::string("合成BIN数量不匹配") : trouble;
        return 2;
    }

    std::size_t passed = 0;
    for (const std::string& file : m_upgradeFiles) {
        const int size = m_fileCheck.CheckFileSize(file);
        if (size == 1) {
            ++passed;
            continue;
        }
        message = size == -1 ? "打开新BIN文件未成功" : "BIN文件大小不符合";
        break;
    }
    if (passed < m_upgradeFiles.size()) {
        Log("BIN文件大小不符合\n");
        return 4;
    }
    return 1;
}

int CUpgradeRequest::SelectForcedAppFiles(std::string& message,
                                          const std::vector<std::string>& paths,
                                          const std::vector<std::string>& names) {
    const std::size_t base = m_upgradeFiles.size();
    BoundImages chosen;
    bool seenApp = false;
    for (std::size_t i = 0; i < names.size() && i < paths.size(); ++i) {
        Log("bin file[%d]:%s\n", static_cast<int>(i + 1), names[i].c_str());
        if (m_fileCheck.GetFileType(names[i]) != FILE_CLASS_APP) {
            continue;
        }
        seenApp = true;
        const int j = FirstMatchingHw(names[i]);
        if (j < 0) {
            message = "升级文件硬件版本不匹配";
            continue;
        }
        chosen.emplace_back(paths[i], static_cast<std::size_t>(j));
    }
    if (Unusable(chosen, seenApp, message)) {
        return 0;
    }
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        m_upgradeFiles.push_back(chosen[k].first);
        Bind(chosen[k].second, base + k);
    }
    return 1;
}

bool CUpgradeRequest::JudgeSentFiles(bool force, bool packRoute) {
    for (std::size_t k = 0; k < m_upgradeFiles.size(); ++k) {
        std::vector<std::size_t> receivers;
        for (std::size_t j = 0; j < m_fileIndex.size(); ++j) {
            if (m_fileIndex[j] == static_cast<int>(k)) {
                receivers.push_back(j);
            }
        }
        if (receivers.empty()) {
            continue;  // queued by a route but bound to no camera: never sent
        }
        const std::string& file = m_upgradeFiles[k];
        if (packRoute) {
            if (const int size = m_fileCheck.CheckFileSize(file); size != 1) {
                Show(size == 0 ? "升级文件大小不能大于35M" : "打开新BIN文件未成功");
                return false;
            }
        }
        if (force) {
            continue;
        }
        std::vector<std::string> apps;
        if (!AppEntryNames(file, apps)) {
            continue;  // no pack: judged by its name above
        }
        for (const std::string& app : apps) {
            if (!FitsCameraType(app, true)) {
                Show("设备类型不匹配");
                return false;
            }
        }
        // The table just read and verified: reading the pack again would learn nothing.
        if (!AppsFitHardware(apps, receivers)) {
            Show("升级文件硬件版本不匹配");
            return false;
        }
    }
    return true;
}

}  // namespace upgrade
