#include "pack/UpdatePack.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "pack/PackLog.h"
#include "platform/FileIo.h"
#include "platform/Md5.h"
#include "platform/Paths.h"

using platform::Fd;
using platform::kPiece;
using platform::Md5;

namespace {

constexpr std::size_t kHeadLen = sizeof(tPackHead);
constexpr std::size_t kEntryLen = sizeof(tPackFileInfo);

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Sizes appear in the diagnostics as "%d".
int AsLogInt(std::uint64_t v) {
    return static_cast<int>(static_cast<std::uint32_t>(v));
}

std::unique_ptr<std::uint8_t[]> NewPieceNoThrow() {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[kPiece]);
}

// A name that, joined to a directory, stays a plain file inside it.
bool IsSafeEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Reads, checks and hashes one pack from the start of `fd`; the body of
// CheckFileMD5, shared with the readers that go on to use the same descriptor.
std::unique_ptr<tPackFileInfo[]> VerifyPack(int fd, tPackHead* pHead) {
    static const char* const kName = "CheckFileMD5";
    const std::size_t gotHead = platform::ReadFull(fd, pHead, kHeadLen);
    if (gotHead < kHeadLen) {
        PackLog("%s fread filed read %d,need %d!!!\n", kName, AsLogInt(gotHead),
                AsLogInt(kHeadLen));
        return nullptr;
    }
    if (pHead->PackType != 0 && pHead->PackType != 1) {
        PackLog("%s PackType Error!!! recv Type %d\n", kName, pHead->PackType);
        return nullptr;
    }
    Md5 md5;
    if (!md5.ok()) {
        PackLog("%s malloc filed!!!\n", kName);
        return nullptr;
    }
    md5.update(pHead, kHeadLen);
    const unsigned fileNum = pHead->uifileNum;
    if (fileNum == 0 || fileNum > PACK_MAX_FILES) {
        PackLog("%s tPackHead.uifileNum = %d\n", kName, static_cast<int>(fileNum));
        return nullptr;
    }
    std::unique_ptr<tPackFileInfo[]> table(new (std::nothrow) tPackFileInfo[fileNum]);
    auto piece = NewPieceNoThrow();
    if (!table || !piece) {
        PackLog("%s malloc filed!!!\n", kName);
        return nullptr;
    }
    const std::size_t need = kEntryLen * fileNum;
    const std::size_t gotTable = platform::ReadFull(fd, table.get(), need);
    if (gotTable < need) {
        PackLog("%s fread filed read %d,need %d!!!\n", kName, AsLogInt(gotTable), AsLogInt(need));
        return nullptr;
    }
    md5.update(table.get(), need);
    // A table that disagrees with the data would cut the files at the wrong
    // places, and the digest cannot tell: it covers whatever was written.
    std::uint64_t sum = 0;
    for (unsigned i = 0; i < fileNum; ++i) {
        sum += table[i].uiFileSize;
    }
    if (sum != pHead->uiDataLen) {
        PackLog("%s file sizes add up to %llu, uiDataLen = %u\n", kName,
                static_cast<unsigned long long>(sum), static_cast<unsigned>(pHead->uiDataLen));
        return nullptr;
    }
    // uiDataLen is only a claim: the data is streamed, so a short file ends the
    // loop instead of growing any allocation.
    const std::uint64_t dataLen = pHead->uiDataLen;
    std::uint64_t done = 0;
    while (done < dataLen) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, dataLen - done));
        const std::size_t n = platform::ReadSome(fd, piece.get(), want);
        if (n == 0) {
            PackLog("%s fread  failed ! read len %d,need len %d\n", kName, AsLogInt(done),
                    AsLogInt(dataLen));
            return nullptr;
        }
        md5.update(piece.get(), n);
        done += n;
    }
    std::uint8_t stored[PACK_DIGEST_LEN];
    if (platform::ReadFull(fd, stored, sizeof stored) < sizeof stored) {
        return nullptr;
    }
    const platform::Digest digest = md5.finish();
    if (!md5.ok() || std::memcmp(digest.data(), stored, sizeof stored) != 0) {
        return nullptr;
    }
    return table;
}

