// The image built-ins on real files made here with libvips: every
// transformation is checked pixel by pixel at the four corners of a
// 200 x 100 image whose quarters have different colours (JPEG within a
// tolerance), remote images come from a loopback server, and damaged or
// hostile files must give "no image".
#include <qn/media/image_util.h>

#include <qn/host.h>
#include <qn/host/images.h>
#include <qn/net/url_session.h>

#include <vips/vips.h>

#include <array>

#include "net/test_server.h"
#include "support/test_support.h"

// libvips and GLib are built without ThreadSanitizer: their worker pool hands
// buffers over through futex-based locks it cannot see, so every hand-over
// looks like a race. Only what those libraries do themselves is exempt; the
// library's own accesses (and the HTTP server's, as in the network tests)
// stay checked.
#if defined(QN_TEST_UNDER_TSAN)
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libvips.so\ncalled_from_lib:libglib-2.0.so\n"
           "called_from_lib:libgobject-2.0.so\ncalled_from_lib:libgio-2.0.so\n"
           "called_from_lib:libjpeg.so\ncalled_from_lib:libpng16.so\ncalled_from_lib:libz.so\n"
           "called_from_lib:libexif.so\ncalled_from_lib:liborc-0.4.so\n"
           "called_from_lib:libcpp-httplib.so\nrace:libvips.so\nrace:libglib-2.0.so\n";
}
#endif

namespace qn {
namespace {

namespace fs = std::filesystem;
using Rgb = std::array<int, 3>;

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};
// Top-left, top-right, bottom-left, bottom-right.
using Corners = std::array<Rgb, 4>;
constexpr Corners kUpright{kRed, kGreen, kBlue, kYellow};

// The library's temporary folder is fixed for the process: point it at a
// fresh folder before anything reads it, so leftovers can be counted.
const fs::path& outputFolder() {
    static test::TempDir dir;
    static const bool set = [] {
        QNObjectsModelServices::applicationStorageService().setTemporaryDirectory(dir.path());
        return true;
    }();
    (void)set;
    return dir.path();
}

std::size_t filesInOutputFolder() {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(outputFolder()); it != decltype(it)(); ++it)
        n += it->is_regular_file();
    return n;
}

String u16(const fs::path& p) {
    return fromUtf8(p.string());
}

// Writes a width x height image whose quarters are red, green, blue and
// yellow; `orientation` other than 1 is stored in the EXIF data.
fs::path writeQuarters(const fs::path& path, int width = 200, int height = 100,
                       int orientation = 1) {
    outputFolder();  // before the library reads it
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb& c = kUpright[(y >= height / 2) * 2 + (x >= width / 2)];
            for (int b = 0; b < 3; ++b)
                pixels[(static_cast<std::size_t>(y) * width + x) * 3 + b] =
                    static_cast<unsigned char>(c[b]);
        }
    VipsImage* image = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height,
                                                       3, VIPS_FORMAT_UCHAR);
    if (orientation != 1) vips_image_set_int(image, VIPS_META_ORIENTATION, orientation);
    EXPECT_EQ(vips_image_write_to_file(image, path.c_str(), nullptr), 0) << vips_error_buffer();
    g_object_unref(image);
    return path;
}

struct Decoded {
    int width = 0, height = 0, bands = 0;
    Corners corners{};
    int orientation = 1;
};

// The file decoded as stored (no orientation applied), sampled 5 pixels in
// from each corner.
Decoded decode(const String& path) {
    Decoded d;
    VipsImage* image = vips_image_new_from_file(toUtf8(path).c_str(), nullptr);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot decode " << toUtf8(path);
        return d;
    }
    d.width = image->Xsize;
    d.height = image->Ysize;
    d.bands = image->Bands;
    d.orientation = vips_image_get_orientation(image);
    const int xs[] = {5, d.width - 6}, ys[] = {5, d.height - 6};
    for (int i = 0; i < 4; ++i) {
        double* values = nullptr;
        int n = 0;
        if (vips_getpoint(image, &values, &n, xs[i % 2], ys[i / 2], nullptr) == 0 && n >= 3)
            d.corners[i] = {int(values[0]), int(values[1]), int(values[2])};
        g_free(values);
    }
    g_object_unref(image);
    return d;
}

