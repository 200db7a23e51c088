// A theme package (a zip of pictures and "theme.txt") as the library installs
// it, and a theme text as the bookshelf reads its settings.
#include "foundation/BookCommonText.h"
#include "foundation/ThemeLoader.h"
#include "fuzz/support/FuzzEnvironment.h"

#include <cstdint>
#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzEnvironment::setUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    BookCommonText::getValueFromTextConfFile(text, "ThemeName");
    BookCommonText::getIntValueFromTextConfFile(text, "BookImagePosX");
    BookCommonText::getIntColorFromTextConfFile(text, "TintColor");

    const std::string package = FuzzEnvironment::writeFile("theme.lbtheme", {data, size});
    std::optional<std::string> name;
    if (ThemeLoader::installTheme(package, &name) == ThemeLoader::kInstalled) {
        // The installed theme chosen, its text read for the layout, and gone again.
        ThemeLoader loader;
        loader.loadSetting();
        if (loader.changeTheme(1, 0)) loader.loadThemeRect();
        loader.changeTheme(0, 0);
        for (size_t i = loader.installedThemes().size(); i-- > 0;) loader.uninstallTheme(int64_t(i));
    }
    return 0;
}
