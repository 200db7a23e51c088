#include "foundation/QNUrl.h"

#include <gtest/gtest.h>

TEST(QNUrlTest, FullSmbURL) {
    auto url = QNUrl::URLWithString("smb://user:pw@server:445/share/dir/file.zip?x=1#top");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->scheme(), "smb");
    EXPECT_EQ(url->user(), "user");
    EXPECT_EQ(url->password(), "pw");
    EXPECT_EQ(url->host(), "server");
    EXPECT_EQ(url->port(), 445);
    EXPECT_EQ(url->path(), "/share/dir/file.zip");
    EXPECT_EQ(url->query(), "x=1");
    EXPECT_EQ(url->fragment(), "top");
    EXPECT_EQ(url->pathWithQueryAndFragment(), "/share/dir/file.zip?x=1#top");
    EXPECT_EQ(url->lastPathComponent(), "file.zip");
    EXPECT_EQ(url->pathExtension(), "zip");
}

TEST(QNUrlTest, HostOnlyAndOddAuthorities) {
    auto url = QNUrl::URLWithString("http://example.org");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "example.org");
    EXPECT_EQ(url->path(), "");
    EXPECT_EQ(url->pathWithQueryAndFragment(), "");
    EXPECT_FALSE(url->port().has_value());
    EXPECT_EQ(url->lastPathComponent(), "");

    // Two at-signs: no user, the whole authority is the host.
    url = QNUrl::URLWithString("ftp://a@b@host/x");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->user(), "");
    EXPECT_EQ(url->host(), "a@b@host");

    // A bracketed IPv6 address with port stays whole.
    url = QNUrl::URLWithString("http://[fe80::1]:8080/p");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "[fe80::1]:8080");
    EXPECT_FALSE(url->port().has_value());

    // A user part without password, a port that is not a number.
    url = QNUrl::URLWithString("ftp://anon@host:abc/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->user(), "anon");
    EXPECT_EQ(url->password(), "");
    EXPECT_EQ(url->port(), 0);
    EXPECT_EQ(url->path(), "/");
    EXPECT_EQ(url->lastPathComponent(), "/");

    EXPECT_FALSE(QNUrl::URLWithString("/local/path/book.zip"));
    EXPECT_FALSE(QNUrl::URLWithString("mailto:x@y"));
}

TEST(QNUrlTest, QueryAndFragmentSplitAtTheFirstMarks) {
    auto url = QNUrl::URLWithString("http://h/a/b.cbz#frag?notquery");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path(), "/a/b.cbz");
    EXPECT_EQ(url->fragment(), "frag?notquery");
    EXPECT_EQ(url->query(), "");

    url = QNUrl::URLWithString("http://h/list?dir=/a/b&x=1");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path(), "/list");
    EXPECT_EQ(url->query(), "dir=/a/b&x=1");
    EXPECT_EQ(url->lastPathComponent(), "list");
    EXPECT_EQ(url->pathExtension(), "");

    // Nothing is decoded, and non-Latin text passes as it is.
    url = QNUrl::URLWithString("webdav://ホスト/漫画/第1巻%20.cbz/");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "ホスト");
    EXPECT_EQ(url->lastPathComponent(), "第1巻%20.cbz");
    EXPECT_EQ(url->pathExtension(), "cbz");
}

TEST(QNUrlTest, PathRules) {
    EXPECT_EQ(QNUrl::lastPathComponentOf("/a/b/"), "b");
    EXPECT_EQ(QNUrl::lastPathComponentOf("b"), "b");
    EXPECT_EQ(QNUrl::lastPathComponentOf("//"), "/");
    EXPECT_EQ(QNUrl::pathExtensionOf("/a/.hidden"), "");
    EXPECT_EQ(QNUrl::pathExtensionOf("/a.d/file"), "");
    EXPECT_EQ(QNUrl::pathExtensionOf("/a/x.tar.gz"), "gz");
}

TEST(QNUrlTest, StringTestsAndByteKeys) {
    EXPECT_TRUE(QNUrl::isURL("smb://h"));
    EXPECT_FALSE(QNUrl::isURL("smb:/h"));
    EXPECT_TRUE(QNUrl::isEncodingWithURL("a%20b"));
    EXPECT_FALSE(QNUrl::isEncodingWithURL("a b"));

    // 7-bit text is unescaped into raw bytes; the NUL is part of the key.
    EXPECT_EQ(QNUrl::getCStringWithEncodedUrl("smb://h/%83%5C%20x"), std::string("smb://h/\x83\x5C x\0", 13));
    // Text that is not 7-bit is taken as its UTF-8 bytes, not unescaped.
    EXPECT_EQ(QNUrl::getCStringWithEncodedUrl("ftp://h/漫画%20"), std::string("ftp://h/漫画%20") + '\0');
    EXPECT_EQ(QNUrl::getCStringWithEncodedUrl(""), std::string(1, '\0'));
    // A malformed escape at the end stops the bytes there.
    EXPECT_EQ(QNUrl::getCStringWithEncodedUrl("x%2"), std::string("x\0", 2));
}