void expectCorners(const Corners& actual, const Corners& expected, int tolerance) {
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 3; ++b)
            EXPECT_NEAR(actual[i][b], expected[i][b], tolerance) << "corner " << i << " band " << b;
}

// A transformation's output: a new file, removed when the check ends.
struct Output {
    explicit Output(String p) : path(std::move(p)) {}
    ~Output() {
        std::error_code ec;
        fs::remove(toUtf8(path), ec);
    }
    String path;
};

using Transform = std::function<String(const String&)>;
Transform rotate(int degrees) {
    return [degrees](const String& s) { return QNImageUtil::rotate(s, degrees); };
}
Transform resize(int width, int height, bool keepAspect) {
    return [=](const String& s) { return QNImageUtil::resize(s, width, height, keepAspect); };
}
Transform crop(int x, int y, int width, int height) {
    return [=](const String& s) { return QNImageUtil::crop(s, x, y, width, height); };
}

class ImageTransformTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ImageTransformTest, EachTransformationMovesTheCornersAsNamed) {
    test::TempDir dir;
    const std::string extension = GetParam();
    const String input = u16(writeQuarters(dir.path() / ("quarters." + extension)));
    const int tolerance = extension == "png" ? 0 : 40;
    const struct {
        const char* name;
        Transform apply;
        int width, height;
        Corners corners;
    } cases[] = {
        {"rotate 90", rotate(90), 100, 200, {kBlue, kRed, kYellow, kGreen}},
        {"rotate 180", rotate(180), 200, 100, {kYellow, kBlue, kGreen, kRed}},
        {"rotate 270", rotate(270), 100, 200, {kGreen, kYellow, kRed, kBlue}},
        {"flipHorizontally",
         QNImageUtil::flipHorizontally,
         200,
         100,
         {kBlue, kYellow, kRed, kGreen}},
        {"flipVertically", QNImageUtil::flipVertically, 200, 100, {kGreen, kRed, kYellow, kBlue}},
        {"resize keeping aspect", resize(50, 50, true), 100, 50, kUpright},
        {"resize", resize(50, 50, false), 50, 50, kUpright},
        {"resize up", resize(400, 300, false), 400, 300, kUpright},
        {"scale 50", [](const String& s) { return QNImageUtil::scale(s, 50); }, 100, 50, kUpright},
        {"crop top right", crop(100, 0, 100, 50), 100, 50, {kGreen, kGreen, kGreen, kGreen}},
        {"crop bottom half", crop(0, 50, 200, 50), 200, 50, {kBlue, kYellow, kBlue, kYellow}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Output out(c.apply(input));
        ASSERT_NE(out.path, input);
        EXPECT_TRUE(out.path.ends_with(u"." + fromUtf8(extension)));
        const Decoded d = decode(out.path);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_EQ(QNImageUtil::getImageWidth(out.path), c.width);
        expectCorners(d.corners, c.corners, tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageTransformTest, ::testing::Values("png", "jpg"));

TEST(ImageUtilTest, RefusedArgumentsAnswerTheInputAndLeaveNoFile) {
    test::TempDir dir;
    const String input = u16(writeQuarters(dir.path() / "q.png"));
    const std::size_t before = filesInOutputFolder();
    const std::vector<std::pair<const char*, String>> results = {
        {"rotate 0", QNImageUtil::rotate(input, 0)},
        {"rotate 45", QNImageUtil::rotate(input, 45)},
        {"rotate 360", QNImageUtil::rotate(input, 360)},
        {"rotate -90", QNImageUtil::rotate(input, -90)},
        {"crop past the right edge", QNImageUtil::crop(input, 150, 0, 100, 10)},
        {"crop past the bottom edge", QNImageUtil::crop(input, 0, 90, 10, 20)},
        {"crop negative left", QNImageUtil::crop(input, -10, 0, 50, 50)},
        {"crop empty", QNImageUtil::crop(input, 0, 0, 0, 10)},
        {"resize to nothing", QNImageUtil::resize(input, 0, 0, false)},
        {"resize beyond the pixel limit", QNImageUtil::resize(input, 100000, 100000, false)},
        {"scale 0", QNImageUtil::scale(input, 0)},
        {"scale not a number", QNImageUtil::scale(input, std::nan(""))}};
    for (const auto& [name, result] : results)
        EXPECT_EQ(result, input) << name;
    EXPECT_EQ(filesInOutputFolder(), before);
}

// A PNG whose header declares `width` x `height` and whose data is one
// small IDAT chunk (valid CRCs: decoders must get as far as the size).
std::string pngDeclaring(std::uint32_t width, std::uint32_t height) {
    auto crc = [](const std::string& bytes) {
        std::uint32_t c = 0xffffffffu;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1u)));
        }
        return c ^ 0xffffffffu;
    };
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        return be32(static_cast<std::uint32_t>(data.size())) + type + data + be32(crc(type + data));
    };
    const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", "");
}

