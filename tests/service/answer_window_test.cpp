// The windows a video is served in when the player fetches it for its browser.
#include <gtest/gtest.h>

#include "service/answer_window.h"

TEST(AnswerWindow, RangesAreCutToTheWindowAndAnswersSayWhereTheyStand) {
    EXPECT_EQ(WindowedRange(u"bytes=0-", 100), u"bytes=0-99");
    EXPECT_EQ(WindowedRange(u" Bytes=500-549", 100), u"bytes=500-549");
    EXPECT_EQ(WindowedRange(u"bytes=500-9999", 100), u"bytes=500-599");
    for (const char16_t* asIs : {u"bytes=-500", u"bytes=0-1,5-9", u"items=0-", u"bytes=9-3", u"bytes=x-", u""})
        EXPECT_FALSE(WindowedRange(asIs, 100)) << WideToUtf8(asIs);

    // A server that ignored the range, and one that sent more than the window.
    EXPECT_EQ(CutContentRange(200, u"", u"5000", 100), u"bytes 0-99/5000");
    EXPECT_EQ(CutContentRange(206, u"bytes 1000-4999/5000", u"", 100), u"bytes 1000-1099/5000");
    EXPECT_EQ(CutContentRange(206, u"bytes 1000-4999/*", u"", 100), u"bytes 1000-1099/*");
    EXPECT_FALSE(CutContentRange(200, u"", u"", 100));           // no length: where would it end?
    EXPECT_FALSE(CutContentRange(206, u"bytes 0-49/5000", u"", 100)); // fewer than kept
    EXPECT_FALSE(CutContentRange(404, u"", u"5000", 100));

    const WString headers = u"Content-Type: video/mp4\r\ncontent-range: bytes 0-9/10\r\nETag: \"x\"";
    EXPECT_EQ(HeaderValue(headers, u"Content-Range"), u"bytes 0-9/10");
    EXPECT_EQ(WithHeader(headers, u"Content-Range", u"bytes 0-4/10"),
              u"Content-Type: video/mp4\r\nETag: \"x\"\r\nContent-Range: bytes 0-4/10");
}
