#pragma once

#include <cstdint>
#include <string>
#include <vector>

// File classes answered by CUpdataFileCheck::GetFileType.
inline constexpr int FILE_CLASS_NONE = -1;
inline constexpr int FILE_CLASS_APP = 0;
inline constexpr int FILE_CLASS_KERNEL = 2;
inline constexpr int FILE_CLASS_FS = 3;
inline constexpr int FILE_CLASS_PACKAGE = 4;

// Package kinds answered by CUpdataFileCheck::GetPackKind.
inline constexpr int PACK_KIND_UNREADABLE = 0;
inline constexpr int PACK_KIND_UNKNOWN = -1;
inline constexpr int PACK_KIND_SINGLE = 1;
inline constexpr int PACK_KIND_MULTI = 2;
inline constexpr int PACK_KIND_BUNDLE = 3;

// Largest file that may be sent to a camera (35 MiB).
inline constexpr std::uint64_t UPGRADE_FILE_SIZE_LIMIT = 36700160;

// Decides what a firmware file is and whether it fits a camera. Texts are
// taken by value: lower-casing works on the method's own copy (ASCII rules on
// UTF-8 text).
class CUpdataFileCheck {
  public:
    CUpdataFileCheck();
    virtual ~CUpdataFileCheck();

    CUpdataFileCheck(const CUpdataFileCheck&) = default;
    CUpdataFileCheck& operator=(const CUpdataFileCheck&) = default;
    CUpdataFileCheck(CUpdataFileCheck&&) = default;
    CUpdataFileCheck& operator=(CUpdataFileCheck&&) = default;

    // 0 application, 2 kernel, 3 file system, 4 package, -1 none.
    int GetFileType(std::string fileName);
    // The name holds the device type directly followed by an application suffix.
    bool IsAppFileOfDevType(std::string fileName, std::string devType);
    // The three characters after "qzt" agree ('n' is a wildcard in the first two).
    bool MatchSeriesCode(std::string fileName, std::string devType);
    // 1 single pack, 2 multi-application pack, 3 bundle, -1 unknown, 0 unreadable.
    int GetPackKind(std::string filePath);
    // Appends every plain entry of dirPath (no leading '.', no directory) to
    // names and dirPath/name to paths. False if the directory cannot be read.
    bool ListDirFiles(std::string dirPath, std::vector<std::string>& names,
                      std::vector<std::string>& paths);
    // The name holds "_V<major>.<minor>"; minor 0 is also met by minor 3 and 6.
    bool HasVersionTag(std::string fileName, int major, int minor);
    // Writes dir/packName as a single update pack of the given files:
    // 1 written, 0 the pack writer failed, -1 out of memory, 2 empty pack name.
    int ComposePack(std::string dir, std::string packName, const std::vector<std::string>& files);
    // 1 at most 35 MiB, 0 larger, -1 cannot be opened.
    int CheckFileSize(std::string filePath);
    // The hardware code after "_YJ" ("111" when absent) fits hwVersion.
    bool MatchHardVersion(std::string fileName, std::string hwVersion);
    // The three-character hardware code the name is made for; empty when it
    // names none (no "_YJ<digit or #>..._", or a code of another length).
    std::string HardwareCode(std::string fileName);
    // Lower-cases the kernel name in place and returns it.
    std::string GetKernelName();

  private:
    std::string m_strExtJffs2;
    std::string m_strExtTarGz;
    std::string m_strExtYaffs2;
    std::string m_strExtUbifs;
    std::string m_strExtCramfs;
    std::string m_strKernelName;
    std::string m_strExtTgz;
    std::string m_strExtBin;
};
