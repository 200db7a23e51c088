#pragma once

#include <string>

// Puts a completely downloaded temporary file into its save folder under the
// overwrite mode (0 skip an existing file, 1 keep both: "name 2.ext", "name
// 3.ext"…, 2 replace). Nothing is ever moved over a file that is kept: the
// move itself refuses an existing name, so a file that appears meanwhile is
// not lost. Across file systems the bytes are copied beside the target
// first, so that the target appears only complete.
class DownloadedFilePlacer {
public:
    enum class Outcome { Placed, ExistsSkipped, Failed };

    // Whether a download to folder/name is skipped before it starts.
    static bool skipsExisting(const std::string& folder, const std::string& name, int mode);
    // Moves `temp` to folder/name by `mode`; on Placed, *savedPath is where it went.
    static Outcome place(const std::string& temp, const std::string& folder, const std::string& name, int mode,
                         std::string* savedPath);

private:
    // Moves src to dst; without `replace` an existing dst is left alone
    // (EEXIST). 0 or an errno value.
    static int moveFile(const std::string& src, const std::string& dst, bool replace);
};
