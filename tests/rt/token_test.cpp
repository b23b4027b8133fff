#include <gtest/gtest.h>

#include <string>

#include "rt/input.h"
#include "rt/str.h"
#include "support/fail_alloc.h"

// The string values rk_InputString takes from `line`, one per call, until
// the line is used up.
static std::vector<std::string> values(const std::string &line, int count)
{
    EXPECT_EQ(rk_hInputSetLine(line.data(), line.size()), 0);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        RkString s{};
        EXPECT_EQ(rk_InputString(&s, -1, 0), 0);
        out.emplace_back(s.data, static_cast<std::size_t>(s.len));
        rk_StrDelete(&s);
    }
    return out;
}

using V = std::vector<std::string>;

TEST(InputTokens, UnquotedValuesEndAtCommasAndKeepInnerAndTrailingBlanks)
{
    EXPECT_EQ(values("bild.bmp", 1), V{"bild.bmp"});
    EXPECT_EQ(values("a,b", 3), (V{"a", "b", ""}));
    EXPECT_EQ(values("  \t x y  ", 1), V{"x y  "});
    EXPECT_EQ(values("", 2), (V{"", ""}));
    EXPECT_EQ(values("   ", 1), V{""});
    // A double quote after the first byte is ordinary.
    EXPECT_EQ(values("ab\"c,d", 2), (V{"ab\"c", "d"}));
    EXPECT_EQ(values(",x", 2), (V{"", "x"}));
}

TEST(InputTokens, AValueThatCannotBeAssignedStaysTheNextOne)
{
    // The value's temporary string (two blocks), then the destination's text.
    for (long n : {1L, 2L, 3L}) {
        ASSERT_EQ(rk_hInputSetLine("eins,zwei", 9), 0);
        RkString s{};
        fail_alloc::arm(n);
        EXPECT_EQ(rk_InputString(&s, -1, 0), 4) << n;
        fail_alloc::disarm();
        EXPECT_EQ(fail_alloc::failed(), 1);
        EXPECT_EQ(s.data, nullptr);
        EXPECT_EQ(rk_InputString(&s, -1, 0), 0);
        EXPECT_EQ(std::string(s.data, static_cast<std::size_t>(s.len)), "eins") << n;
        EXPECT_EQ(rk_InputString(&s, -1, 0), 0);
        EXPECT_EQ(std::string(s.data, static_cast<std::size_t>(s.len)), "zwei") << n;
        rk_StrDelete(&s);
    }
}

TEST(InputTokens, QuotedValuesKeepCommasAndBlanks)
{
    EXPECT_EQ(values("\"a,b\"", 2), (V{"a,b", ""}));
    EXPECT_EQ(values("  \" a , b \"  ,c", 2), (V{" a , b ", "c"}));
    // What follows a closing quote other than a comma starts the next value.
    EXPECT_EQ(values("\"ab\"cd", 2), (V{"ab", "cd"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(values("\"open, end", 2), (V{"open, end", ""}));
    EXPECT_EQ(values("\"\"", 1), V{""});
}

TEST(InputTokens, LineEndsEndValues)
{
    EXPECT_EQ(values("a\r\nb", 2), (V{"a", "b"}));
    EXPECT_EQ(values("a\rb", 2), (V{"a", "b"}));
    EXPECT_EQ(values("a\nb", 2), (V{"a", "b"}));
    EXPECT_EQ(values("\"q\" \r\nz", 2), (V{"q", "z"}));
    // Bytes above 127 are ordinary characters, not the end of the line.
    EXPECT_EQ(values("\xFF\xE4,x", 2), (V{"\xFF\xE4", "x"}));
}

TEST(InputTokens, LongValuesAreCutAtTheBufferSize)
{
    std::string big(5000, 'x');
    auto v = values(big, 2);
    EXPECT_EQ(v[0].size(), 4096u);
    EXPECT_EQ(v[1].size(), 904u);
    // A full buffer followed by a comma consumes the comma.
    v = values(std::string(4096, 'y') + " ,z", 2);
    EXPECT_EQ(v[0].size(), 4096u);
    EXPECT_EQ(v[1], "z");
    // A quoted value that does not fit drops the rest up to its quote.
    v = values("\"" + std::string(4100, 'q') + "\",r", 2);
    EXPECT_EQ(v[0].size(), 4096u);
    EXPECT_EQ(v[1], "r");
}

TEST(InputTokens, NumberModeEndsAtBlanks)
{
    std::string line = " 12  34,\"5\"";
    ASSERT_EQ(rk_hInputSetLine(line.data(), line.size()), 0);
    char buf[16];
    EXPECT_EQ(rk_FileInputNextToken(buf, 15, 0), 2);
    EXPECT_STREQ(buf, "12");
    EXPECT_EQ(rk_FileInputNextToken(buf, 15, 0), 2);
    EXPECT_STREQ(buf, "34");
    EXPECT_EQ(rk_FileInputNextToken(buf, 15, 0), 3);
    EXPECT_STREQ(buf, "\"5\"");
}

TEST(InputTokens, BufferWithoutRoomTakesNothing)
{
    // Capacity 0: the buffer holds only the terminator.
    ASSERT_EQ(rk_hInputSetLine("ab,c", 4), 0);
    auto *one = new char[1];
    EXPECT_EQ(rk_FileInputNextToken(one, 0, 1), 0);
    EXPECT_EQ(one[0], '\0');
    delete[] one;
    // The byte that did not fit is still there for the next token.
    char buf[8];
    EXPECT_EQ(rk_FileInputNextToken(buf, 7, 1), 2);
    EXPECT_STREQ(buf, "ab");
}

TEST(InputTokens, ReadAndUnreadBytes)
{
    ASSERT_EQ(rk_hInputSetLine("\xE9z", 2), 0);
    EXPECT_EQ(hReadChar(), 0xE9);
    hUnreadChar(0xE9);
    EXPECT_EQ(hReadChar(), 0xE9);
    EXPECT_EQ(hReadChar(), 'z');
    EXPECT_EQ(hReadChar(), -1);
    hUnreadChar(-1);  // the end is not a byte: nothing goes back
    EXPECT_EQ(hReadChar(), -1);
}

TEST(StrAssign, FixedBuffersAreCutOrPadded)
{
    char buf[6];
    EXPECT_EQ(rk_StrAssign(buf, 6, rk_StrAllocTempDesc("abcdefgh"), 0), 0);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(rk_StrAssign(buf, 6, rk_StrAllocTempDesc("ab"), 1), 0);
    EXPECT_EQ(std::string(buf, 6), "ab    ");
    EXPECT_EQ(rk_StrAssign(buf, 6, rk_StrAllocTempDesc("abcdefgh"), 1), 0);
    EXPECT_EQ(std::string(buf, 6), "abcdef");
    RkString s{};
    EXPECT_EQ(rk_StrAssign(&s, -1, rk_StrAllocTempDesc("dyn"), 0), 0);
    EXPECT_STREQ(s.data, "dyn");
    EXPECT_EQ(rk_StrAssign(&s, -1, nullptr, 0), 0);
    EXPECT_EQ(s.len, 0);
    rk_StrDelete(&s);
}
