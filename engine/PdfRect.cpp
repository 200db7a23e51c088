#include "engine/PdfRect.h"

#include <cmath>

namespace {

bool inRange(int index, size_t count) { return index >= 0 && size_t(index) < count; }

// Divided by the scale and rounded the way the viewer places views.
double screenValue(float v, double scale) { return std::trunc(double(v) / scale + 0.5); }

}  // namespace

void PdfRect::addRect(gfx::Rect rect, const std::optional<std::string>& uri) {
    if (!uri) return;
    originX_.push_back(float(rect.x()));
    originY_.push_back(float(rect.y()));
    sizeWidth_.push_back(float(rect.width()));
    sizeHeight_.push_back(float(rect.height()));
    urlArray_.push_back(*uri);
}

gfx::Rect PdfRect::getRectAtIndex(int index) const {
    if (!inRange(index, urlArray_.size())) return {};
    const size_t i = size_t(index);
    return gfx::Rect(originX_[i], originY_[i], sizeWidth_[i], sizeHeight_[i]);
}

gfx::Rect PdfRect::getRectAtIndexWithScreenScale(int index, double screenScale) const {
    if (!inRange(index, urlArray_.size())) return {};
    if (!(screenScale > 0) || !std::isfinite(screenScale)) screenScale = 1.0;
    const size_t i = size_t(index);
    return gfx::Rect(screenValue(originX_[i], screenScale), screenValue(originY_[i], screenScale),
                     screenValue(sizeWidth_[i], screenScale), screenValue(sizeHeight_[i], screenScale));
}

std::string PdfRect::getURIAtIndex(int index) const {
    return inRange(index, urlArray_.size()) ? urlArray_[size_t(index)] : std::string();
}

void PdfRect::addPdfRect(const PdfRect& other) {
    // Copied first: `other` may be this list.
    const PdfRect copy = other;
    originX_.insert(originX_.end(), copy.originX_.begin(), copy.originX_.end());
    originY_.insert(originY_.end(), copy.originY_.begin(), copy.originY_.end());
    sizeWidth_.insert(sizeWidth_.end(), copy.sizeWidth_.begin(), copy.sizeWidth_.end());
    sizeHeight_.insert(sizeHeight_.end(), copy.sizeHeight_.begin(), copy.sizeHeight_.end());
    urlArray_.insert(urlArray_.end(), copy.urlArray_.begin(), copy.urlArray_.end());
}

void PdfRect::editRectWithOffset(gfx::Point offset, double scaleX, double scaleY, int angle) {
    const double MW = mediaSize_.width, MH = mediaSize_.height;
    for (size_t i = 0; i < urlArray_.size(); ++i) {
        const double X = originX_[i] * scaleX, Y = originY_[i] * scaleY;
        const double W = sizeWidth_[i] * scaleX, H = sizeHeight_[i] * scaleY;
        double x, y, w = W, h = H;
        switch (angle) {
        case 90:
            x = MH * scaleX - Y - H;
            y = X;
            w = H;
            h = W;
            break;
        case 180:
            x = MW * scaleX - X - W;
            y = MH * scaleY - Y - H;
            break;
        case 270:
            x = Y + MW * scaleY - MH * scaleX;
            y = MH * scaleX - X - W;
            w = H;
            h = W;
            break;
        default:
            x = X;
            y = Y;
            break;
        }
        originX_[i] = float(x + offset.x);
        originY_[i] = float(y + offset.y);
        sizeWidth_[i] = float(w);
        sizeHeight_[i] = float(h);
    }
}

int PdfRect::hitTestThePoint(gfx::Point point, double screenScale) const {
    for (int i = 0; i < getCount(); ++i) {
        const gfx::Rect r = getRectAtIndexWithScreenScale(i, screenScale);
        if (point.x >= r.minX() && point.x <= r.maxX() && point.y >= r.minY() && point.y <= r.maxY()) return i;
    }
    return -1;
}

void PdfRect::clipLargeSizeLink(gfx::Size size, double clipSize) {
    const double W = size.width, H = size.height, c = clipSize;
    for (size_t i = 0; i < urlArray_.size(); ++i) {
        double x = originX_[i], y = originY_[i], w = sizeWidth_[i], h = sizeHeight_[i];
        if (w < 0.2 * W || h < 0.2 * H) continue;
        bool changed = false;
        if (x < c && x + w > 1.5 * c) {
            x = c;
            w -= c;
            changed = true;
        }
        if (x + w > W - c && x < W - 1.5 * c) {
            w = W - c - x;
            changed = true;
        }
        if (y < c && y + h > 1.5 * c) {
            y = c;
            h -= c;
            changed = true;
        }
        if (y + h > H - c && y < H - 1.5 * c) {
            h = H - c - y;
            changed = true;
        }
        if (changed) {
            originX_[i] = float(x);
            originY_[i] = float(y);
            sizeWidth_[i] = float(w);
            sizeHeight_[i] = float(h);
        }
    }
}
