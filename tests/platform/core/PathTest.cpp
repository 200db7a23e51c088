#include <gtest/gtest.h>

#include "platform/core/Path.h"

using sys::Path;

TEST(PathTest, LastPathComponent) {
    EXPECT_EQ(Path::lastPathComponent("/tmp/scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(Path::lastPathComponent("/tmp/scratch"), "scratch");
    EXPECT_EQ(Path::lastPathComponent("/tmp/"), "tmp");
    EXPECT_EQ(Path::lastPathComponent("scratch///"), "scratch");
    EXPECT_EQ(Path::lastPathComponent("/"), "/");
    EXPECT_EQ(Path::lastPathComponent("//"), "/");
    EXPECT_EQ(Path::lastPathComponent(""), "");
    EXPECT_EQ(Path::lastPathComponent("a//b"), "b");
    EXPECT_EQ(Path::lastPathComponent(".settings.lbs"), ".settings.lbs");
}

TEST(PathTest, PathExtensionAndHiddenFiles) {
    EXPECT_EQ(Path::pathExtension("/tmp/scratch.tiff"), "tiff");
    EXPECT_EQ(Path::pathExtension(".scratch.tiff"), "tiff");
    EXPECT_EQ(Path::pathExtension("/books/.Akira.lbsz"), "lbsz");
    EXPECT_EQ(Path::pathExtension("/books/..imagesequence.lbsi"), "lbsi");
    EXPECT_EQ(Path::pathExtension("/tmp/scratch"), "");
    EXPECT_EQ(Path::pathExtension("/tmp/"), "");
    EXPECT_EQ(Path::pathExtension("/tmp/scratch..tiff"), "tiff");
    EXPECT_EQ(Path::pathExtension(".onlinebook"), "");
    EXPECT_EQ(Path::pathExtension("/x/.onlinebook"), "");
    EXPECT_EQ(Path::pathExtension("/a.b/c"), "");  // a dot in a folder's name is not the file's
    EXPECT_EQ(Path::pathExtension("/a/book.cbz/"), "cbz");
    EXPECT_EQ(Path::pathExtension("name."), "");
    EXPECT_EQ(Path::pathExtension("/"), "");
    EXPECT_EQ(Path::pathExtension(""), "");
}

TEST(PathTest, AppendingPathComponent) {
    EXPECT_EQ(Path::stringByAppendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(Path::stringByAppendingPathComponent("/tmp/", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(Path::stringByAppendingPathComponent("/", "scratch.tiff"), "/scratch.tiff");
    EXPECT_EQ(Path::stringByAppendingPathComponent("", "scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(Path::stringByAppendingPathComponent("/tmp", ""), "/tmp");
    EXPECT_EQ(Path::stringByAppendingPathComponent("/tmp//", "/a//b/"), "/tmp/a/b");
    EXPECT_EQ(Path::stringByAppendingPathComponent("", ""), "");
    EXPECT_EQ(Path::stringByAppendingPathComponent("rel", "x"), "rel/x");
}

TEST(PathTest, DeletingLastPathComponent) {
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("/tmp/scratch.tiff"), "/tmp");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("/tmp/lock/"), "/tmp");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("/tmp/"), "/");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("/tmp"), "/");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("/"), "/");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("scratch.tiff"), "");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent(""), "");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("//a//b//"), "/a");
    EXPECT_EQ(Path::stringByDeletingLastPathComponent("a/b"), "a");
}

TEST(PathTest, AppendingAndDeletingExtensions) {
    EXPECT_EQ(Path::stringByAppendingPathExtension("/tmp/scratch.old", "tiff"), "/tmp/scratch.old.tiff");
    EXPECT_EQ(Path::stringByAppendingPathExtension("/tmp/scratch.", "tiff"), "/tmp/scratch..tiff");
    EXPECT_EQ(Path::stringByAppendingPathExtension("/tmp/", "tiff"), "/tmp.tiff");
    EXPECT_EQ(Path::stringByAppendingPathExtension("scratch", "tiff"), "scratch.tiff");
    EXPECT_EQ(Path::stringByAppendingPathExtension("", "tiff"), "");
    EXPECT_EQ(Path::stringByAppendingPathExtension("/", "tiff"), "/");
    EXPECT_EQ(Path::stringByAppendingPathExtension("/tmp/x", "a/b"), "/tmp/x");

    EXPECT_EQ(Path::stringByDeletingPathExtension("/tmp/scratch.tiff"), "/tmp/scratch");
    EXPECT_EQ(Path::stringByDeletingPathExtension("/tmp/"), "/tmp");
    EXPECT_EQ(Path::stringByDeletingPathExtension("scratch.bundle/"), "scratch");
    EXPECT_EQ(Path::stringByDeletingPathExtension("scratch..tiff"), "scratch.");
    EXPECT_EQ(Path::stringByDeletingPathExtension(".tiff"), ".tiff");
    EXPECT_EQ(Path::stringByDeletingPathExtension("/a/.b.lbs"), "/a/.b");
    EXPECT_EQ(Path::stringByDeletingPathExtension("/a.d/b"), "/a.d/b");
    EXPECT_EQ(Path::stringByDeletingPathExtension("/"), "/");

    // A book's name survives swapping its extension.
    std::string book = "/lib/Vol.1.cbz";
    EXPECT_EQ(Path::stringByAppendingPathExtension(Path::stringByDeletingPathExtension(book), "lbsz"),
              "/lib/Vol.1.lbsz");
}
