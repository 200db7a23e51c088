// lb_pointer_shape: the shape of the X pointer as the X server shows it now
// (the cursor of the window under it), for the windowed program tests.
//
//   lb_pointer_shape
//
// Prints one line on the display of $DISPLAY: a hash of the cursor image's
// size, hot spot and pixels, then the cursor's name when it has one. Two
// shapes are the same exactly when their lines are. Exit status 1 when the
// display or its XFIXES extension is missing.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdint>
#include <cstdio>

namespace {

uint64_t mix(uint64_t hash, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        hash ^= (value >> (8 * i)) & 0xff;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "lb_pointer_shape: cannot open the display\n");
        return 1;
    }
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
        std::fprintf(stderr, "lb_pointer_shape: the display has no XFIXES extension\n");
        XCloseDisplay(display);
        return 1;
    }
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) {
        std::fprintf(stderr, "lb_pointer_shape: no cursor image\n");
        XCloseDisplay(display);
        return 1;
    }
    uint64_t hash = 14695981039346656037ull;
    hash = mix(hash, image->width);
    hash = mix(hash, image->height);
    hash = mix(hash, image->xhot);
    hash = mix(hash, image->yhot);
    // The pixels come as unsigned longs holding 32-bit ARGB values.
    const unsigned long count = (unsigned long)image->width * image->height;
    for (unsigned long i = 0; i < count; ++i) hash = mix(hash, image->pixels[i] & 0xffffffffu);
    std::printf("%016llx %ux%u %s\n", (unsigned long long)hash, (unsigned)image->width, (unsigned)image->height,
                image->name && *image->name ? image->name : "-");
    XFree(image);
    XCloseDisplay(display);
    return 0;
}
