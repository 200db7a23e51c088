#pragma once

#include "platform/core/Thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One book handed to the program (a file, or a folder of pictures) copied
// into a folder of the library on a worker, never moved: the window answers
// meanwhile, however large the book. The worker picks the name (the same
// book already there is taken as it is, a name in use gets a number) and
// copies into a hidden folder of its own beside it; the copy comes into
// the library, under its name, only on the main thread (place()), so a copy
// given up or failed part way leaves nothing there.
class BookImport {
public:
    // Runs on the main thread once the worker is done (never after cancel()).
    using Done = std::function<void()>;
    // Run on the worker before the copy: why the book does not open (the
    // copy is then not made), or nothing. Reads of the archive libraries
    // may end early once `stop` is set.
    using Check = std::function<std::optional<std::string>(const std::string& source, const std::atomic<bool>& stop)>;

    BookImport(std::string source, bool isFolder, std::string libraryFolder, Done done, Check check = {});
    // Gives up a copy still under way.
    ~BookImport();
    BookImport(const BookImport&) = delete;
    BookImport& operator=(const BookImport&) = delete;

    // Stops the copy (within one piece of it) and removes what it made.
    void cancel();
    // Tells the copy to stop without waiting for it: the worker removes
    // what it made as it ends (cancel() then only joins it).
    void requestStop();
    // Whether the worker is still at work.
    bool running() const { return worker_.running(); }
    // After done: the copy moved to its place in the library, and its path
    // there; nothing when the copy failed or was given up.
    std::optional<std::string> place();

    // After done: why the check refused the book (nothing was copied then).
    const std::optional<std::string>& problem() const { return problem_; }

    const std::string& source() const { return source_; }
    bool isFolder() const { return isFolder_; }
    // How far the copy has got, 0 to 1.
    double progress() const;

    // The pictures directly in `folder` (no hidden files, no subfolders), sorted.
    using PictureLister = std::vector<std::string> (*)(const std::string& folder);
    static void setPictureLister(PictureLister lister) { pictureLister_ = lister; }
    // Whether two files hold the same bytes (read a block at a time; false
    // once `stop` is set).
    static bool sameContents(const std::string& a, const std::string& b, const std::atomic<bool>* stop = nullptr);

private:
    void work(const std::atomic<bool>& stop);
    bool copyFile(const std::string& to, const std::atomic<bool>& stop);
    bool copyFolder(const std::vector<std::string>& pictures, const std::string& to, const std::atomic<bool>& stop);
    void removeStaging();

    static inline PictureLister pictureLister_ = nullptr;

    const std::string source_;
    const bool isFolder_;
    const std::string folder_;
    Done done_;
    const Check check_;
    // Written by the worker, read on the main thread once it has posted.
    std::optional<std::string> existing_;  // the same book already in the library
    std::string staging_;                  // the hidden folder the copy is made in
    std::string copy_;                     // the copy inside it
    std::string target_;                   // the name it is to have in the library
    bool copied_ = false;
    std::optional<std::string> problem_;
    std::atomic<uint64_t> total_{0};
    std::atomic<uint64_t> done_bytes_{0};
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    sys::Thread worker_;
};
