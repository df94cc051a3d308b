// File update of a 36,700,160-byte file (--size: fewer, for a smoke run)
// through the camera library, beside a plain TCP copy of the same bytes into a
// receiver that computes the MD5 as it reads (loopback), or beside the line
// rate of a shaped link (--lan, in the namespace lab).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "Fleet.h"
#include "korvel.h"
#include "wire/Addr.h"
#include "wire/Md5.h"

namespace {

constexpr std::size_t kSizeLimit = 36700160;  // the tool's size limit for a file to send
std::size_t fileSize = kSizeLimit;            // --size

bool MakeFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 g(42);
    std::vector<std::uint64_t> block(8192);
    for (std::size_t done = 0; done < fileSize;) {
        for (auto& w : block) {
            w = g();
        }
        const std::size_t n = std::min(block.size() * 8, fileSize - done);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
    return static_cast<bool>(out);
}

// Seconds for one update, or a negative value when it failed.
double UpdateOnce(const std::string& ip, const std::string& file) {
    char task[320] = {};
    wire::CopyText(task, 32, ip);
    const int h = Net_AddCamera(task);
    if (h < 0 || Net_ConnCamera(h, 30000, 5) != 0) {
        std::fprintf(stderr, "cannot connect to %s\n", ip.c_str());
        if (h >= 0) {
            Net_DelCamera(h);
        }
        return -1;
    }
    tNetFileUpdate up{};
    wire::CopyText(up.szFilePath, sizeof up.szFilePath, file);
    const auto t0 = qvbench::Clock::now();
    const int rc = Net_FileUpdate(h, &up);
    const double s = qvbench::Seconds(qvbench::Clock::now() - t0);
    Net_DisConnCamera(h);
    Net_DelCamera(h);
    if (rc != 0) {
        std::fprintf(stderr, "Net_FileUpdate returned %d\n", rc);
        return -1;
    }
    return s;
}

// The reference: read the file, send it over one TCP connection on loopback; the
// receiver computes the MD5 as the bytes arrive. Seconds until the digest is done.
double PlainCopy(const std::string& file) {
    const int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(lfd, 1) != 0 ||
        ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(lfd);
        return -1;
    }
    wire::Digest digest{};
    std::size_t received = 0;
    std::thread receiver([&] {
        const int fd = ::accept(lfd, nullptr, nullptr);
        wire::Md5 md5;
        std::vector<std::uint8_t> buf(256 * 1024);
        for (;;) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) {
                break;
            }
            md5.update({buf.data(), static_cast<std::size_t>(n)});
            received += static_cast<std::size_t>(n);
        }
        digest = md5.finish();
        ::close(fd);
    });
    const auto t0 = qvbench::Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        std::FILE* in = std::fopen(file.c_str(), "rb");
        std::vector<char> buf(256 * 1024);
        std::size_t n = 0;
        while (in != nullptr && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
            for (std::size_t off = 0; off < n;) {
                const ssize_t w = ::send(fd, buf.data() + off, n - off, MSG_NOSIGNAL);
                if (w <= 0) {
                    break;
                }
                off += static_cast<std::size_t>(w);
            }
        }
        if (in != nullptr) {
            std::fclose(in);
        }
    }
    ::shutdown(fd, SHUT_WR);
    receiver.join();
    const double s = qvbench::Seconds(qvbench::Clock::now() - t0);
    ::close(fd);
    ::close(lfd);
    return received == fileSize ? s : -1;
}

