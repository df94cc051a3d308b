#include "pack/UpdatePack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "PackTestUtil.h"

using namespace packtest;

namespace {

std::vector<PackPathSlot> Slots(const std::vector<std::string>& paths) {
    std::vector<PackPathSlot> slots(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::memset(slots[i], 0, sizeof slots[i]);
        std::memcpy(slots[i], paths[i].data(), std::min(paths[i].size(), sizeof slots[i]));
    }
    return slots;
}

tPackHead Head(std::size_t count, std::uint32_t magic = PACK_MAGIC_SINGLE) {
    tPackHead h{};
    h.uiPackMagic = magic;
    h.uifileNum = static_cast<std::uint16_t>(count);
    h.PackType = 1;
    return h;
}

int Pack(const std::vector<std::string>& paths, const std::string& packPath,
         tPackHead* head = nullptr, std::vector<PackPathSlot>* slotsOut = nullptr) {
    auto slots = Slots(paths);
    tPackHead local = Head(paths.size());
    tPackHead* h = head != nullptr ? head : &local;
    const int rc = UpdatePack(slots.data(), packPath.c_str(), h, static_cast<int>(paths.size()));
    if (slotsOut != nullptr) {
        *slotsOut = std::move(slots);
    }
    return rc;
}

}  // namespace

// The documented layout, checked through the compiler's own view of the records.
TEST(PackRecords, LayoutMatchesTheFormat) {
    tPackHead h{};
    h.uiPackMagic = 0x89ABCDEFu;
    h.uifileNum = 0x0102;
    h.PackType = 1;
    h.uiDataLen = 0x11223344u;
    std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
    EXPECT_EQ(bytes.substr(0, 7), std::string("\xEF\xCD\xAB\x89\x02\x01\x01", 7));
    EXPECT_EQ(Get32(bytes, 44), 0x11223344u);
}

TEST(UpdatePack, OrdersApplicationLastAndMatchesIndependentLayout) {
    TempDir dir;
    const std::string app = Bytes(3000, 1), kernel = Bytes(700, 2), fs = Bytes(1500, 3);
    WriteFile(dir / "cam.jffs2", app);
    WriteFile(dir / "uImage", kernel);
    WriteFile(dir / "rootfs.cramfs", fs);
    tPackHead head = Head(3);
    std::vector<PackPathSlot> slots;
    ASSERT_EQ(Pack({dir / "cam.jffs2", dir / "uImage", dir / "rootfs.cramfs"}, dir / "p.bin", &head,
                   &slots),
              0);
    EXPECT_EQ(head.uiDataLen, 5200u);
    // The caller's slots follow the table order.
    EXPECT_EQ(std::string(slots[0]), dir / "rootfs.cramfs");
    EXPECT_EQ(std::string(slots[1]), dir / "uImage");
    EXPECT_EQ(std::string(slots[2]), dir / "cam.jffs2");

    PackSpec expected;
    expected.entries = {
        {"rootfs.cramfs", 3, fs, ""}, {"uImage", 2, kernel, ""}, {"cam.jffs2", 1, app, ""}};
    EXPECT_EQ(ReadFile(dir / "p.bin"), BuildPack(expected));
}

TEST(UpdatePack, NameRulesAreExactAndCaseSensitive) {
    TempDir dir;
    const std::vector<std::pair<std::string, int>> cases = {
        {"uImage", 2},        {"UImage", 4},   {"uImage.old", 4},   {"my_uImage", 4},
        {"rootfs.cramfs", 3}, {"x.cramfs", 4}, {"a.yaffs2.bak", 1}, {"notes.txt", 4}};
    std::vector<std::string> paths;
    for (const auto& c : cases) {
        WriteFile(dir / c.first, c.first);
        paths.push_back(dir / c.first);
    }
    ASSERT_EQ(Pack(paths, dir / "p.bin"), 0);
    const std::string pack = ReadFile(dir / "p.bin");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::size_t at = 64 + 200 * i;
        std::string name = pack.substr(at + 8, 128);
        name.resize(std::strlen(name.c_str()));
        int want = -1;
        for (const auto& c : cases) {
            if (c.first == name) {
                want = c.second;
            }
        }
        EXPECT_EQ(static_cast<int>(static_cast<std::uint8_t>(pack[at + 4])), want) << name;
    }
    // The application entry went last.
    EXPECT_EQ(pack.substr(64 + 200 * 7 + 8, 12), "a.yaffs2.bak");
}

