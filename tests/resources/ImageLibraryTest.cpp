#include "GLTest.h"
#include "ImageWriters.h"
#include "ReportCapture.h"

#include "archive/Crc32.h"
#include "resources/ImageLibrary.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

struct ImageDeleter {
    void operator()(ImageData* image) const { freeImage(image); }
};
using Image = std::unique_ptr<ImageData, ImageDeleter>;

ImageLibrary& library() {
    return ImageLibrary::instance();
}

class Images : public ::testing::Test {
  protected:
    std::string dir = makeTempDir();
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

TEST_F(Images, PngSamplesComeBackAsStoredAtEveryDepthSizeAndInterlace) {
    struct Case {
        const char* name;
        int colourType;
        int depth;
        int bytesPerRow; // for a 3-pixel row
        unsigned expectedBits;
    };
    const Case cases[] = {
        {"rgb.png", PNG_COLOR_TYPE_RGB, 8, 9, 24},
        {"rgba.png", PNG_COLOR_TYPE_RGBA, 8, 12, 32},
        {"grey.png", PNG_COLOR_TYPE_GRAY, 8, 3, 8},
        {"greyalpha.png", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 6, 16},
        {"palette.png", PNG_COLOR_TYPE_PALETTE, 8, 3, 8},
        {"rgb16.png", PNG_COLOR_TYPE_RGB, 16, 18, 48},
        {"rgba16.png", PNG_COLOR_TYPE_RGBA, 16, 24, 64},
        {"grey1.png", PNG_COLOR_TYPE_GRAY, 1, 1, 1},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> pixels(c.bytesPerRow * 2);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>(i * 7 + 1);
        if (c.colourType == PNG_COLOR_TYPE_PALETTE)
            for (auto& p : pixels)
                p %= 4;
        if (c.depth == 1) pixels = {0xA0, 0x40};
        std::vector<unsigned char> palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
        ASSERT_TRUE(writePNG(path(c.name), 3, 2, c.colourType, c.depth, pixels, palette)) << c.name;
        Image image(library().loadPNG(path(c.name).c_str()));
        ASSERT_TRUE(image) << c.name;
        EXPECT_EQ(image->width, 3u) << c.name;
        EXPECT_EQ(image->height, 2u) << c.name;
        EXPECT_EQ(image->bitsPerPixel, c.expectedBits) << c.name;
        // Stored samples come back unchanged, rows packed without padding (palette as indices).
        EXPECT_EQ(0, memcmp(image->data, pixels.data(), pixels.size())) << c.name;
    }

    // A large RGB picture has tight rows.
    {
        auto pixels = rgbPixels(640, 480, [](int x, int y) {
            return std::array<unsigned char, 3>{static_cast<unsigned char>(x), static_cast<unsigned char>(y),
                                                7};
        });
        ASSERT_TRUE(writePNG(path("big.png"), 640, 480, PNG_COLOR_TYPE_RGB, 8, pixels));
        Image image(library().loadImage("big.png", (dir + "/").c_str()));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, 640u);
        EXPECT_EQ(image->height, 480u);
        EXPECT_EQ(image->bitsPerPixel, 24u);
        EXPECT_EQ(0, memcmp(image->data, pixels.data(), 921600));
    }

    // Adam7 files hold their rows in seven passes; the whole picture must come back in row order.
    for (int colourType : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA}) {
        const int channels = colourType == PNG_COLOR_TYPE_RGB ? 3 : 4;
        std::vector<unsigned char> pixels(13 * 11 * channels);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>(i * 13 + 5);
        ASSERT_TRUE(writePNG(path("adam7.png"), 13, 11, colourType, 8, pixels, {}, true));
        ::testing::internal::CaptureStderr();
        Image image(library().loadImage("adam7.png", (dir + "/").c_str()));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a valid file decodes without warnings";
        ASSERT_TRUE(image) << channels;
        EXPECT_EQ(image->bitsPerPixel, static_cast<uint32_t>(channels * 8));
        EXPECT_EQ(0, memcmp(image->data, pixels.data(), pixels.size())) << channels;
    }
}