// Copies exactly `len` bytes from `in` to `out`. Returns the bytes copied;
// *writeFailed tells a failed write from a short source.
std::uint64_t CopyBytes(int in, int out, std::uint64_t len, std::uint8_t* piece, Md5* md5,
                        bool* writeFailed) {
    *writeFailed = false;
    std::uint64_t done = 0;
    while (done < len) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, len - done));
        const std::size_t n = platform::ReadSome(in, piece, want);
        if (n == 0) {
            break;
        }
        if (md5 != nullptr) {
            md5->update(piece, n);
        }
        if (!platform::WriteAll(out, piece, n)) {
            *writeFailed = true;
            break;
        }
        done += n;
    }
    return done;
}

// An output written under a temporary name beside its final one, so that a
// killed or failed write never leaves a torn file under the real name and a
// file planted there (a hard link into a foreign folder) is replaced, never
// written through. Whatever is not committed is removed.
class TempOut {
  public:
    explicit TempOut(const std::string& finalPath) : final_(finalPath) {
        out_.emplace(platform::CreateTempBeside(finalPath, &temp_));
    }
    ~TempOut() {
        if (!done_ && out_->Ok()) {
            out_.reset();
            (void)platform::RemoveFile(temp_);
        }
    }
    TempOut(const TempOut&) = delete;
    TempOut& operator=(const TempOut&) = delete;

    bool Ok() const { return out_->Ok(); }
    platform::OutFile& File() { return *out_; }
    // Closes the file and renames it into place; false when either failed,
    // and then the temporary file is gone.
    bool Commit() {
        done_ = true;
        if (!out_->Finish()) {
            (void)platform::RemoveFile(temp_);
            return false;
        }
        return platform::CommitTemp(temp_, final_) == platform::Commit::Done;
    }

  private:
    std::string final_;
    std::string temp_;
    std::optional<platform::OutFile> out_;
    bool done_ = false;
};

// Something other than a regular file under an output's name (a symbolic
// link, a folder) is left alone rather than replaced.
bool OccupiedByNonFile(const std::string& path) {
    const platform::FileInfo info = platform::InfoOf(path, false);
    return info.Exists() && !info.Regular();
}

}  // namespace

std::string PackEntryName(const tPackFileInfo& info) {
    return std::string(info.szFileName, strnlen(info.szFileName, sizeof info.szFileName));
}

std::string PackEntryPath(const tPackFileInfo& info) {
    return std::string(info.szFilePath, strnlen(info.szFilePath, sizeof info.szFilePath));
}

