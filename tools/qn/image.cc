// `qn image`: the image built-ins on a file from the command line; and the
// demo's section on images and media values.

#include <qn/files.h>
#include <qn/host.h>
#include <qn/host/images.h>
#include <qn/media/image_util.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNImageUtil;
using qn::String;
using qn::toUtf8;

namespace {

int usageError(const std::string& message) {
    std::cerr
        << "qn image: " << message << "\n"
        << "usage: qn image info FILE\n"
        << "       qn image resize FILE WIDTH HEIGHT [--keep-aspect]\n"
        << "       qn image scale FILE PERCENT\n"
        << "       qn image rotate FILE 90|180|270\n"
        << "       qn image crop FILE LEFT TOP WIDTH HEIGHT\n"
        << "       qn image flip FILE h|v   (h: top row to bottom, v: left column to right)\n";
    return 2;
}

std::optional<std::int64_t> integerArgument(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> numberArgument(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// Prints where the new image went; a failure answers the input itself.
int report(const String& input, const String& output) {
    if (output == input) {
        std::cerr << "qn image: the image could not be loaded, transformed or saved\n";
        return 1;
    }
    std::cout << toUtf8(output) << "\n";
    return 0;
}

std::string sizeOf(const String& image) {
    return std::to_string(QNImageUtil::getImageWidth(image)) + " x " +
           std::to_string(QNImageUtil::getImageHeight(image));
}

}  // namespace

int runImage(const std::vector<std::string>& args) {
    if (args.size() < 2) return usageError("a command and a FILE are needed");
    const std::string& command = args[0];
    const String file = qn::fromUtf8(args[1]);
    const std::size_t extra = args.size() - 2;
    std::vector<std::int64_t> numbers;
    auto integers = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            auto value = integerArgument(args[2 + i]);
            if (!value) return false;
            numbers.push_back(*value);
        }
        return true;
    };

    if (command == "info") {
        if (extra != 0) return usageError("info takes only FILE");
        const std::int64_t width = QNImageUtil::getImageWidth(file);
        if (width == 0) {
            std::cerr << "qn image: " << args[1] << " is not an image that can be read\n";
            return 1;
        }
        std::cout << "width:     " << width << "\n"
                  << "height:    " << QNImageUtil::getImageHeight(file) << "\n"
                  << "file size: " << QNImageUtil::getFileSize(file) << " bytes\n";
        return 0;
    }
    if (command == "resize") {
        const bool keepAspect = extra == 3 && args[4] == "--keep-aspect";
        if ((extra != 2 && !keepAspect) || !integers(2))
            return usageError("resize takes FILE WIDTH HEIGHT [--keep-aspect]");
        return report(file, QNImageUtil::resize(file, numbers[0], numbers[1], keepAspect));
    }
    if (command == "scale") {
        const auto percent = extra == 1 ? numberArgument(args[2]) : std::nullopt;
        if (!percent) return usageError("scale takes FILE PERCENT");
        return report(file, QNImageUtil::scale(file, *percent));
    }
    if (command == "rotate") {
        if (extra != 1 || !integers(1)) return usageError("rotate takes FILE ANGLE");
        return report(file, QNImageUtil::rotate(file, numbers[0]));
    }
    if (command == "crop") {
        if (extra != 4 || !integers(4)) return usageError("crop takes FILE LEFT TOP WIDTH HEIGHT");
        return report(file,
                      QNImageUtil::crop(file, numbers[0], numbers[1], numbers[2], numbers[3]));
    }
    if (command == "flip") {
        if (extra != 1 || (args[2] != "h" && args[2] != "v"))
            return usageError("flip takes FILE h|v");
        return report(file, args[2] == "h" ? QNImageUtil::flipHorizontally(file)
                                           : QNImageUtil::flipVertically(file));
    }
    return usageError("unknown command '" + command + "'");
}

void showImages(std::ostream& out) {
    namespace fs = std::filesystem;
    // A 40 x 20 picture (red, green / blue, yellow quarters) saved as a PNG
    // in the demo's temporary folder.
    const fs::path folder = fs::path(toUtf8(qn::QNFileSystemObject::tempPath())) / "images";
    std::error_code ec;
    fs::create_directories(folder, ec);
    qn::Bytes pixels;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool right = x >= 20, bottom = y >= 10;
            pixels.push_back(!bottom || right ? 255 : 0);
            pixels.push_back(right ? 255 : 0);
            pixels.push_back(bottom && !right ? 255 : 0);
        }
    const String png = qn::fromUtf8((folder / "quarters.png").string());
    auto image = qn::QNImage::imageWithPixels(40, 20, 3, pixels);
    if (!image || !image->saveToPathJpegCompressionQuality(png, 0.9)) {
        out << "   (the sample picture could not be written)\n";
        return;
    }
    out << "   $TEMP/images/quarters.png: " << sizeOf(png) << " pixels, "
        << (image->hasAlpha() ? "with" : "no") << " alpha\n";

    struct Step {
        const char* what;
        String result;
    };
    const Step steps[] = {
        {"resize 10 x 10 keeping aspect", QNImageUtil::resize(png, 10, 10, true)},
        {"resize 10 x 10", QNImageUtil::resize(png, 10, 10, false)},
        {"scale 150%", QNImageUtil::scale(png, 150)},
        {"rotate 90", QNImageUtil::rotate(png, 90)},
        {"rotate 45", QNImageUtil::rotate(png, 45)},
        {"crop 20, 0, 20 x 10", QNImageUtil::crop(png, 20, 0, 20, 10)},
        {"crop 30, 0, 20 x 10", QNImageUtil::crop(png, 30, 0, 20, 10)},
        {"flipHorizontally", QNImageUtil::flipHorizontally(png)},
        {"flipVertically", QNImageUtil::flipVertically(png)},
    };
    for (const Step& step : steps) {
        out << "   " << step.what << std::string(32 - std::string(step.what).size(), ' ');
        if (step.result == png) {
            out << "the input text (refused)\n";
            continue;
        }
        out << sizeOf(step.result) << ", a new ."
            << toUtf8(qn::QNMultimediaUtil::getType(step.result)) << " file\n";
        fs::remove(toUtf8(step.result), ec);
    }
    out << "   getImageWidth of a text naming nothing: "
        << QNImageUtil::getImageWidth(u"no such picture") << "\n";
    const String media = u"/photos/trip/beach.jpg";
    out << "   media \"" << toUtf8(media) << "\": name \""
        << toUtf8(qn::QNMultimediaUtil::getName(media)) << "\", type \""
        << toUtf8(qn::QNMultimediaUtil::getType(media)) << "\"\n";
}

}  // namespace qntool
