#pragma once

// A scratch folder that is also the temporary directory, packs built in the test,
// and a request whose messages and library log lines are recorded.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PackTestUtil.h"
#include "ScopedEnv.h"
#include "pack/UpdatePack.h"
#include "platform/Workspace.h"
#include "upgrade/UpgradeRequest.h"

namespace upgradetest {

namespace fs = std::filesystem;
using packtest::Entry;

// Names that the classifier reads as the parts of a camera's firmware.
inline Entry App(const std::string& name, std::uint32_t seed = 1) {
    return {name, PACK_FILE_APP, packtest::Bytes(300 + seed, seed), ""};
}
inline Entry Kernel() {
    return {"uImage", PACK_FILE_KERNEL, packtest::Bytes(500, 7), ""};
}
inline Entry RootFs() {
    return {"rootfs.cramfs", PACK_FILE_FS, packtest::Bytes(400, 8), ""};
}

class UpgradeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        wsRoot_ = tmp_.path() / "root";
        fs::create_directories(wsRoot_);
        tmpEnv_ = std::make_unique<qvtest::ScopedEnv>("TMPDIR", wsRoot_.string());
        NewRequest();
    }
    void TearDown() override {
        req_.reset();
        tmpEnv_.reset();
    }

    void NewRequest() {
        upgrade::RequestEnv env;
        env.showMessage = [this](const std::string& text) { messages_.push_back(text); };
        env.netLog = [this](const std::string& line) { log_.push_back(line); };
        env.clock = [this] { return platform::LocalTime{2026, 12, 8, 9, 30, 5, ms_++ % 1000}; };
        req_ = std::make_unique<upgrade::CUpgradeRequest>(env);
    }

    // Groups cameras of one type and version key with these hardware versions.
    void Tick(const std::vector<std::string>& hw, const std::string& type = "KQM-RVT3305",
              const std::string& soft = "2.3.1_180101") {
        std::vector<upgrade::SelectedCamera> cams;
        for (const auto& h : hw) {
            cams.push_back({type, soft, h});
        }
        ASSERT_EQ(req_->Group(cams), upgrade::GroupResult::Ok);
    }

    std::string WritePack(const std::string& name, std::vector<Entry> entries,
                          std::uint32_t magic = PACK_MAGIC_SINGLE) {
        const std::string path = tmp_ / name;
        packtest::WritePack(path, magic, std::move(entries));
        return path;
    }

    // The entry names of a pack the request queued, in table order.
    static std::vector<std::string> EntryNames(const std::string& pack) {
        tPackHead head{};
        auto table = CheckFileMD5(pack.c_str(), &head);
        std::vector<std::string> names;
        for (unsigned i = 0; table && i < head.uifileNum; ++i) {
            names.push_back(PackEntryName(table[i]));
        }
        return names;
    }

    std::size_t Workspaces() const {
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(platform::WorkspaceRoot(), ec)) {
            n += e.path().filename().string().rfind("UpdatePacket_", 0) == 0 ? 1u : 0u;
        }
        return n;
    }

    bool Logged(const std::string& line) const {
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }

    packtest::TempDir tmp_;
    fs::path wsRoot_;
    std::unique_ptr<qvtest::ScopedEnv> tmpEnv_;  // the workspace root
    int ms_ = 0;
    std::vector<std::string> messages_;
    std::vector<std::string> log_;
    std::unique_ptr<upgrade::CUpgradeRequest> req_;
};

}  // namespace upgradetest
