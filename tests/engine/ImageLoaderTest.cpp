#include "engine/ImageLoader.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

using namespace gfx;
using namespace pixeltest;

namespace {

class ImageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {kConvert, "cwebp", "avifenc"}) {
            if (!test::haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        png_ = dir_.file("page.png");
        run(std::string(kConvert) + " -size 40x60 xc:white -fill red -draw 'rectangle 0,0 19,29' " + png_);
    }
    static void expectPage(const ImageRef& img, int tolerance) {
        ASSERT_TRUE(img);
        EXPECT_EQ(img->width(), 40);
        EXPECT_EQ(img->height(), 60);
        EXPECT_TRUE(near(img->pixel(5, 5), argb(255, 255, 0, 0), tolerance));
        EXPECT_TRUE(near(img->pixel(35, 55), argb(255, 255, 255, 255), tolerance));
    }
    test::TempDir dir_{"loader"};
    std::string png_;
};

}  // namespace

TEST_F(ImageLoaderTest, EveryFormatFromFilesAndMemory) {
    std::string jpg = dir_.file("page.jpg"), webp = dir_.file("page.webp"), avif = dir_.file("page.avif");
    std::string bmp = dir_.file("page.bmp"), gif = dir_.file("page.gif"), tif = dir_.file("page.tif");
    run(std::string(kConvert) + " " + png_ + " -quality 95 " + jpg);
    run(std::string(kConvert) + " " + png_ + " " + bmp);
    run(std::string(kConvert) + " " + png_ + " " + gif);
    run(std::string(kConvert) + " " + png_ + " " + tif);
    run("cwebp -quiet -q 95 " + png_ + " -o " + webp);
    run("avifenc -s 10 --min 0 --max 8 " + png_ + " " + avif + " >/dev/null");
    const std::pair<std::string, int> files[] = {{png_, 0}, {jpg, 10}, {bmp, 0}, {gif, 0},
                                                 {tif, 0},  {webp, 16}, {avif, 24}};
    for (const auto& [path, tolerance] : files) {
        SCOPED_TRACE(path);
        expectPage(ImageLoader::imageWithAnyContentsOfFile(path), tolerance);
        // Archive members arrive as bytes: WebP pages included.
        expectPage(ImageLoader::imageWithAnyData(readBytes(path)), tolerance);
    }
    // A page stored under a misleading name is still read by its bytes.
    std::string misnamed = dir_.file("really-webp.png");
    writeBytes(misnamed, readBytes(webp));
    expectPage(ImageLoader::imageWithAnyContentsOfFile(misnamed), 16);
}

TEST_F(ImageLoaderTest, NothingReadableGivesNoImage) {
    std::string text = dir_.file("notes.jpg");
    writeBytes(text, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    EXPECT_FALSE(ImageLoader::imageWithAnyContentsOfFile(text));
    EXPECT_FALSE(ImageLoader::imageWithAnyContentsOfFile(dir_.file("missing.png")));
    EXPECT_FALSE(ImageLoader::imageWithAnyContentsOfFile(dir_.path()));  // a folder
    EXPECT_FALSE(ImageLoader::imageWithAnyData({}));
    auto bytes = readBytes(png_);
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(bytes.size() / 2));
    EXPECT_FALSE(ImageLoader::imageWithAnyData(cut));
}
