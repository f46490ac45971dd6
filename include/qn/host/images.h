// The host's bitmap images: decoded from a file or from bytes, transformed
// (resized, turned by quarter turns, cropped, mirrored) and written to new
// temporary files. The image functions of generated code (QNImageUtil) are
// built on these.
//
// An image knows its size in pixels and its scale factor, the pixels per
// point it was made for: 1, unless the file's name says otherwise
// ("icon@2x.png" is 2). A photo's EXIF orientation is applied on loading, so
// the size is the upright one.
//
// Images are read lazily: loading reads the header, a transformation only
// describes its work, and the pixels are decoded and processed when the
// image is saved. A header declaring more than kMaxPixels pixels is refused
// before anything is decoded, and damaged data (a truncated file) makes the
// load or the save fail rather than produce an image with missing parts.
#pragma once

#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

// A decoded image and, when it was transformed, the transformations still to
// apply. Immutable: an image may be read and saved from several threads at
// once; every transformation answers a new image.
class QN_API QNImage : public Object {
public:
    // The largest image, in pixels (width x height), the library decodes or
    // makes: 100 megapixels.
    static constexpr std::int64_t kMaxPixels = 100'000'000;

    // How the pixels will be read. kSequential streams them once from top to
    // bottom, which is faster and needs little memory, but only suits work
    // that reads rows in order (resizing, mirroring left to right); anything
    // else fails when the image is saved, and the image can be saved only
    // once. kRandom decodes the whole image when its pixels are first needed.
    enum class Access { kRandom, kSequential };

    // The image in the file at `path`; null when the file is missing, is not
    // an image of a known format, is damaged or is too large. The scale
    // factor is `scale` when positive, else what the file name says.
    static Ref<QNImage> imageWithContentsOfFile(StringView path, Access access = Access::kRandom,
                                                double scale = 0);
    // The image encoded in `data` (the bytes are copied), with the given scale
    // factor (1 when not positive); null as above.
    static Ref<QNImage> imageWithData(const Bytes& data, double scale = 1,
                                      Access access = Access::kRandom);

    // An image of 8-bit pixels given row by row, top row first, `bands`
    // values each: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA (sRGB). Null when
    // `pixels` does not hold exactly width x height pixels or the size is
    // not allowed.
    static Ref<QNImage> imageWithPixels(std::int64_t width, std::int64_t height, int bands,
                                        const Bytes& pixels, double scale = 1);

    // The scale factor a file name gives: N for a name whose last component,
    // without its extension, ends in "@Nx" (N from 1 to 10); 1 otherwise.
    static double scaleFactorForFileName(StringView path);

    std::int64_t pixelWidth() const noexcept;
    std::int64_t pixelHeight() const noexcept;
    // Pixels per point.
    double scale() const noexcept { return scale_; }
    // The size in points.
    double width() const noexcept { return static_cast<double>(pixelWidth()) / scale_; }
    double height() const noexcept { return static_cast<double>(pixelHeight()) / scale_; }
    bool hasAlpha() const noexcept;

    // --- Transformations: each answers a new image with the same scale
    // factor, or null when it cannot be made. ---

    // The image stretched to exactly `width` x `height` pixels (each at
    // least 1; at most kMaxPixels in all).
    Ref<QNImage> imageResizedToPixelSize(std::int64_t width, std::int64_t height) const;
    // The image turned clockwise by 90, 180 or 270 degrees; null for any
    // other angle.
    Ref<QNImage> imageRotatedClockwiseByDegrees(int degrees) const;
    // The pixels of the rectangle, which must lie inside the image and not be
    // empty.
    Ref<QNImage> imageCroppedToPixelRect(std::int64_t left, std::int64_t top, std::int64_t width,
                                         std::int64_t height) const;
    enum class Mirror {
        kLeftRight,  // about the vertical axis: the left column becomes the right one
        kTopBottom,  // about the horizontal axis: the top row becomes the bottom one
    };
    Ref<QNImage> imageMirrored(Mirror mirror) const;

    // --- Saving ---

    // The quality of the JPEG files the image functions write, from 0 to 1
    // (0.9 unless the application sets another; values are clamped).
    static double jpegCompressionQualityForImageAPI() noexcept;
    static void setJpegCompressionQualityForImageAPI(double quality) noexcept;

    // Writes the image to `path` in the format its extension names: JPEG
    // ("jpg", "jpeg") at `jpegQuality` (0 to 1), PNG, WebP, TIFF, GIF, HEIF
    // where available; PNG for any other extension. False (and no file left
    // behind) when the pixels cannot be decoded or the file not written.
    bool saveToPathJpegCompressionQuality(StringView path, double jpegQuality) const;
    // The same for a file URL, at the host's JPEG quality.
    bool saveImageToFileURL(StringView fileURL) const;

    // Saves to a new unique temporary path (createUniqueQNDataTemporaryFilePath)
    // ending in "." and `extension` (none when `extension` is empty; ".png"
    // when it names a format that cannot be written, so that the name never
    // lies about the content). The path, or absent when the save failed.
    std::optional<String> saveToTemporaryFileWithPathExtensionJpegCompressionQuality(
        StringView extension, double jpegQuality) const;
    // The same at the host's JPEG quality.
    std::optional<String> saveToQNDataTemporaryFileWithPathExtension(StringView extension) const;

    String description() const override;

    struct Impl;
    QNImage(std::shared_ptr<const Impl> impl, double scale);
    ~QNImage() override;

private:
    std::shared_ptr<const Impl> impl_;
    double scale_;
};

}  // namespace qn
