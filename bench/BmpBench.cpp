// Throughput of hiding in and revealing from bitmap pixels, and of enciphering
// a message that fills a large picture. Everything runs in memory.

#include "picture/BmpCarrier.h"
#include "picture/BmpPicture.h"
#include "picture/SecretContainer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kWidth = 4000;
constexpr std::int32_t kHeight = 3000;
constexpr std::int64_t kMegapixels = std::int64_t(kWidth) * kHeight / 1000000;

void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int width = 4)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = std::uint8_t(value >> (8 * i));
}

// A kWidth x kHeight bitmap of the given depth with noise for pixels.
std::vector<std::uint8_t> MakeBitmap(int bitCount)
{
    const std::size_t table = bitCount < 16 ? std::size_t(4) << bitCount : 0;
    const std::size_t row = (std::size_t(kWidth) * bitCount + 31) / 32 * 4;
    const std::size_t headers = 14 + 40 + table;
    std::vector<std::uint8_t> file(headers + row * kHeight);
    file[0] = 'B';
    file[1] = 'M';
    PutLittleEndian(file, 2, std::uint32_t(file.size()));
    PutLittleEndian(file, 10, std::uint32_t(headers));
    PutLittleEndian(file, 14, 40);
    PutLittleEndian(file, 18, std::uint32_t(kWidth));
    PutLittleEndian(file, 22, std::uint32_t(kHeight));
    PutLittleEndian(file, 26, 1, 2);
    PutLittleEndian(file, 28, std::uint32_t(bitCount), 2);
    std::mt19937 generator(42);
    for (std::size_t i = headers; i < file.size(); i += 4)
        PutLittleEndian(file, i, std::uint32_t(generator()), int(std::min<std::size_t>(4, file.size() - i)));
    return file;
}

struct PixelsAndContainer {
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> container;
    BmpHidingMode mode;
};

PixelsAndContainer Prepare(int bitCount)
{
    CDibImage image;
    if (!image.LoadFromBytes(MakeBitmap(bitCount)).IsOk())
        std::abort();
    PixelsAndContainer prepared;
    prepared.pixels.assign(image.GetPixelData(), image.GetPixelData() + image.GetPixelDataLength());
    prepared.mode = HidingModeForBitCount(bitCount);
    prepared.container.resize(CarrierCapacity(prepared.mode, prepared.pixels.size()));
    std::mt19937 generator(7);
    for (auto& byte : prepared.container)
        byte = std::uint8_t(generator());
    return prepared;
}

void ReportThroughput(benchmark::State& state, std::size_t pixelBytes)
{
    state.SetBytesProcessed(std::int64_t(state.iterations() * pixelBytes));
    // One item is one megapixel, so items per second read as megapixels per second.
    state.SetItemsProcessed(std::int64_t(state.iterations()) * kMegapixels);
}

// The embedding step of a save: the whole container buffer into the pixels.
void BM_Hide(benchmark::State& state)
{
    PixelsAndContainer prepared = Prepare(int(state.range(0)));
    for (auto _ : state) {
        EmbedContainer(prepared.mode, prepared.pixels, prepared.container);
        benchmark::ClobberMemory();
    }
    ReportThroughput(state, prepared.pixels.size());
}

// The extraction step of a load: the whole container buffer out of the pixels.
void BM_Reveal(benchmark::State& state)
{
    PixelsAndContainer prepared = Prepare(int(state.range(0)));
    for (auto _ : state) {
        ExtractContainer(prepared.mode, prepared.pixels, prepared.container);
        benchmark::DoNotOptimize(prepared.container.data());
        benchmark::ClobberMemory();
    }
    ReportThroughput(state, prepared.pixels.size());
}

// A whole load from memory: header checks, the copy of the file, extraction,
// recognition and the report page.
void BM_LoadFromMemory(benchmark::State& state)
{
    const std::vector<std::uint8_t> file = MakeBitmap(int(state.range(0)));
    std::size_t pixelBytes = 0;
    for (auto _ : state) {
        CBmpPicture picture;
        if (picture.LoadFromBytes(file, "bench.bmp") != kPictureOk)
            state.SkipWithError("the generated bitmap did not load");
        pixelBytes = picture.GetDibImage()->GetPixelDataLength();
        benchmark::DoNotOptimize(picture.GetDataBuffer());
    }
    ReportThroughput(state, pixelBytes);
}

// The container written for the longest message the 24-bit picture takes:
// password check, key, length word and the enciphering of the message area.
void BM_EncipherFullCapacity(benchmark::State& state)
{
    CBmpPicture picture;
    if (picture.LoadFromBytes(MakeBitmap(24), "bench.bmp") != kPictureOk) {
        state.SkipWithError("the generated bitmap did not load");
        return;
    }
    const std::string message(picture.GetDataSpace() - 1, 'm');
    for (auto _ : state) {
        if (WriteContainer(picture, "a password", message) != ContainerStatus::Ok)
            state.SkipWithError("the message did not fit");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * picture.GetDataSpace()));
    state.SetLabel("data space " + std::to_string(picture.GetDataSpace()) + " bytes");
}

void Depths(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgName("bits");
    for (int bitCount : { 24, 1, 4, 8, 16, 32 })
        benchmark->Arg(bitCount);
    benchmark->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Hide)->Apply(Depths);
BENCHMARK(BM_Reveal)->Apply(Depths);
BENCHMARK(BM_LoadFromMemory)->Arg(24)->ArgName("bits")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncipherFullCapacity)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
