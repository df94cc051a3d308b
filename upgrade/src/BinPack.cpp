// The pack route: a fresh workspace, the pack unpacked into it, and the
// unpacked files handed to the preparer for the pack's kind.
#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>

#include "pack/UpdatePack.h"
#include "platform/FileIo.h"
#include "platform/Workspace.h"
#include "upgrade/UpgradeRequest.h"

namespace upgrade {

namespace {
// How often a workspace name that is already taken is tried again, a
// millisecond later each time.
constexpr int kWorkspaceAttempts = 50;
}  // namespace

bool CUpgradeRequest::MakeWorkspace() {
    for (int attempt = 0; attempt < kWorkspaceAttempts; ++attempt) {
        const platform::LocalTime now = m_env.clock ? m_env.clock() : platform::Now();
        m_strWorkDir = platform::WorkspacePathFor(now);
        // Private, and new: unpacking into a folder somebody else made under
        // the shared temporary directory would let them plant or read files.
        const platform::MakeDirResult made = platform::MakePrivateDir(m_strWorkDir);
        if (made == platform::MakeDirResult::Made) {
            m_ownWorkspace = true;
            return true;
        }
        if (made != platform::MakeDirResult::Exists) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_ownWorkspace = false;
    return false;
}

// Names in byte order, as a Windows folder lists them, so that every run
// composes the same packs from the same file.
bool CUpgradeRequest::ListSorted(const std::string& dir, std::vector<std::string>& names,
                                 std::vector<std::string>& paths) {
    std::vector<std::string> n;
    std::vector<std::string> p;
    if (!m_fileCheck.ListDirFiles(dir, n, p) || n.size() != p.size()) {
        return false;
    }
    std::vector<std::size_t> order(n.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return n[a] < n[b]; });
    names.clear();
    paths.clear();
    for (std::size_t i : order) {
        names.push_back(n[i]);
        paths.push_back(p[i]);
    }
    return true;
}

void CUpgradeRequest::RemoveInnerDir(const std::string& dir) {
    // Removed before the walk goes on, so the next inner pack never loses
    // files to a removal still running.
    (void)platform::RemoveTree(dir);
}

int CUpgradeRequest::PrepareBinPack(const std::string& packPath, bool force) {
    const int kind = m_fileCheck.GetPackKind(packPath);
    if (kind <= 0) {
        Show("升级文件格式已损坏!");
        return 0;
    }
    if (!MakeWorkspace()) {
        Log("创建临时目录未成功\n");
        Show("创建临时目录未成功");
        m_strWorkDir.clear();
        return 0;
    }

    int result = 1;
    std::string message;
    std::vector<std::string> names;
    std::vector<std::string> paths;
    if (const int c = DecUpdatePack(packPath.c_str(), m_strWorkDir.c_str()); c != 0) {
        Log("[%d]解压BIN文件未成功\n", c);
        Show("[" + std::to_string(c) + "]解压BIN文件未成功");
        result = 0;
    } else if (!ListSorted(m_strWorkDir, names, paths) || names.empty()) {
        Log("BIN文件读取信息失败\n");
        Show("BIN文件读取信息失败");
        result = 0;
    } else if (kind == PACK_KIND_SINGLE) {
        if (m_fileCheck.CheckFileSize(packPath) == 0) {
            Show("升级文件大小不能大于35M");
            result = 0;
        } else if (CheckSinglePack(message, names, force, packPath, "Pack.bin") != 1) {
            Show(message);
            result = 0;
        } else {
            m_upgradeFiles.push_back(force ? m_strWorkDir + "/Pack.bin" : packPath);
            BindAll(m_upgradeFiles.size() - 1);
        }
    } else if (kind == PACK_KIND_MULTI) {
        if (force) {
            if (SelectForcedAppFiles(message, paths, names) != 0) {
                m_upgradeInfo.UpgradeType = NET_UPGRADE_FORCED;
            } else {
                Show(message);
                result = 0;
            }
        } else if (ComposeAppPacks(message, paths, names) != 1) {
            Show(message);
            result = 0;
        }
    } else {
        result = WalkBundle(names, paths, force, message);
    }

    if (result == 0) {
        DiscardWorkspace();
    }
    return result;
}

int CUpgradeRequest::WalkBundle(const std::vector<std::string>& names,
                                const std::vector<std::string>& paths, bool force,
                                std::string& message) {
    int result = 1;
    const std::string inner = m_strWorkDir + "/bin";
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int j = FirstMatchingHw(names[i]);
        if (j < 0) {
            Log("升级文件硬件版本不匹配\n");
            message = "升级文件硬件版本不匹配";
            continue;
        }
        (void)platform::MakePrivateDir(inner);
        if (const int c = DecUpdatePack(paths[i].c_str(), inner.c_str()); c != 0) {
            Log("[%d]解压BIN文件未成功\n", c);
            message = "解压BIN文件未成功";
            continue;
        }
        std::vector<std::string> innerNames;
        std::vector<std::string> innerPaths;
        if (!ListSorted(inner, innerNames, innerPaths) || innerNames.empty()) {
            Log("BIN文件读取信息失败\n");
            message = "BIN文件读取信息失败";
            continue;
        }
        const int kind = m_fileCheck.GetPackKind(paths[i]);
        if (kind == PACK_KIND_SINGLE) {
            const std::size_t n = m_upgradeFiles.size();
            const std::string forcedName = "Pack" + std::to_string(n) + ".bin";
            if (CheckSinglePack(message, innerNames, force, paths[i], forcedName) == 1) {
                m_upgradeFiles.push_back(force ? m_strWorkDir + "/" + forcedName : paths[i]);
                Bind(static_cast<std::size_t>(j), n);
            } else {
                RemoveInnerDir(inner);
            }
        } else if (kind == PACK_KIND_MULTI && force) {
            message = "此bin包不支持强制升级！";
            result = 0;
            break;
        } else if (kind == PACK_KIND_MULTI) {
            if (ComposeAppPacks(message, innerPaths, innerNames) == 1) {
                break;
            }
            result = 0;
            RemoveInnerDir(inner);
        } else {
            RemoveInnerDir(inner);
        }
    }
    if (!EveryHwHasFile()) {
        // Never an empty box: the last reason, or the one that fits the case.
        Show(message.empty() ? std::string("升级文件硬件版本不匹配") : message);
        result = 0;
    }
    return result;
}

}  // namespace upgrade