int UpdatePack(PackPathSlot* paths, const char* packPath, tPackHead* pHead, int count) {
    static const char* const kName = "UpdatePack";
    if (pHead == nullptr || paths == nullptr || packPath == nullptr) {
        PackLog("%s invaild param\n", kName);
        return 1;
    }
    if (count != static_cast<int>(pHead->uifileNum)) {
        PackLog("%s uifileNum param invaild(%d <-> %d)\n", kName,
                static_cast<int>(pHead->uifileNum), count);
        return 2;
    }
    // Every reader refuses other counts, so such a pack would only look written.
    if (count < 1 || count > static_cast<int>(PACK_MAX_FILES)) {
        PackLog("%s %d files cannot be read back from a pack (1 to %u)!!\n", kName, count,
                PACK_MAX_FILES);
        return PACK_E_FILE_COUNT;
    }
    const auto n = static_cast<std::size_t>(count);
    std::unique_ptr<tPackFileInfo[]> table(new (std::nothrow) tPackFileInfo[n]());
    auto piece = NewPieceNoThrow();
    if (!table || !piece) {
        PackLog("%s malloc filed!!!\n", kName);
        return 3;
    }

    std::vector<platform::FileInfo> sources(n);
    std::uint64_t total = 0;
    std::size_t kernel = n;
    std::size_t fs = n;
    std::size_t app = n;
    std::set<std::string> names;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string path(paths[i], strnlen(paths[i], PACK_PATH_SLOT));
        platform::FileInfo& st = sources[i];
        st = platform::InfoOf(path, true);
        if (!st.Exists()) {
            PackLog("%s open file %s failed!!\n", kName, path.c_str());
            return 4;
        }
        if (!st.Regular()) {
            PackLog("%s %s is not file!!\n", kName, path.c_str());
            return 5;
        }
        // Sizes and their sum must fit the 32-bit fields of the format.
        const std::uint64_t size = st.size;
        if (size > UINT32_MAX) {
            PackLog("%s file %s is too large for a pack (%llu bytes)!!\n", kName, path.c_str(),
                    static_cast<unsigned long long>(size));
            return 4;
        }
        tPackFileInfo& entry = table[i];
        entry.uiFileSize = static_cast<std::uint32_t>(size);
        entry.ucFileType = PACK_FILE_OTHER;
        const std::size_t slash = path.find_last_of(platform::kPathSeparators);
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        std::memcpy(entry.szFileName, base.data(), std::min(base.size(), sizeof entry.szFileName));
        const std::string name = PackEntryName(entry);

        if (name == "uImage") {
            if (kernel != n) {
                PackLog("%s already have kernel file  %s!!\n", kName, name.c_str());
                return 6;
            }
            entry.ucFileType = PACK_FILE_KERNEL;
            kernel = i;
        }
        if (name == "rootfs.cramfs") {
            if (fs != n) {
                PackLog("%s already have FS file  %s!!\n", kName, name.c_str());
                return 7;
            }
            entry.ucFileType = PACK_FILE_FS;
            fs = i;
        }
        if (Contains(name, ".jffs2") || Contains(name, ".yaffs2")) {
            if (app != n) {
                PackLog("%s already have APP file  %s!!\n", kName, name.c_str());
                return 8;
            }
            entry.ucFileType = PACK_FILE_APP;
            app = i;
        }
        if (!names.insert(name).second) {
            PackLog("%s already have file  %s!!\n", kName, name.c_str());
            return PACK_E_DUPLICATE_NAME;
        }
        total += size;
        if (total > UINT32_MAX) {
            PackLog("%s total data length %llu does not fit a pack!!\n", kName,
                    static_cast<unsigned long long>(total));
            return 4;
        }
    }

    // The application image goes last; its path slot moves with it so that
    // the data keeps following the table.
    if (app != n && app != n - 1) {
        std::swap(table[app], table[n - 1]);
        PackPathSlot tmp;
        std::memcpy(tmp, paths[app], PACK_PATH_SLOT);
        std::memcpy(paths[app], paths[n - 1], PACK_PATH_SLOT);
        std::memcpy(paths[n - 1], tmp, PACK_PATH_SLOT);
        std::swap(sources[app], sources[n - 1]);
    }
    pHead->uiDataLen = static_cast<std::uint32_t>(total);

    // Truncating a source that is also the pack would destroy it.
    const platform::FileInfo target = platform::InfoOf(packPath, true);
    if (target.Exists()) {
        for (const platform::FileInfo& st : sources) {
            if (st.SameFileAs(target)) {
                PackLog("%s pack file %s is also a source file!!\n", kName, packPath);
                return 8;
            }
        }
    }
    Md5 md5;
    if (!md5.ok()) {
        PackLog("%s malloc filed!!!\n", kName);
        return 3;
    }
    // Written beside its name and renamed into place, so that a kill or a
    // failure never leaves a torn pack under the name a caller would send.
    TempOut temp(packPath);
    platform::OutFile& out = temp.File();
    if (!temp.Ok()) {
        PackLog("%s fopen file %s fail 1\n", kName, packPath);
        return 8;
    }
    auto writeFailed = [&]() {
        PackLog("%s write file %s failed!!\n", kName, packPath);
        return 8;
    };

    md5.update(pHead, kHeadLen);
    md5.update(table.get(), kEntryLen * n);
    if (!out.Write(pHead, kHeadLen) || !out.Write(table.get(), kEntryLen * n)) {
        return writeFailed();
    }

    int result = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string path(paths[i], strnlen(paths[i], PACK_PATH_SLOT));
        Fd in = platform::OpenRegularForReading(path);
        if (!in.Ok()) {
            PackLog("%s fopen file %s failed 2\n", kName, path.c_str());
            result = 9;
            break;
        }
        // Copy to the end of the source, as it is now, and compare with the
        // size the table promised.
        bool wfail = false;
        const std::uint64_t copied =
            CopyBytes(in.Get(), out.Get(), UINT64_MAX, piece.get(), &md5, &wfail);
        out.Wrote(copied);
        if (wfail) {
            return writeFailed();
        }
        if (copied != table[i].uiFileSize) {
            PackLog("%s Read file %s failed  read = %d,fileSize = %d!!\n", kName, path.c_str(),
                    AsLogInt(copied), AsLogInt(table[i].uiFileSize));
            result = 10;
            break;
        }
    }

    if (result != 0) {
        return result;
    }
    const platform::Digest digest = md5.finish();
    if (!out.Write(digest.data(), digest.size()) || !temp.Commit()) {
        return writeFailed();
    }
    return result;
}