TEST_F(Images, DecoderIsChosenByTheExactEnding) {
    auto pixels = rgbPixels(2, 2, [](int, int) { return std::array<unsigned char, 3>{1, 2, 3}; });
    for (const char* name : {"a.png", "a.PNG", "a.Png", "a.jpeg", "a.pnG"})
        ASSERT_TRUE(writePNG(path(name), 2, 2, PNG_COLOR_TYPE_RGB, 8, pixels));
    ASSERT_TRUE(writeJPEG(path("b.jpg"), 2, 2, 3, pixels));
    ASSERT_TRUE(writeJPEG(path("b.JPG"), 2, 2, 3, pixels));
    ASSERT_TRUE(writeJPEG(path("b.Jpg"), 2, 2, 3, pixels));
    // A PNG named .jpg goes to the JPEG decoder, which refuses it.
    ASSERT_TRUE(writePNG(path("c.jpg"), 2, 2, PNG_COLOR_TYPE_RGB, 8, pixels));

    for (const char* good : {"a.png", "a.PNG", "b.jpg", "b.JPG"})
        EXPECT_TRUE(Image(library().loadImage(good, (dir + "/").c_str()))) << good;
    for (const char* bad : {"a.Png", "a.pnG", "a.jpeg", "b.Jpg", "c.jpg", "png", ""})
        EXPECT_FALSE(Image(library().loadImage(bad, (dir + "/").c_str()))) << bad;
    // An empty directory leaves the name as the whole path.
    EXPECT_TRUE(Image(library().loadImage(path("a.png").c_str(), "")));
    EXPECT_FALSE(Image(library().loadImage("a.png", "")));
}

// Widths whose rows are not a multiple of 4 bytes: every row must start where the packed layout
// says, or the lower rows come out shifted.
TEST_F(Images, JpegDecodesGreyColourAndOddWidthsToPackedRgbRows) {
    for (int width : {1, 5, 13, 31}) {
        auto pixels = rgbPixels(width, 16, [](int, int y) {
            return y < 8 ? std::array<unsigned char, 3>{0, 0, 0}
                         : std::array<unsigned char, 3>{255, 255, 255};
        });
        const std::string file = path("odd" + std::to_string(width) + ".jpg");
        ASSERT_TRUE(writeJPEG(file, width, 16, 3, pixels));
        Image image(library().loadJPEG(file.c_str()));
        ASSERT_TRUE(image) << width;
        ASSERT_EQ(image->width, static_cast<uint32_t>(width));
        ASSERT_EQ(image->bitsPerPixel, 24u);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(image->data[(y * width + x) * 3 + c], y < 8 ? 0 : 255, 6)
                        << "width " << width << " at " << x << "," << y;
        // The packed rows survive widening and resizing.
        library().convertTo32Bit(image.get());
        library().scaleImage(2, 2, image.get());
        EXPECT_NEAR(image->data[0], 0, 6);
        EXPECT_NEAR(image->data[2 * 4], 255, 6);
        EXPECT_EQ(image->data[3], 255);
    }

    // Grey becomes three equal channels.
    {
        std::vector<unsigned char> grey(16 * 8);
        for (size_t i = 0; i < grey.size(); ++i)
            grey[i] = (i % 16) < 8 ? 40 : 200;
        ASSERT_TRUE(writeJPEG(path("grey.jpg"), 16, 8, 1, grey));
        Image image(library().loadJPEG(path("grey.jpg").c_str()));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->bitsPerPixel, 24u);
        for (size_t i = 0; i < grey.size(); ++i) {
            const unsigned char* p = image->data + i * 3;
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_NEAR(p[0], grey[i], 3) << i;
        }
    }

    // Colours come out red, green, blue.
    auto pixels = rgbPixels(8, 8, [](int, int) { return std::array<unsigned char, 3>{220, 30, 90}; });
    ASSERT_TRUE(writeJPEG(path("c.jpg"), 8, 8, 3, pixels));
    Image image(library().loadImage("c.jpg", (dir + "/").c_str()));
    ASSERT_TRUE(image);
    EXPECT_NEAR(image->data[0], 220, 3);
    EXPECT_NEAR(image->data[1], 30, 3);
    EXPECT_NEAR(image->data[2], 90, 3);
}

// The PNG with its IHDR size replaced (CRC fixed up).
std::string withPngSize(std::string png, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const uint32_t crc = rar::crc32Update(0, png.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return png;
}

// The JPEG with its frame header's size replaced.
std::string withJpegSize(std::string jpg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 9 < jpg.size(); ++i) {
        if (static_cast<unsigned char>(jpg[i]) == 0xFF && static_cast<unsigned char>(jpg[i + 1]) == 0xC0) {
            jpg[i + 5] = static_cast<char>(height >> 8);
            jpg[i + 6] = static_cast<char>(height);
            jpg[i + 7] = static_cast<char>(width >> 8);
            jpg[i + 8] = static_cast<char>(width);
            return jpg;
        }
    }
    return std::string();
}

