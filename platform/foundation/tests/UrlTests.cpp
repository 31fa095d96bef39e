#include <gtest/gtest.h>

#include <unordered_set>

#include "platform/foundation/URL.h"

using ns::URL;

TEST(URL, ParsesTheParts) {
    auto u = URL::URLWithString("https://user:pw@In.Example.com:8443/v0.1/logs/?api-version=1.0.0&x=%2F#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme(), "https");
    EXPECT_EQ(u->host(), "In.Example.com");
    EXPECT_EQ(u->port(), 8443);
    EXPECT_EQ(u->user(), "user");
    EXPECT_EQ(u->password(), "pw");
    EXPECT_EQ(u->path(), "/v0.1/logs");  // trailing slash dropped, as NSURL.path does
    EXPECT_TRUE(u->hasDirectoryPath());
    EXPECT_EQ(u->query(), "api-version=1.0.0&x=%2F");
    EXPECT_EQ(u->fragment(), "frag");
    EXPECT_EQ(u->lastPathComponent(), "logs");
    EXPECT_EQ(u->absoluteString(), "https://user:pw@In.Example.com:8443/v0.1/logs/?api-version=1.0.0&x=%2F#frag");
    EXPECT_FALSE(u->isFileURL());
}

TEST(URL, HostsPortsAndOddButValidForms) {
    auto v6 = URL::URLWithString("http://[::1]:8080/x");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host(), "::1");
    EXPECT_EQ(v6->port(), 8080);

    auto noPort = URL::URLWithString("http://127.0.0.1/");
    ASSERT_TRUE(noPort);
    EXPECT_EQ(noPort->port(), std::nullopt);
    EXPECT_EQ(noPort->path(), "/");

    auto emptyPort = URL::URLWithString("http://host:/p");
    ASSERT_TRUE(emptyPort);
    EXPECT_EQ(emptyPort->port(), std::nullopt);

    auto mailto = URL::URLWithString("mailto:someone@example.com");
    ASSERT_TRUE(mailto);
    EXPECT_EQ(mailto->scheme(), "mailto");
    EXPECT_EQ(mailto->host(), std::nullopt);
    EXPECT_EQ(mailto->path(), "someone@example.com");

    auto settings = URL::URLWithString("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->scheme(), "x-apple.systempreferences");
    EXPECT_EQ(settings->query(), "Privacy_ScreenCapture");

    auto relative = URL::URLWithString("a/b:c");
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->scheme(), std::nullopt);
    EXPECT_EQ(relative->path(), "a/b:c");

    auto escaped = URL::URLWithString("https://i.scdn.co/image/ab%20cd");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->path(), "/image/ab cd");
    EXPECT_EQ(escaped->lastPathComponent(), "ab cd");
}

TEST(URL, RejectsWhatIsNotAURL) {
    for (const char* bad : {"", "http://exa mple.com", "https://host/\xc3\xa9", "http://host/%zz", "http://host/%4",
                            "http://host:99999/", "http://host:8a/", "http://[::1/", "a#b#c", "http://host/<x>",
                            "1http://x", "http://ho[st]/", "http://host/a[b]"}) {
        EXPECT_FALSE(URL::URLWithString(bad).has_value()) << bad;
    }
}

TEST(URL, FileURLs) {
    auto f = URL::fileURLWithPath("/tmp/a dir/file#1.plist");
    EXPECT_EQ(f.absoluteString(), "file:///tmp/a%20dir/file%231.plist");
    EXPECT_TRUE(f.isFileURL());
    EXPECT_EQ(f.path(), "/tmp/a dir/file#1.plist");
    EXPECT_EQ(f.lastPathComponent(), "file#1.plist");
    EXPECT_EQ(f.pathExtension(), "plist");
    EXPECT_EQ(f.host(), std::nullopt);
    EXPECT_EQ(URL::URLWithString(f.absoluteString()), f);

    auto d = URL::fileURLWithPath("/Applications/Morvalent.app", true);
    EXPECT_EQ(d.absoluteString(), "file:///Applications/Morvalent.app/");
    EXPECT_EQ(d.path(), "/Applications/Morvalent.app");
    EXPECT_EQ(URL::fileURLWithPath("/").path(), "/");
    EXPECT_EQ(URL::fileURLWithPath("/").lastPathComponent(), "/");
    EXPECT_EQ(URL::fileURLWithPath("relative").path().front(), '/');
}

TEST(URL, AppendsAndDeletesPathComponents) {
    auto base = *URL::URLWithString("https://in.example.com/logs?x=1");
    EXPECT_EQ(base.URLByAppendingPathComponent("a b").absoluteString(), "https://in.example.com/logs/a%20b?x=1");
    EXPECT_EQ(base.URLByAppendingPathComponent("dir", true).absoluteString(), "https://in.example.com/logs/dir/?x=1");
    auto root = *URL::URLWithString("https://in.example.com");
    EXPECT_EQ(root.URLByAppendingPathComponent("v1").absoluteString(), "https://in.example.com/v1");
    auto dir = URL::fileURLWithPath("/data", true);
    EXPECT_EQ(dir.URLByAppendingPathComponent("Logs.sqlite").path(), "/data/Logs.sqlite");
    EXPECT_EQ(dir.URLByAppendingPathComponent("a?b").absoluteString(), "file:///data/a%3Fb");
    EXPECT_EQ(URL::fileURLWithPath("/a/b/c").URLByDeletingLastPathComponent().absoluteString(), "file:///a/b/");
    EXPECT_EQ(URL::fileURLWithPath("/a/b/c").pathComponents(), (std::vector<std::string>{"/", "a", "b", "c"}));
}

TEST(URL, EqualityAndHashingFollowTheText) {
    auto a = *URL::URLWithString("https://example.com/x");
    auto b = *URL::URLWithString("https://example.com/x");
    auto c = *URL::URLWithString("https://example.com/x/");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    std::unordered_set<URL> set{a, b, c};
    EXPECT_EQ(set.size(), 2u);
}

TEST(URL, PercentCoding) {
    EXPECT_EQ(URL::percentEncode("a b/c\xc3\xa9", "/"), "a%20b/c%C3%A9");
    EXPECT_EQ(URL::percentDecode("a%20b%2fc"), "a b/c");
    EXPECT_FALSE(URL::percentDecode("%2").has_value());
    EXPECT_FALSE(URL::percentDecode("%g0").has_value());
}
