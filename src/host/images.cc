// Host images on libvips. Every vips call of the library is in this file.
//
// vips builds a pipeline lazily: loading reads a header, each operation adds
// a stage, and pixels flow only when a saver runs. So the size limit is
// checked on the header, before any decoding, and a failure inside the
// pipeline (damaged data found while decoding) surfaces as a failed save.

#include <qn/core/uuid.h>
#include <qn/host/images.h>
#include <qn/host/log.h>
#include <qn/host/utilities.h>

#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "core/ascii.h"
#include "host/paths.h"
#include "host/url.h"

namespace qn {

struct QNImage::Impl {
    explicit Impl(VipsImage* owned) : image(owned) {}
    ~Impl() { g_object_unref(image); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    VipsImage* image;  // one reference, owned
};

namespace {

namespace fs = std::filesystem;

void discardVipsMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// vips is set up once per process. Loaders that were never hardened against
// hostile input are blocked, because image values may come from anywhere.
// The operation cache is off: no two calls here repeat an operation on the
// same input, so the cache could only hold decoded images in memory. vips's
// warnings (about damaged files, which fail anyway) stay off standard error.
struct VipsRuntime {
    bool ready = false;
    VipsRuntime() {
        if (vips_init("qnstd") != 0) {
            vips_error_clear();
            return;
        }
        vips_block_untrusted_set(TRUE);
        vips_cache_set_max(0);
        g_log_set_handler("VIPS",
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                      G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          discardVipsMessage, nullptr);
        ready = true;
    }
};

bool vipsReady() {
    static const VipsRuntime runtime;
    return runtime.ready;
}

// vips reports errors into a process-wide buffer: take what is there (so
// the buffer never grows) and keep it in the debug log.
void takeVipsError(const char* what) {
    char* text = vips_error_buffer_copy();
    std::string line = std::string("Image: ") + what;
    if (text != nullptr && *text != '\0') line += std::string(": ") + text;
    g_free(text);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    QNLog::loggerService()->logMessage(fromUtf8(line), QNLogTypeFiles, QNLogLevelDebug);
}

std::atomic<double>& jpegQuality() {
    static std::atomic<double> quality{0.9};
    return quality;
}

double clampQuality(double quality) {
    if (std::isnan(quality)) return 0.9;
    return std::clamp(quality, 0.0, 1.0);
}

bool withinPixelLimit(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width <= QNImage::kMaxPixels &&
           height <= QNImage::kMaxPixels / width;
}

Ref<QNImage> wrap(VipsImage* owned, double scale) {
    return makeRef<QNImage>(std::make_shared<const QNImage::Impl>(owned), scale);
}

// Makes a new source each time it is called (a sequential image that needs
// turning is opened a second time); null when it cannot.
using SourceFactory = std::function<VipsSource*()>;

VipsImage* openHeader(const SourceFactory& makeSource, QNImage::Access access) {
    VipsSource* source = makeSource();
    if (source == nullptr) return nullptr;
    const VipsAccess mode =
        access == QNImage::Access::kSequential ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM;
    // Truncated or corrupt data is an error, not an image with grey rows.
    VipsImage* image = vips_image_new_from_source(source, "", "access", mode, "fail_on",
                                                  VIPS_FAIL_ON_ERROR, nullptr);
    g_object_unref(source);
    return image;
}

Ref<QNImage> load(const SourceFactory& makeSource, double scale, QNImage::Access access) {
    if (!vipsReady()) return nullptr;
    VipsImage* image = openHeader(makeSource, access);
    if (image == nullptr) {
        takeVipsError("cannot read the image");
        return nullptr;
    }
    if (!withinPixelLimit(image->Xsize, image->Ysize)) {
        // A decompression bomb or an empty image: refused before decoding.
        g_object_unref(image);
        return nullptr;
    }
    const int orientation = vips_image_get_orientation(image);
    if (orientation <= 1 || orientation > 8) return wrap(image, scale);
    // Turning a photo upright reads its rows out of order.
    if (access == QNImage::Access::kSequential) {
        g_object_unref(image);
        image = openHeader(makeSource, QNImage::Access::kRandom);
        if (image == nullptr) {
            takeVipsError("cannot read the image");
            return nullptr;
        }
    }
    VipsImage* upright = nullptr;
    const int status = vips_autorot(image, &upright, nullptr);
    g_object_unref(image);
    if (status != 0) {
        takeVipsError("cannot turn the image upright");
        return nullptr;
    }
    return wrap(upright, scale);
}

// --- Saving ------------------------------------------------------------------

enum class Format { kJpeg, kPng, kWebp, kTiff, kGif, kHeif };

struct FormatInfo {
    Format format;
    const char* saver;  // the vips operation
};

bool saverAvailable(const char* nickname) {
    return vips_type_find("VipsOperation", nickname) != 0;
}

// The format an extension names; absent for one that cannot be written here.
std::optional<FormatInfo> formatForExtension(StringView extension) {
    const String ext = internal::asciiLowercased(extension);
    static const struct {
        const char16_t* extension;
        FormatInfo info;
    } kFormats[] = {
        {u"jpg", {Format::kJpeg, "jpegsave"}},  {u"jpeg", {Format::kJpeg, "jpegsave"}},
        {u"jpe", {Format::kJpeg, "jpegsave"}},  {u"png", {Format::kPng, "pngsave"}},
        {u"webp", {Format::kWebp, "webpsave"}}, {u"tif", {Format::kTiff, "tiffsave"}},
        {u"tiff", {Format::kTiff, "tiffsave"}}, {u"gif", {Format::kGif, "gifsave"}},
        {u"heic", {Format::kHeif, "heifsave"}}, {u"heif", {Format::kHeif, "heifsave"}},
        {u"avif", {Format::kHeif, "heifsave"}},
    };
    for (const auto& entry : kFormats)
        if (ext == entry.extension && saverAvailable(entry.info.saver)) return entry.info;
    return std::nullopt;
}

int runSaver(VipsImage* image, const std::string& path, Format format, double quality) {
    const int q = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    switch (format) {
        case Format::kJpeg:
            return vips_jpegsave(image, path.c_str(), "Q", q, nullptr);
        case Format::kPng:
            return vips_pngsave(image, path.c_str(), nullptr);
        case Format::kWebp:
            return vips_webpsave(image, path.c_str(), "Q", q, nullptr);
        case Format::kTiff:
            return vips_tiffsave(image, path.c_str(), nullptr);
        case Format::kGif:
            return vips_gifsave(image, path.c_str(), nullptr);
        case Format::kHeif:
            return vips_heifsave(image, path.c_str(), nullptr);
    }
    return -1;
}

// Writes beside the target and renames, so a save that fails while the
// pixels are decoded leaves neither a partial file nor a damaged old one.
bool writeImage(VipsImage* image, StringView path, Format format, double quality) {
    const fs::path target = internal::toSystemPath(path);
    if (target.empty() || !target.has_filename()) return false;
    fs::path partial = target;
    partial += ".partial-" + toUtf8(QNUUID::createUUID().uuidString());
    bool ok = runSaver(image, partial.string(), format, quality) == 0;
    if (!ok) takeVipsError("cannot write the image");
    std::error_code ec;
    if (ok) {
        fs::rename(partial, target, ec);
        ok = !ec;
    }
    if (!ok) fs::remove(partial, ec);
    return ok;
}

}  // namespace

QNImage::QNImage(std::shared_ptr<const Impl> impl, double scale)
    : impl_(std::move(impl)), scale_(scale > 0 && std::isfinite(scale) ? scale : 1) {}

QNImage::~QNImage() = default;

double QNImage::scaleFactorForFileName(StringView path) {
    String name = internal::lastPathComponent(path);
    const String extension = internal::pathExtension(name);
    if (!extension.empty()) name.resize(name.size() - extension.size() - 1);
    if (name.size() < 3 || (name.back() != u'x' && name.back() != u'X')) return 1;
    const auto at = name.rfind(u'@');
    if (at == String::npos) return 1;
    const StringView digits = StringView(name).substr(at + 1, name.size() - at - 2);
    if (digits.empty() || digits.size() > 2) return 1;
    int factor = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return 1;
        factor = factor * 10 + (c - u'0');
    }
    return factor >= 1 && factor <= 10 ? factor : 1;
}

Ref<QNImage> QNImage::imageWithContentsOfFile(StringView path, Access access, double scale) {
    const fs::path file = internal::toSystemPath(path);
    std::error_code ec;
    // Only regular files: opening a FIFO would block, a folder is no image.
    if (file.empty() || !fs::is_regular_file(file, ec)) return nullptr;
    const std::string name = file.string();
    return load([&name] { return vips_source_new_from_file(name.c_str()); },
                scale > 0 ? scale : scaleFactorForFileName(path), access);
}

Ref<QNImage> QNImage::imageWithData(const Bytes& data, double scale, Access access) {
    if (data.empty() || !vipsReady()) return nullptr;
    // The blob is reference-counted by vips: the pipeline keeps its own copy
    // of the bytes for as long as it needs them.
    VipsBlob* blob = vips_blob_copy(data.data(), data.size());
    auto result = load([blob] { return vips_source_new_from_blob(blob); }, scale, access);
    vips_area_unref(VIPS_AREA(blob));
    return result;
}

Ref<QNImage> QNImage::imageWithPixels(std::int64_t width, std::int64_t height, int bands,
                                      const Bytes& pixels, double scale) {
    if (bands < 1 || bands > 4 || !withinPixelLimit(width, height) ||
        static_cast<std::uint64_t>(width * height) * static_cast<unsigned>(bands) !=
            pixels.size() ||
        !vipsReady())
        return nullptr;
    VipsImage* image =
        vips_image_new_from_memory_copy(pixels.data(), pixels.size(), static_cast<int>(width),
                                        static_cast<int>(height), bands, VIPS_FORMAT_UCHAR);
    if (image == nullptr) {
        takeVipsError("cannot make the image");
        return nullptr;
    }
    image->Type = bands <= 2 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
    return wrap(image, scale);
}

std::int64_t QNImage::pixelWidth() const noexcept {
    return impl_->image->Xsize;
}

std::int64_t QNImage::pixelHeight() const noexcept {
    return impl_->image->Ysize;
}

bool QNImage::hasAlpha() const noexcept {
    return vips_image_hasalpha(impl_->image) != 0;
}

Ref<QNImage> QNImage::imageResizedToPixelSize(std::int64_t width, std::int64_t height) const {
    if (!withinPixelLimit(width, height)) return nullptr;
    VipsImage* in = impl_->image;
    const double hscale = static_cast<double>(width) / in->Xsize;
    const double vscale = static_cast<double>(height) / in->Ysize;
    const bool alpha = hasAlpha();

    // Each stage holds a reference to the one before it; the local
    // references are dropped on every path (an object keeps them alive).
    VipsObject* scope = VIPS_OBJECT(vips_image_new());
    VipsImage** t = reinterpret_cast<VipsImage**>(vips_object_local_array(scope, 5));
    VipsImage* current = in;
    bool ok = true;
    // Colours are averaged with their alpha applied, so transparent pixels
    // leave no dark fringe.
    if (alpha) {
        ok = vips_premultiply(current, &t[0], nullptr) == 0;
        current = t[0];
    }
    ok = ok && vips_resize(current, &t[1], hscale, "vscale", vscale, nullptr) == 0;
    if (ok) current = t[1];
    if (ok && alpha) {
        ok = vips_unpremultiply(current, &t[2], nullptr) == 0 &&
             vips_cast(t[2], &t[3], in->BandFmt, nullptr) == 0;
        if (ok) current = t[3];
    }
    // vips rounds the new size; the asked one is exact.
    if (ok && (current->Xsize != width || current->Ysize != height)) {
        ok = vips_embed(current, &t[4], 0, 0, static_cast<int>(width), static_cast<int>(height),
                        "extend", VIPS_EXTEND_COPY, nullptr) == 0;
        if (ok) current = t[4];
    }
    Ref<QNImage> result;
    if (ok) {
        g_object_ref(current);
        result = wrap(current, scale_);
    } else {
        takeVipsError("cannot resize the image");
    }
    g_object_unref(scope);
    return result;
}

Ref<QNImage> QNImage::imageRotatedClockwiseByDegrees(int degrees) const {
    VipsAngle angle;
    switch (degrees) {
        case 90:
            angle = VIPS_ANGLE_D90;
            break;
        case 180:
            angle = VIPS_ANGLE_D180;
            break;
        case 270:
            angle = VIPS_ANGLE_D270;
            break;
        default:
            return nullptr;
    }
    VipsImage* out = nullptr;
    if (vips_rot(impl_->image, &out, angle, nullptr) != 0) {
        takeVipsError("cannot rotate the image");
        return nullptr;
    }
    return wrap(out, scale_);
}

Ref<QNImage> QNImage::imageCroppedToPixelRect(std::int64_t left, std::int64_t top,
                                              std::int64_t width, std::int64_t height) const {
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || width > pixelWidth() - left ||
        height > pixelHeight() - top)
        return nullptr;
    VipsImage* out = nullptr;
    if (vips_extract_area(impl_->image, &out, static_cast<int>(left), static_cast<int>(top),
                          static_cast<int>(width), static_cast<int>(height), nullptr) != 0) {
        takeVipsError("cannot crop the image");
        return nullptr;
    }
    return wrap(out, scale_);
}

