// Digest authentication: the RFC 2617 worked example, the challenge reader
// on the forms real servers send, and whole Authorization lines compared
// byte for byte. Expected responses were worked out with an independent MD5
// from the RFC 2617 formulas, with the device's nine-digit nc.
#include "src/shared/random.h"
#include "src/web/digest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A state as ParseChallenge would leave it, then as the exchange completes it.
DigestState MakeState(const char* qop, const char* algorithm, const char* opaque, uint32_t nonceCount) {
    DigestState state;
    memset(&state, 0, sizeof state);
    strcpy(state.user, "admin");
    strcpy(state.password, "secret");
    strcpy(state.realm, "QOR");
    strcpy(state.nonce, "4f2a9c10:7e3b=");
    strcpy(state.previousNonce, state.nonce);
    strcpy(state.cnonce, "29");
    strcpy(state.uri, "/admin/advanced");
    strcpy(state.qop, qop);
    strcpy(state.algorithm, algorithm);
    strcpy(state.opaque, opaque);
    state.nonceCount = nonceCount;
    return state;
}

std::string Compose(const DigestState& state) {
    char line[1024];
    int length = ComposeAuthorization(&state, line, sizeof line);
    EXPECT_EQ(strlen(line), size_t(length));
    return std::string(line, size_t(length));
}

const std::string kLineStart =
    "Authorization: Digest username=\"admin\",realm=\"QOR\",nonce=\"4f2a9c10:7e3b=\",uri=\"/admin/advanced\",";

TEST(DigestComputation, Rfc2617WorkedExample) {
    // RFC 2617 section 3.5.
    char sessionKey[33];
    ComputeSessionKey("", "Mufasa", "testrealm@host.com", "Circle Of Life", "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                      "0a4f113b", sessionKey);
    EXPECT_STREQ("939e7578ed9e3c518a452acee763bce9", sessionKey);
    char response[33];
    ComputeRequestDigest(sessionKey, "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001", "0a4f113b", "auth", "GET",
                         "/dir/index.html", "", response);
    EXPECT_STREQ("6629fae49393a05397450978507c4ef1", response);
}

TEST(DigestComputation, Md5SessHashesTheRawDigestInAnyCase) {
    char plain[33], sess[33], upper[33], md5[33];
    ComputeSessionKey("", "admin", "QOR", "secret", "n", "c", plain);
    ComputeSessionKey("md5-sess", "admin", "QOR", "secret", "n", "c", sess);
    ComputeSessionKey("MD5-SESS", "admin", "QOR", "secret", "n", "c", upper);
    ComputeSessionKey("MD5", "admin", "QOR", "secret", "n", "c", md5);
    EXPECT_STREQ(plain, md5);
    EXPECT_STRNE(plain, sess);
    EXPECT_STREQ(sess, upper);
    // MD5(MD5("admin:QOR:secret") raw bytes ":n:c").
    EXPECT_STREQ("e6357a0dc079590fe0a044e5bcf500c3", sess);
}

TEST(AuthorizationLine, NoQopEndsAfterResponse) {
    EXPECT_EQ(kLineStart + "algorithm=\"\",response=\"da02208fd06fa5c19054d7703fb54222\"\r\n",
              Compose(MakeState("", "", "", 1)));
}

TEST(AuthorizationLine, QopAuthWithNineDigitCount) {
    EXPECT_EQ(
        kLineStart +
            "algorithm=\"\",response=\"2e33478531089630447e47e17ea7da74\",qop=auth,nc=000000001,cnonce=\"29\"\r\n",
        Compose(MakeState("auth", "", "", 1)));
}

TEST(AuthorizationLine, QopListIsSentAndHashedWhole) {
    EXPECT_EQ(kLineStart +
                  "algorithm=\"\",response=\"8ce1bec29a4cbf6cf5bd1e2a12e3bc07\",qop=auth,auth-int,nc=000000001,"
                  "cnonce=\"29\"\r\n",
              Compose(MakeState("auth,auth-int", "", "", 1)));
}

TEST(AuthorizationLine, QopAuthIntAloneHashesTheEmptyBody) {
    EXPECT_EQ(kLineStart +
                  "algorithm=\"\",response=\"c53a3f96c6d0bcefb415bf8abbcfa5f9\",qop=auth-int,nc=000000001,"
                  "cnonce=\"29\"\r\n",
              Compose(MakeState("auth-int", "", "", 1)));
}

TEST(AuthorizationLine, Md5SessKeepsTheAlgorithmAsGiven) {
    EXPECT_EQ(kLineStart +
                  "algorithm=\"MD5-Sess\",response=\"357d5f804b6795e4cd5371b3ac1b37ff\",qop=auth,nc=000000001,"
                  "cnonce=\"29\"\r\n",
              Compose(MakeState("auth", "MD5-Sess", "", 1)));
    EXPECT_EQ(kLineStart + "algorithm=\"md5-sess\",response=\"d5193551023476925c7bcd16685493d8\"\r\n",
              Compose(MakeState("", "md5-sess", "", 1)));
}

TEST(AuthorizationLine, OpaqueStandsBetweenResponseAndQop) {
    EXPECT_EQ(kLineStart +
                  "algorithm=\"\",response=\"2e33478531089630447e47e17ea7da74\",opaque=\"5ccc069c403ebaf9\","
                  "qop=auth,nc=000000001,cnonce=\"29\"\r\n",
              Compose(MakeState("auth", "", "5ccc069c403ebaf9", 1)));
    EXPECT_EQ(kLineStart + "algorithm=\"\",response=\"da02208fd06fa5c19054d7703fb54222\",opaque=\"xyz\"\r\n",
              Compose(MakeState("", "", "xyz", 1)));
}

TEST(AuthorizationLine, CountThirtyOneIsNineHexDigits) {
    EXPECT_EQ(
        kLineStart +
            "algorithm=\"\",response=\"41d55a374c7f26ccbab6c23afdcd3d95\",qop=auth,nc=00000001f,cnonce=\"29\"\r\n",
        Compose(MakeState("auth", "", "", 31)));
}

TEST(AuthorizationLine, SmallOutputIsCutAndTerminated) {
    DigestState state = MakeState("auth", "", "", 1);
    char line[40];
    memset(line, 'Z', sizeof line);
    int length = ComposeAuthorization(&state, line, 32);
    EXPECT_EQ(31, length);
    EXPECT_EQ(std::string("Authorization: Digest username="), line);
    EXPECT_EQ('Z', line[32]);
}

class ChallengeParsing : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&state, 0, sizeof state);
        SeedRandom(1);  // cnonce values 41, 18467, 6334: "29", "4823", "18be"
    }
    DigestState state;
};

