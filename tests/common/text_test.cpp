#include <gtest/gtest.h>

#include "common/base64.h"
#include "common/masking.h"
#include "common/text.h"
#include "common/app_constants.h"

TEST(Utf8Conversion, RoundTripsBmpAndSupplementaryCharacters) {
    const std::string utf8 = "a\xC3\xA9\xD8\xB9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a é ع € 😀
    const WString wide = Utf8ToWide(utf8);
    EXPECT_EQ(wide, (WString{u'a', 0x00E9, 0x0639, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(WideToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToWide(""), u"");
    EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(Utf8Conversion, IllFormedInputBecomesReplacementCharacters) {
    // Lone continuation, overlong form, truncated sequence, encoded surrogate.
    EXPECT_EQ(Utf8ToWide("\x80"), u"\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xE2\x82"), u"\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xE2\x82x"), u"\uFFFDx");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), (WString{u'a', 0, u'b'}));
    // A lone surrogate cannot be written as UTF-8.
    EXPECT_EQ(WideToUtf8(WString{0xD800, u'x'}), "\xEF\xBF\xBDx");
}

TEST(ToLowerCopy, LowersOnlyAsciiLettersAndKeepsLength) {
    EXPECT_EQ(ToLowerCopy(u"CorvantiLUXEN:ABC-xyz"), u"corvantiluxen:abc-xyz");
    const WString accented = u"\u00C4\u0130";
    EXPECT_EQ(ToLowerCopy(accented), accented);
}

TEST(UrlEncode, KeepsUnreservedAndEscapesTheRestInLowerCaseHex) {
    EXPECT_EQ(UrlEncode(u"https://a.b/c d~_-."), u"https%3a%2f%2fa.b%2fc%20d~_-.");
    EXPECT_EQ(UrlEncode(u"\u00E9"), u"%c3%a9");
    EXPECT_EQ(UrlEncode(u""), u"");
}

TEST(UrlDecode, DecodesEscapesOverUtf8Bytes) {
    EXPECT_EQ(UrlDecode(u"a%2Bb%2bc+d"), u"a+b+c+d");
    EXPECT_EQ(UrlDecode(u"%C3%A9"), u"\u00E9");
    EXPECT_EQ(UrlDecode(u"%3A%2F%2F"), u"://");
}

TEST(UrlDecode, LeavesUnreadableAndTrailingPercentSignsAlone) {
    EXPECT_EQ(UrlDecode(u"100%"), u"100%");
    EXPECT_EQ(UrlDecode(u"%4"), u"%4");
    EXPECT_EQ(UrlDecode(u"a%4"), u"a%4");
    EXPECT_EQ(UrlDecode(u"%zz"), u"%zz");
    EXPECT_EQ(UrlDecode(u"%%41"), u"%A");
    // The stream extractor reads the leading digit of "4g" and stops there.
    EXPECT_EQ(UrlDecode(u"%4gx"), WString(u"\x04") + u"x");
}

TEST(UnmaskConstant, XorsWithTheMaskByteAndThePosition) {
    const unsigned char masked[] = {0x5A, 'a' ^ 0x5A ^ 0, 'b' ^ 0x5A ^ 1, 'c' ^ 0x5A ^ 2};
    EXPECT_EQ(UnmaskConstant(masked, sizeof masked), "abc");
    EXPECT_EQ(UnmaskConstant(masked, 1), "");
    // Positions past 255 wrap to the low 8 bits.
    std::vector<unsigned char> longMasked(301);
    longMasked[0] = 0x11;
    for (std::size_t i = 0; i < 300; ++i) longMasked[i + 1] = static_cast<unsigned char>('z' ^ 0x11 ^ (i & 0xFF));
    EXPECT_EQ(UnmaskConstant(longMasked.data(), longMasked.size()), std::string(300, 'z'));
}

TEST(UnmaskConstant, ProfileConstantsUnmaskToReadableValues) {
    EXPECT_EQ(UnmaskConstant(Config::kEnvelopeKey).size(), 32u);
    EXPECT_EQ(UnmaskConstant(Config::kVersionUrl).rfind("https://", 0), 0u);
    EXPECT_EQ(Config::kDefaultPinsCount, 4u);
    for (std::size_t i = 0; i < Config::kDefaultPinsCount; ++i) {
        EXPECT_EQ(UnmaskConstant(Config::kDefaultPins[i]).size(), 44u);
    }
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\x00", 3)), std::string("+/8A"));
}

TEST(Base64, DecodesLenientlyUpToTheFirstForeignCharacter) {
    EXPECT_EQ(Base64Decode("YWJj"), "abc");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YWI"), "ab");
    EXPECT_EQ(Base64Decode("YQ"), "a");
    EXPECT_EQ(Base64Decode("YWJjZ"), "abc"); // a lone left-over character yields nothing
    EXPECT_EQ(Base64Decode("YWI=ZZZZ"), "ab");
    EXPECT_EQ(Base64Decode("YW Jj"), "a");
    EXPECT_EQ(Base64Decode("-_-_"), "");
    EXPECT_EQ(Base64Decode("+/8A"), std::string("\xFB\xFF\x00", 3));
}

TEST(DisplayText, OutsideTextIsShownBoundedAndWithoutControls) {
    WString manyLines;
    for (int i = 0; i < 5000; ++i) manyLines += u"x\n";
    WString nineteen;
    for (int i = 0; i < 19; ++i) nineteen += u"x\n";
    const std::pair<WString, WString> cases[] = {
        // Genuine messages stay as they are, markup included: it is shown, not read.
        {u"content not found", u"content not found"},
        {u"Failed.\n\u0641\u0634\u0644", u"Failed.\n\u0641\u0634\u0644"},
        {u"<a href=\"file:///etc/passwd\">Click here to retry</a>", u"<a href=\"file:///etc/passwd\">Click here to retry</a>"},
        // Controls go, line breaks of every kind become one line feed.
        {u"a\r\nb\rc\u2028d", u"a\nb\nc\nd"},
        {u"a\tb", u"a b"},
        {u"\x1b[31mred\x1b[0m\a\b", u"[31mred[0m"},
        {WString(u"a\0b\u0085c\u009bd", 7), u"abcd"},
        {u"\u202eexe.txt\u2066x\u2069", u"exe.txtx"},
        // Bounded in lines and length; a cut is marked and keeps pairs whole.
        {manyLines, nineteen + u"x\u2026"},
        {WString(3000, u'a'), WString(1000, u'a') + u"\u2026"},
        {WString(999, u'a') + u"\U0001F600", WString(999, u'a') + u"\u2026"},
        {WString(998, u'a') + u"\U0001F600", WString(998, u'a') + u"\U0001F600"},
    };
    for (const auto& [given, shown] : cases) EXPECT_EQ(DisplayText(given), shown) << WideToUtf8(given.substr(0, 40));
    EXPECT_EQ(DisplayText(u"one\ntwo", 200, 1), u"one\u2026");
}

TEST(ApplicationConstants, TitleAndVersionNumber) {
    EXPECT_EQ(ApplicationConstants.WindowTitle(), u"Tovani V 4.9.0");
    EXPECT_DOUBLE_EQ(CurrentVersion(), 4.9);
    EXPECT_DOUBLE_EQ(VersionNumber(u"5"), 5.0);
    EXPECT_DOUBLE_EQ(VersionNumber(u"v4"), 3.0);
    EXPECT_DOUBLE_EQ(VersionNumber(u""), 3.0);
    EXPECT_DOUBLE_EQ(VersionNumber(u"1e999"), 3.0);
}