TEST_F(Images, BrokenFilesGiveNothing) {
    auto pixels = rgbPixels(64, 64, [](int x, int y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(x * 3),
                                            static_cast<unsigned char>(y * 5),
                                            static_cast<unsigned char>(x ^ y)};
    });
    ASSERT_TRUE(writePNG(path("good.png"), 64, 64, PNG_COLOR_TYPE_RGB, 8, pixels));
    ASSERT_TRUE(writeJPEG(path("good.jpg"), 64, 64, 3, pixels));
    const std::string png = readFile(path("good.png"));
    const std::string jpg = readFile(path("good.jpg"));

    writeFile(path("truncated.png"), png.substr(0, png.size() / 2));
    writeFile(path("header-only.png"), png.substr(0, 20));
    writeFile(path("signature-only.png"), png.substr(0, 8));
    std::string corrupt = png;
    corrupt[png.size() / 2] = static_cast<char>(corrupt[png.size() / 2] ^ 0x55); // inside IDAT: CRC fails
    writeFile(path("corrupt.png"), corrupt);
    std::string badSignature = png;
    badSignature[1] = 'X';
    writeFile(path("badsig.png"), badSignature);
    writeFile(path("empty.png"), "");
    // A header (CRC fixed up) claiming 4000 x 4000 pixels, within the size limit, over the small
    // file's data: the file can't hold that many, so nothing is allocated for them.
    writeFile(path("claims.png"), withPngSize(png, 4000, 4000));
    writeFile(path("truncated.jpg"), jpg.substr(0, jpg.size() / 2));
    writeFile(path("header-only.jpg"), jpg.substr(0, 40));
    writeFile(path("garbage.jpg"), std::string(500, 'x'));
    writeFile(path("empty.jpg"), "");

    ReportCapture reports;
    ::testing::internal::CaptureStderr();
    for (const char* name : {"truncated.png", "header-only.png", "signature-only.png", "corrupt.png",
                             "badsig.png", "empty.png", "claims.png", "missing.png", "truncated.jpg",
                             "header-only.jpg", "garbage.jpg", "empty.jpg", "missing.jpg"})
        EXPECT_FALSE(Image(library().loadImage(name, (dir + "/").c_str()))) << name;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "no decoder's own lines (\"libpng error\")";
    EXPECT_TRUE(reports.all().empty());
    // Each failure says what is wrong with the file.
    const std::pair<const char*, const char*> why[] = {
        {"truncated.png", "is cut short"},   {"corrupt.png", "is broken ("},
        {"badsig.png", "is not a PNG file"}, {"missing.png", "is missing"},
        {"truncated.jpg", "is cut short"},   {"garbage.jpg", "is broken ("},
        {"claims.png", "claims more pixels"}};
    for (const auto& [name, text] : why) {
        Image(library().loadImage(name, (dir + "/").c_str()));
        EXPECT_NE(library().lastLoad().failure.find(text), std::string::npos)
            << name << ": " << library().lastLoad().failure;
    }
    EXPECT_TRUE(Image(library().loadImage("good.png", (dir + "/").c_str())));
    EXPECT_TRUE(Image(library().loadImage("good.jpg", (dir + "/").c_str())));

    // A JPEG whose scan data stops early but is closed by an end marker: the decoder would fill
    // the missing rows with grey; the load fails instead.
    auto fullPixels = rgbPixels(64, 64, [](int x, int y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(x * 4),
                                            static_cast<unsigned char>(y * 4),
                                            static_cast<unsigned char>(x ^ y)};
    });
    ASSERT_TRUE(writeJPEG(path("full.jpg"), 64, 64, 3, fullPixels));
    const std::string full = readFile(path("full.jpg"));
    ASSERT_GT(full.size(), 1000u);
    const size_t scan = full.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    // Cut inside the entropy-coded data, then the end-of-image marker.
    writeFile(path("short.jpg"), full.substr(0, scan + (full.size() - scan) / 2) + "\xFF\xD9");
    // Cut inside the entropy-coded data with no marker at all.
    writeFile(path("cut.jpg"), full.substr(0, scan + (full.size() - scan) / 3));
    // Everything but the end-of-image marker.
    writeFile(path("noend.jpg"), full.substr(0, full.size() - 2));
    EXPECT_FALSE(Image(library().loadImage("short.jpg", (dir + "/").c_str())));
    EXPECT_FALSE(Image(library().loadImage("cut.jpg", (dir + "/").c_str())));
    EXPECT_TRUE(Image(library().loadImage("full.jpg", (dir + "/").c_str())));
    Image noEnd(library().loadImage("noend.jpg", (dir + "/").c_str()));
    (void)noEnd; // all pixels are there; either answer is sound, it must just not crash
}

