#pragma once
// The simulator run in-process on its own thread, with a scratch folder for
// its files and log; stopped and cleaned up after each test.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "camsim/Log.h"
#include "camsim/Simulator.h"
#include "wire/Addr.h"

namespace camsimtest {

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-camsim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        log_.Open((dir_ / "camsim.log").string());
    }
    void TearDown() override {
        if (sim_) {
            sim_->Stop();
            thread_.join();
            sim_.reset();
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // A configuration on free ports that keeps files in the scratch folder.
    camsim::SimConfig Config(std::uint32_t seed) const {
        camsim::SimConfig cfg;
        cfg.discoveryPort = 0;
        cfg.controlPort = 0;
        cfg.ipsetPort = 0;
        cfg.filesDir = (dir_ / "files").string();
        cfg.seed = seed;
        return cfg;
    }

    void Start(std::vector<camsim::CameraSpec> cams, const camsim::SimConfig& cfg) {
        sim_ = std::make_unique<camsim::Simulator>(camsim::FleetSpec{std::move(cams)}, cfg, log_);
        std::string error;
        ASSERT_TRUE(sim_->Start(error)) << error;
        thread_ = std::thread([this] { sim_->Run(); });
    }

    std::string Ip(std::size_t i) const { return camsim::FormatIpv4(sim_->CurrentIp(i)); }

    std::filesystem::path dir_;
    camsim::Log log_;
    std::unique_ptr<camsim::Simulator> sim_;
    std::thread thread_;
};

}  // namespace camsimtest
