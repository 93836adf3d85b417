// Throughput of the JPEG codec in megapixels per second: decoding a 4:2:0
// photograph-like picture written by cjpeg (quality 90), from memory and from
// its file, and encoding the same pixels (always 4:4:4, fixed tables) into
// memory; reading only the carrier bits; and transcoding the file (decode
// and encode at once, as saving a loaded picture does). Pictures: 4000 x 3000
// and 640 x 480.
//
// The pictures are made at start-up in a scratch folder, or in the folder
// named by VEILMARK_JPEG_BENCH_DIR, where they are kept (bench/jpeg_compare.sh
// times djpeg and cjpeg on them).

#include "jpeg/JpegCodec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct BenchPicture {
    std::string name;
    int width = 0;
    int height = 0;
    std::string jpegPath;
    std::vector<std::uint8_t> jpeg;
    std::vector<std::uint8_t> topDownBgr; // the source pixels, rows padded to 4 bytes
};

std::uint8_t ClampByte(double value) { return std::uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); }

// Smooth gradients and waves with fine grain and a few hard edges: a stand-in
// for a photograph.
BenchPicture MakePicture(const std::string& folder, const std::string& name, int width, int height)
{
    BenchPicture picture;
    picture.name = name;
    picture.width = width;
    picture.height = height;
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    picture.topDownBgr.assign(rowBytes * std::size_t(height), 0);
    std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            noise = noise * 1664525u + 1013904223u;
            const double grain = double(int(noise >> 27) - 16) * 0.4;
            const double edge = (std::sin(u * 9.0) * std::cos(v * 7.0) > 0.35) ? 35.0 : 0.0;
            const double red = 150 + 60 * std::sin(u * 5.1 + v * 2.3) + 25 * std::sin(x * 0.045) + edge + grain;
            const double green = 120 + 55 * std::cos(v * 4.4 - u) + 20 * std::sin((x + y) * 0.031) + grain;
            const double blue = 100 + 70 * std::sin(v * 3.3 + u * 6.0) - edge + 15 * std::cos(y * 0.052) + grain;
            std::uint8_t* out = &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            out[0] = ClampByte(red);
            out[1] = ClampByte(green);
            out[2] = ClampByte(blue);
            std::uint8_t* bgr = &picture.topDownBgr[std::size_t(y) * rowBytes + std::size_t(x) * 3];
            bgr[0] = out[2];
            bgr[1] = out[1];
            bgr[2] = out[0];
        }
    }
    const std::string ppmPath = folder + "/" + name + ".ppm";
    picture.jpegPath = folder + "/" + name + ".jpg";
    {
        std::ofstream ppm(ppmPath, std::ios::binary);
        ppm << "P6\n" << width << " " << height << "\n255\n";
        ppm.write(reinterpret_cast<const char*>(rgb.data()), std::streamsize(rgb.size()));
    }
    const std::string command = "cjpeg -quality 90 -sample 2x2 -outfile " + picture.jpegPath + " " + ppmPath;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot run: %s\n", command.c_str());
        std::exit(1);
    }
    std::ifstream in(picture.jpegPath, std::ios::binary);
    picture.jpeg.assign(std::istreambuf_iterator<char>(in), {});
    return picture;
}

void SetRate(benchmark::State& state, const BenchPicture& picture)
{
    state.counters["MP/s"] = benchmark::Counter(
        double(picture.width) * picture.height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void DecodeMemory(benchmark::State& state, const BenchPicture* picture)
{
    for (auto _ : state) {
        CJpegCodec codec;
        if (!codec.DecodeMemory(picture->jpeg).IsOk())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(codec.GetImage().data());
    }
    SetRate(state, *picture);
}

void DecodeFile(benchmark::State& state, const BenchPicture* picture)
{
    for (auto _ : state) {
        CJpegCodec codec;
        if (!codec.Decode(picture->jpegPath).IsOk())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(codec.GetImage().data());
    }
    SetRate(state, *picture);
}

// What reveal and info do: the blocks read for the carrier bits only.
void DecodeCarriers(benchmark::State& state, const BenchPicture* picture)
{
    for (auto _ : state) {
        CJpegCodec codec;
        if (!codec.DecodeCarriers(picture->jpeg).IsOk())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(codec.GetContainerBuffer());
    }
    SetRate(state, *picture);
}

// What saving a loaded picture does: decode on one thread, encode on the
// others, the picture passed between them in bands.
void TranscodeMemory(benchmark::State& state, const BenchPicture* picture)
{
    CJpegCodec codec;
    if (!codec.DecodeCarriers(picture->jpeg).IsOk())
        state.SkipWithError("decode failed");
    std::vector<std::uint8_t> file;
    for (auto _ : state) {
        if (!codec.TranscodeToMemory(picture->jpeg, file).IsOk())
            state.SkipWithError("transcode failed");
        benchmark::DoNotOptimize(file.data());
    }
    SetRate(state, *picture);
}

void EncodeMemory(benchmark::State& state, const BenchPicture* picture)
{
    std::vector<std::uint8_t> file;
    for (auto _ : state) {
        CJpegCodec codec;
        if (!codec.EncodeToMemory(picture->width, picture->height, picture->topDownBgr.data(), file).IsOk())
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(file.data());
    }
    SetRate(state, *picture);
}

} // namespace

int main(int argc, char** argv)
{
    const char* keep = std::getenv("VEILMARK_JPEG_BENCH_DIR");
    std::string folder;
    if (keep && *keep) {
        folder = keep;
        std::filesystem::create_directories(folder);
    } else {
        const char* base = std::getenv("TMPDIR");
        folder = std::string(base && *base ? base : "/tmp") + "/veilmark-jpeg-bench-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
    }

    static std::vector<BenchPicture> pictures;
    pictures.push_back(MakePicture(folder, "photo-12mp", 4000, 3000));
    pictures.push_back(MakePicture(folder, "photo-vga", 640, 480));
    for (const BenchPicture& picture : pictures) {
        // Wall-clock rates; CPU time counts every thread (the encoder uses
        // helper threads for large pictures).
        benchmark::RegisterBenchmark(("DecodeMemory/" + picture.name).c_str(), DecodeMemory, &picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("DecodeFile/" + picture.name).c_str(), DecodeFile, &picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("EncodeMemory/" + picture.name).c_str(), EncodeMemory, &picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("DecodeCarriers/" + picture.name).c_str(), DecodeCarriers, &picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark(("TranscodeMemory/" + picture.name).c_str(), TranscodeMemory, &picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (!(keep && *keep)) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return 0;
}
