#include "app/preview_heif.h"

#include <libheif/heif.h>

#include <algorithm>
#include <memory>

namespace keltra {

namespace {

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

}  // namespace

QImage DecodeHeif(std::span<const std::byte> data) {
    if (data.size() < 12) return {};
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    const heif_filetype_result kind = heif_check_filetype(bytes, static_cast<int>(std::min<size_t>(data.size(), 64)));
    if (kind != heif_filetype_yes_supported && kind != heif_filetype_maybe) return {};
    std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context) return {};
    if (heif_context_read_from_memory_without_copy(context.get(), bytes, data.size(), nullptr)
            .code != heif_error_Ok) {
        return {};
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
        return {};
    }
    std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
    heif_image* rawImage = nullptr;
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          heif_chroma_interleaved_RGBA, nullptr)
            .code != heif_error_Ok) {
        return {};
    }
    std::unique_ptr<heif_image, ImageRelease> image(rawImage);
    int stride = 0;
    const uint8_t* pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (pixels == nullptr || width <= 0 || height <= 0) return {};
    // The decoded planes belong to the image: copy them out before it is released.
    return QImage(pixels, width, height, stride, QImage::Format_RGBA8888).copy();
}

}  // namespace keltra
