// Times a coefficient-domain rewrite of a 20-megapixel JPEG (read, list the
// carriers, write the file back) against `jpegtran -copy all -optimize` on
// the same files, in the same run. Each figure is the best of several runs,
// as wall-clock and as CPU time, since the machine may be busy.
//
// Usage: jpeg_coefficient_bench [runs] [scratch folder]

#include "jpeg/JpegCoefficientFile.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kWidth = 5472;
constexpr int kHeight = 3648;

double CpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 1e300;
    double cpu = 1e300;
};

// One timed run, kept in `best` when it is faster.
template <typename Run> void TimeOnce(Timing& best, int who, Run&& run)
{
    const double cpuBefore = CpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    if (!run())
        std::exit(1);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, CpuSeconds(who) - cpuBefore);
}

// A photograph-like picture: smooth shapes, fine texture and sensor grain.
void WritePhotoPpm(const std::string& path)
{
    std::vector<unsigned char> samples(std::size_t(kWidth) * kHeight * 3);
    std::uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double grain = double(int(noise >> 27) - 16) * 0.5;
            const double shape = 60 * std::sin(x * 0.0021) * std::cos(y * 0.0017) + 30 * std::sin((x + 2 * y) * 0.011);
            const double texture = 12 * std::sin(x * 0.35 + std::sin(y * 0.05) * 3);
            unsigned char* pixel = &samples[(std::size_t(y) * kWidth + std::size_t(x)) * 3];
            const double values[3] = { 130 + shape + texture + grain, 115 + 0.8 * shape - texture + grain,
                100 - 0.5 * shape + 0.5 * texture + grain };
            for (int c = 0; c < 3; ++c)
                pixel[c] = (unsigned char)(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
        }
    }
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size()));
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string ppm = folder + "/photo-20mp.ppm";
    WritePhotoPpm(ppm);

    // jpegtran writes baseline unless told otherwise; for the progressive
    // input it is timed both ways, the second writing progressive as the
    // model does.
    const struct {
        const char* name;
        std::string make;
        std::string jpegtranExtra;
    } inputs[] = {
        { "q90 standard tables", "cjpeg -quality 90", "" },
        { "q90 optimized", "cjpeg -quality 90 -optimize", "" },
        { "q90 progressive", "cjpeg -quality 90 -progressive", "" },
        { "  (jpegtran -progr.)", "cjpeg -quality 90 -progressive", " -progressive" },
    };
    std::printf("%-22s %9s %8s %12s %8s %7s %7s\n", "input (20 MP, 4:2:0)", "ours wall", "cpu", "jpegtran wall", "cpu",
        "ratio", "cpu");
    for (const auto& input : inputs) {
        const std::string jpeg = folder + "/photo-20mp.jpg";
        if (!Run(input.make + " -outfile " + jpeg + " " + ppm))
            return 1;
        const std::string theirs = folder + "/jpegtran.jpg";
        const std::string ours = folder + "/ours.jpg";
        const std::string jpegtranCommand
            = "jpegtran -copy all -optimize" + input.jpegtranExtra + " -outfile " + theirs + " " + jpeg;
        std::size_t carriers = 0;
        double phases[3] = { 1e300, 1e300, 1e300 }; // read, carriers, write
        auto rewrite = [&] {
            using Clock = std::chrono::steady_clock;
            const auto start = Clock::now();
            CJpegCoefficientFile file;
            if (!file.Read(jpeg).IsOk())
                return false;
            const auto read = Clock::now();
            carriers = file.GetCarriers().size();
            const auto listed = Clock::now();
            const bool written = file.Write(ours).IsOk();
            const auto end = Clock::now();
            phases[0] = std::min(phases[0], std::chrono::duration<double>(read - start).count());
            phases[1] = std::min(phases[1], std::chrono::duration<double>(listed - read).count());
            phases[2] = std::min(phases[2], std::chrono::duration<double>(end - listed).count());
            return written;
        };
        // The two alternate, so that both see the same load on the machine.
        Timing jpegtran;
        Timing model;
        for (int i = 0; i < runs; ++i) {
            TimeOnce(jpegtran, RUSAGE_CHILDREN, [&] { return Run(jpegtranCommand); });
            TimeOnce(model, RUSAGE_SELF, rewrite);
        }
        std::printf("%-22s %8.3fs %7.3fs %12.3fs %7.3fs %6.2fx %6.2fx   (%zu carriers)\n", input.name, model.wall,
            model.cpu, jpegtran.wall, jpegtran.cpu, model.wall / jpegtran.wall, model.cpu / jpegtran.cpu, carriers);
        std::printf("%-22s read %.3fs, carriers %.3fs, write %.3fs\n", "", phases[0], phases[1], phases[2]);
    }
    std::remove(ppm.c_str());
    return 0;
}
