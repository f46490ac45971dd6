// The image and media built-ins of generated code.
//
// Generated code keeps an image as text: a file path, a URL, or a field
// value the host resolves (QNEntityHelper::imageAndURLFromFieldValue). Each
// operation loads the image that text names (a remote one is downloaded
// while the caller waits), and each transformation writes its result to a
// new temporary file, in the input's format, and answers that file's path.
// Nothing is reported: when anything fails a transformation answers its
// input unchanged and a size answers 0.
//
// Sizes and rectangles are in pixels, the unit getImageWidth and
// getImageHeight answer: a result file carries no scale factor in its name,
// so pixels are what stays true of it.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstdint>

namespace qn {

// Class operations only; thread-safe.
class QN_API QNImageUtil {
public:
    // The image's size in pixels (points times the scale factor); 0 when it
    // cannot be loaded.
    static std::int64_t getImageWidth(StringView image);
    static std::int64_t getImageHeight(StringView image);
    // The size in bytes of the image's file; for an image that is not a local
    // file (a download), the size it takes saved in its own format. 0 when
    // it cannot be loaded.
    static std::int64_t getFileSize(StringView image);

    // The image stretched to width x height; with `keepAspect`, scaled by the
    // larger of width / its width and height / its height, so that it covers
    // the box (200 x 100 asked for 50 x 50 gives 100 x 50).
    static String resize(StringView image, std::int64_t width, std::int64_t height,
                         bool keepAspect);
    // resize to (width x percent / 100, height x percent / 100), each
    // truncated, keeping the aspect.
    static String scale(StringView image, double percent);
    // Turned clockwise by 90, 180 or 270 degrees; any other angle answers the
    // input.
    static String rotate(StringView image, std::int64_t angle);
    // The rectangle, which must lie inside the image: a negative value, an
    // empty rectangle or one that passes the right or bottom edge answers the
    // input.
    static String crop(StringView image, std::int64_t left, std::int64_t top, std::int64_t width,
                       std::int64_t height);
    // Mirrored about the horizontal axis: the top row becomes the bottom row.
    static String flipHorizontally(StringView image);
    // Mirrored about the vertical axis: the left column becomes the right one.
    static String flipVertically(StringView image);
};

// Class operations on the text of a media value; thread-safe.
class QN_API QNMultimediaUtil {
public:
    // The text itself.
    static String getUri(StringView media);
    // The last path component without its extension ("/a/b/photo.jpg" gives
    // "photo").
    static String getName(StringView media);
    // The extension of the last path component, without the dot; "" when it
    // has none.
    static String getType(StringView media);
};

}  // namespace qn