Ref<QNImage> QNImage::imageMirrored(Mirror mirror) const {
    VipsImage* out = nullptr;
    const VipsDirection direction =
        mirror == Mirror::kLeftRight ? VIPS_DIRECTION_HORIZONTAL : VIPS_DIRECTION_VERTICAL;
    if (vips_flip(impl_->image, &out, direction, nullptr) != 0) {
        takeVipsError("cannot mirror the image");
        return nullptr;
    }
    return wrap(out, scale_);
}

double QNImage::jpegCompressionQualityForImageAPI() noexcept {
    return jpegQuality().load();
}

void QNImage::setJpegCompressionQualityForImageAPI(double quality) noexcept {
    jpegQuality().store(clampQuality(quality));
}

bool QNImage::saveToPathJpegCompressionQuality(StringView path, double quality) const {
    const auto info = formatForExtension(internal::pathExtension(path));
    return writeImage(impl_->image, path, info ? info->format : Format::kPng,
                      clampQuality(quality));
}

bool QNImage::saveImageToFileURL(StringView fileURL) const {
    const auto path = internal::pathOfFileURL(fileURL);
    if (!path || path->empty()) return false;
    return saveToPathJpegCompressionQuality(*path, jpegCompressionQualityForImageAPI());
}

std::optional<String> QNImage::saveToTemporaryFileWithPathExtensionJpegCompressionQuality(
    StringView extension, double quality) const {
    String path = QNUtilities::createUniqueQNDataTemporaryFilePath();
    const auto info = formatForExtension(extension);
    if (info) {
        path.push_back(u'.');
        path.append(extension);
    } else if (!extension.empty()) {
        path.append(u".png");
    }
    if (!writeImage(impl_->image, path, info ? info->format : Format::kPng, clampQuality(quality)))
        return std::nullopt;
    return path;
}

std::optional<String> QNImage::saveToQNDataTemporaryFileWithPathExtension(
    StringView extension) const {
    return saveToTemporaryFileWithPathExtensionJpegCompressionQuality(
        extension, jpegCompressionQualityForImageAPI());
}

String QNImage::description() const {
    std::string text = "<QNImage " + std::to_string(pixelWidth()) + "x" +
                       std::to_string(pixelHeight()) + " pixels";
    if (scale_ != 1) {
        char factor[32];
        std::snprintf(factor, sizeof factor, " @%gx", scale_);
        text += factor;
    }
    return fromUtf8(text + ">");
}

}  // namespace qn
