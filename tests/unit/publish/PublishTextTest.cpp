// URL paths and XML text of the manifest: what the launcher sends to the server, and what its
// XML engine reads back.
#include <gtest/gtest.h>

#include "tools/publish/PublishText.h"

TEST(PercentEncodeSegment, KeepsUnreservedAndEncodesEverythingElse)
{
    const struct {
        const char* bytes;
        const char* encoded;
    } cases[] = {
        {"Lobby-1.0_x~y.dll", "Lobby-1.0_x~y.dll"},
        {"a b", "a%20b"},           // a raw space ends the path at many servers
        {"100%", "100%25"},         // "%" itself, or the server decodes it twice
        {"a#b", "a%23b"},           // "#" starts a fragment the client never sends
        {"a?b", "a%3Fb"},           // "?" starts a query the server ignores
        {"a/b", "a%2Fb"},           // inside one name "/" is no separator
        {"a+b&c=d;e", "a%2Bb%26c%3Dd%3Be"},
        {"\xE6\x95\xB0", "%E6%95%B0"},  // bytes above 0x7F, upper-case hex
        {"\x7F", "%7F"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PercentEncodeSegment(c.bytes), c.encoded) << c.bytes;
}

TEST(UrlPathOf, NamesInTheAnsiCodePageGoOutAsUtf8)
{
    std::string path;
    // The literal is GBK in the program (code page 936 under the test runner).
    ASSERT_TRUE(UrlPathOf({"数据", "说明 1.txt"}, path));
    EXPECT_EQ(path, "%E6%95%B0%E6%8D%AE/%E8%AF%B4%E6%98%8E%201.txt");
    ASSERT_TRUE(UrlPathOf({"Data", "a b", "c.dll"}, path));
    EXPECT_EQ(path, "Data/a%20b/c.dll");
    // A lead byte without its second byte is no text of the code page.
    EXPECT_FALSE(UrlPathOf({"bad\x81"}, path));
    EXPECT_EQ(JoinComponents({}, '/'), "");
}

TEST(IsPlainUrlPath, OnlyUnreservedAndSlash)
{
    EXPECT_TRUE(IsPlainUrlPath("/files/v12/"));
    EXPECT_TRUE(IsPlainUrlPath("/"));
    for (const char* path : {"/a b/", "/a%20b/", "/a?x", "/a#x", "/\xE6\x95\xB0/", "/a\\b"})
        EXPECT_FALSE(IsPlainUrlPath(path)) << path;
}

TEST(XmlEscape, EscapesTheFiveReservedCharactersAndNothingElse)
{
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"Tom & Jerry", "Tom &amp; Jerry"},
        {"<File>", "&lt;File&gt;"},
        {"say \"hi\" 'you'", "say &quot;hi&quot; &apos;you&apos;"},
        {"&amp;", "&amp;amp;"},  // an entity-looking name is a name, not an entity
        {"数据\\说明.txt", "数据\\说明.txt"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(XmlEscape(c.text), c.escaped) << c.text;
}
