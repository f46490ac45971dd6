#include <qn/host/entity_helper.h>
#include <qn/host/images.h>
#include <qn/host/utilities.h>
#include <qn/media/image_util.h>
#include <qn/net/url_session.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <system_error>

#include "host/paths.h"
#include "host/url.h"

namespace qn {
namespace {

namespace fs = std::filesystem;
using Access = QNImage::Access;

struct LoadedImage {
    Ref<QNImage> image;
    std::optional<String> filePath;  // set when asked for and the image is a local file
};

// The path part of a text: a URL ("scheme://...") loses its query and
// fragment, which are no part of a file name.
StringView pathPart(StringView text) {
    if (text.find(u"://") == StringView::npos) return text;
    return text.substr(0, text.find_first_of(u"?#"));
}

bool fileExistsAtPath(StringView text) {
    const fs::path path = internal::toSystemPath(text);
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

// The steps every operation starts with: the host's resolution of a field
// value, then a local file, then any other URL, downloaded while the caller
// waits.
LoadedImage loadImage(StringView text, Access access, bool wantPath = false) {
    LoadedImage loaded;
    if (text.empty()) return loaded;
    const QNImageFieldValue resolved = QNEntityHelper::imageAndURLFromFieldValue(text);
    const double scale = resolved.image ? resolved.image->scale : 0;

    std::optional<String> path;
    std::optional<String> url = resolved.url;
    if (url) path = internal::pathOfFileURL(*url);
    if (!path) {
        if (fileExistsAtPath(text)) {
            path = String(text);
        } else {
            // A remote URL the host resolved the value to is kept: the text
            // itself (a name, a key) is no URL of its own.
            if (!url) url = QNUtilities::urlFromMaybeEscapedURLString(text);
            if (!url) return loaded;
            path = internal::pathOfFileURL(*url);
        }
    }
    if (path) {
        if (path->empty()) return loaded;
        loaded.image = QNImage::imageWithContentsOfFile(*path, access, scale);
        if (loaded.image && wantPath) loaded.filePath = std::move(path);
        return loaded;
    }
    // An encoded image is far smaller than its pixels; the bound stops a huge
    // answer before its header can be checked against the pixel limit.
    constexpr std::size_t kMaxImageBytes = std::size_t{256} << 20;
    auto bytes = dataWithContentsOfURL(*url, kMaxImageBytes);
    if (!bytes) return loaded;
    loaded.image = QNImage::imageWithData(
        *bytes, scale > 0 ? scale : QNImage::scaleFactorForFileName(pathPart(*url)), access);
    return loaded;
}

// The new image in a temporary file of the input's format; the input when
// it cannot be made or saved.
String savedOrInput(const Ref<QNImage>& result, StringView input) {
    if (!result) return String(input);
    auto path = result->saveToTemporaryFileWithPathExtensionJpegCompressionQuality(
        internal::pathExtension(pathPart(input)), QNImage::jpegCompressionQualityForImageAPI());
    return path ? std::move(*path) : String(input);
}

// A computed size as whole pixels; absent when it is not a usable size.
std::optional<std::int64_t> pixelCount(double value) {
    if (!std::isfinite(value) || value < 1 || value > static_cast<double>(QNImage::kMaxPixels))
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

String resizeLoaded(const Ref<QNImage>& image, StringView input, double width, double height,
                    bool keepAspect) {
    if (!image) return String(input);
    const double sourceWidth = static_cast<double>(image->pixelWidth());
    const double sourceHeight = static_cast<double>(image->pixelHeight());
    if (keepAspect) {
        const double factor = std::max(height / sourceHeight, width / sourceWidth);
        width = std::round(sourceWidth * factor);
        height = std::round(sourceHeight * factor);
    }
    const auto w = pixelCount(width);
    const auto h = pixelCount(height);
    if (!w || !h) return String(input);
    return savedOrInput(image->imageResizedToPixelSize(*w, *h), input);
}

std::int64_t fileSizeAtPath(StringView path) {
    std::error_code ec;
    const auto size = fs::file_size(internal::toSystemPath(path), ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

}  // namespace

std::int64_t QNImageUtil::getImageWidth(StringView image) {
    const auto loaded = loadImage(image, Access::kSequential);
    return loaded.image ? loaded.image->pixelWidth() : 0;
}

std::int64_t QNImageUtil::getImageHeight(StringView image) {
    const auto loaded = loadImage(image, Access::kSequential);
    return loaded.image ? loaded.image->pixelHeight() : 0;
}

std::int64_t QNImageUtil::getFileSize(StringView image) {
    const auto loaded = loadImage(image, Access::kSequential, true);
    if (loaded.filePath) return fileSizeAtPath(*loaded.filePath);
    if (!loaded.image) return 0;
    // A downloaded image is measured as a file, which is then no longer needed.
    auto path = loaded.image->saveToTemporaryFileWithPathExtensionJpegCompressionQuality(
        internal::pathExtension(pathPart(image)), QNImage::jpegCompressionQualityForImageAPI());
    if (!path) return 0;
    const std::int64_t size = fileSizeAtPath(*path);
    std::error_code ec;
    fs::remove(internal::toSystemPath(*path), ec);
    return size;
}

String QNImageUtil::resize(StringView image, std::int64_t width, std::int64_t height,
                           bool keepAspect) {
    return resizeLoaded(loadImage(image, Access::kSequential).image, image,
                        static_cast<double>(width), static_cast<double>(height), keepAspect);
}

String QNImageUtil::scale(StringView image, double percent) {
    const auto loaded = loadImage(image, Access::kSequential);
    if (!loaded.image || !std::isfinite(percent)) return String(image);
    const double width =
        std::trunc(static_cast<double>(loaded.image->pixelWidth()) * percent / 100);
    const double height =
        std::trunc(static_cast<double>(loaded.image->pixelHeight()) * percent / 100);
    return resizeLoaded(loaded.image, image, width, height, true);
}

String QNImageUtil::rotate(StringView image, std::int64_t angle) {
    if (angle != 90 && angle != 180 && angle != 270) return String(image);
    const auto loaded = loadImage(image, Access::kRandom);
    if (!loaded.image) return String(image);
    return savedOrInput(loaded.image->imageRotatedClockwiseByDegrees(static_cast<int>(angle)),
                        image);
}

String QNImageUtil::crop(StringView image, std::int64_t left, std::int64_t top, std::int64_t width,
                         std::int64_t height) {
    // Rows are cut in order from the top: reading them once suffices.
    const auto loaded = loadImage(image, Access::kSequential);
    if (!loaded.image) return String(image);
    return savedOrInput(loaded.image->imageCroppedToPixelRect(left, top, width, height), image);
}

String QNImageUtil::flipHorizontally(StringView image) {
    // The bottom row is written first: the whole image is needed.
    const auto loaded = loadImage(image, Access::kRandom);
    if (!loaded.image) return String(image);
    return savedOrInput(loaded.image->imageMirrored(QNImage::Mirror::kTopBottom), image);
}

String QNImageUtil::flipVertically(StringView image) {
    const auto loaded = loadImage(image, Access::kSequential);
    if (!loaded.image) return String(image);
    return savedOrInput(loaded.image->imageMirrored(QNImage::Mirror::kLeftRight), image);
}

String QNMultimediaUtil::getUri(StringView media) {
    return String(media);
}

String QNMultimediaUtil::getName(StringView media) {
    String name = internal::lastPathComponent(pathPart(media));
    const String extension = internal::pathExtension(name);
    if (!extension.empty()) name.resize(name.size() - extension.size() - 1);
    return name;
}

String QNMultimediaUtil::getType(StringView media) {
    return internal::pathExtension(pathPart(media));
}

}  // namespace qn