std::unique_ptr<tPackFileInfo[]> CheckFileMD5(const char* packPath, tPackHead* pHead) {
    if (packPath == nullptr || pHead == nullptr) {
        PackLog("%s invaild param\n", "CheckFileMD5");
        return nullptr;
    }
    Fd fd = platform::OpenRegularForReading(packPath);
    if (!fd.Ok()) {
        return nullptr;
    }
    return VerifyPack(fd.Get(), pHead);
}

int CheckUpdateFile(std::uint8_t fileType, const char* fileName, const char* filePath) {
    static const char* const kName = "CheckUpdateFile";
    if (fileName == nullptr || filePath == nullptr) {
        return -1;
    }
    const std::string_view name(fileName);
    switch (fileType) {
        case PACK_FILE_APP:
            if (Contains(name, ".jffs2") || Contains(name, ".yaffs2")) {
                return 0;
            }
            PackLog("%s check update file type:%s mismatch with dev type: .jffs2 or .yaffs2\n",
                    kName, fileName);
            return -1;
        case PACK_FILE_KERNEL:
            if (Contains(name, "uImage")) {
                return 0;
            }
            PackLog("%s invalid kernel:%s\n", kName, fileName);
            return -1;
        case PACK_FILE_FS:
            if (Contains(name, ".cramfs")) {
                return 0;
            }
            PackLog("%s invalid filesystem:%s\n", kName, fileName);
            return -1;
        case PACK_FILE_OTHER:
            return 0;
        case PACK_FILE_PATH:
            if (filePath[0] != '\0') {
                return 0;
            }
            PackLog("%s invalid FilePath is NULL\n", kName);
            return -1;
        case PACK_FILE_BIN:
            if (Contains(name, ".bin")) {
                return 0;
            }
            PackLog("%s invalid filesystem:%s\n", kName, fileName);
            return -1;
        default:
            PackLog("%s Unkown file Type %d\n", kName, static_cast<int>(fileType));
            return -1;
    }
}

int DecUpdatePack(const char* packPath, const char* outDir) {
    static const char* const kName = "DecUpdatePack";
    // An empty directory would put the files at the root of the file system.
    if (packPath == nullptr || outDir == nullptr || outDir[0] == '\0') {
        PackLog("%s DecUpdatePack invaild param\n", kName);
        return 1;
    }
    // One descriptor serves the check and the unpacking, so the bytes written
    // are the bytes that were verified even if the path is swapped meanwhile.
    Fd pack = platform::OpenRegularForReading(packPath);
    if (!pack.Ok()) {
        return 2;
    }
    tPackHead head{};
    std::unique_ptr<tPackFileInfo[]> table = VerifyPack(pack.Get(), &head);
    if (!table) {
        return 2;
    }
    auto piece = NewPieceNoThrow();
    const auto dataStart = static_cast<std::uint64_t>(kHeadLen + kEntryLen * head.uifileNum);
    if (!piece || !platform::SeekTo(pack.Get(), dataStart)) {
        return 3;
    }

    int result = 0;
    std::set<std::string> written;
    for (unsigned i = 0; i < head.uifileNum; ++i) {
        const tPackFileInfo& entry = table[i];
        const std::string name = PackEntryName(entry);
        const std::string path = PackEntryPath(entry);
        if (CheckUpdateFile(entry.ucFileType, name.c_str(), path.c_str()) != 0) {
            PackLog("%s CheckUpdateFile failed name:%s,type %d,path %s\n", kName, name.c_str(),
                    static_cast<int>(entry.ucFileType), path.c_str());
            result = 4;
            break;
        }
        if (!IsSafeEntryName(name)) {
            PackLog("%s DecUpdatePack refused file name:\"%s\"\n", kName, name.c_str());
            result = 4;
            break;
        }
        // A second entry of one name would silently replace the first.
        if (!written.insert(name).second) {
            PackLog("%s DecUpdatePack duplicate file name:\"%s\"\n", kName, name.c_str());
            result = 4;
            break;
        }
        const std::string outPath = platform::JoinPath(outDir, name);
        if (outPath.size() > PACK_MAX_OUT_PATH) {
            PackLog("%s DecUpdatePack output path too long:%s\n", kName, outPath.c_str());
            result = 5;
            break;
        }
        if (platform::SameFile(outPath, pack.Get())) {
            PackLog("%s DecUpdatePack file %s would overwrite the pack\n", kName, outPath.c_str());
            result = 5;
            break;
        }
        if (OccupiedByNonFile(outPath)) {
            result = 5;
            break;
        }
        TempOut out(outPath);
        if (!out.Ok()) {
            result = 5;
            break;
        }
        PackLog("%s DecUpdatePack name:%s,file size %d\n", kName, name.c_str(),
                AsLogInt(entry.uiFileSize));
        bool writeFailed = false;
        const std::uint64_t copied = platform::CopyRange(
            pack.Get(), out.File().Get(), entry.uiFileSize, piece.get(), &writeFailed);
        out.File().Wrote(copied);
        if (writeFailed || !out.Commit()) {
            PackLog("%s DecUpdatePack write file %s failed\n", kName, outPath.c_str());
            result = 5;
            break;
        }
        if (copied != entry.uiFileSize) {
            PackLog("%s DecUpdatePack fread file %s failed ! read len %d,need len %d\n", kName,
                    name.c_str(), AsLogInt(copied), AsLogInt(entry.uiFileSize));
            result = 6;
        }
    }
    return result;
}

