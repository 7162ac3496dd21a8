// Picture files: decoding BMP, GIF, JPEG, PNG and TIFF into BGRA pictures, encoding a picture by
// its file extension, and the overlay window's thumbnail.
#pragma once

#include <QImage>
#include <QRect>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "video/image_buffer.h"
#include "video/picture_decoder.h"

namespace velmor {

// LoadFromFile: sets `name` (the part after the last '/') and `path`, then decodes the file into
// a BGRA picture, top row first. The file's alpha is kept; a file without alpha gives alpha 0
// everywhere (the overlay window's "Make solid" makes it visible). decodedWidth, decodedHeight and
// decodedBitDepth describe the file's picture. On failure returns false and leaves the pixels as
// they were. Pictures wider or taller than kMaxOverlayPictureSide are refused (TooLarge), from the
// file's header when it tells the size.
PictureLoad LoadPictureFile(ImageBuffer& picture, const std::string& path);
bool LoadFromFile(ImageBuffer& picture, const std::string& path);

// The overlay's decoder: LoadPictureFile and MakeThumbnail, on any thread.
class QtPictureDecoder : public IPictureDecoder {
public:
    PictureLoad Load(ImageBuffer& picture, const std::string& path) override;
    bool MakeThumbnail(const ImageBuffer& picture, int w, int h, ImageBuffer& thumbnail) override;
};

// What the overlay window's file-open window offers; the window itself belongs to the dialogs.
struct FileWindowRequest {
    std::string title = "Load Overlay Image";
    struct Filter {
        std::string caption;
        std::string pattern;  // ';'-separated
    };
    std::vector<Filter> filters = {
        {"Image Files (*.bmp;*.gif;*.jpg;*.png;*.tif)", "*.bmp;*.gif;*.jpg;*.png;*.tif"},
        {"All Files (*.*)", "*.*"}};
    bool readOnlyBoxHidden = true;
};
// The filters as one QFileDialog name-filter string ("Image Files (*.bmp *.gif ...);;...").
QString QtNameFilters(const FileWindowRequest& request);

// LoadWithFileWindow: asks `choose` for a file (nullopt: cancelled, nothing changes), then
// LoadFromFile with it.
bool LoadWithFileWindow(
    ImageBuffer& picture,
    const std::function<std::optional<std::string>(const FileWindowRequest&)>& choose);

// Bits per pixel of a decoded picture as the file stored it (24 for JPEG and plain BMP, 32 with
// alpha, 8 for palette pictures, ...).
int DecodedBitDepth(const QImage& image);

// Writes a BGRA picture (alpha ignored, rows packed) to `path`, the format chosen by the
// extension: .bmp, .gif, .jpg/.jpeg, .png, in any letter case. Encoder defaults; GIF through
// giflib with an exact palette when the picture has at most 256 colours. The file is written under
// a temporary name and renamed into place, so an existing file is replaced whole or not at all.
// False for an unknown extension, an empty picture, or a folder that is missing or unwritable.
bool EncodeImageFile(const std::string& path, const ImageBuffer& picture);

// ShowThumbnail's placement: the picture scaled to the control's full width when its aspect is at
// least 16:9, else to the full height, centred.
QRect ThumbnailRect(int controlWidth, int controlHeight, int decodedWidth, int decodedHeight);
// The control-sized thumbnail of a loaded picture (transparent around it, premultiplied ARGB32); a
// picture decoded without alpha is shown opaque. Any thread.
QImage MakeThumbnail(const ImageBuffer& picture, int controlWidth, int controlHeight);
// A thumbnail QtPictureDecoder made, as the QImage to paint (a copy).
QImage ThumbnailImage(const ImageBuffer& thumbnail);

// A QImage copy of a BGRA picture, and back; for the window code that paints pictures.
QImage ToQImage(const ImageBuffer& picture, bool keepAlpha = true);
bool FromQImage(const QImage& image, ImageBuffer& picture);

}  // namespace velmor
