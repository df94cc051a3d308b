#include "upgrade/UpgradeRequest.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/FileIo.h"
#include "platform/Workspace.h"

namespace upgrade {

std::string VersionKey(const std::string& softVersion) {
    const std::size_t underscore = softVersion.find('_');
    if (underscore == std::string::npos) {
        return {};
    }
    const std::string head = softVersion.substr(0, underscore);
    const std::size_t dot = head.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    return head.substr(0, dot);
}

namespace {

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// One "%d": blanks, an optional sign, at least one digit. False when no
// number is there or it does not fit an int.
bool ReadInt(const std::string& s, std::size_t& pos, int& out) {
    while (pos < s.size() && IsBlank(s[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        negative = s[pos] == '-';
        ++pos;
    }
    const std::size_t digits = pos;
    long long value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + (s[pos] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return false;
        }
        ++pos;
    }
    if (pos == digits) {
        return false;
    }
    value = negative ? -value : value;
    if (value > INT_MAX || value < INT_MIN) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool IsReadableRegularFile(const std::string& path) {
    return platform::OpenRegularForReading(path).Ok();
}

bool Exists(const std::string& path) {
    return platform::InfoOf(path, false).Exists();
}

// Blanks pasted after a path are dropped, unless a file has that very name.
std::string WithoutPastedBlanks(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && IsBlank(path[end - 1])) {
        --end;
    }
    if (end == path.size() || end == 0 || Exists(path)) {
        return path;
    }
    const std::string trimmed = path.substr(0, end);
    return Exists(trimmed) ? trimmed : path;
}

}  // namespace

bool ParseVersionKey(const std::string& key, int& major, int& minor) {
    std::size_t pos = 0;
    if (!ReadInt(key, pos, major)) {
        return false;
    }
    if (pos >= key.size() || key[pos] != '.') {
        return false;
    }
    ++pos;
    return ReadInt(key, pos, minor);
}

CUpgradeRequest::CUpgradeRequest(RequestEnv env) : m_env(std::move(env)) {
    std::memset(&m_upgradeInfo, 0, sizeof(m_upgradeInfo));
}

CUpgradeRequest::~CUpgradeRequest() = default;

void CUpgradeRequest::Show(const std::string& text) const {
    if (m_env.showMessage) {
        m_env.showMessage(text);
    }
}

void CUpgradeRequest::Log(const char* format, ...) const {
    if (!m_env.netLog) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    m_env.netLog(line);
}

GroupResult CUpgradeRequest::Group(const std::vector<SelectedCamera>& ticked) {
    m_strCameraType.clear();
    m_strVersionKey.clear();
    m_hwVersions.clear();
    m_upgradeFiles.clear();
    m_fileIndex.clear();
    m_strUpdateFile.clear();
    m_ownWorkspace = false;
    // A request never inherits the previous request's type.
    m_upgradeInfo.UpgradeType = NET_UPGRADE_APP;

    GroupResult result = ticked.empty() ? GroupResult::NoneTicked : GroupResult::Ok;
    std::string type;
    std::string key;
    // A pack is matched by the version of the cameras still to be upgraded;
    // only when every camera is already current is it theirs.
    const auto behind = std::find_if(ticked.begin(), ticked.end(),
                                     [](const SelectedCamera& c) { return !c.current; });
    const SelectedCamera* keyCamera =
        behind != ticked.end() ? &*behind : (ticked.empty() ? nullptr : &ticked.front());
    // The first camera opens the group even when its type is empty, so that
    // an empty type never lets the next camera restart the group.
    for (std::size_t i = 0; i < ticked.size(); ++i) {
        const SelectedCamera& cam = ticked[i];
        const std::string camKey = VersionKey(cam.softVersion);
        if (i == 0) {
            type = cam.type;
            key = VersionKey(keyCamera->softVersion);
            m_hwVersions.push_back(cam.hardVersion);
            continue;
        }
        if (cam.type != type) {
            result = GroupResult::MixedTypes;
            break;
        }
        if (camKey != key && !cam.current) {
            result = GroupResult::MixedVersions;
            break;
        }
        if (std::find(m_hwVersions.begin(), m_hwVersions.end(), cam.hardVersion) ==
            m_hwVersions.end()) {
            m_hwVersions.push_back(cam.hardVersion);
        }
    }
    m_strCameraType = type;
    m_strVersionKey = key;
    m_fileIndex.assign(m_hwVersions.size(), -1);

    switch (result) {
        case GroupResult::MixedTypes:
            Show("不能同时选择2种不同类型的相机进行升级！");
            break;
        case GroupResult::MixedVersions:
            Show("不能同时选择2种不同版本的相机进行升级！");
            break;
        case GroupResult::NoneTicked:
            Show("你没有选择相机");
            break;
        case GroupResult::Ok:
            break;
    }
    return result;
}

void CUpgradeRequest::Bind(std::size_t j, std::size_t pos) {
    if (j < m_fileIndex.size() && m_fileIndex[j] < 0) {
        m_fileIndex[j] = static_cast<int>(pos);
    }
}

void CUpgradeRequest::BindAll(std::size_t pos) {
    for (std::size_t j = 0; j < m_fileIndex.size(); ++j) {
        Bind(j, pos);
    }
}

bool CUpgradeRequest::EveryHwHasFile() const {
    return std::all_of(m_fileIndex.begin(), m_fileIndex.end(), [this](int pos) {
        return pos >= 0 && static_cast<std::size_t>(pos) < m_upgradeFiles.size();
    });
}

int CUpgradeRequest::FirstMatchingHw(const std::string& name) {
    for (std::size_t j = 0; j < m_hwVersions.size(); ++j) {
        if (m_fileCheck.MatchHardVersion(name, m_hwVersions[j])) {
            return static_cast<int>(j);
        }
    }
    return -1;
}

const std::string* CUpgradeRequest::FileFor(const std::string& hardVersion) const {
    for (std::size_t j = 0; j < m_hwVersions.size() && j < m_fileIndex.size(); ++j) {
        if (m_hwVersions[j] == hardVersion) {
            const int pos = m_fileIndex[j];
            if (pos < 0 || static_cast<std::size_t>(pos) >= m_upgradeFiles.size()) {
                return nullptr;
            }
            return &m_upgradeFiles[static_cast<std::size_t>(pos)];
        }
    }
    return nullptr;
}

void CUpgradeRequest::DiscardWorkspace() {
    if (m_ownWorkspace && !m_strWorkDir.empty()) {
        platform::RemoveWorkspaceTree(m_strWorkDir);
        m_strWorkDir.clear();
    }
    m_ownWorkspace = false;
}

bool CUpgradeRequest::PrepareUpgradeFile(const std::string& updateFile, bool force) {
    m_strUpdateFile = WithoutPastedBlanks(updateFile);
    if (m_strUpdateFile.empty()) {
        Show("请选择升级文件");
        return false;
    }
    // The task and the library record carry 255 bytes; a cut path would name
    // another file.
    if (m_strUpdateFile.size() > kMaxSendPath) {
        Show("升级文件路径过长");
        return false;
    }
    const std::size_t slash = m_strUpdateFile.find_last_of(platform::kPathSeparators);
    const std::string name =
        slash == std::string::npos ? m_strUpdateFile : m_strUpdateFile.substr(slash + 1);

    bool single = true;
    const int code = m_fileCheck.GetFileType(name);
    switch (code) {
        case FILE_CLASS_APP:
            if (force) {
                m_upgradeInfo.UpgradeType = NET_UPGRADE_FORCED;
                break;
            }
            if (m_strCameraType.empty()) {
                Show("未知相机类型，无法升级");
                return false;
            }
            if (name.find(m_strCameraType) == std::string::npos) {
                Show("设备类型不匹配");
                return false;
            }
            if (!m_fileCheck.IsAppFileOfDevType(name, m_strCameraType)) {
                Show("升级文件名称不匹配");
                return false;
            }
            m_upgradeInfo.UpgradeType = NET_UPGRADE_APP;
            break;
        case FILE_CLASS_KERNEL:
            m_upgradeInfo.UpgradeType = NET_UPGRADE_KERNEL;
            break;
        case FILE_CLASS_FS:
            m_upgradeInfo.UpgradeType = NET_UPGRADE_FS;
            break;
        case FILE_CLASS_PACKAGE:
            if (name.find(".tgz") != std::string::npos) {
                break;
            }
            if (PrepareBinPack(m_strUpdateFile, force) == 0) {
                DiscardWorkspace();
                return false;
            }
            single = false;
            break;
        default:
            m_upgradeInfo.UpgradeType = NET_UPGRADE_UNKNOWN;
            Show("未知升级文件类型");
            return false;
    }

    if (single) {
        // Every camera would fail on a file that cannot be read; say it once.
        if (!IsReadableRegularFile(m_strUpdateFile)) {
            Show("升级文件无法打开");
            return false;
        }
        m_upgradeFiles.push_back(m_strUpdateFile);
        BindAll(0);
    }

    // What the routes queued must fit the task and must serve every camera.
    for (const std::string& file : m_upgradeFiles) {
        if (file.size() > kMaxSendPath) {
            Show("升级文件路径过长");
            DiscardWorkspace();
            return false;
        }
    }
    if (!EveryHwHasFile()) {
        Show("升级文件硬件版本不匹配");
        DiscardWorkspace();
        return false;
    }
    if (!JudgeSentFiles(force, !single)) {
        DiscardWorkspace();
        return false;
    }

    std::memset(m_upgradeInfo.szFilePath, 0, sizeof(m_upgradeInfo.szFilePath));
    std::memcpy(m_upgradeInfo.szFilePath, m_strUpdateFile.data(),
                std::min(m_strUpdateFile.size(), sizeof(m_upgradeInfo.szFilePath) - 1));
    return true;
}

}  // namespace upgrade