TEST_F(ChallengeParsing, FirstChallengeStoresEverythingAndStartsTheCount) {
    state.nonceCount = 7;
    ASSERT_TRUE(ParseChallenge(
        "WWW-Authenticate: Digest realm=\"QOR\", nonce=\"abc\", qop=\"auth\", algorithm=\"MD5\", opaque=\"op\"\r\n\r\n",
        &state));
    EXPECT_STREQ("QOR", state.realm);
    EXPECT_STREQ("abc", state.nonce);
    EXPECT_STREQ("abc", state.previousNonce);
    EXPECT_EQ(0u, state.nonceCount);
    EXPECT_STREQ("29", state.cnonce);
    EXPECT_STREQ("auth", state.qop);
    EXPECT_STREQ("MD5", state.algorithm);
    EXPECT_STREQ("op", state.opaque);
}

TEST_F(ChallengeParsing, LighttpdAndApacheNoncesWithColonsAndEquals) {
    // lighttpd: hex time ':' hash; Apache: base64 with '=' padding. Both send
    // algorithm=MD5 unquoted, which counts as absent.
    ASSERT_TRUE(ParseChallenge(
        "WWW-Authenticate: Digest realm=\"qor test\", charset=UTF-8, algorithm=MD5, "
        "nonce=\"666a2b1c:0f3e9d4a1b2c3d4e5f60718293a4b5c6d7e8f9012a3b4c5d6e7f8091a2b3c4d5\", qop=\"auth\"\r\n",
        &state));
    EXPECT_STREQ("666a2b1c:0f3e9d4a1b2c3d4e5f60718293a4b5c6d7e8f9012a3b4c5d6e7f8091a2b3c4d5", state.nonce);
    EXPECT_STREQ("", state.algorithm);
    ASSERT_TRUE(ParseChallenge(
        "WWW-Authenticate: Digest realm=\"qor test\", nonce=\"nL6Sb7cXBgA=3f0a8e1b9c2d7e4f5a6b7c8d9e0f1a2b3c4d5e6f\", "
        "algorithm=MD5, qop=\"auth\"\r\n",
        &state));
    EXPECT_STREQ("nL6Sb7cXBgA=3f0a8e1b9c2d7e4f5a6b7c8d9e0f1a2b3c4d5e6f", state.nonce);
    EXPECT_STREQ("", state.algorithm);
    EXPECT_STREQ("auth", state.qop);
}

TEST_F(ChallengeParsing, SameNonceKeepsTheCountButRenewsTheClientNonce) {
    const char* challenge = "WWW-Authenticate: Digest realm=\"QOR\", nonce=\"n1\"";
    ASSERT_TRUE(ParseChallenge(challenge, &state));
    state.nonceCount = 3;
    ASSERT_TRUE(ParseChallenge(challenge, &state));
    EXPECT_EQ(3u, state.nonceCount);
    EXPECT_STREQ("4823", state.cnonce);
    ASSERT_TRUE(ParseChallenge("WWW-Authenticate: Digest realm=\"QOR\", nonce=\"n2\"", &state));
    EXPECT_EQ(0u, state.nonceCount);
    EXPECT_STREQ("n2", state.previousNonce);
    EXPECT_STREQ("18be", state.cnonce);
}

