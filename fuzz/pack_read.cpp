// The pack readers on hostile packs: CheckFileMD5, DecUpdatePack into a
// scratch folder and BinUpdateAppFileType.
// Input: one byte of mode, then the pack. With bit 0 of the mode set the
// digest is computed over the rest and appended, so that mutated tables and
// data get past the digest and reach the unpacking.
// Properties: a pack that verifies has sizes that add up to uiDataLen; an
// unpack that succeeds wrote every entry with exactly its bytes; verify and
// unpack agree; unpacking again over the outputs gives the same files;
// nothing is ever created outside the output folder and no temporary file
// stays; a re-typed copy verifies and differs only in the
// re-typed codes.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "FuzzUtil.h"
#include "pack/UpdatePack.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    const bool fixDigest = (in.Byte() & 1) != 0;
    std::string pack = in.Rest();
    if (fixDigest) {
        pack += qvfuzz::Md5(pack);
    }
    qvfuzz::Scratch s;
    const std::string packPath = s / "p";
    const std::string out = s / "out";
    Write(packPath, pack);
    std::filesystem::create_directory(out);

    tPackHead head{};
    const auto table = CheckFileMD5(packPath.c_str(), &head);
    std::uint64_t dataStart = 0;
    if (table) {
        FUZZ_CHECK(head.uifileNum >= 1 && head.uifileNum <= PACK_MAX_FILES);
        FUZZ_CHECK(head.PackType <= 1);
        std::uint64_t sum = 0;
        for (unsigned i = 0; i < head.uifileNum; ++i) {
            sum += table[i].uiFileSize;
        }
        FUZZ_CHECK(sum == head.uiDataLen);
        dataStart = sizeof(tPackHead) + sizeof(tPackFileInfo) * head.uifileNum;
        FUZZ_CHECK(dataStart + head.uiDataLen + PACK_DIGEST_LEN <= pack.size());
    }

    const int rc = DecUpdatePack(packPath.c_str(), out.c_str());
    FUZZ_CHECK(rc >= 0 && rc <= 6);
    FUZZ_CHECK((rc == 2) == !table);
    FUZZ_CHECK(rc != 6);  // a verified pack holds all its data
    const std::vector<std::string> written = qvfuzz::ListDir(out);
    if (table) {
        // The files present are the entries in table order up to the first
        // refusal, each with exactly its bytes.
        std::set<std::string> expect;
        std::uint64_t at = dataStart;
        bool refused = false;
        for (unsigned i = 0; i < head.uifileNum && !refused; ++i) {
            const std::string name = PackEntryName(table[i]);
            const bool plain =
                !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
            if (CheckUpdateFile(table[i].ucFileType, name.c_str(),
                                PackEntryPath(table[i]).c_str()) != 0 ||
                !plain || expect.contains(name)) {
                refused = true;
                break;
            }
            const std::string path = out + "/" + name;
            FUZZ_CHECK(std::filesystem::is_regular_file(path));
            FUZZ_CHECK(ReadAll(path) == pack.substr(at, table[i].uiFileSize));
            expect.insert(name);
            at += table[i].uiFileSize;
        }
        FUZZ_CHECK(rc == (refused ? 4 : 0));
        FUZZ_CHECK(std::set<std::string>(written.begin(), written.end()) == expect);
    } else {
        FUZZ_CHECK(written.empty());
    }
    FUZZ_CHECK(qvfuzz::ListDir(s.Dir()) == (std::vector<std::string>{"out", "p"}));
    // Unpacking again replaces the old outputs (their files are reused) with
    // the same result.
    std::map<std::string, std::string> first;
    for (const std::string& name : written) {
        first[name] = ReadAll(out + "/" + name);
    }
    FUZZ_CHECK(DecUpdatePack(packPath.c_str(), out.c_str()) == rc);
    FUZZ_CHECK(qvfuzz::ListDir(out) == written);
    for (const auto& [name, bytes] : first) {
        FUZZ_CHECK(ReadAll(out + "/" + name) == bytes);
    }

    // The re-typed copy goes to a folder of its own, so that it cannot meet
    // an unpacked entry of its name.
    const std::string rdir = s / "r";
    std::filesystem::create_directory(rdir);
    const int rt = BinUpdateAppFileType(packPath.c_str(), rdir.c_str(), "r.bin");
    FUZZ_CHECK(rt == 0 || rt == 2);
    FUZZ_CHECK((rt == 2) == !table);
    if (rt == 0) {
        const std::string copy = ReadAll(rdir + "/r.bin");
        tPackHead h2{};
        FUZZ_CHECK(CheckFileMD5((rdir + "/r.bin").c_str(), &h2) != nullptr);
        const std::size_t end = dataStart + head.uiDataLen;
        FUZZ_CHECK(copy.size() == end + PACK_DIGEST_LEN);
        std::string expect = pack.substr(0, end);
        for (unsigned i = 0; i < head.uifileNum; ++i) {
            char& type = expect[sizeof(tPackHead) + sizeof(tPackFileInfo) * i + 4];
            if (type == PACK_FILE_APP) {
                type = PACK_FILE_BIN;
            }
        }
        FUZZ_CHECK(copy.compare(0, end, expect) == 0);
        FUZZ_CHECK(qvfuzz::ListDir(rdir) == std::vector<std::string>{"r.bin"});
    } else {
        FUZZ_CHECK(qvfuzz::ListDir(rdir).empty());
    }
    return 0;
}
