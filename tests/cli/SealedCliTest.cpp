// The sealed commands of the built veilmark-cli, run as a separate process.

#include "jpeg/JpegCoefficientFile.h"
#include "support/BmpMaker.h"
#include "support/CliRunner.h"
#include "support/JpegTestSupport.h"
#include "support/PngMaker.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

class SealedCli : public testing::Test {
protected:
    // Runs veilmark-cli with `arguments`, feeding `input` on standard input.
    RunResult Run(const std::vector<std::string>& arguments, const std::string& input = {})
    {
        return RunCli(m_folder.Path(), arguments, input);
    }

    static void ExpectFailure(const RunResult& result, int status, const std::string& fragment)
    {
        EXPECT_EQ(result.status, status) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(fragment), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }

    std::string Path(const std::string& name) const { return (m_folder / name).string(); }
    void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        WriteBytes(m_folder / name, bytes);
    }
    void Put(const std::string& name, const std::string& text) const
    {
        WriteBytes(m_folder / name, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::vector<std::uint8_t> Get(const std::string& name) const { return ReadBytes(m_folder / name); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_folder / name); }

    // The number after "key: " in info's output.
    std::uint64_t InfoValue(const std::string& picture, const std::string& key)
    {
        const RunResult info = Run({ "info", picture });
        const std::size_t at = info.out.find(key + ": ");
        EXPECT_NE(at, std::string::npos) << info.out;
        return at == std::string::npos ? 0 : std::stoull(info.out.substr(at + key.size() + 2));
    }

    CTempFolder m_folder;
};

std::string AnyBytes(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = char((i * 131 + 7) % 256); // zero bytes included
    return bytes;
}

struct CarrierCase {
    const char* name;
    const char* extension;
    std::vector<std::uint8_t> file;
    std::uint64_t samples;
};

void PrintTo(const CarrierCase& value, std::ostream* stream) { *stream << value.name; }

class SealedCliCarrier : public SealedCli, public testing::WithParamInterface<CarrierCase> { };

TEST_P(SealedCliCarrier, FillsTheCapacityAndRevealsTextAndFiles)
{
    const CarrierCase& carrier = GetParam();
    const std::string in = std::string("in.") + carrier.extension;
    const std::string out = std::string("out.") + carrier.extension;
    Put(in, carrier.file);
    Put("pw", "correct horse\n");
    const std::uint64_t capacity = InfoValue(in, "sealed-capacity");
    EXPECT_EQ(capacity, (carrier.samples - 320) / 8 - 16);

    Put("full", AnyBytes(capacity + 1));
    ExpectFailure(Run({ "hide", in, out, "--sealed", "--message-file", "full", "--password-file", "pw" }), 4,
        "sealed capacity of " + std::to_string(capacity) + " bytes");
    EXPECT_FALSE(Exists(out));

    Put("full", AnyBytes(capacity));
    ASSERT_EQ(Run({ "hide", in, out, "--sealed", "--message-file", "full", "--password-file", "pw" }).status, 0);
    if (std::string(carrier.extension) == "bmp") {
        EXPECT_EQ(Get(out).size(), carrier.file.size());
    }
    const RunResult text = Run({ "reveal", out, "--password-file", "pw" });
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, AnyBytes(capacity));
    EXPECT_NE(Run({ "info", out }).out.find("secret: no\n"), std::string::npos)
        << "secret: is about the compatible format";

    Put("empty.txt", "");
    ASSERT_EQ(Run({ "hide", in, out, "--sealed", "--file", "empty.txt", "--password-file", "pw" }).status, 0);
    const RunResult file = Run({ "reveal", out, "--password-file", "pw", "--output", "revealed" });
    EXPECT_EQ(file.status, 0) << file.err;
    EXPECT_NE(file.err.find("'empty.txt'"), std::string::npos) << file.err;
    EXPECT_TRUE(Exists("revealed"));
    EXPECT_TRUE(Get("revealed").empty());
}

std::vector<std::uint8_t> GreyBitmap()
{
    std::vector<std::uint8_t> file = MakeBmp({ .width = 45, .height = 30, .bitCount = 8 });
    for (std::size_t i = 0; i < 256; ++i)
        for (std::size_t c = 0; c < 3; ++c)
            file[54 + 4 * i + c] = std::uint8_t(i);
    return file;
}

