// The three preparers of an unpacked pack: the check of a single update pack
// (with its forced copy), the composition of one pack per application image of
// a multi-application pack, and the forced choice of images from one.
#include <algorithm>
#include <utility>

#include "pack/UpdatePack.h"
#include "platform/FileIo.h"
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

}  // namespace

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
    const bool fits = app == nullptr || app->find(m_strCameraType) != std::string::npos ||
                      SiblingModel(m_strCameraType, *app);
    if (!force) {
        if (fits || (m_strCameraType == "LWZ484-MOE" && Contains(*app, "LWZ484-SOE")) ||
            m_fileCheck.MatchSeriesCode(*app, m_strCameraType)) {
            return 1;
        }
        message = "设备类型不匹配";
        return -1;
    }
    if (BinUpdateAppFileType(packPath.c_str(), m_strWorkDir.c_str(), forcedName.c_str()) == 0) {
        return 1;
    }
    message = "Bin文件未合成成功，无法强制升级!";
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
        accepted.emplace_back(paths[i], static_cast<std::size_t>(j));
    }
    if (Unusable(accepted, seen, message)) {
        return -1;
    }

    for (std::size_t m = 0; m < accepted.size(); ++m) {
        std::vector<std::string> files = common;
        files.push_back(accepted[m].first);
        const std::string packName = "Pack" + std::to_string(base + m) + ".bin";
        const std::string packPath = m_strWorkDir + "/" + packName;
        // A file of that name came out of the pack or is already queued:
        // writing over it would change what another camera gets.
        const int r = Exists(packPath) ? 0 : m_fileCheck.ComposePack(m_strWorkDir, packName, files);
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
        break;
    }
    if (m_upgradeFiles.size() != base + accepted.size()) {
        Log("合成BIN数量不匹配\n");
        message = "合成BIN数量不匹配";
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

}  // namespace upgrade
