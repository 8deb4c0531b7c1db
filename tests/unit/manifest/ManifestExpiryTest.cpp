// Signed manifests lapse: the expiry rule on its own, and what a launcher with a key and one
// without make of manifests fetched from the loopback server.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "support/Base64.h"
#include "support/EcdsaP256.h"
#include "tools/publish/SigningKey.h"
#include "update/Manifest.h"
#include "update/ManifestExpiry.h"
#include "update/TrustedKeys.h"

namespace {

FILETIME Utc(const char* text)
{
    FILETIME time{};
    EXPECT_TRUE(ParseUtcTime(text, time)) << text;
    return time;
}

TEST(ManifestExpiry, ATimeStrictlyInTheFormatThatHasNotPassed)
{
    const FILETIME now = Utc("2026-12-07T12:00:00Z");
    const struct {
        const char* expires;
        ManifestExpiry expected;
    } cases[] = {
        {"2026-12-07T12:00:01Z", ManifestExpiry::fresh},
        {"2026-12-07T12:00:00Z", ManifestExpiry::fresh},  // not earlier than the clock
        {"2026-12-07T11:59:59Z", ManifestExpiry::expired},
        {"2028-02-29T00:00:00Z", ManifestExpiry::fresh},  // a leap day
        {"", ManifestExpiry::malformed},
        {"2027-02-29T00:00:00Z", ManifestExpiry::malformed},
        {"2026-13-01T00:00:00Z", ManifestExpiry::malformed},
        {"2026-12-07T24:00:00Z", ManifestExpiry::malformed},
        {"2026-12-07 12:00:00Z", ManifestExpiry::malformed},
        {"2026-12-07T12:00:00", ManifestExpiry::malformed},    // no zone: not UTC
        {"2026-12-07T12:00:00+08:00", ManifestExpiry::malformed},
        {" 2026-12-07T12:00:00Z", ManifestExpiry::malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckManifestExpiry(c.expires, now), c.expected) << "'" << c.expires << "'";
    EXPECT_EQ(FormatUtcTime(now), "2026-12-07T12:00:00Z");
}

/// A manifest with one hashed file, its Product carrying `expiry` (nothing when empty), signed
/// with the test key.
std::string SignedManifest(const std::string& expiry)
{
    const std::string text =
        ManifestText("productname=\"P\" Ver=\"9\"" + (expiry.empty() ? std::string() : " Expires=\"" + expiry + "\""),
                     FileElement("a.dll", "<SHA256>" + std::string(64, 'a') + "</SHA256>"));
    std::vector<unsigned char> keyPair;
    std::string error;
    EXPECT_TRUE(ReadKeyFile(KVO_TEST_SIGNING_KEY, kP256PrivateKeySize, keyPair, error)) << error;
    std::string signature;
    EXPECT_TRUE(SignManifest(text, keyPair, signature));
    return text + signature;
}

std::string TestPublicKey(const std::vector<unsigned char>& keyPair)
{
    return EncodeBase64(std::vector<unsigned char>(keyPair.begin(), keyPair.begin() + kP256PublicKeySize));
}

TEST(ManifestExpiry, ALauncherWithAKeyTakesOnlyAFreshManifestOneWithoutIgnoresTheExpiry)
{
    std::vector<unsigned char> keyPair;
    std::string error;
    ASSERT_TRUE(ReadKeyFile(KVO_TEST_SIGNING_KEY, kP256PrivateKeySize, keyPair, error)) << error;
    const struct {
        const char* what;
        std::string expiry;
        bool keyed;
        bool taken;
        const char* logged;  ///< the start of the refusal line, "" when none
    } cases[] = {
        {"fresh", "2099-01-01T00:00:00Z", true, true, ""},
        {"expired", "2001-01-01T00:00:00Z", true, false, "清单已过期  "},
        {"missing", "", true, false, "清单有效期无效  "},
        {"malformed", "next year", true, false, "清单有效期无效  "},
        {"expired, launcher without a key", "2001-01-01T00:00:00Z", false, true, ""},
    };
    EngineHarness installation;  // one window for every row: each row's address is its own
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        installation.engine().m_files.clear();
        const std::string url = GeneratedBodyUrl(SignedManifest(c.expiry));
        bool taken = false;
        installation.RunOnWorker([&] {
            taken = ParseManifest(installation.engine(), url, CTrustedKeys(c.keyed ? TestPublicKey(keyPair) : std::string()));
        });
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(installation.engine().m_files.size(), c.taken ? 1u : 0u);
        const std::vector<std::string> lines = installation.LogLines();
        const std::string expected = std::string(c.logged) + url + "  有效期至 " + c.expiry + "  本机时钟 ";
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.rfind(expected, 0) == 0; }),
                  c.logged[0] ? 1 : 0);
    }
}

}  // namespace
