// Speed of a sealed hide in a large PNG picture, in one run: the whole
// `veilmark-cli hide --sealed` process against `optipng -o0` on the same file
// plus one Argon2id evaluation at the format's cost, best of several runs
// each, and where the time of a hide goes (load, seal, save in this process).
//
// The picture is a 24-megapixel photograph-like RGB PNG that ImageMagick
// makes, unless a PNG file is given.
//
// Usage: sealed_png_bench [runs] [scratch folder] [picture.png]

#include "sealed/SealedContainer.h"
#include "sealed/SealedKeys.h"
#include "sealed/SealedPicture.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// Seconds of a command, or a negative value when it fails.
double Time(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    return Run(command) ? Seconds(start) : -1;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string ProgramFolder()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    path.resize(length > 0 ? std::size_t(length) : 0);
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    std::string picture = argc > 3 ? argv[3] : "";
    const std::string cli = ProgramFolder() + "/veilmark-cli";
    if (picture.empty()) {
        picture = folder + "/sealed-24mp.png";
        if (!Run("convert -seed 1 -size 6000x4000 plasma:fractal -blur 0x2 png24:" + picture)) {
            std::fprintf(stderr, "ImageMagick's convert could not make the picture\n");
            return 1;
        }
    }
    const std::string copy = folder + "/sealed-optipng.png";
    const std::string output = folder + "/sealed-out.png";
    const std::string password = folder + "/sealed-password";
    WriteFile(password, "password\n");

    CSealedPicture probe;
    if (!probe.Load(picture) || !probe.HasElements()) {
        std::fprintf(stderr, "%s: %s\n", picture.c_str(), probe.GetReason().c_str());
        return 1;
    }
    const std::uint64_t capacity = SealedCapacity(probe.GetElementCount());
    struct Case {
        const char* name;
        std::string message;
        std::string file;
        double best = 1e300;
        double load = 0, seal = 0, save = 0;
    } cases[] = { { "a 60-byte text", std::string(60, 't'), folder + "/sealed-short" },
        { "10 % of capacity", std::string(std::size_t(capacity / 10), 'x'), folder + "/sealed-tenth" } };
    for (const Case& test : cases)
        WriteFile(test.file, test.message);

    const std::string loadBefore = LoadAverage();
    std::array<std::uint8_t, kSealedSaltBytes> salt {};
    double bestOptipng = 1e300, bestArgon = 1e300;
    for (int run = 0; run < runs; ++run) {
        if (!Run("cp " + picture + " " + copy))
            return 1;
        const double optipng = Time("optipng -quiet -o0 " + copy);
        if (optipng < 0) {
            std::fprintf(stderr, "optipng -o0 failed\n");
            return 1;
        }
        bestOptipng = std::min(bestOptipng, optipng);
        auto start = std::chrono::steady_clock::now();
        CSealedKey master;
        if (!DeriveMasterKey("password", salt.data(), kSealedKdf, master))
            return 1;
        bestArgon = std::min(bestArgon, Seconds(start));
        for (Case& test : cases) {
            const double hide = Time(cli + " hide " + picture + " " + output + " --sealed --message-file " + test.file
                + " --password-file " + password);
            if (hide < 0)
                return 1;
            test.best = std::min(test.best, hide);
        }
    }
    // Where the time goes, in this process: the key is derived inline here,
    // so the seal stage holds the whole Argon2id evaluation.
    for (Case& test : cases) {
        test.load = test.seal = test.save = 1e300;
        for (int run = 0; run < std::min(runs, 3); ++run) {
            auto start = std::chrono::steady_clock::now();
            CSealedPicture sealed;
            if (!sealed.Load(picture))
                return 1;
            test.load = std::min(test.load, Seconds(start));
            SealedPayload payload;
            payload.bytes.assign(test.message.begin(), test.message.end());
            start = std::chrono::steady_clock::now();
            if (SealPayload(sealed.GetElements(), "password", payload) != SealedStatus::Ok)
                return 1;
            test.seal = std::min(test.seal, Seconds(start));
            start = std::chrono::steady_clock::now();
            if (!sealed.Save(output))
                return 1;
            test.save = std::min(test.save, Seconds(start));
        }
    }

    const double budget = 1.5 * (bestOptipng + bestArgon);
    std::printf("%s: %u x %u, %llu elements; best of %d runs, wall clock\n", picture.c_str(),
        probe.GetPng()->GetWidth(), probe.GetPng()->GetHeight(),
        static_cast<unsigned long long>(probe.GetElementCount()), runs);
    std::printf("load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("optipng -o0                      %.3f s\n", bestOptipng);
    std::printf("one Argon2id (64 MiB, 3 passes)  %.3f s\n", bestArgon);
    std::printf("budget: 1.5 x (sum)              %.3f s\n", budget);
    for (const Case& test : cases)
        std::printf("veilmark-cli hide --sealed, %-17s %.3f s = %.2f x (optipng + Argon2id)%s;"
                    " in process: load %.3f, seal %.3f, save %.3f\n",
            test.name, test.best, test.best / (bestOptipng + bestArgon), test.best < budget ? "" : "  OVER BUDGET",
            test.load, test.seal, test.save);
    for (const Case& test : cases)
        std::remove(test.file.c_str());
    std::remove(copy.c_str());
    std::remove(output.c_str());
    std::remove(password.c_str());
    if (argc <= 3)
        std::remove(picture.c_str());
    return 0;
}