TEST(ImageUtilTest, DamagedOrHostileFilesGiveNoImage) {
    test::TempDir dir;
    const std::string png = test::readFile(writeQuarters(dir.path() / "good.png"));
    const std::string jpeg = test::readFile(writeQuarters(dir.path() / "good.jpg"));
    const std::vector<std::pair<const char*, String>> inputs = {
        {"missing", u16(dir.path() / "missing.png")},
        {"empty text", u""},
        {"folder", u16(dir.path())},
        {"zero bytes", u16(dir.write("zero.png", ""))},
        {"text", u16(dir.write("notes.png", "just some text\n"))},
        {"header cut", u16(dir.write("cut.png", png.substr(0, 20)))},
        {"bomb", u16(dir.write("bomb.png", pngDeclaring(100000, 100000)))},
        {"zero width", u16(dir.write("flat.png", pngDeclaring(0, 10)))}};
    for (const auto& [name, input] : inputs) {
        SCOPED_TRACE(name);
        EXPECT_EQ(QNImageUtil::getImageWidth(input), 0);
        EXPECT_EQ(QNImageUtil::getImageHeight(input), 0);
        EXPECT_EQ(QNImageUtil::getFileSize(input), 0);
        EXPECT_EQ(QNImageUtil::rotate(input, 90), input);
        EXPECT_EQ(QNImageUtil::scale(input, 50), input);
    }
    // The header is whole but the pixels are not: every transformation
    // fails when decoding and leaves nothing behind.
    const std::size_t before = filesInOutputFolder();
    for (const auto& [name, bytes] :
         {std::pair{"truncated.png", png.substr(0, png.size() / 2)},
          std::pair{"truncated.jpg", jpeg.substr(0, jpeg.size() / 2)}}) {
        SCOPED_TRACE(name);
        const String input = u16(dir.write(name, bytes));
        EXPECT_EQ(QNImageUtil::rotate(input, 90), input);
        EXPECT_EQ(QNImageUtil::resize(input, 20, 20, false), input);
        EXPECT_EQ(QNImageUtil::flipVertically(input), input);
    }
    EXPECT_EQ(filesInOutputFolder(), before);
}

TEST(ImageUtilTest, SizesOfFilesAndScaleFactors) {
    test::TempDir dir;
    const fs::path plain = writeQuarters(dir.path() / "plain.png");
    EXPECT_EQ(QNImageUtil::getFileSize(u16(plain)),
              static_cast<std::int64_t>(fs::file_size(plain)));
    EXPECT_EQ(QNImageUtil::getImageWidth(u"file://" + u16(plain)), 200);

    // "@2x": 100 x 50 points, 200 x 100 pixels; the built-ins count pixels.
    const String retina = u16(writeQuarters(dir.path() / "icon@2x.png"));
    auto image = QNImage::imageWithContentsOfFile(retina);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->width(), 100);
    EXPECT_EQ(QNImageUtil::getImageWidth(retina), 200);
    EXPECT_EQ(QNImageUtil::getImageHeight(retina), 100);
    Output cropped(QNImageUtil::crop(retina, 100, 50, 100, 50));
    EXPECT_EQ(decode(cropped.path).corners[0], kYellow);
    EXPECT_EQ(QNImage::scaleFactorForFileName(u"/a/b@3x.jpg"), 3);
    EXPECT_EQ(QNImage::scaleFactorForFileName(u"/a@2x/b.jpg"), 1);
    EXPECT_EQ(QNImage::scaleFactorForFileName(u"b@0x.jpg"), 1);
}