// Hostile headers: a small file claiming a huge picture is refused from its header, before the
// decoder or the loader allocates for the claimed size, and the report names the file.
TEST_F(Images, ImagesLargerThanTheLimitAreRefusedAndReported) {
    auto pixels = rgbPixels(16, 16, [](int x, int y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(x * 9), static_cast<unsigned char>(y),
                                            3};
    });
    ASSERT_TRUE(writePNG(path("small.png"), 16, 16, PNG_COLOR_TYPE_RGB, 8, pixels));
    ASSERT_TRUE(writeJPEG(path("small.jpg"), 16, 16, 3, pixels));
    const std::string png = readFile(path("small.png"));
    const std::string jpg = readFile(path("small.jpg"));
    writeFile(path("huge.png"), withPngSize(png, 60000, 60000));
    writeFile(path("wide.png"), withPngSize(png, 65536, 1));
    writeFile(path("huge.jpg"), withJpegSize(jpg, 65500, 65500));
    writeFile(path("tall.jpg"), withJpegSize(jpg, 16, 8193));
    // Real one-row pictures at and just over the limit.
    std::vector<unsigned char> row(8193 * 3, 77);
    ASSERT_TRUE(writePNG(path("limit.png"), 8192, 1, PNG_COLOR_TYPE_RGB, 8, row));
    ASSERT_TRUE(writePNG(path("over.png"), 8193, 1, PNG_COLOR_TYPE_RGB, 8, row));

    for (const char* name : {"huge.png", "wide.png", "huge.jpg", "tall.jpg", "over.png"}) {
        ReportCapture reports;
        EXPECT_FALSE(Image(library().loadImage(name, (dir + "/").c_str()))) << name;
        ASSERT_EQ(reports.all().size(), 1u) << name;
        const report::Record& r = reports.all()[0];
        EXPECT_FALSE(r.fatal) << name;
        EXPECT_NE(r.text.find("Image too large"), std::string::npos) << r.text;
        EXPECT_NE(r.text.find(path(name)), std::string::npos) << "the report names the file: " << r.text;
    }
    ReportCapture reports;
    Image limit(library().loadImage("limit.png", (dir + "/").c_str()));
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->width, 8192u);
    EXPECT_TRUE(reports.all().empty());
}

// The loaders read up to the picture's end and no further: a file padded far beyond it (here past
// the 2 GiB a whole read could take, as a sparse file) loads as the picture and says how much
// followed it. A progressive JPEG of endless scans is refused after 1000 of them.
TEST_F(Images, OnlyThePictureIsReadAndEndlessScansAreRefused) {
    auto pixels = rgbPixels(16, 16, [](int x, int y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(x * 16), static_cast<unsigned char>(y),
                                            9};
    });
    ASSERT_TRUE(writePNG(path("pic.png"), 16, 16, PNG_COLOR_TYPE_RGB, 8, pixels));
    ASSERT_TRUE(writeJPEG(path("pic.jpg"), 16, 16, 3, pixels));
    const std::string png = readFile(path("pic.png")), jpg = readFile(path("pic.jpg"));
    for (const std::string& name : {std::string("pic.png"), std::string("pic.jpg")}) {
        const std::string bytes = readFile(path(name));
        writeFile(path("padded-" + name), bytes);
        ASSERT_EQ(truncate(path("padded-" + name).c_str(), 3LL << 30), 0);
        writeFile(path("tail-" + name), bytes + std::string(100, '\0'));
        for (const char* kind : {"padded-", "tail-", ""}) {
            SCOPED_TRACE(kind + name);
            Image image(library().loadImage((kind + name).c_str(), (dir + "/").c_str()));
            ASSERT_TRUE(image) << library().lastLoad().failure;
            EXPECT_EQ(image->width, 16u);
            EXPECT_EQ(library().lastLoad().pictureBytes, bytes.size());
            EXPECT_EQ(library().lastLoad().muchTrailingData(), *kind == 'p');
        }
    }

    writeFile(path("scans.jpg"), progressiveJpegWithScans(64, kMaxJpegScans + 1));
    writeFile(path("many.jpg"), progressiveJpegWithScans(64, kMaxJpegScans));
    EXPECT_FALSE(Image(library().loadImage("scans.jpg", (dir + "/").c_str())));
    EXPECT_NE(library().lastLoad().failure.find("more than 1000 scans"), std::string::npos)
        << library().lastLoad().failure;
    EXPECT_TRUE(Image(library().loadImage("many.jpg", (dir + "/").c_str()))) << library().lastLoad().failure;
}

