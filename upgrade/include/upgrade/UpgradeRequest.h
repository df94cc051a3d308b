#pragma once

// The upgrade request: from the ticked cameras and the chosen update file to
// the list of files to send and, per hardware version, which of them a camera
// gets. No GUI toolkit: the dialog hands in the selection and shows what this
// asks it to show.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "korvel.h"
#include "pack/UpdataFileCheck.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"

namespace upgrade {

// Longest path a device task and the camera library's record carry.
inline constexpr std::size_t kMaxSendPath = 255;

// What the request does outside itself; every member may be empty.
struct RequestEnv {
    std::function<void(const std::string& text)> showMessage;  // modal box "提示"
    std::function<void(const std::string& line)> netLog;       // camera library's log
    platform::Clock clock;                                     // names the workspace
};

// One ticked row of the device list.
struct SelectedCamera {
    std::string type;
    std::string softVersion;
    std::string hardVersion;
    // Already on the version the file names and to be passed over: such a
    // camera joins any version group, so that a batch re-run after a partial
    // one is not refused for the cameras it already brought up.
    bool current = false;
};

enum class GroupResult { Ok, MixedTypes, MixedVersions, NoneTicked };

// "2.3.1_180101" gives "2.3": the text before the first '_', then before its
// last '.'; empty when either is missing.
std::string VersionKey(const std::string& softVersion);

// Reads a version key as "%d.%d" would: blanks, a signed number, a point
// directly after it, blanks, a signed number; the rest is ignored. A number
// outside int is refused rather than wrapped.
bool ParseVersionKey(const std::string& key, int& major, int& minor);

class CUpgradeRequest {
  public:
    explicit CUpgradeRequest(RequestEnv env = {});
    ~CUpgradeRequest();
    CUpgradeRequest(const CUpgradeRequest&) = delete;
    CUpgradeRequest& operator=(const CUpgradeRequest&) = delete;

    // Starts a request: clears the working state (UpgradeType back to 0) and
    // groups the ticked cameras. The first camera that differs decides.
    GroupResult Group(const std::vector<SelectedCamera>& ticked);

    // Checks the update file and prepares what is sent. On failure the
    // message has been shown and any workspace of this request is gone.
    bool PrepareUpgradeFile(const std::string& updateFile, bool force);

    // The preparers; public so that each can be driven on its own.
    int PrepareBinPack(const std::string& packPath, bool force);
    int CheckSinglePack(std::string& message, const std::vector<std::string>& names, bool force,
                        const std::string& packPath, const std::string& forcedName);
    int ComposeAppPacks(std::string& message, const std::vector<std::string>& paths,
                        const std::vector<std::string>& names);
    int SelectForcedAppFiles(std::string& message, const std::vector<std::string>& paths,
                             const std::vector<std::string>& names);

    // The file a camera of this hardware version gets; null when none.
    const std::string* FileFor(const std::string& hardVersion) const;

    // Removes the workspace of this request's pack, if it made one.
    void DiscardWorkspace();

    const std::string& CameraType() const { return m_strCameraType; }
    const std::string& VersionKeyText() const { return m_strVersionKey; }
    const std::vector<std::string>& HwVersions() const { return m_hwVersions; }
    const std::vector<std::string>& UpgradeFiles() const { return m_upgradeFiles; }
    // Entry j: position in UpgradeFiles() of the file for hardware version j,
    // -1 while it has none.
    const std::vector<int>& FileIndex() const { return m_fileIndex; }
    const tNetFileUpdate& UpgradeInfo() const { return m_upgradeInfo; }
    const std::string& WorkDir() const { return m_strWorkDir; }
    void SetWorkDir(const std::string& dir) { m_strWorkDir = dir; }
    const std::string& UpdateFile() const { return m_strUpdateFile; }

  private:
    void Show(const std::string& text) const;
    void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Hardware version j is served by m_upgradeFiles[pos] unless it already
    // has a file: the first accepted file bound to it wins.
    void Bind(std::size_t j, std::size_t pos);
    void BindAll(std::size_t pos);
    bool EveryHwHasFile() const;
    // Application images with the hardware version each is bound to.
    using BoundImages = std::vector<std::pair<std::string, std::size_t>>;
    bool CoversEveryHw(const BoundImages& images) const;
    bool Unusable(const BoundImages& images, bool seenApp, std::string& message) const;
    // Where copies and composed packs go: a folder no unpacked name can reach.
    std::string SendDir() const { return platform::JoinPath(m_strWorkDir, ".send"); }
    // An application image named for the ticked cameras' type: by name (in any
    // letter case when anyCase), by the accepted-model table or the series code.
    bool FitsCameraType(const std::string& name, bool anyCase);
    // Every application entry of the pack's own table fits the type.
    bool TableFitsType(const std::string& packPath, std::string& message);
    // No application entry of the pack names a hardware code that one of these
    // hardware versions does not fit.
    bool TableFitsHardware(const std::string& packPath, const std::vector<std::size_t>& hw);
    // The same for a table already read: its application entries' names.
    bool AppsFitHardware(const std::vector<std::string>& apps, const std::vector<std::size_t>& hw);
    // The last word on what is sent: every file some camera receives is
    // within the size limit (pack routes) and, unless forced, holds no image
    // for another type or hardware code. Shows the refusal.
    bool JudgeSentFiles(bool force, bool packRoute);
    int FirstMatchingHw(const std::string& name);
    bool MakeWorkspace(std::string& trouble);
    // What keeps the workspace from taking `needed` more bytes, in the words
    // shown to the user; empty when nothing can be seen.
    std::string WorkspaceTrouble(std::uint64_t needed) const;
    // The real cause of an unpacking that failed with `code` into `dir`, when
    // it is the workspace's (a path too long, a full or unwritable folder).
    std::string UnpackTrouble(const std::string& packPath, const std::string& dir, int code) const;
    void RemoveInnerDir(const std::string& dir);
    int WalkBundle(const std::vector<std::string>& names, const std::vector<std::string>& paths,
                   bool force, std::string& message);
    bool ListSorted(const std::string& dir, std::vector<std::string>& names,
                    std::vector<std::string>& paths);

    RequestEnv m_env;
    bool m_ownWorkspace = false;

    std::string m_strUpdateFile;
    std::string m_strCameraType;
    std::string m_strVersionKey;
    std::vector<std::string> m_hwVersions;
    std::vector<std::string> m_upgradeFiles;
    std::vector<int> m_fileIndex;
    tNetFileUpdate m_upgradeInfo{};
    std::string m_strWorkDir;
    CUpdataFileCheck m_fileCheck;
};

}  // namespace upgrade