TEST(ImageUtilTest, PhotosAreReadUprightFromTheirOrientation) {
    test::TempDir dir;
    // Stored 200 x 100 and tagged "turn 90 degrees clockwise to view".
    const String photo = u16(writeQuarters(dir.path() / "portrait.jpg", 200, 100, 6));
    ASSERT_EQ(decode(photo).orientation, 6);
    EXPECT_EQ(QNImageUtil::getImageWidth(photo), 100);
    EXPECT_EQ(QNImageUtil::getImageHeight(photo), 200);
    // Upright it is blue, red / yellow, green. Any output is written upright
    // and without the tag, so every viewer shows it the same way.
    Output out(QNImageUtil::flipVertically(photo));
    const Decoded d = decode(out.path);
    EXPECT_EQ(d.width, 100);
    EXPECT_EQ(d.orientation, 1);
    expectCorners(d.corners, {kRed, kBlue, kGreen, kYellow}, 40);
}

TEST(ImageUtilTest, SavingFollowsTheExtensionAndTheJpegQuality) {
    test::TempDir dir;
    auto image = QNImage::imageWithContentsOfFile(u16(writeQuarters(dir.path() / "q.png", 64, 64)));
    ASSERT_TRUE(image);
    auto noisy = image->imageResizedToPixelSize(640, 480);
    const auto low = noisy->saveToTemporaryFileWithPathExtensionJpegCompressionQuality(u"jpg", 0.1);
    const auto high = noisy->saveToTemporaryFileWithPathExtensionJpegCompressionQuality(u"JPG", 1);
    ASSERT_TRUE(low && high);
    EXPECT_LT(fs::file_size(toUtf8(*low)), fs::file_size(toUtf8(*high)));
    // No extension: none added; one that cannot be written: a PNG named so.
    for (const auto& [extension, written] : {std::pair{u"", u""}, std::pair{u"bmp", u"png"}}) {
        const auto path = image->saveToQNDataTemporaryFileWithPathExtension(extension);
        ASSERT_TRUE(path);
        EXPECT_EQ(QNMultimediaUtil::getType(*path), written);
        EXPECT_EQ(test::readFile(toUtf8(*path)).substr(1, 3), "PNG");
        fs::remove(toUtf8(*path));
    }
    fs::remove(toUtf8(*low));
    fs::remove(toUtf8(*high));
}

TEST(ImageUtilTest, TransparentPixelsLeaveNoFringeWhenResized) {
    outputFolder();
    // Opaque red on the left, transparent green on the right.
    Bytes pixels;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            pixels.insert(pixels.end(),
                          {std::uint8_t(x < 10 ? 255 : 0), std::uint8_t(x < 10 ? 0 : 255), 0,
                           std::uint8_t(x < 10 ? 255 : 0)});
    auto image = QNImage::imageWithPixels(20, 20, 4, pixels);
    ASSERT_TRUE(image && image->hasAlpha());
    const auto path = image->imageResizedToPixelSize(10, 10)
                          ->saveToTemporaryFileWithPathExtensionJpegCompressionQuality(u"png", 1);
    ASSERT_TRUE(path);
    Output out(*path);
    VipsImage* decoded = vips_image_new_from_file(toUtf8(*path).c_str(), nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Bands, 4);
    for (int x : {0, 3, 4}) {
        double* v = nullptr;
        int n = 0;
        ASSERT_EQ(vips_getpoint(decoded, &v, &n, x, 5, nullptr), 0);
        EXPECT_NEAR(v[1], 0, 2) << "green bled into x = " << x;
        g_free(v);
    }
    g_object_unref(decoded);
    EXPECT_FALSE(QNImage::imageWithPixels(20, 20, 4, Bytes(10)));
}

