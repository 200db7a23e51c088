// lb_pointer_shape: the shape of the X pointer as the X server shows it now
// (the cursor of the window under it), for the windowed program tests.
//
//   lb_pointer_shape
//   lb_pointer_shape --theme NAME
//
// Prints one line on the display of $DISPLAY: a hash of the cursor image's
// size, hot spot and pixels, then the cursor's name when it has one. Two
// shapes are the same exactly when their lines are. Exit status 1 when the
// display or its XFIXES extension is missing. With --theme, the same line
// (without a name) for the cursor NAME of the display's cursor theme at its
// size, as a program that loads it shows it; exit status 2 when the theme
// has no such cursor.
#include <X11/Xlib.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/extensions/Xfixes.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

uint64_t mix(uint64_t hash, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        hash ^= (value >> (8 * i)) & 0xff;
        hash *= 1099511628211ull;
    }
    return hash;
}

template <typename Pixel>
uint64_t shapeHash(unsigned width, unsigned height, unsigned xhot, unsigned yhot, const Pixel* pixels) {
    uint64_t hash = 14695981039346656037ull;
    hash = mix(hash, width);
    hash = mix(hash, height);
    hash = mix(hash, xhot);
    hash = mix(hash, yhot);
    // 32-bit ARGB values (XFIXES hands them in unsigned longs).
    const unsigned long count = (unsigned long)width * height;
    for (unsigned long i = 0; i < count; ++i) hash = mix(hash, pixels[i] & 0xffffffffu);
    return hash;
}

}  // namespace

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "lb_pointer_shape: cannot open the display\n");
        return 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--theme") == 0) {
        XcursorImage* themed = XcursorLibraryLoadImage(argv[2], XcursorGetTheme(display), XcursorGetDefaultSize(display));
        XCloseDisplay(display);
        if (!themed) return 2;
        std::printf("%016llx %ux%u -\n",
                    (unsigned long long)shapeHash(themed->width, themed->height, themed->xhot, themed->yhot,
                                                  themed->pixels),
                    (unsigned)themed->width, (unsigned)themed->height);
        XcursorImageDestroy(themed);
        return 0;
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
    const uint64_t hash = shapeHash(image->width, image->height, image->xhot, image->yhot, image->pixels);
    std::printf("%016llx %ux%u %s\n", (unsigned long long)hash, (unsigned)image->width, (unsigned)image->height,
                image->name && *image->name ? image->name : "-");
    XFree(image);
    XCloseDisplay(display);
    return 0;
}
