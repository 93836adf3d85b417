// Figures for sealed JPEG pictures, in one run:
//  - speed: a sealed hide of a 20-megapixel JPEG (load, seal a message, write
//    the file) against `jpegtran -copy all -optimize` on the same file plus
//    one Argon2id evaluation at the format's cost; best of several runs;
//  - capacity: the sealed capacity of cjpeg pictures at quality 75 and 90 of
//    1, 4 and 16 megapixels, next to `steghide info` on the same files when
//    steghide is installed.
//
// Usage: sealed_jpeg_bench [speed|capacity|all] [runs] [scratch folder]

#include "sealed/SealedContainer.h"
#include "sealed/SealedKeys.h"
#include "sealed/SealedPicture.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A photograph-like picture: smooth shapes, fine texture and sensor grain.
void WritePhotoPpm(const std::string& path, int width, int height)
{
    std::vector<unsigned char> samples(std::size_t(width) * std::size_t(height) * 3);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double grain = double(int(noise >> 27) - 16) * 0.5;
            const double shape = 60 * std::sin(x * 0.0021) * std::cos(y * 0.0017) + 30 * std::sin((x + 2 * y) * 0.011);
            const double texture = 12 * std::sin(x * 0.35 + std::sin(y * 0.05) * 3);
            unsigned char* pixel = &samples[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            const double values[3] = { 130 + shape + texture + grain, 115 + 0.8 * shape - texture + grain,
                100 - 0.5 * shape + 0.5 * texture + grain };
            for (int c = 0; c < 3; ++c)
                pixel[c] = (unsigned char)(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
        }
    }
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size()));
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Capture(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        ::pclose(pipe);
    }
    return text;
}

int Speed(int runs, const std::string& folder)
{
    const std::string ppm = folder + "/sealed-20mp.ppm";
    const std::string jpeg = folder + "/sealed-20mp.jpg";
    WritePhotoPpm(ppm, 5472, 3648);
    if (!Run("cjpeg -quality 90 -outfile " + jpeg + " " + ppm))
        return 1;
    std::remove(ppm.c_str());
    const std::string jpegtran = "jpegtran -copy all -optimize -outfile " + folder + "/jpegtran.jpg " + jpeg;
    const std::string output = folder + "/sealed-out.jpg";

    std::array<std::uint8_t, kSealedSaltBytes> salt {};
    double bestJpegtran = 1e300, bestArgon = 1e300;
    struct Case {
        const char* name;
        double fraction; // of the sealed capacity
        double best = 1e300;
        double load = 0, seal = 0, save = 0;
        std::uint64_t elements = 0, bytes = 0;
    } cases[] = { { "10 % of capacity", 0.1 }, { "full capacity", 1.0 } };
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (!Run(jpegtran))
            return 1;
        bestJpegtran = std::min(bestJpegtran, Seconds(start));
        start = std::chrono::steady_clock::now();
        CSealedKey master;
        if (!DeriveMasterKey("password", salt.data(), kSealedKdf, master))
            return 1;
        bestArgon = std::min(bestArgon, Seconds(start));
        for (Case& test : cases) {
            start = std::chrono::steady_clock::now();
            CSealedPicture picture;
            if (!picture.Load(jpeg) || !picture.HasElements())
                return 1;
            const double loaded = Seconds(start);
            SealedPayload payload;
            payload.bytes.assign(std::size_t(double(SealedCapacity(picture.GetElementCount())) * test.fraction), 'x');
            if (SealPayload(picture.GetElements(), "password", payload) != SealedStatus::Ok)
                return 1;
            const double sealed = Seconds(start);
            if (!picture.Save(output))
                return 1;
            const double total = Seconds(start);
            if (total < test.best) {
                test.best = total;
                test.load = loaded;
                test.seal = sealed - loaded;
                test.save = total - sealed;
            }
            test.elements = picture.GetElementCount();
            test.bytes = payload.bytes.size();
        }
    }
    const double budget = 1.5 * (bestJpegtran + bestArgon);
    std::printf("20 MP (5472 x 3648), cjpeg -quality 90, 4:2:0; best of %d runs, wall clock\n", runs);
    std::printf("jpegtran -copy all -optimize  %.3f s\n", bestJpegtran);
    std::printf("one Argon2id (64 MiB, 3 passes) %.3f s\n", bestArgon);
    std::printf("budget: 1.5 x (sum)            %.3f s\n", budget);
    for (const Case& test : cases)
        std::printf("sealed hide, %-17s %.3f s = %.2f x (jpegtran + Argon2id): load %.3f, seal %.3f, write %.3f"
                    " (%llu elements, %llu bytes)%s\n",
            test.name, test.best, test.best / (bestJpegtran + bestArgon), test.load, test.seal, test.save,
            static_cast<unsigned long long>(test.elements), static_cast<unsigned long long>(test.bytes),
            test.best < budget ? "" : "  OVER BUDGET");
    std::remove(jpeg.c_str());
    std::remove(output.c_str());
    std::remove((folder + "/jpegtran.jpg").c_str());
    return 0;
}

int Capacity(const std::string& folder)
{
    const bool steghide = Run("command -v steghide >/dev/null 2>&1");
    std::printf(
        "%-8s %-8s %12s %14s %16s %10s\n", "size", "quality", "file bytes", "sealed bytes", "steghide bytes", "ratio");
    const struct {
        const char* name;
        int width;
        int height;
    } sizes[] = { { "1 MP", 1224, 816 }, { "4 MP", 2448, 1632 }, { "16 MP", 4896, 3264 } };
    for (const auto& size : sizes) {
        const std::string ppm = folder + "/capacity.ppm";
        WritePhotoPpm(ppm, size.width, size.height);
        for (const int quality : { 75, 90 }) {
            const std::string jpeg = folder + "/capacity.jpg";
            if (!Run("cjpeg -quality " + std::to_string(quality) + " -outfile " + jpeg + " " + ppm))
                return 1;
            CSealedPicture picture;
            if (!picture.Load(jpeg))
                return 1;
            const std::uint64_t sealed = SealedCapacity(picture.GetElementCount());
            std::uint64_t theirs = 0;
            if (steghide) {
                // "capacity: 12.3 KB" and the like.
                const std::string info = Capture("steghide info -p '' " + jpeg + " 2>/dev/null");
                const std::size_t at = info.find("capacity:");
                if (at != std::string::npos) {
                    double value = std::atof(info.c_str() + at + 9);
                    const std::string unit = info.substr(info.find_first_not_of(" 0123456789.", at + 9), 2);
                    value *= unit == "KB" ? 1024 : unit == "MB" ? 1024 * 1024 : 1;
                    theirs = std::uint64_t(value);
                }
            }
            std::ifstream in(jpeg, std::ios::binary | std::ios::ate);
            std::printf("%-8s q%-7d %12lld %14llu %16s %10s\n", size.name, quality, static_cast<long long>(in.tellg()),
                static_cast<unsigned long long>(sealed), theirs ? std::to_string(theirs).c_str() : "-",
                theirs ? (std::to_string(double(sealed) / double(theirs)).substr(0, 5) + "x").c_str() : "-");
            std::remove(jpeg.c_str());
        }
        std::remove(ppm.c_str());
    }
    if (!steghide)
        std::printf("(steghide is not installed: no comparison)\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "all";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string folder = argc > 3 ? argv[3] : "/tmp";
    int status = 0;
    if (what == "speed" || what == "all")
        status |= Speed(runs, folder);
    if (what == "capacity" || what == "all")
        status |= Capacity(folder);
    return status;
}