// Remote images come from a loopback server; a scheme converter and the
// image field value resolver of the host lead to files and to the server.
TEST(ImageUtilTest, RemoteImagesAndFieldValues) {
    test::TempDir dir;
    const String file = u16(writeQuarters(dir.path() / "q.png"));
    const std::string png = test::readFile(toUtf8(file));
    test::TestServer server;
    server.on("GET", "/img/*", [&png](const httplib::Request&, httplib::Response& res) {
        res.set_content(png, "image/png");
    });
    server.on("GET", "/missing.png", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    const String url = fromUtf8(server.url("/img/photo.png?v=2"));
    EXPECT_EQ(QNImageUtil::getImageWidth(url), 200);
    // Measured as a file of its own format; the file does not stay.
    const std::size_t before = filesInOutputFolder();
    EXPECT_GT(QNImageUtil::getFileSize(url), 0);
    EXPECT_EQ(filesInOutputFolder(), before);
    Output rotated(QNImageUtil::rotate(url, 90));
    EXPECT_TRUE(rotated.path.ends_with(u".png"));
    expectCorners(decode(rotated.path).corners, {kBlue, kRed, kYellow, kGreen}, 0);
    const String missing = fromUtf8(server.url("/missing.png"));
    EXPECT_EQ(QNImageUtil::getImageWidth(missing), 0);
    EXPECT_EQ(QNImageUtil::rotate(missing, 90), missing);

    QNEntityHelper::registerNSURLConverterForQNScheme(
        [&file](StringView) { return std::optional<String>(u"file://" + file); }, u"qnimgtest");
    EXPECT_EQ(QNImageUtil::getImageWidth(u"qnimgtest://catalog/42"), 200);
    QNEntityHelper::registerNSURLConverterForQNScheme(nullptr, u"qnimgtest");
    QNEntityHelper::setImageFieldValueResolver([&file, &url](StringView value) {
        QNImageFieldValue resolved;
        if (value == u"product-42") resolved.url = u"file://" + file;
        if (value == u"product-7") resolved.url = url;
        return resolved;
    });
    EXPECT_EQ(QNImageUtil::getImageHeight(u"product-42"), 100);
    EXPECT_EQ(QNImageUtil::getImageHeight(u"product-7"), 100);
    EXPECT_EQ(QNImageUtil::getImageHeight(u"product-43"), 0);
    QNEntityHelper::setImageFieldValueResolver(nullptr);
    EXPECT_EQ(QNImageUtil::getImageHeight(u"product-42"), 0);
}

TEST(ImageUtilTest, ConcurrentTransformationsOfOneFile) {
    test::TempDir dir;
    const String input = u16(writeQuarters(dir.path() / "shared.jpg"));
    std::vector<String> results(8);
    test::onThreads(static_cast<int>(results.size()), [&](int i) {
        results[i] = i % 2 ? QNImageUtil::rotate(input, 90) : QNImageUtil::scale(input, 25);
    });
    for (std::size_t i = 0; i < results.size(); ++i) {
        Output out(results[i]);
        EXPECT_EQ(decode(out.path).width, i % 2 ? 100 : 50);
    }
}

TEST(MultimediaUtilTest, NamesAndTypes) {
    const struct {
        const char16_t* media;
        const char16_t* name;
        const char16_t* type;
    } cases[] = {{u"/a/b/photo.jpg", u"photo", u"jpg"},
                 {u"photo", u"photo", u""},
                 {u"archive.tar.gz", u"archive.tar", u"gz"},
                 {u"https://h/clips/intro.mp4?t=30#x", u"intro", u"mp4"},
                 {u"/a/.profile", u".profile", u""}};
    for (const auto& c : cases) {
        EXPECT_EQ(QNMultimediaUtil::getName(c.media), c.name) << toUtf8(String(c.media));
        EXPECT_EQ(QNMultimediaUtil::getType(c.media), c.type) << toUtf8(String(c.media));
    }
}

}  // namespace
}  // namespace qn
