#include "platform/graphics/GifDecoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace gfx {

namespace {

// Transparent margin around a frame that is kept whatever the frame's size.
constexpr int64_t kMarginPixels = int64_t(1) << 20;

struct Reader {
    std::span<const uint8_t> data;
    size_t pos = 0;
};

int readBytes(GifFileType* gif, GifByteType* out, int len) {
    auto* r = static_cast<Reader*>(gif->UserData);
    if (len <= 0) return 0;
    size_t n = std::min(size_t(len), r->data.size() - r->pos);
    std::memcpy(out, r->data.data() + r->pos, n);
    r->pos += n;
    return int(n);
}

struct GifClose {
    void operator()(GifFileType* g) const {
        int err = 0;
        DGifCloseFile(g, &err);
    }
};
using Gif = std::unique_ptr<GifFileType, GifClose>;

Gif open(Reader& reader, std::string& msg) {
    int err = 0;
    Gif gif(DGifOpen(&reader, readBytes, &err));
    if (!gif) msg = std::string("GIF: ") + (GifErrorString(err) ? GifErrorString(err) : "unreadable");
    return gif;
}

std::string gifError(const Gif& gif) {
    const char* s = GifErrorString(gif->Error);
    return std::string("GIF: ") + (s ? s : "damaged data");
}

}  // namespace

bool GifDecoder::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    Reader reader{data};
    std::string msg;
    Gif gif = open(reader, msg);
    if (!gif) {
        if (error) *error = msg;
        return false;
    }
    info.format = ImageFormat::Gif;
    info.width = gif->SWidth;
    info.height = gif->SHeight;
    info.orientation = Orientation::Up;
    return true;
}

ImageRef GifDecoder::decode(std::span<const uint8_t> data, std::string* error) {
    Reader reader{data};
    std::string msg;
    Gif gif = open(reader, msg);
    if (!gif) return decodeFailure(error, msg);

    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return decodeFailure(error, gifError(gif));
        if (type == TERMINATE_RECORD_TYPE) return decodeFailure(error, "GIF: no image in the file");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) {
                return decodeFailure(error, gifError(gif));
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                transparent = (ext[1] & 1) ? ext[4] : -1;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) {
                    return decodeFailure(error, gifError(gif));
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;

        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return decodeFailure(error, gifError(gif));
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map) return decodeFailure(error, "GIF: no colour table");
        int fw = desc.Width, fh = desc.Height;
        if (!Image::sizeAllowed(fw, fh)) return decodeFailure(error, "GIF: bad frame size");
        // A screen of zero size (seen in the wild) takes the frame's extent.
        int cw = gif->SWidth > 0 ? gif->SWidth : desc.Left + fw;
        int ch = gif->SHeight > 0 ? gif->SHeight : desc.Top + fh;
        if (!Image::sizeAllowed(cw, ch)) return decodeFailure(error, "GIF: image too large");
        int left = desc.Left, top = desc.Top;
        // A screen far larger than the frame on it would be all transparent
        // margin: a few bytes could claim a gigabyte of nothing. The picture
        // is then the frame alone.
        if (int64_t(cw) * ch > 4 * int64_t(fw) * fh + kMarginPixels) {
            cw = std::max(1, std::min(fw, cw - left));
            ch = std::max(1, std::min(fh, ch - top));
            left = top = 0;
        }

        uint32_t palette[256] = {};
        for (int i = 0; i < map->ColorCount && i < 256; ++i) {
            const GifColorType& c = map->Colors[i];
            palette[i] = argb(255, c.Red, c.Green, c.Blue);
        }
        if (transparent >= 0 && transparent < 256) palette[transparent] = 0;

        // The frame's rows are read before the picture is laid out, into
        // memory that grows with the rows the data really holds: a few bytes
        // claiming a huge frame fail at their first missing row instead of
        // taking the whole size first.
        std::vector<GifPixelType> frame;
        std::vector<int> rowY;  // where each read row goes, in reading order
        const size_t frameBytes = size_t(fw) * size_t(fh);
        auto readRow = [&](int y) {
            if (frame.capacity() < frame.size() + size_t(fw)) {
                frame.reserve(std::min(frameBytes, std::max(frame.size() + size_t(fw), frame.capacity() * 2)));
            }
            frame.resize(frame.size() + size_t(fw));
            rowY.push_back(y);
            return DGifGetLine(gif.get(), frame.data() + frame.size() - size_t(fw), fw) != GIF_ERROR;
        };
        if (desc.Interlace) {
            static const int kStart[] = {0, 4, 2, 1};
            static const int kStep[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass) {
                for (int y = kStart[pass]; y < fh; y += kStep[pass]) {
                    if (!readRow(y)) return decodeFailure(error, gifError(gif));
                }
            }
        } else {
            for (int y = 0; y < fh; ++y) {
                if (!readRow(y)) return decodeFailure(error, gifError(gif));
            }
        }

        std::vector<uint32_t> px(size_t(cw) * size_t(ch), 0u);
        for (size_t i = 0; i < rowY.size(); ++i) {
            int cy = top + rowY[i];
            if (cy < 0 || cy >= ch) continue;
            const GifPixelType* line = frame.data() + i * size_t(fw);
            uint32_t* out = px.data() + size_t(cy) * size_t(cw);
            for (int x = 0; x < fw; ++x) {
                int cx = left + x;
                if (cx >= 0 && cx < cw) out[cx] = palette[line[x]];
            }
        }
        ImageRef image = Image::make(cw, ch, std::move(px));
        if (!image) return decodeFailure(error, "GIF: image too large");
        return image;
    }
}

}  // namespace gfx