double Mbps(double seconds) {
    return static_cast<double>(fileSize) * 8 / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    bool lan = false;
    double lineMbit = 100;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--lan" && i + 1 < argc) {
            lan = true;
            lineMbit = std::atof(argv[++i]);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--size" && i + 1 < argc) {
            fileSize = std::strtoull(argv[++i], nullptr, 10);
        }
    }
    if (rounds < 1 || fileSize < 1 || fileSize > kSizeLimit) {
        std::fprintf(stderr, "usage: bench_update [--lan MBIT] [--rounds N] [--size BYTES]\n");
        return 64;
    }

    if (lan) {
        // In the namespace lab: the first camera of QV_LAB_IPS over a shaped link.
        std::istringstream ips(std::getenv("QV_LAB_IPS") != nullptr ? std::getenv("QV_LAB_IPS")
                                                                    : "");
        std::string ip;
        ips >> ip;
        const char* dirEnv = std::getenv("QV_LAB_DIR");
        const std::string file = std::string(dirEnv != nullptr ? dirEnv : "/tmp") + "/bench.bin";
        if (ip.empty() || !MakeFile(file) || Net_Init() != 0) {
            std::fprintf(stderr, "run me through lab/netns-lab.sh\n");
            return 1;
        }
        std::vector<double> t;
        for (int r = 0; r < rounds; ++r) {
            const double s = UpdateOnce(ip, file);
            if (s < 0) {
                Net_UNinit();
                return 1;
            }
            t.push_back(s);
            std::fprintf(stderr, "  round %d: %.3f s, %.1f Mbit/s\n", r + 1, s, Mbps(s));
        }
        Net_UNinit();
        const double rate = Mbps(qvbench::Median(t));
        char figure[160];
        std::snprintf(figure, sizeof figure,
                      "%.1f Mbit/s = %.1f%% of the %.0f Mbit/s line (median)", rate,
                      100 * rate / lineMbit, lineMbit);
        qvbench::Report("update, shaped LAN", figure, ">= 90% of the line rate",
                        rate >= 0.9 * lineMbit);
        return 0;
    }

    // The camera takes the next file at once: this measures transfers, not reboots.
    auto options = qvtest::FleetOptions::Cameras(1);
    options.rebootMs = 0;
    qvtest::Fleet fleet(options);
    if (!fleet.ok()) {
        std::fprintf(stderr, "fleet: %s\n", fleet.error().c_str());
        return 1;
    }
    const std::string file = fleet.dir() + "/bench.bin";
    if (!MakeFile(file)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    auto env = fleet.useConf();
    if (Net_Init() != 0) {
        return 1;
    }
    // Cold: the file was just written, so the library hashes it while sending.
    // Warm: the same file again, as for the next camera of a batch; the library
    // may reuse the digest it computed, the camera still hashes what it receives.
    std::vector<double> cold, warm, ref;
    for (int r = 0; r < rounds; ++r) {
        ::utimensat(AT_FDCWD, file.c_str(), nullptr, 0);
        const double c = UpdateOnce(fleet.cameras()[0].ip, file);
        const double w = UpdateOnce(fleet.cameras()[0].ip, file);
        const double p = PlainCopy(file);
        if (c < 0 || w < 0 || p < 0) {
            Net_UNinit();
            return 1;
        }
        cold.push_back(c);
        warm.push_back(w);
        ref.push_back(p);
        std::fprintf(stderr, "  round %d: update %.3f s cold, %.3f s warm; plain copy %.3f s\n",
                     r + 1, c, w, p);
    }
    Net_UNinit();
    const double mbRef = static_cast<double>(fileSize) / qvbench::Median(ref) / 1e6;
    const std::pair<const char*, std::vector<double>*> kinds[] = {
        {"update, loopback, cold", &cold}, {"update, loopback, warm", &warm}};
    for (const auto& [name, t] : kinds) {
        const double ratio = qvbench::Median(ref) / qvbench::Median(*t);
        char figure[200];
        std::snprintf(
            figure, sizeof figure, "%.0f MB/s beside plain copy %.0f MB/s: %.2fx (median of %d)",
            static_cast<double>(fileSize) / qvbench::Median(*t) / 1e6, mbRef, ratio, rounds);
        qvbench::Report(name, figure, ">= 0.8x the plain copy", ratio >= 0.8);
    }
    return 0;
}
