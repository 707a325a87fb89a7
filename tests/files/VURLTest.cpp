#include <gtest/gtest.h>

#include "TestSupport.h"

#include <memory>
#include <string>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "files/VURL.h"
#include "files/mac/XMacFile.h"

namespace qelt {
namespace {

using test::S;

std::string Out(const VString& inText)
{
    std::string bytes;
    XMacFile::EncodePathText(inText.GetCPointer(), inText.GetLength(), bytes);
    return bytes;
}

std::string Whole(const VURL& inURL, bool inEncoded = false)
{
    VString text;
    inURL.GetAbsoluteURL(text, inEncoded);
    return Out(text);
}

struct Parts {
    std::string scheme, netLocation, path, parameters, query, fragment;
};

Parts PartsOf(const VURL& inURL)
{
    VString a, b, c, d, e, f;
    inURL.GetScheme(a);
    inURL.GetNetworkLocation(b, false);
    inURL.GetPath(c, eURL_POSIX_STYLE, false);
    inURL.GetParameters(d, false);
    inURL.GetQuery(e, false);
    inURL.GetFragment(f, false);
    return {Out(a), Out(b), Out(c), Out(d), Out(e), Out(f)};
}

TEST(VURL, TextsSplitIntoSixParts)
{
    struct Case {
        const char* fText;
        bool fValid;
        Parts fParts;
    };
    const Case cases[] = {
        {"web://h/p;x?y#z", true, {"web", "h", "p", "x", "y", "z"}},
        {"web://h/p?y;x", true, {"web", "h", "p", "x", "y", ""}},
        {"web://h/a/b/", true, {"web", "h", "a/b/", "", "", ""}},
        {"web://h", false, {"web", "h", "", "", "", ""}},
        {"mailto:x", false, {"", "", "mailto:x", "", "", ""}},
        {"a/b://h/p", false, {"", "", "a/b://h/p", "", "", ""}},
        {"://h/p", true, {"", "h", "p", "", "", ""}},
        {"", true, {"", "", "", "", "", ""}},
        // ';' and '?' after the '#' belong to the fragment.
        {"web://h/p#f?q;r", true, {"web", "h", "p", "", "", "f?q;r"}},
        {"web://h/p?q#f;r", true, {"web", "h", "p", "", "q", "f;r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        VURL url(S(c.fText), false);
        EXPECT_EQ(url.IsValid(), c.fValid);
        const Parts parts = PartsOf(url);
        EXPECT_EQ(parts.scheme, c.fParts.scheme);
        EXPECT_EQ(parts.netLocation, c.fParts.netLocation);
        EXPECT_EQ(parts.path, c.fParts.path);
        EXPECT_EQ(parts.parameters, c.fParts.parameters);
        EXPECT_EQ(parts.query, c.fParts.query);
        EXPECT_EQ(parts.fragment, c.fParts.fragment);
        EXPECT_EQ(Whole(url), c.fText);
    }
    EXPECT_FALSE(VURL().IsValid());
    EXPECT_TRUE(VURL(S("web://h/p"), false).IsScheme(S("web")));
    EXPECT_FALSE(VURL(S("web://h/p"), false).IsScheme(S("WEB")));
}

TEST(VURL, NetLocationsGiveUserPasswordHostAndPort)
{
    struct Case {
        const char* fNetLocation;
        const char* fUser;
        const char* fPassword;
        const char* fHost;
        const char* fPort;
        int fPortNumber;
    };
    const Case cases[] = {
        {"u:pw@[::1]:8080", "u", "pw", "::1", "8080", 8080},
        {"host:80", "", "", "host", "80", 80},
        {"h:65536", "", "", "h", "65536", 65536},
        {"h:65537", "", "", "h", "65537", -1},
        {"h:99999999999999999999", "", "", "h", "99999999999999999999", -1},
        {"h:8a0", "", "", "h", "8a0", 80},
        {"h: 80", "", "", "h", " 80", -1},
        {"h", "", "", "h", "", 0},
        {"u@a:b@h", "u", "", "a", "b@h", 0},
        {"[::1", "", "", "", "", 0},
        {"a:b:c", "", "", "a:b", "c", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fNetLocation);
        VString user(S("x")), password(S("x")), host(S("x")), port(S("x"));
        VURL::ParseNetLocation(S(c.fNetLocation), &user, &password, &host, &port);
        EXPECT_EQ(Out(user), c.fUser);
        EXPECT_EQ(Out(password), c.fPassword);
        EXPECT_EQ(Out(host), c.fHost);
        EXPECT_EQ(Out(port), c.fPort);
        const VURL url(S(std::string("web://") + c.fNetLocation + "/p"), false);
        EXPECT_EQ(url.GetPortNumber(), c.fPortNumber);
        url.GetHostName(host, false);
        EXPECT_EQ(Out(host), c.fHost);
    }
    VURL::ParseNetLocation(S("u:pw@h"), nullptr, nullptr, nullptr, nullptr);  // every output may be null
}

TEST(VURL, EncodeWritesUnsafeBytesAsEscapes)
{
    struct Case {
        const char* fText;
        bool fEscapeBrackets;
        bool fKeepUnicodeEscapes;
        const char* fEncoded;
    };
    const Case cases[] = {
        {"", true, false, ""},
        {"a:b/c?d=e&f", true, false, "a:b/c?d=e&f"},
        {"\t", true, false, "%09"},
        {"a b", true, false, "a%20b"},
        {"100%", true, false, "100%25"},
        {"a\r\nb\rc", true, false, "a%0Ab%0Ac"},
        {"[x]", true, false, "%5Bx%5D"},
        {"[x]", false, false, "[x]"},
        {"caf\xC3\xA9", true, false, "caf%C3%A9"},
        {"<\"#{}|^`>", true, false, "%3C%22%23%7B%7D%7C%5E%60%3E"},
        {"\\u00E9", true, true, "\\u00E9"},
        {"\\u00E9", true, false, "%5Cu00E9"},
        {"a\\", true, true, "a%5C"},
        {"\x7F", true, false, "%7F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        VString text = S(c.fText);
        VURL::Encode(text, false, false, c.fEscapeBrackets, c.fKeepUnicodeEscapes);
        EXPECT_EQ(Out(text), c.fEncoded);
    }
}

TEST(VURL, DecodeReadsEscapesAndKeepsEveryOtherPercent)
{
    struct Case {
        const char* fText;
        const char* fDecoded;
    };
    const Case cases[] = {
        {"a%2", "a%2"},
        {"%41%42", "AB"},
        {"%e9", "\xC3\xA9"},
        {"%C3%A9", "\xC3\xA9"},
        {"%zz", "%zz"},
        {"%4z", "%4z"},
        {"%%41", "%A"},
        {"a+b", "a+b"},
        {"%20x%20", " x "},
        {"100%", "100%"},
        {"%", "%"},
        {"%E2%82%AC%41", "\xE2\x82\xAC" "A"},  // one run
        // Decoded text is composed: e and a combining accent give one unit.
        {"e%CC%81", "\xC3\xA9"},
        {"e\xCC\x81", "\xC3\xA9"},
        {"%C3%A9%CC%A3", "\xE1\xBA\xB9\xCC\x81"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fText);
        VString text = S(c.fText);
        VURL::Decode(text);
        EXPECT_EQ(Out(text), c.fDecoded);
    }
    VString zero = S("a%00b");
    VURL::Decode(zero);
    ASSERT_EQ(zero.GetLength(), 3);
    EXPECT_EQ(zero.GetCPointer()[1], 0);

    EXPECT_TRUE(VURL::_ContainsOnlySafeCharacters(S("")));
    EXPECT_TRUE(VURL::_ContainsOnlySafeCharacters(S("a%20b:/?#[]@!$&'()*+,;=-._~")));
    EXPECT_FALSE(VURL::_ContainsOnlySafeCharacters(S("a b")));
    EXPECT_FALSE(VURL::_ContainsOnlySafeCharacters(S("caf\xC3\xA9")));
}

TEST(VURL, EncodedTextIsKeptAndPartsAreDecoded)
{
    VURL url(S("web://h/a%20b?q=%C3%A9#f%2F"), true);
    EXPECT_TRUE(url.IsValid());
    EXPECT_EQ(Whole(url), "web://h/a b?q=\xC3\xA9#f/");
    EXPECT_EQ(Whole(url, true), "web://h/a%20b?q=%C3%A9#f%2F");
    const Parts parts = PartsOf(url);
    EXPECT_EQ(parts.path, "a b");
    EXPECT_EQ(parts.query, "q=\xC3\xA9");
    EXPECT_EQ(parts.fragment, "f/");
    VString part;
    url.GetPath(part, eURL_POSIX_STYLE, true);
    EXPECT_EQ(Out(part), "a%20b");

    // Unsafe "encoded" text is not kept: the encoded form is rebuilt.
    VURL unsafe(S("web://[::1]/a b%20c"), true);
    EXPECT_EQ(Whole(unsafe), "web://[::1]/a b c");
    EXPECT_EQ(Whole(unsafe, true), "web://[::1]/a%20b%20c");
    VURL plain(S("web://h/p;x?y#z"), false);
    EXPECT_EQ(Whole(plain, true), "web://h/p?y;x#z");
    VString relative;
    plain.GetRelativeURL(relative, true);
    EXPECT_EQ(Out(relative), "web://h/p;x?y#z");
    EXPECT_EQ(Whole(VURL(S("about:blank"), false), true), "about:blank");

    VURL joined;
    joined.FromString(S("p/q"), S("web://h"), false);
    EXPECT_EQ(Whole(joined), "web://h/p/q");
    joined.FromString(S("web://other/x"), S("web://h"), false);
    EXPECT_EQ(Whole(joined), "web://other/x");
}

TEST(VURL, FileURLsComeFromPathsAndGoBack)
{
    VFilePath folder(S("/a/b/"), FPS_POSIX);
    EXPECT_EQ(Whole(VURL(folder)), "file:///a/b/");
    VURL odd{VFilePath(S("/d/x;y#z?.txt"), FPS_POSIX)};
    VString path;
    odd.GetPath(path, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Out(path), "d/x;y#z?.txt");
    EXPECT_EQ(Whole(VURL(VFilePath())), "");

    VFilePath back;
    EXPECT_TRUE(VURL(S("file:///a/b"), false).GetFilePath(back));
    VString own;
    back.GetPath(own);
    EXPECT_EQ(Out(own), "Disk:a:b");
    EXPECT_TRUE(odd.GetFilePath(back));
    back.GetPath(own);
    EXPECT_EQ(Out(own), "Disk:d:x;y#z?.txt");
    EXPECT_FALSE(VURL(S("web://h/a"), false).GetFilePath(back));
    EXPECT_FALSE(back.IsValid());

    EXPECT_EQ(Whole(VURL(S("a:b:"), eURL_HFS_STYLE, S("file://"))), "file:///a/b/");
    EXPECT_EQ(Whole(VURL(S("//srv/x"), eURL_POSIX_STYLE, S("file://"))), "file://srv/x");
    EXPECT_EQ(Whole(VURL(S("c\\d"), eURL_WIN_STYLE, S("file://"))), "file:///c/d");
}

TEST(VURL, PathsRelativeToAFolderReadTheirOwnStyle)
{
    VFolder base(VFilePath(S("/a/b/"), FPS_POSIX));
    struct Case {
        const char* text;
        EURLPathStyle style;
        const char* url;
    } cases[] = {
        {"c/d.txt", eURL_POSIX_STYLE, "file:///a/b/c/d.txt"},
        {"../c/", eURL_POSIX_STYLE, "file:///a/c/"},
        {"/x/y", eURL_POSIX_STYLE, "file:///x/y"},  // a full path of its own
        {"c\\d.txt", eURL_WIN_STYLE, "file:///a/b/c/d.txt"},
        {"c:d.txt", eURL_HFS_STYLE, "file:///a/b/c/d.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Whole(VURL(base, S(c.text), c.style)), c.url) << c.text;
        VURL url;
        url.FromRelativePath(base, S(c.text), c.style);
        EXPECT_EQ(Whole(url), c.url) << c.text;
    }
    VFilePath path;
    path.FromRelativePath(base, S("c/../d/"), FPS_POSIX);
    EXPECT_EQ(Out(path.GetPath(FPS_POSIX)), "/a/b/d/");
}

TEST(VURL, AFileURLRelativeToAFolderLosesTheFolderPrefix)
{
    VFile file(VFilePath(S("/a/b/c d.txt"), FPS_POSIX));
    VFolder base(VFilePath(S("/a/"), FPS_POSIX));
    VFolder other(VFilePath(S("/A/"), FPS_POSIX));  // compared unit for unit
    VString url;
    EXPECT_EQ(file.GetRelativeURL(&base, url, false), VE_OK);
    EXPECT_EQ(Out(url), "b/c d.txt");
    file.GetRelativeURL(&base, url, true);
    EXPECT_EQ(Out(url), "b/c%20d.txt");
    file.GetRelativeURL(&other, url, false);
    EXPECT_EQ(Out(url), "file:///a/b/c d.txt");
    file.GetRelativeURL(nullptr, url, false);
    EXPECT_EQ(Out(url), "file:///a/b/c d.txt");
}

TEST(VURL, PartsAreReplacedAndPathsWalked)
{
    VURL url(S("web://h/p"), false);
    url.SetQuery(S("q"), false);
    EXPECT_EQ(Whole(url), "web://h/p?q");
    url.SetFragment(S("f%20g"), true);
    EXPECT_EQ(Whole(url), "web://h/p?q#f g");
    url.SetParameters(S("x"), false);
    EXPECT_EQ(Whole(url), "web://h/p;x?q#f g");
    url.SetScheme(S("other"));
    EXPECT_EQ(Whole(url), "other://h/p;x?q#f g");
    VString specifier;
    url.GetResourceSpecifier(specifier, false);
    EXPECT_EQ(Out(specifier), ";x?q#f g");

    VURL file(S("file:///x"), false);
    file.SetNetWorkLocation(S("h2"), false);
    EXPECT_EQ(Whole(file), "file://h2/x");
    file.SetRelativePath(S("a:b"), eURL_HFS_STYLE, false);
    EXPECT_EQ(Whole(file), "file://h2/a/b");

    // A text that does not split validly keeps its parts, and walking its
    // path reports that nothing was done.
    VURL invalid(S("mailto:a/b/c/"), false);
    invalid.SetQuery(S("q"), false);
    EXPECT_EQ(Whole(invalid), "mailto:a/b/c/");
    EXPECT_FALSE(invalid.ToParent());
    EXPECT_FALSE(invalid.ToSubFolder(S("d")));
    EXPECT_EQ(std::unique_ptr<VURL>(invalid.RetainParent()), nullptr);
    EXPECT_EQ(Whole(invalid), "mailto:a/b/c/");

    VURL folder(S("web://h/a/"), false);
    EXPECT_TRUE(folder.IsRoot());
    EXPECT_FALSE(folder.ToParent());
    EXPECT_EQ(std::unique_ptr<VURL>(folder.RetainParent()), nullptr);
    VURL deep(S("web://h/a/b/"), false);
    EXPECT_FALSE(deep.IsRoot());
    std::unique_ptr<VURL> parent(deep.RetainParent());
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(Whole(*parent), "web://h/a/");
    EXPECT_TRUE(deep.ToParent());
    EXPECT_EQ(Whole(deep), "web://h/a/");
    EXPECT_TRUE(deep.ToSubFolder(S("c d")));
    EXPECT_EQ(Whole(deep), "web://h/a/c d");
    EXPECT_FALSE(deep.ToSubFolder(S("e")));  // the path no longer ends with '/'
    VString name;
    deep.GetLastPathComponent(name, true);
    EXPECT_EQ(Out(name), "c%20d");
    VURL(S("web://h/a/b/"), false).GetLastPathComponent(name, false);
    EXPECT_EQ(Out(name), "b");
    EXPECT_TRUE(VURL(S("web://h/"), false).IsRoot());
}

}  // namespace
}  // namespace qelt