TEST(UpdatePack, DuplicateRolesFailBeforeAnyPackExists) {
    TempDir dir;
    fs::create_directory(dir.path() / "b");
    for (const std::string& n :
         std::vector<std::string>{"uImage", "rootfs.cramfs", "x.yaffs2", "y.yaffs2", "notes",
                                  std::string(128, 'n') + "1", std::string(128, 'n') + "2"}) {
        WriteFile(dir / n, "1");
        WriteFile((dir.path() / "b" / n).string(), "2");
    }
    struct Case {
        std::vector<std::string> files;
        int rc;
        std::string log;
    };
    const std::string b = (dir.path() / "b").string();
    const std::vector<Case> cases = {
        {{dir / "uImage", b + "/uImage"}, 6, "UpdatePack already have kernel file  uImage!!\n"},
        {{dir / "rootfs.cramfs", b + "/rootfs.cramfs"},
         7,
         "UpdatePack already have FS file  rootfs.cramfs!!\n"},
        {{dir / "x.yaffs2", dir / "y.yaffs2"}, 8, "UpdatePack already have APP file  y.yaffs2!!\n"},
        // any other name twice: no reader could unpack both
        {{dir / "notes", b + "/notes"},
         PACK_E_DUPLICATE_NAME,
         "UpdatePack already have file  notes!!\n"},
        {{dir / (std::string(128, 'n') + "1"), b + "/" + std::string(128, 'n') + "2"},
         PACK_E_DUPLICATE_NAME,
         "UpdatePack already have file  " + std::string(128, 'n') + "!!\n"},
    };
    for (const Case& c : cases) {
        LogRecorder log;
        EXPECT_EQ(Pack(c.files, dir / "p.bin"), c.rc);
        EXPECT_TRUE(log.Has(c.log)) << log.All();
        EXPECT_FALSE(fs::exists(dir / "p.bin"));
    }
}

TEST(UpdatePack, ArgumentAndSourceFailures) {
    TempDir dir;
    WriteFile(dir / "a", "a");
    LogRecorder log;
    auto slots = Slots({dir / "a"});
    tPackHead head = Head(1);
    EXPECT_EQ(UpdatePack(nullptr, (dir / "p").c_str(), &head, 1), 1);
    EXPECT_EQ(UpdatePack(slots.data(), nullptr, &head, 1), 1);
    EXPECT_EQ(UpdatePack(slots.data(), (dir / "p").c_str(), nullptr, 1), 1);
    EXPECT_TRUE(log.Has("UpdatePack invaild param\n"));
    EXPECT_EQ(UpdatePack(slots.data(), (dir / "p").c_str(), &head, 2), 2);
    EXPECT_TRUE(log.Has("UpdatePack uifileNum param invaild(1 <-> 2)\n"));

    EXPECT_EQ(Pack({dir / "a", dir / "missing"}, dir / "p"), 4);
    EXPECT_TRUE(log.Has("UpdatePack open file " + (dir / "missing") + " failed!!\n"));
    EXPECT_EQ(Pack({dir.path().string()}, dir / "p"), 5);
    EXPECT_TRUE(log.Has("UpdatePack " + dir.path().string() + " is not file!!\n"));
    EXPECT_FALSE(fs::exists(dir / "p"));

    EXPECT_EQ(Pack({dir / "a"}, dir / "no/such/dir/p"), 8);
    EXPECT_TRUE(log.Has("UpdatePack fopen file " + (dir / "no/such/dir/p") + " fail 1\n"));

    // A source that grows while it is packed (its size said 0): no torn pack
    // is left under the name, nor beside it.
    EXPECT_EQ(Pack({dir / "a", "/proc/self/status"}, dir / "p"), 10);
    EXPECT_EQ(DirNames(dir.path()), std::vector<std::string>{"a"});
}

TEST(UpdatePack, RefusesToOverwriteOneOfItsSources) {
    TempDir dir;
    const std::string data = Bytes(5000, 9);
    WriteFile(dir / "a.bin", data);
    LogRecorder log;
    EXPECT_EQ(Pack({dir / "a.bin"}, dir / "a.bin"), 8);
    EXPECT_EQ(ReadFile(dir / "a.bin"), data);
}