TEST_F(ChallengeParsing, MissingRealmChangesNothingMissingNonceKeepsTheRealm) {
    strcpy(state.realm, "old");
    strcpy(state.nonce, "keep");
    state.nonceCount = 5;
    EXPECT_FALSE(ParseChallenge("WWW-Authenticate: Digest nonce=\"abc\"", &state));
    EXPECT_STREQ("old", state.realm);
    EXPECT_STREQ("keep", state.nonce);
    EXPECT_FALSE(ParseChallenge("WWW-Authenticate: Digest realm=\"new\", nonce=abc", &state));
    EXPECT_STREQ("new", state.realm);
    EXPECT_STREQ("keep", state.nonce);
    EXPECT_EQ(5u, state.nonceCount);
    EXPECT_STREQ("", state.cnonce);
}

TEST_F(ChallengeParsing, ParametersComeFromAnywhereInTheAnswer) {
    strcpy(state.opaque, "stale");
    strcpy(state.algorithm, "md5-sess");
    ASSERT_TRUE(ParseChallenge(
        "WWW-Authenticate: Digest nonce=\"n\", realm=\"r\"\r\n\r\n<html>qop=\"auth\" and an unterminated realm=\"x",
        &state));
    EXPECT_STREQ("r", state.realm);
    EXPECT_STREQ("auth", state.qop);
    EXPECT_STREQ("", state.opaque);
    EXPECT_STREQ("", state.algorithm);
    // A value that runs to the end of the text ends there.
    ASSERT_TRUE(ParseChallenge("WWW-Authenticate: Digest realm=\"r\", nonce=\"tail", &state));
    EXPECT_STREQ("tail", state.nonce);
}

TEST_F(ChallengeParsing, ValueWithoutClosingQuoteEndsAtTheLineBreak) {
    ASSERT_TRUE(
        ParseChallenge("WWW-Authenticate: Digest realm=\"QOR\", nonce=\"abc\r\nContent-Length: 9\r\n\r\n"
                       "<html>opaque=\"op\nX-Body: 1</html>",
                       &state));
    EXPECT_STREQ("abc", state.nonce);
    EXPECT_STREQ("op", state.opaque);
    strcpy(state.user, "admin");
    strcpy(state.password, "pw");
    strcpy(state.uri, "/admin/advanced");
    state.nonceCount = 1;
    std::string line = Compose(state);
    EXPECT_EQ(line.find_first_of("\r\n"), line.size() - 2) << "one line, ended by its own CR LF";
}

TEST_F(ChallengeParsing, EmptyOpaqueIsNoOpaque) {
    ASSERT_TRUE(ParseChallenge("WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", opaque=\"\"", &state));
    EXPECT_STREQ("", state.opaque);
    strcpy(state.user, "admin");
    strcpy(state.password, "pw");
    strcpy(state.uri, "/");
    state.nonceCount = 1;
    char line[512];
    ComposeAuthorization(&state, line, sizeof line);
    EXPECT_EQ(nullptr, strstr(line, "opaque"));
}

TEST_F(ChallengeParsing, OverlongValuesAreCutToTheirFields) {
    std::string longNonce(300, 'n');
    std::string longQop = "auth,auth-int,auth,auth-int";
    std::string challenge = "WWW-Authenticate: Digest realm=\"" + std::string(200, 'r') + "\", nonce=\"" + longNonce +
                            "\", qop=\"" + longQop + "\", algorithm=\"" + std::string(40, 'a') + "\", opaque=\"" +
                            std::string(500, 'o') + "\"";
    ASSERT_TRUE(ParseChallenge(challenge.c_str(), &state));
    EXPECT_EQ(std::string(127, 'r'), state.realm);
    EXPECT_EQ(std::string(127, 'n'), state.nonce);
    EXPECT_EQ(std::string(127, 'n'), state.previousNonce);
    EXPECT_EQ(longQop.substr(0, 15), state.qop);
    EXPECT_EQ(std::string(15, 'a'), state.algorithm);
    EXPECT_EQ(std::string(127, 'o'), state.opaque);
    // The same long nonce again is the same nonce.
    state.nonceCount = 2;
    ASSERT_TRUE(ParseChallenge(challenge.c_str(), &state));
    EXPECT_EQ(2u, state.nonceCount);
}

TEST_F(ChallengeParsing, ParsedChallengeGivesTheExpectedLine) {
    ASSERT_TRUE(
        ParseChallenge("WWW-Authenticate: Digest realm=\"QOR\", nonce=\"4f2a9c10:7e3b=\", qop=\"auth\"", &state));
    strcpy(state.user, "admin");
    strcpy(state.password, "secret");
    strcpy(state.uri, "/admin/advanced");
    state.nonceCount = 1;
    EXPECT_EQ(
        kLineStart +
            "algorithm=\"\",response=\"2e33478531089630447e47e17ea7da74\",qop=auth,nc=000000001,cnonce=\"29\"\r\n",
        Compose(state));
}

}  // namespace
