// The pack route: a fresh workspace, the pack unpacked into it, and the
// unpacked files handed to the preparer for the pack's kind.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>

#include "pack/UpdatePack.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/Workspace.h"
#include "upgrade/UpgradeRequest.h"

namespace upgrade {

namespace {
// How often a workspace name that is already taken is tried again, a
// millisecond later each time.
constexpr int kWorkspaceAttempts = 50;
}  // namespace

bool CUpgradeRequest::MakeWorkspace(std::string& trouble) {
    const std::string tmp = platform::SystemTempDirectory().path;
    switch (platform::PrepareWorkspaceRoot()) {
        case platform::RootState::Ready:
            break;
        case platform::RootState::NoTempDirectory:
            trouble = "临时目录不存在：" + tmp;
            return false;
        case platform::RootState::NotPrivate:
            trouble = "临时目录不安全：" + platform::WorkspaceRoot();
            return false;
        case platform::RootState::CannotCreate:
            trouble = WorkspaceTrouble(0);
            return false;
    }
    for (int attempt = 0; attempt < kWorkspaceAttempts; ++attempt) {
        const platform::LocalTime now = m_env.clock ? m_env.clock() : platform::Now();
        m_strWorkDir = platform::WorkspacePathFor(now);
        // Private, and new: unpacking into a folder somebody else made
        // would let them plant or read files.
        const platform::MakeDirResult made = platform::MakePrivateDir(m_strWorkDir);
        if (made == platform::MakeDirResult::Made) {
            m_ownWorkspace = true;
            // Made before anything is unpacked, so no entry can take its name.
            if (platform::MakePrivateDir(SendDir()) == platform::MakeDirResult::Made) {
                return true;
            }
            break;
        }
        if (made != platform::MakeDirResult::Exists) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    trouble = WorkspaceTrouble(0);
    return false;
}

std::string CUpgradeRequest::WorkspaceTrouble(std::uint64_t needed) const {
    const platform::TempDirectory tmp = platform::SystemTempDirectory();
    if (!tmp.exists) {
        return "临时目录不存在：" + tmp.path;
    }
    const std::string where = m_ownWorkspace ? m_strWorkDir : tmp.path;
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(platform::FsPath(where), ec);
    // Some room is always left for names and tables besides the data.
    constexpr std::uint64_t kSlack = 64 * 1024;
    if (!ec && space.available < needed + kSlack) {
        return "临时目录已满：" + tmp.path;
    }
    if (!m_ownWorkspace) {
        return "临时目录无法写入：" + tmp.path;
    }
    // Tried only inside our own private workspace: a fixed name in a shared
    // folder could be a planted link.
    const std::string probe = platform::JoinPath(where, ".qv-probe");
    bool written = false;
    {
        std::ofstream out(platform::FsPath(probe), std::ios::binary | std::ios::trunc);
        written = static_cast<bool>(out << 'x') && static_cast<bool>(out.flush());
    }
    std::filesystem::remove(platform::FsPath(probe), ec);
    return written ? std::string() : "临时目录无法写入：" + tmp.path;
}

std::string CUpgradeRequest::UnpackTrouble(const std::string& packPath, const std::string& dir,
                                           int code) const {
    if (code != 5) {
        return {};
    }
    tPackHead head{};
    const auto table = CheckFileMD5(packPath.c_str(), &head);
    for (unsigned i = 0; table && i < head.uifileNum; ++i) {
        if (dir.size() + 1 + PackEntryName(table[i]).size() > PACK_MAX_OUT_PATH) {
            return "升级文件路径过长";
        }
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(platform::FsPath(packPath), ec);
    return WorkspaceTrouble(ec ? 0 : size);
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
    if (kind == PACK_KIND_UNREADABLE) {
        Show("升级文件无法打开");  // missing or unreadable, as for a single image
        return 0;
    }
    if (kind <= 0) {
        Show("升级文件格式已损坏!");
        return 0;
    }
    if (std::string trouble; !MakeWorkspace(trouble)) {
        Log("创建临时目录未成功\n");
        Show(trouble.empty() ? std::string("创建临时目录未成功") : trouble);
        DiscardWorkspace();
        m_strWorkDir.clear();
        return 0;
    }

    int result = 1;
    std::string message;
    std::vector<std::string> names;
    std::vector<std::string> paths;
    if (const int c = DecUpdatePack(packPath.c_str(), m_strWorkDir.c_str()); c != 0) {
        Log("[%d]解压BIN文件未成功\n", c);
        // A full or unwritable folder, or a path too long, is no damaged pack.
        const std::string trouble = UnpackTrouble(packPath, m_strWorkDir, c);
        Show(trouble.empty() ? "[" + std::to_string(c) + "]解压BIN文件未成功" : trouble);
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
            m_upgradeFiles.push_back(force ? platform::JoinPath(SendDir(), "Pack.bin") : packPath);
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
    const std::string inner = platform::JoinPath(m_strWorkDir, "bin");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int j = FirstMatchingHw(names[i]);
        if (j < 0) {
            Log("升级文件硬件版本不匹配\n");
            message = "升级文件硬件版本不匹配";
            continue;
        }
        // Every inner pack is judged on its own files only, never on what an
        // earlier one left behind.
        RemoveInnerDir(inner);
        (void)platform::MakePrivateDir(inner);
        if (const int c = DecUpdatePack(paths[i].c_str(), inner.c_str()); c != 0) {
            Log("[%d]解压BIN文件未成功\n", c);
            message = UnpackTrouble(paths[i], inner, c);
            if (message.empty()) {
                message = "解压BIN文件未成功";
            }
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
            const std::vector<std::size_t> hw{static_cast<std::size_t>(j)};
            // The inner pack (or its forced copy, of the same size) is sent.
            if (m_fileCheck.CheckFileSize(paths[i]) == 0) {
                message = "升级文件大小不能大于35M";
            } else if (CheckSinglePack(message, innerNames, force, paths[i], forcedName) != 1) {
                // message set
            } else if (!force && !TableFitsHardware(paths[i], hw)) {
                message = "升级文件硬件版本不匹配";
            } else {
                m_upgradeFiles.push_back(force ? platform::JoinPath(SendDir(), forcedName)
                                               : paths[i]);
                Bind(static_cast<std::size_t>(j), n);
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