Image makeImage(uint32_t width, uint32_t height, uint32_t bits) {
    Image image(new ImageData);
    image->width = width;
    image->height = height;
    image->bitsPerPixel = bits;
    const size_t bytes = static_cast<size_t>(width) * height * bits / 8;
    image->data = static_cast<unsigned char*>(malloc(bytes));
    for (size_t i = 0; i < bytes; ++i)
        image->data[i] = static_cast<unsigned char>(i);
    return image;
}

TEST_F(Images, ScaleUsesSinglePrecisionNearestNeighbour) {
    // 3 -> 4 columns: ratio 0.75 picks columns 0, 0, 1, 2.
    Image wide = makeImage(3, 1, 24);
    ASSERT_EQ(library().scaleImage(4, 1, wide.get()), 0);
    EXPECT_EQ(wide->width, 4u);
    const unsigned char expectedWide[] = {0, 1, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, memcmp(wide->data, expectedWide, sizeof expectedWide));

    // 4x4 -> 2x2 takes (0,0), (2,0), (0,2), (2,2); pixel (x, y) of a 32-bit image starts at byte 4 * (4y +
    // x).
    Image square = makeImage(4, 4, 32);
    ASSERT_EQ(library().scaleImage(2, 2, square.get()), 0);
    const unsigned char starts[] = {0, 8, 32, 40};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(square->data[i * 4], starts[i]) << i;

    // The column is the product with the rounded single-precision ratio, truncated.
    Image odd = makeImage(3, 1, 8);
    ASSERT_EQ(library().scaleImage(7, 1, odd.get()), 0);
    const float ratio = 3.0f / 7.0f;
    for (uint32_t x = 0; x < 7; ++x)
        EXPECT_EQ(odd->data[x], static_cast<uint32_t>(x * ratio)) << x;

    // Enlarging both ways repeats rows.
    Image tall = makeImage(1, 2, 8);
    ASSERT_EQ(library().scaleImage(1, 4, tall.get()), 0);
    const unsigned char expectedTall[] = {0, 0, 1, 1};
    EXPECT_EQ(0, memcmp(tall->data, expectedTall, 4));

    // An empty source gives black pixels, reading nothing.
    Image empty = makeImage(0, 3, 24);
    ASSERT_EQ(library().scaleImage(2, 2, empty.get()), 0);
    EXPECT_EQ(std::vector<unsigned char>(empty->data, empty->data + 12), std::vector<unsigned char>(12, 0));
    // From 2^24 rows to one more, the ratio rounds to 1 and the last row's product to 2^24: it
    // takes the source's last row, not the one past it.
    Image column = makeImage(1, 1u << 24, 8);
    ASSERT_EQ(library().scaleImage(1, (1u << 24) + 1, column.get()), 0);
    EXPECT_EQ(column->data[1u << 24], 255);

    // No image is reported, not fatal.
    ReportCapture reports;
    EXPECT_EQ(library().scaleImage(4, 4, nullptr), 1);
    EXPECT_TRUE(reports.has("no image to scale", false));

    // A size past the address range is out of memory, not a block that wrapped to a few bytes.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Image image = makeImage(1, 1, 32);
            ImageLibrary::instance().scaleImage(1u << 31, 1u << 31, image.get());
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "out of memory");
}

TEST_F(Images, WideningAddsOpaqueAlphaAndOtherDepthsAreFatal) {
    Image image = makeImage(3, 2, 24);
    library().convertTo32Bit(image.get());
    EXPECT_EQ(image->bitsPerPixel, 32u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(image->data[i * 4 + 0], i * 3 + 0);
        EXPECT_EQ(image->data[i * 4 + 1], i * 3 + 1);
        EXPECT_EQ(image->data[i * 4 + 2], i * 3 + 2);
        EXPECT_EQ(image->data[i * 4 + 3], 255);
    }

    // Other depths than 24 bits are fatal.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Image image = makeImage(2, 2, 8);
            ImageLibrary::instance().convertTo32Bit(image.get());
        },
        ::testing::ExitedWithCode(1), "Image has unsupported bit depth");
}

} // namespace
