#include "pack/UpdataFileCheck.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "pack/UpdatePack.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

CUpdataFileCheck::CUpdataFileCheck()
    : m_strExtJffs2(".jffs2"),
      m_strExtTarGz(".tar.gz"),
      m_strExtYaffs2(".yaffs2"),
      m_strExtUbifs(".ubifs"),
      m_strExtCramfs(".cramfs"),
      m_strKernelName("uImage"),
      m_strExtTgz(".tgz"),
      m_strExtBin(".bin") {}

CUpdataFileCheck::~CUpdataFileCheck() = default;

std::string CUpdataFileCheck::GetKernelName() {
    m_strKernelName = Lower(m_strKernelName);
    return m_strKernelName;
}

int CUpdataFileCheck::GetFileType(std::string fileName) {
    const std::string name = Lower(std::move(fileName));
    if (Contains(name, m_strExtJffs2) || Contains(name, m_strExtTarGz) ||
        Contains(name, m_strExtYaffs2) || Contains(name, m_strExtUbifs)) {
        return FILE_CLASS_APP;
    }
    if (EndsWith(name, m_strExtTgz) || EndsWith(name, m_strExtBin)) {
        return FILE_CLASS_PACKAGE;
    }
    if (Contains(name, GetKernelName())) {
        return FILE_CLASS_KERNEL;
    }
    if (EndsWith(name, m_strExtCramfs)) {
        return FILE_CLASS_FS;
    }
    return FILE_CLASS_NONE;
}

bool CUpdataFileCheck::IsAppFileOfDevType(std::string fileName, std::string devType) {
    const std::string name = Lower(std::move(fileName));
    const std::string type = Lower(std::move(devType));
    for (const std::string* ext :
         {&m_strExtJffs2, &m_strExtTarGz, &m_strExtYaffs2, &m_strExtUbifs}) {
        if (Contains(name, type + *ext)) {
            return true;
        }
    }
    return false;
}

bool CUpdataFileCheck::MatchSeriesCode(std::string fileName, std::string devType) {
    const std::string name = Lower(std::move(fileName));
    const std::string type = Lower(std::move(devType));
    if (name.size() < 6 || type.size() < 6) {
        return false;
    }
    const std::size_t a = name.find("qzt");
    const std::size_t b = type.find("qzt");
    if (a == std::string::npos || b == std::string::npos) {
        return false;
    }
    // Fewer than three characters after the marker: no code, no match.
    if (name.size() - a < 6 || type.size() - b < 6) {
        return false;
    }
    const char* fc = name.data() + a + 3;
    const char* dc = type.data() + b + 3;
    for (int i = 0; i < 2; ++i) {
        if (fc[i] != dc[i] && fc[i] != 'n' && dc[i] != 'n') {
            return false;
        }
    }
    return fc[2] == dc[2];
}

int CUpdataFileCheck::GetPackKind(std::string filePath) {
    // Read access is all that is needed: a read-only firmware file is valid.
    platform::Fd fd = platform::OpenRegularForReading(filePath);
    if (!fd.Ok()) {
        return PACK_KIND_UNREADABLE;
    }
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    const std::size_t got = platform::ReadFull(fd.Get(), bytes, sizeof bytes);
    if (got < sizeof bytes) {
        return PACK_KIND_UNKNOWN;
    }
    std::uint32_t magic = 0;
    std::memcpy(&magic, bytes, sizeof magic);
    switch (magic) {
        case PACK_MAGIC_SINGLE:
            return PACK_KIND_SINGLE;
        case PACK_MAGIC_MULTI:
            return PACK_KIND_MULTI;
        case PACK_MAGIC_BUNDLE:
            return PACK_KIND_BUNDLE;
        default:
            return PACK_KIND_UNKNOWN;
    }
}

bool CUpdataFileCheck::ListDirFiles(std::string dirPath, std::vector<std::string>& names,
                                    std::vector<std::string>& paths) {
    std::vector<platform::DirEntry> entries;
    if (!platform::ListFolder(dirPath, entries)) {
        return false;
    }
    for (const auto& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.' || entry.directory) {
            continue;
        }
        names.push_back(entry.name);
        paths.push_back(platform::JoinPath(dirPath, entry.name));
    }
    return true;
}

bool CUpdataFileCheck::HasVersionTag(std::string fileName, int major, int minor) {
    auto hasTag = [&](int mi) {
        char tag[40];
        std::snprintf(tag, sizeof tag, "_V%d.%d", major, mi);
        return Contains(fileName, tag);
    };
    if (hasTag(minor)) {
        return true;
    }
    return minor == 0 && (hasTag(3) || hasTag(6));
}

int CUpdataFileCheck::ComposePack(std::string dir, std::string packName,
                                  const std::vector<std::string>& files) {
    if (packName.empty()) {
        return 2;
    }
    tPackHead head{};
    head.uiPackMagic = PACK_MAGIC_SINGLE;
    head.uifileNum = static_cast<std::uint16_t>(files.size());
    head.PackType = 1;
    std::unique_ptr<PackPathSlot[]> slots(new (std::nothrow) PackPathSlot[files.size()]());
    if (!slots && !files.empty()) {
        return -1;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        // A path that does not fit its slot would name another file once cut.
        if (files[i].size() >= PACK_PATH_SLOT) {
            return 0;
        }
        std::memcpy(slots[i], files[i].data(), files[i].size());
    }
    if (files.size() > UINT16_MAX) {
        return 0;
    }
    const std::string packPath = platform::JoinPath(dir, packName);
    const int rc = UpdatePack(slots.get(), packPath.c_str(), &head, static_cast<int>(files.size()));
    return rc != 0 ? 0 : 1;
}

int CUpdataFileCheck::CheckFileSize(std::string filePath) {
    platform::Fd fd = platform::OpenRegularForReading(filePath);
    if (!fd.Ok()) {
        return -1;
    }
    const std::int64_t len = platform::SizeOf(fd.Get());
    if (len < 0) {
        return -1;
    }
    return static_cast<std::uint64_t>(len) > UPGRADE_FILE_SIZE_LIMIT ? 0 : 1;
}

std::string CUpdataFileCheck::HardwareCode(std::string fileName) {
    std::string code;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = fileName.find("_YJ", pos);
        if (at == std::string::npos || at + 3 >= fileName.size()) {
            break;
        }
        const char next = fileName[at + 3];
        if ((next >= '0' && next <= '9') || next == '#') {
            const std::size_t end = fileName.find('_', at + 3);
            if (end != std::string::npos) {
                code = fileName.substr(at + 3, end - (at + 3));
            }
            break;
        }
        pos = at + 3;
    }
    return code.size() == 3 ? code : std::string();
}

bool CUpdataFileCheck::MatchHardVersion(std::string fileName, std::string hwVersion) {
    std::string code = HardwareCode(std::move(fileName));
    if (code.empty()) {
        code = "111";
    }
    // A hardware version shorter than the code cannot match it.
    if (hwVersion.size() < 3) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (code[i] != '#' && code[i] != hwVersion[i]) {
            return false;
        }
    }
    return true;
}
