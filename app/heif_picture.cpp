#include "app/heif_picture.h"

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <vector>

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
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleRelease>;
using Image = std::unique_ptr<heif_image, ImageRelease>;

// The smallest stored thumbnail at least `edge` on its longer side, if any.
Handle FittingThumbnail(heif_image_handle* primary, int edge) {
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0) return nullptr;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    Handle best;
    int bestEdge = 0;
    for (const heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &raw).code != heif_error_Ok) continue;
        Handle thumbnail(raw);
        const int longer = std::max(heif_image_handle_get_width(raw),
                                    heif_image_handle_get_height(raw));
        if (longer >= edge && (best == nullptr || longer < bestEdge)) {
            best = std::move(thumbnail);
            bestEdge = longer;
        }
    }
    return best;
}

}  // namespace

bool LooksLikeHeif(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const heif_filetype_result type = heif_check_filetype(data, static_cast<int>(bytes.size()));
    return type == heif_filetype_yes_supported;
}

std::optional<HeifPicture> DecodeHeifPicture(const QByteArray& bytes, int edge) {
    Context context(heif_context_alloc());
    if (context == nullptr) return std::nullopt;
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(),
                                                   static_cast<size_t>(bytes.size()), nullptr)
            .code != heif_error_Ok) {
        return std::nullopt;
    }
    heif_image_handle* rawPrimary = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawPrimary).code != heif_error_Ok) {
        return std::nullopt;
    }
    const Handle primary(rawPrimary);
    HeifPicture picture;
    picture.pictureSize = QSize(heif_image_handle_get_width(rawPrimary),
                                heif_image_handle_get_height(rawPrimary));
    const Handle thumbnail = FittingThumbnail(rawPrimary, edge);
    heif_image* rawImage = nullptr;
    if (heif_decode_image(thumbnail ? thumbnail.get() : rawPrimary, &rawImage, heif_colorspace_RGB,
                          heif_chroma_interleaved_RGBA, nullptr)
            .code != heif_error_Ok) {
        return std::nullopt;
    }
    const Image image(rawImage);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(rawImage, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(rawImage, heif_channel_interleaved);
    const int height = heif_image_get_height(rawImage, heif_channel_interleaved);
    if (plane == nullptr || width <= 0 || height <= 0) return std::nullopt;
    // The plane belongs to the library's image: copied before that is released.
    QImage decoded(plane, width, height, stride, QImage::Format_RGBA8888);
    picture.image = decoded.width() > edge || decoded.height() > edge
                        ? decoded.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                        : decoded.copy();
    return picture;
}

}  // namespace keltra