// Sparse files give the sizes without using the disk.
TEST(UpdatePack, SizesBeyondThe32BitFieldsAreRefusedBeforeWriting) {
    TempDir dir;
    auto sparse = [&](const std::string& name, off_t size) {
        WriteFile(dir / name, "");
        ASSERT_EQ(::truncate((dir / name).c_str(), size), 0);
    };
    sparse("big", off_t{0x100000000});
    sparse("half1", off_t{0x80000000});
    sparse("half2", off_t{0x80000000});
    LogRecorder log;
    EXPECT_EQ(Pack({dir / "big"}, dir / "p"), 4);
    EXPECT_NE(log.All().find("too large"), std::string::npos) << log.All();
    EXPECT_EQ(Pack({dir / "half1", dir / "half2"}, dir / "p"), 4);
    EXPECT_NE(log.All().find("does not fit"), std::string::npos) << log.All();
    EXPECT_FALSE(fs::exists(dir / "p"));
}

TEST(UpdatePack, NamesAreCutAt128BytesAndTakenAfterTheLastSlash) {
    TempDir dir;
    const std::string exact(128, 'e');
    const std::string longer(140, 'l');
    WriteFile(dir / exact, "1");
    WriteFile(dir / longer, "22");
    ASSERT_EQ(Pack({dir / exact, dir / longer}, dir / "p"), 0);
    tPackHead head{};
    auto table = CheckFileMD5((dir / "p").c_str(), &head);
    ASSERT_TRUE(table);
    EXPECT_EQ(PackEntryName(table[0]), exact);
    EXPECT_EQ(PackEntryName(table[1]), longer.substr(0, 128));
    EXPECT_EQ(PackEntryPath(table[0]), "");
}

TEST(UpdatePack, EmptyFileAndOtherMagicsRoundTrip) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    for (std::uint32_t magic :
         {PACK_MAGIC_SINGLE, PACK_MAGIC_MULTI, PACK_MAGIC_BUNDLE, 0x12345678u}) {
        tPackHead head = Head(1, magic);
        ASSERT_EQ(Pack({dir / "empty"}, dir / "p", &head), 0);
        fs::remove_all(dir.path() / "out");
        fs::create_directory(dir.path() / "out");
        ASSERT_EQ(DecUpdatePack((dir / "p").c_str(), (dir / "out").c_str()), 0);
        EXPECT_EQ(ReadFile(dir / "out/empty"), "");
        EXPECT_TRUE(fs::exists(dir / "out/empty"));
    }
}

// 99 entries is the readers' limit; a pack of 100 could never be read back,
// so it is refused before anything is written.
TEST(UpdatePack, NinetyNineEntriesRoundTripAndAHundredAreRefused) {
    TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 100; ++i) {
        const std::string name = "f" + std::to_string(i);
        WriteFile(dir / name, Bytes(static_cast<std::size_t>(i), static_cast<std::uint32_t>(i)));
        paths.push_back(dir / name);
    }
    fs::create_directory(dir.path() / "out");
    const std::vector<std::string> first99(paths.begin(), paths.begin() + 99);
    ASSERT_EQ(Pack(first99, dir / "p99"), 0);
    ASSERT_EQ(DecUpdatePack((dir / "p99").c_str(), (dir / "out").c_str()), 0);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(ReadFile(dir / ("out/f" + std::to_string(i))),
                  Bytes(static_cast<std::size_t>(i), static_cast<std::uint32_t>(i)));
    }
    LogRecorder log;
    EXPECT_EQ(Pack(paths, dir / "p100"), PACK_E_FILE_COUNT);
    EXPECT_EQ(log.All(), "UpdatePack 100 files cannot be read back from a pack (1 to 99)!!\n");
    EXPECT_FALSE(fs::exists(dir / "p100"));
    log.Clear();
    PackPathSlot unused[1] = {};
    tPackHead none = Head(0);
    EXPECT_EQ(UpdatePack(unused, (dir / "p0").c_str(), &none, 0), PACK_E_FILE_COUNT);
    EXPECT_EQ(log.All(), "UpdatePack 0 files cannot be read back from a pack (1 to 99)!!\n");
    EXPECT_FALSE(fs::exists(dir / "p0"));
}