PngShape Png(int colorType, int bitDepth, bool interlaced = false)
{
    PngShape shape;
    shape.width = 37;
    shape.height = 23;
    shape.colorType = colorType;
    shape.bitDepth = bitDepth;
    shape.interlaced = interlaced;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(Carriers, SealedCliCarrier,
    testing::Values(CarrierCase { "Grey8", "bmp", GreyBitmap(), 45 * 30 },
        CarrierCase { "Bmp16", "bmp", MakeBmp({ .width = 30, .height = 20, .bitCount = 16 }), 30 * 20 * 3 },
        CarrierCase { "Bmp24", "bmp", MakeBmp({ .width = 30, .height = 20, .bitCount = 24 }), 30 * 20 * 3 },
        CarrierCase { "Bmp32", "bmp", MakeBmp({ .width = 30, .height = 20, .bitCount = 32 }), 30 * 20 * 3 },
        CarrierCase { "PngGrey8", "png", MakePng(Png(PNG_COLOR_TYPE_GRAY, 8)), 37 * 23 },
        CarrierCase { "PngGrey16", "png", MakePng(Png(PNG_COLOR_TYPE_GRAY, 16)), 37 * 23 },
        CarrierCase { "PngRgb8", "png", MakePng(Png(PNG_COLOR_TYPE_RGB, 8)), 37 * 23 * 3 },
        CarrierCase { "PngRgb16", "png", MakePng(Png(PNG_COLOR_TYPE_RGB, 16)), 37 * 23 * 3 },
        CarrierCase { "PngRgba8Interlaced", "png", MakePng(Png(PNG_COLOR_TYPE_RGB_ALPHA, 8, true)), 37 * 23 * 3 },
        CarrierCase { "PngRgba16", "png", MakePng(Png(PNG_COLOR_TYPE_RGB_ALPHA, 16)), 37 * 23 * 3 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SealedCli, SameMessageTwiceDiffersAndAnyChangedSampleIsRefused)
{
    Put("in.bmp", MakeBmp({ .width = 40, .height = 20, .bitCount = 24 }));
    Put("pw", "pw\n");
    const std::uint64_t capacity = InfoValue("in.bmp", "sealed-capacity");
    Put("message", AnyBytes(capacity)); // every sample but a few carries a bit
    ASSERT_EQ(
        Run({ "hide", "in.bmp", "a.bmp", "--sealed", "--message-file", "message", "--password-file", "pw" }).status, 0);
    ASSERT_EQ(
        Run({ "hide", "in.bmp", "b.bmp", "--sealed", "--message-file", "message", "--password-file", "pw" }).status, 0);
    EXPECT_NE(Get("a.bmp"), Get("b.bmp"));

    const std::vector<std::uint8_t> sealed = Get("a.bmp");
    for (std::size_t at : { std::size_t(54), std::size_t(54 + 1200), sealed.size() - 1 }) {
        std::vector<std::uint8_t> changed = sealed;
        changed[at] ^= 1;
        Put("changed.bmp", changed);
        ExpectFailure(Run({ "reveal", "changed.bmp", "--password-file", "pw" }), 5,
            "changed.bmp: No hidden message opens with this password");
    }
    Put("wrong", "pW\n");
    ExpectFailure(
        Run({ "reveal", "a.bmp", "--password-file", "wrong" }), 5, "No hidden message opens with this password");
}

TEST_F(SealedCli, OutputIsNeverOverwrittenWithoutForce)
{
    Put("in.png", MakePng(Png(PNG_COLOR_TYPE_RGB, 8)));
    Put("pw", "pw\n");
    Put("report.pdf", AnyBytes(200));
    ASSERT_EQ(
        Run({ "hide", "in.png", "out.png", "--sealed", "--file", "report.pdf", "--password-file", "pw" }).status, 0);
    Put("there", "keep me");
    ExpectFailure(Run({ "reveal", "out.png", "--password-file", "pw", "--output", "there" }), 6, "--force");
    EXPECT_EQ(ReadText(m_folder / "there"), "keep me");
    const RunResult forced = Run({ "reveal", "out.png", "--password-file", "pw", "--output", "there", "--force" });
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(ReadText(m_folder / "there"), AnyBytes(200));
    // Standard output takes the file's bytes when no --output is given.
    EXPECT_EQ(Run({ "reveal", "out.png", "--password-file", "pw" }).out, AnyBytes(200));
}

TEST_F(SealedCli, RevealTriesTheCompatibleFormatFirst)
{
    Put("in.bmp", MakeBmp({ .width = 40, .height = 20, .bitCount = 24 }));
    Put("pw", "pw\n");
    ASSERT_EQ(Run({ "hide", "in.bmp", "c.bmp", "--password-file", "pw" }, "compatible").status, 0);
    EXPECT_EQ(Run({ "reveal", "c.bmp", "--password-file", "pw", "--output", "m" }).status, 0);
    EXPECT_EQ(ReadText(m_folder / "m"), "compatible");
    Put("wrong", "x\n");
    ExpectFailure(Run({ "reveal", "c.bmp", "--password-file", "wrong" }), 3, "Wrong password");
}

TEST_F(SealedCli, PngInfoDescribesThePicture)
{
    Put("in.png", MakePng(Png(PNG_COLOR_TYPE_RGB_ALPHA, 16, true)));
    const RunResult info = Run({ "info", "in.png" });
    EXPECT_EQ(info.status, 0);
    for (const char* line : { "format: PNG\n", "width: 37\n", "height: 23\n", "bit-depth: 16\n", "color-type: RGBA\n",
             "interlaced: yes\n", "secret: no\n", "sealed-capacity: 263\n" })
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
}

// JPEG covers made by cjpeg (and jpegtran): text from nothing to the
// capacity and a file round-trip; one byte more is refused with exit 4 and
// no output; a changed coefficient or another password reveals nothing.
struct JpegCliCase {
    const char* name;
    const char* cjpegOptions;
    const char* jpegtranOptions;
};

void PrintTo(const JpegCliCase& value, std::ostream* stream) { *stream << value.name; }

class SealedCliJpeg : public SealedCli, public testing::WithParamInterface<JpegCliCase> { };

TEST_P(SealedCliJpeg, HidesRevealsAndRefusesWhatDoesNotFit)
{
    if (!HaveLibjpegTools() || RunCommand("command -v jpegtran >/dev/null") != 0)
        GTEST_SKIP() << "cjpeg/jpegtran (libjpeg-turbo-progs) are not installed";
    const JpegCliCase& cover = GetParam();
    CTempFolder scratch;
    std::vector<std::uint8_t> file
        = ReadBytes(MakeCjpegFile(scratch, MakeTestPicture(120, 90, 2), cover.cjpegOptions, "cover"));
    if (cover.jpegtranOptions) {
        WriteBytes((scratch / "before.jpg").string(), file);
        ASSERT_EQ(RunCommand(std::string("jpegtran -copy all ") + cover.jpegtranOptions + " -outfile "
                      + (scratch / "after.jpg").string() + " " + (scratch / "before.jpg").string()),
            0);
        file = ReadBytes((scratch / "after.jpg").string());
    }
    Put("in.jpg", file);
    Put("pw", "correct horse\n");
    CJpegCoefficientFile model;
    ASSERT_TRUE(model.ReadMemory(file).IsOk());
    const std::uint64_t capacity = InfoValue("in.jpg", "sealed-capacity");
    EXPECT_EQ(capacity, (model.GetCarriers().size() - 320) / 8 - 16);

    Put("full", AnyBytes(capacity + 1));
    ExpectFailure(Run({ "hide", "in.jpg", "out.jpg", "--sealed", "--message-file", "full", "--password-file", "pw" }),
        4, "sealed capacity of " + std::to_string(capacity) + " bytes");
    EXPECT_FALSE(Exists("out.jpg"));

    for (const std::size_t length : { std::size_t(0), std::size_t(1), std::size_t(capacity) }) {
        Put("message", AnyBytes(length));
        ASSERT_EQ(Run({ "hide", "in.jpg", "out.jpg", "--sealed", "--message-file", "message", "--password-file", "pw" })
                      .status,
            0);
        const RunResult text = Run({ "reveal", "out.jpg", "--password-file", "pw" });
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_EQ(text.out, AnyBytes(length));
    }
    EXPECT_NE(Run({ "info", "out.jpg" }).out.find("secret: no\n"), std::string::npos);
    Put("wrong", "correct horsE\n");
    ExpectFailure(Run({ "reveal", "out.jpg", "--password-file", "wrong" }), 5,
        "out.jpg: No hidden message opens with this password");
    CJpegCoefficientFile sealed;
    ASSERT_TRUE(sealed.ReadMemory(Get("out.jpg")).IsOk());
    // The salt is random, so which elements the few left over by a full
    // container are is not known here; one of three carriers is used.
    const std::vector<CJpegCoefficientFile::CoefficientIndex> carriers = sealed.GetCarriers();
    for (const std::size_t element : { std::size_t(7), carriers.size() / 2, carriers.size() - 2 }) {
        const std::int16_t value = sealed.GetCoefficient(carriers[element]);
        ASSERT_TRUE(sealed.SetCoefficient(carriers[element], std::int16_t(value + (value > 0 ? 1 : -1))));
    }
    std::vector<std::uint8_t> changed;
    ASSERT_TRUE(sealed.WriteMemory(changed).IsOk());
    Put("changed.jpg", changed);
    ExpectFailure(Run({ "reveal", "changed.jpg", "--password-file", "pw" }), 5,
        "changed.jpg: No hidden message opens with this password");

    Put("report.pdf", AnyBytes(capacity / 2));
    ASSERT_EQ(
        Run({ "hide", "in.jpg", "out.jpg", "--sealed", "--file", "report.pdf", "--password-file", "pw" }).status, 0);
    const RunResult revealed = Run({ "reveal", "out.jpg", "--password-file", "pw", "--output", "revealed" });
    EXPECT_EQ(revealed.status, 0) << revealed.err;
    EXPECT_NE(revealed.err.find("'report.pdf'"), std::string::npos) << revealed.err;
    EXPECT_EQ(ReadText(m_folder / "revealed"), AnyBytes(capacity / 2));
}

INSTANTIATE_TEST_SUITE_P(Covers, SealedCliJpeg,
    testing::Values(JpegCliCase { "Baseline420", "-quality 75 -sample 2x2", nullptr },
        JpegCliCase { "Baseline422", "-quality 80 -sample 2x1", nullptr },
        JpegCliCase { "Baseline444", "-quality 90 -sample 1x1", nullptr },
        JpegCliCase { "Grey", "-quality 75 -grayscale", nullptr },
        JpegCliCase { "RestartInterval", "-quality 75 -restart 1", nullptr },
        JpegCliCase { "Progressive", "-quality 75 -progressive", nullptr },
        JpegCliCase { "JpegtranProgressive", "-quality 90", "-progressive" }),
    [](const auto& info) { return std::string(info.param.name); });

struct SealedRefusal {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* reason;
};

void PrintTo(const SealedRefusal& value, std::ostream* stream) { *stream << value.name; }

class SealedCliRefusal : public SealedCli, public testing::WithParamInterface<SealedRefusal> { };

TEST_P(SealedCliRefusal, RefusesAndWritesNothing)
{
    Put("in.bmp", MakeBmp({ .width = 40, .height = 20, .bitCount = 24 }));
    Put("four.bmp", MakeBmp({ .width = 40, .height = 20, .bitCount = 4 }));
    Put("in.png", MakePng(Png(PNG_COLOR_TYPE_RGB, 8)));
    Put("palette.png", MakePng(Png(PNG_COLOR_TYPE_PALETTE, 8)));
    Put("fake.png", MakeBmp({}));
    Put("in.jpg", std::string("\xFF\xD8"));
    Put("pw", "pw\n");
    ExpectFailure(Run(GetParam().arguments, "message"), GetParam().status, GetParam().reason);
    for (const char* name : { "out.bmp", "out.png", "out.jpg" })
        EXPECT_FALSE(Exists(name)) << name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, SealedCliRefusal,
    testing::Values(SealedRefusal { "PngWithoutSealed", { "hide", "in.png", "out.png", "--password-file", "pw" }, 2,
                        "only sealed messages" },
        SealedRefusal { "FourBitBitmap", { "hide", "four.bmp", "out.bmp", "--sealed", "--password-file", "pw" }, 2,
            "4-bit bitmap cannot carry a sealed message" },
        SealedRefusal { "PalettePng", { "hide", "palette.png", "out.png", "--sealed", "--password-file", "pw" }, 2,
            "colour-palette PNG" },
        SealedRefusal { "BitmapNamedPng", { "hide", "fake.png", "out.png", "--sealed", "--password-file", "pw" }, 2,
            "not a PNG file" },
        SealedRefusal { "DamagedJpeg", { "hide", "in.jpg", "out.jpg", "--sealed", "--password-file", "pw" }, 2,
            "in.jpg: The JPEG file cannot be decoded" },
        SealedRefusal { "JpegToOtherKind", { "hide", "in.jpg", "out.png", "--sealed", "--password-file", "pw" }, 1,
            ".jpg or .jpeg" },
        SealedRefusal {
            "OtherKindOutput", { "hide", "in.png", "out.bmp", "--sealed", "--password-file", "pw" }, 1, ".png" },
        SealedRefusal { "FileWithoutSealed", { "hide", "in.bmp", "out.bmp", "--file", "pw", "--password-file", "pw" },
            1, "--file needs --sealed" },
        SealedRefusal { "FileAndMessageFile",
            { "hide", "in.bmp", "out.bmp", "--sealed", "--file", "pw", "--message-file", "pw" }, 1, "not both" },
        SealedRefusal { "MissingFile",
            { "hide", "in.bmp", "out.bmp", "--sealed", "--file", "nope", "--password-file", "pw" }, 1, "nope" },
        SealedRefusal { "ForceWithoutOutput", { "reveal", "in.bmp", "--force", "--password-file", "pw" }, 1,
            "--force needs --output" },
        SealedRefusal { "SealedReveal", { "reveal", "in.bmp", "--sealed" }, 1, "reveal takes no --sealed" },
        SealedRefusal {
            "OutputOnHide", { "hide", "in.bmp", "out.bmp", "--output", "x" }, 1, "hide takes no --output" }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
