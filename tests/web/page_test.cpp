// Reading the device's answer: is it a usable Digest challenge, and the
// DeviceInfo values behind their labels.
#include "src/shared/random.h"
#include "src/web/http_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr char kChallengeHeader[] = "WWW-Authenticate: Digest realm=\"QOR\", nonce=\"n1\", qop=\"auth\"\r\n";

class Classify : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&state, 0, sizeof state);
        SeedRandom(1);
    }
    bool Run(const std::string& text) { return ClassifyResponse(text.c_str(), &state); }
    DigestState state;
};

TEST_F(Classify, Http11With401AndChallengeIsAChallenge) {
    EXPECT_TRUE(Run(std::string("HTTP/1.1 401 Unauthorized\r\n") + kChallengeHeader + "\r\n"));
    EXPECT_STREQ("QOR", state.realm);
    EXPECT_STREQ("n1", state.nonce);
}

TEST_F(Classify, SeparatorIsAnyCharacterThenBlanksAndTabs) {
    EXPECT_TRUE(Run(std::string("HTTP/1.1\t  \t401 Unauthorized\r\n") + kChallengeHeader));
    EXPECT_TRUE(Run(std::string("HTTP/1.1x401\r\n") + kChallengeHeader));
    EXPECT_FALSE(Run(std::string("HTTP/1.1 \r401\r\n") + kChallengeHeader));
}

TEST_F(Classify, OtherVersionsAndStatusesAreNotChallenges) {
    EXPECT_FALSE(Run(std::string("HTTP/1.0 401 Unauthorized\r\n") + kChallengeHeader));
    EXPECT_FALSE(Run(std::string("http/1.1 401 Unauthorized\r\n") + kChallengeHeader));
    EXPECT_FALSE(Run(std::string("HTTP/1.1 200 OK\r\n") + kChallengeHeader));
    EXPECT_FALSE(Run(std::string(" HTTP/1.1 401\r\n") + kChallengeHeader));
    EXPECT_EQ('\0', state.realm[0]);
}

TEST_F(Classify, ShortAnswersEndCleanly) {
    // Under ASan these would show any read past the terminator.
    for (const char* text : {"", "HTTP/1.", "HTTP/1.1", "HTTP/1.1 ", "HTTP/1.1 \t ", "HTTP/1.1 40", "HTTP/1.1 401"}) {
        std::string copy(text);
        EXPECT_FALSE(ClassifyResponse(copy.c_str(), &state)) << text;
    }
}

TEST_F(Classify, ChallengeMustBeReadable) {
    EXPECT_FALSE(Run("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"QOR\"\r\n\r\n"));
    EXPECT_STREQ("QOR", state.realm);  // the realm was taken before the nonce was missed
    EXPECT_FALSE(Run("HTTP/1.1 401 Unauthorized\r\nwww-authenticate: Digest realm=\"QOR\", nonce=\"n\"\r\n"));
    EXPECT_FALSE(Run("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"QOR\"\r\n"));
}

TEST_F(Classify, ChallengeMayStandAnywhereAfterTheStatus) {
    EXPECT_TRUE(Run("HTTP/1.1 401 Unauthorized\r\nServer: x\r\n\r\n<p>WWW-Authenticate: realm=\"b\" nonce=\"c\"</p>"));
    EXPECT_STREQ("b", state.realm);
}

// A DeviceInfo-sized field with a guard behind it that must stay untouched.
struct GuardedField {
    char field[128];
    char guard[16];
};

class Extract : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&value, 0, sizeof value);
        memset(value.guard, 'G', sizeof value.guard);
        strcpy(value.field, "previous");
    }
    std::string Run(const std::string& text, const char* label = "Software Version:") {
        ExtractPageField(text.c_str(), label, value.field, 127);
        EXPECT_EQ(std::string(16, 'G'), std::string(value.guard, 16));
        return value.field;
    }
    GuardedField value;
};

TEST_F(Extract, TextBetweenLabelAndFirstTagEndIsPassedOver) {
    EXPECT_EQ("X", Run("<p>Software Version: <b>X</b></p>"));
}

TEST_F(Extract, TableCellsGiveTheNextCellsValue) {
    EXPECT_EQ("2.0.12(SEa)", Run("<tr><td>Software Version:</td><td>2.0.12(SEa)</td></tr>"));
    EXPECT_EQ("2.0.12", Run("<td>Software Version:</td><td><font color=red><b>2.0.12</b></font></td>"));
}

TEST_F(Extract, OnlyTagsThatTouchAreSkipped) {
    EXPECT_EQ("\r\n", Run("<td>Software Version:</td>\r\n<td>2.0.12</td>"));
    EXPECT_EQ(" 2.0.12 &amp; more ", Run("Software Version:> 2.0.12 &amp; more </td>"));
}

TEST_F(Extract, TheFirstOccurrenceWinsEvenInAHeader) {
    EXPECT_EQ("from-header\r\n\r\n", Run("HTTP/1.1 200 OK\r\nX-Note: Software Version:>from-header\r\n\r\n"
                                         "<td>Software Version:</td><td>from-body</td>"));
    EXPECT_EQ("script",
              Run("<script>var a='Software Version:>script<';</script><td>Software Version:</td><td>body</td>"));
}

TEST_F(Extract, MissingPiecesKeepThePreviousValue) {
    EXPECT_EQ("previous", Run("<td>Hardware Version:</td><td>1.0</td>"));
    EXPECT_EQ("previous", Run("Software Version: 2.0.12 with no tag end"));
    EXPECT_EQ("previous", Run("<td>Software Version:</td><td"));
    EXPECT_EQ("previous", Run("<td>software version:</td><td>2.0</td>"));
}

TEST_F(Extract, EmptyOnlyWhenTheTextEndsAfterATag) {
    EXPECT_EQ("", Run("<td>Software Version:</td>"));
    EXPECT_EQ("", Run("<td>Software Version:</td><td></td>"));
}

TEST_F(Extract, LongValuesAreCutTo127Characters) {
    std::string value127(127, 'v');
    EXPECT_EQ(value127, Run("<td>Software Version:</td><td>" + std::string(4000, 'v') + "</td>"));
    EXPECT_EQ(value127, Run("<td>Software Version:</td><td>" + value127));
    EXPECT_EQ(std::string(126, 'w'), Run("<td>Software Version:</td><td>" + std::string(126, 'w') + "<"));
}

TEST_F(Extract, SmallerLimitsAreHonoured) {
    ExtractPageField("Serial Number:>0123456789", "Serial Number:", value.field, 4);
    EXPECT_STREQ("0123", value.field);
}

}  // namespace