int BinUpdateAppFileType(const char* srcPack, const char* outDir, const char* outName) {
    static const char* const kName = "BinUpdateAppFileType";
    if (srcPack == nullptr || outDir == nullptr || outName == nullptr || outDir[0] == '\0') {
        PackLog("%s DecUpdatePack invaild param\n", kName);
        return 1;
    }
    Fd src = platform::OpenRegularForReading(srcPack);
    if (!src.Ok()) {
        return 2;
    }
    tPackHead verified{};
    if (!VerifyPack(src.Get(), &verified)) {
        return 2;
    }
    auto piece = NewPieceNoThrow();
    if (!piece || !platform::SeekTo(src.Get(), 0)) {
        return 3;
    }
    const std::string outPath = platform::JoinPath(outDir, outName);
    if (outPath.size() > PACK_MAX_OUT_PATH) {
        PackLog("%s output path too long:%s\n", kName, outPath.c_str());
        return 5;
    }
    // Truncating the source while reading it would lose the pack.
    if (platform::SameFile(outPath, src.Get())) {
        PackLog("%s output %s is the source pack\n", kName, outPath.c_str());
        return 5;
    }
    Md5 md5;
    if (!md5.ok()) {
        return 3;
    }
    if (OccupiedByNonFile(outPath)) {
        return 5;
    }
    TempOut temp(outPath);
    if (!temp.Ok()) {
        return 5;
    }
    platform::OutFile& out = temp.File();
    auto writeFailed = [&]() {
        PackLog("%s write file %s failed\n", kName, outPath.c_str());
        return 5;
    };

    tPackHead head{};
    if (platform::ReadFull(src.Get(), &head, kHeadLen) < kHeadLen) {
        return 6;
    }
    if (!out.Write(&head, kHeadLen)) {
        return writeFailed();
    }
    md5.update(&head, kHeadLen);

    int result = 0;
    for (unsigned i = 0; i < head.uifileNum; ++i) {
        tPackFileInfo entry{};
        if (platform::ReadFull(src.Get(), &entry, kEntryLen) < kEntryLen) {
            result = 7;
            break;
        }
        if (entry.ucFileType == PACK_FILE_APP) {
            entry.ucFileType = PACK_FILE_BIN;
        }
        if (!out.Write(&entry, kEntryLen)) {
            return writeFailed();
        }
        md5.update(&entry, kEntryLen);
    }
    if (result == 0) {
        bool wfail = false;
        const std::uint64_t copied =
            CopyBytes(src.Get(), out.Get(), head.uiDataLen, piece.get(), &md5, &wfail);
        out.Wrote(copied);
        if (wfail) {
            return writeFailed();
        }
        if (copied != head.uiDataLen) {
            result = 8;
        }
    }
    const platform::Digest digest = md5.finish();
    // An output cut short by a source that changed since it was verified
    // stays, as the caller is told by the result.
    if (!out.Write(digest.data(), digest.size()) || !temp.Commit()) {
        return writeFailed();
    }
    return result;
}
