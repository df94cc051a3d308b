#pragma once

// The update pack ("BIN") container: a 64-byte header, a table of 200-byte
// file entries, the files' bytes in table order and an MD5 digest over all of
// it. All integers are little-endian.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "pack records are read and written in host order, which must be little-endian");

// Roles of a pack, held in tPackHead::uiPackMagic.
inline constexpr std::uint32_t PACK_MAGIC_SINGLE = 0x89ABCDEFu;  // bytes EF CD AB 89
inline constexpr std::uint32_t PACK_MAGIC_MULTI = 0x01234567u;   // bytes 67 45 23 01
inline constexpr std::uint32_t PACK_MAGIC_BUNDLE = 0x88888888u;  // bytes 88 88 88 88

// File type codes of tPackFileInfo::ucFileType.
inline constexpr std::uint8_t PACK_FILE_APP = 1;
inline constexpr std::uint8_t PACK_FILE_KERNEL = 2;
inline constexpr std::uint8_t PACK_FILE_FS = 3;
inline constexpr std::uint8_t PACK_FILE_OTHER = 4;
inline constexpr std::uint8_t PACK_FILE_PATH = 5;
inline constexpr std::uint8_t PACK_FILE_BIN = 6;

// Readers accept 1 .. PACK_MAX_FILES entries.
inline constexpr unsigned PACK_MAX_FILES = 99;
// Width of one source path slot handed to UpdatePack.
inline constexpr std::size_t PACK_PATH_SLOT = 256;
// Longest output path that DecUpdatePack and BinUpdateAppFileType compose.
inline constexpr std::size_t PACK_MAX_OUT_PATH = 254;
inline constexpr std::size_t PACK_DIGEST_LEN = 16;

#pragma pack(push, 1)
struct tPackHead {
    std::uint32_t uiPackMagic;
    std::uint16_t uifileNum;
    std::uint8_t PackType;
    std::uint8_t ucReserved1[37];
    std::uint32_t uiDataLen;
    std::uint8_t ucReserved2[16];
};

struct tPackFileInfo {
    std::uint32_t uiFileSize;
    std::uint8_t ucFileType;
    std::uint8_t ucReserved[3];
    char szFileName[128];  // not terminated when the name fills it
    char szFilePath[64];
};
#pragma pack(pop)

static_assert(sizeof(tPackHead) == 64);
static_assert(offsetof(tPackHead, uiPackMagic) == 0);
static_assert(offsetof(tPackHead, uifileNum) == 4);
static_assert(offsetof(tPackHead, PackType) == 6);
static_assert(offsetof(tPackHead, ucReserved1) == 7);
static_assert(offsetof(tPackHead, uiDataLen) == 44);
static_assert(offsetof(tPackHead, ucReserved2) == 48);

static_assert(sizeof(tPackFileInfo) == 200);
static_assert(offsetof(tPackFileInfo, uiFileSize) == 0);
static_assert(offsetof(tPackFileInfo, ucFileType) == 4);
static_assert(offsetof(tPackFileInfo, ucReserved) == 5);
static_assert(offsetof(tPackFileInfo, szFileName) == 8);
static_assert(offsetof(tPackFileInfo, szFilePath) == 136);

using PackPathSlot = char[PACK_PATH_SLOT];

// UpdatePack's result for a file count that no reader accepts (0, or more
// than PACK_MAX_FILES); nothing is written.
inline constexpr int PACK_E_FILE_COUNT = 11;
// UpdatePack's result for a second file of one name (after the cut to 128
// bytes) other than the kernel, file-system and application roles, which keep
// their codes 6, 7 and 8: no reader could unpack both. Nothing is written.
inline constexpr int PACK_E_DUPLICATE_NAME = 12;

// Writes a pack at packPath from `count` source files. pHead carries the
// caller's uiPackMagic, uifileNum (must equal count) and PackType; uiDataLen is
// filled in here. The application image is moved to the last table entry and
// its slot in `paths` is swapped to match. 0 on success, 1..12 on failure.
int UpdatePack(PackPathSlot* paths, const char* packPath, tPackHead* pHead, int count);

// Reads and verifies a pack. On success fills *pHead and returns its file
// table of pHead->uifileNum entries; on any failure returns null.
std::unique_ptr<tPackFileInfo[]> CheckFileMD5(const char* packPath, tPackHead* pHead);

// Checks an entry's (NUL-terminated) name and path against its type code:
// 0 accepted, -1 rejected.
int CheckUpdateFile(std::uint8_t fileType, const char* fileName, const char* filePath);

// Verifies a pack and writes each of its files into outDir.
// 0 success, 1..6 failure.
int DecUpdatePack(const char* packPath, const char* outDir);

// Writes outDir/outName: a copy of srcPack whose application entries carry
// type code 6, with a new digest. 0 success, 1..8 failure.
int BinUpdateAppFileType(const char* srcPack, const char* outDir, const char* outName);

// The entry's name as a terminated text (at most 128 bytes of szFileName).
std::string PackEntryName(const tPackFileInfo& info);
// The entry's path as a terminated text (at most 64 bytes of szFilePath).
std::string PackEntryPath(const tPackFileInfo& info);
