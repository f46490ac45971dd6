// Images beside libvips called directly: QNImageUtil::scale of a 4000 x 3000
// JPEG to a quarter (load, check, resize, save as JPEG at the host's quality
// into a new temporary file) beside the same vips pipeline written by hand
// (sequential load, vips_resize, vips_jpegsave at the same quality). vips
// runs on several threads, so both are measured in wall-clock time.

#include <qn/host.h>
#include <qn/host/images.h>
#include <qn/media/image_util.h>

#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// A photo-like 4000 x 3000 JPEG (smoothed noise, so that it compresses like
// a photo and not like a flat colour), written once per run.
class Photo {
public:
    static Photo& get() {
        static Photo photo;
        return photo;
    }
    ~Photo() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const std::string& path() const { return path_; }
    const fs::path& root() const { return root_; }
    bool ok() const { return ok_; }

private:
    Photo() {
        root_ = fs::temp_directory_path() / ("qn-image-bench-" + std::to_string(::getpid()));
        fs::create_directories(root_);
        qn::QNObjectsModelServices::applicationStorageService().setTemporaryDirectory(root_ /
                                                                                      "tmp");
        path_ = (root_ / "photo.jpg").string();
        // Opening the library's images first initialises vips as it does.
        (void)qn::QNImage::imageWithContentsOfFile(u"/nonexistent");
        VipsObject* scope = VIPS_OBJECT(vips_image_new());
        VipsImage** t = reinterpret_cast<VipsImage**>(vips_object_local_array(scope, 6));
        ok_ = vips_gaussnoise(&t[0], 4000, 3000, "mean", 128.0, "sigma", 60.0, nullptr) == 0 &&
              vips_gaussnoise(&t[1], 4000, 3000, "mean", 100.0, "sigma", 60.0, nullptr) == 0 &&
              vips_gaussnoise(&t[2], 4000, 3000, "mean", 150.0, "sigma", 60.0, nullptr) == 0 &&
              vips_bandjoin(t, &t[3], 3, nullptr) == 0 &&
              vips_gaussblur(t[3], &t[4], 1.5, nullptr) == 0 &&
              vips_cast_uchar(t[4], &t[5], nullptr) == 0 &&
              vips_jpegsave(t[5], path_.c_str(), "Q", 90, nullptr) == 0;
        g_object_unref(scope);
    }

    fs::path root_;
    std::string path_;
    bool ok_ = false;
};

int hostQuality() {
    return static_cast<int>(std::lround(qn::QNImage::jpegCompressionQualityForImageAPI() * 100));
}

void BM_ImageUtil_ScaleJpegToQuarter(benchmark::State& state) {
    const Photo& photo = Photo::get();
    if (!photo.ok()) return state.SkipWithError("cannot make the sample photo");
    const qn::String input = qn::fromUtf8(photo.path());
    for (auto _ : state) {
        const qn::String output = qn::QNImageUtil::scale(input, 25);
        if (output == input) return state.SkipWithError("scale failed");
        fs::remove(qn::toUtf8(output));
    }
}
BENCHMARK(BM_ImageUtil_ScaleJpegToQuarter)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Vips_ResizeJpegToQuarter(benchmark::State& state) {
    const Photo& photo = Photo::get();
    if (!photo.ok()) return state.SkipWithError("cannot make the sample photo");
    const std::string output = (photo.root() / "direct.jpg").string();
    const int quality = hostQuality();
    for (auto _ : state) {
        VipsImage* in = vips_image_new_from_file(photo.path().c_str(), "access",
                                                 VIPS_ACCESS_SEQUENTIAL, nullptr);
        VipsImage* out = nullptr;
        const bool ok = in != nullptr && vips_resize(in, &out, 0.25, nullptr) == 0 &&
                        vips_jpegsave(out, output.c_str(), "Q", quality, nullptr) == 0;
        if (out != nullptr) g_object_unref(out);
        if (in != nullptr) g_object_unref(in);
        if (!ok) return state.SkipWithError("vips failed");
        fs::remove(output);
    }
}
BENCHMARK(BM_Vips_ResizeJpegToQuarter)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
