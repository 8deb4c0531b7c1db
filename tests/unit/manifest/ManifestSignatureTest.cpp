// The manifest signature against vectors made with openssl (tests/keys/update-test.pem), never by
// the code under test, and the text forms around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Base64.h"
#include "support/Sha256.h"
#include "update/ManifestSignature.h"

#if defined(__i386__)
// Calls `blocks` the way a thread start or a system callback may on 32-bit Windows: with the stack
// 4 bytes off the 16-byte alignment the compiler assumes (esp is 4 mod 16 at the call, not 0).
extern "C" void KvoCallOnMisalignedStack(void (*blocks)(std::uint32_t*, const unsigned char*, std::size_t),
                                         std::uint32_t* state, const unsigned char* data, std::size_t count);
asm(".text\n"
    ".globl _KvoCallOnMisalignedStack\n"
    "_KvoCallOnMisalignedStack:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    andl $-16, %esp\n"
    "    pushl 20(%ebp)\n"
    "    pushl 16(%ebp)\n"
    "    pushl 12(%ebp)\n"
    "    call *8(%ebp)\n"
    "    leave\n"
    "    ret\n");

TEST(Sha256, TheSha256InstructionsRunOnAStackAlignedToFourBytesOnly)
{
    if (!HasSha256Instructions())
        GTEST_SKIP() << "this processor has no SHA extensions: the system's hash is used";
    const std::string block(kSha256BlockSize * 3, 'k');
    std::uint32_t aligned[kSha256StateWords] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint32_t misaligned[kSha256StateWords] = {1, 2, 3, 4, 5, 6, 7, 8};
    Sha256Blocks(aligned, reinterpret_cast<const unsigned char*>(block.data()), 3);
    KvoCallOnMisalignedStack(&Sha256Blocks, misaligned, reinterpret_cast<const unsigned char*>(block.data()), 3);
    EXPECT_TRUE(std::equal(std::begin(aligned), std::end(aligned), std::begin(misaligned)));
}
#endif

namespace {

const char kTestPublicKey[] = "cnPIq0YOE26LhrXcMiLc9XQ6grJo2Vz8sPyrxEEb+bS7bKGEV2zcHcqhZAAisiiJWz28sjBYI5KeVQRF02RTDg==";
const char kDocument[] =
    "<?xml version=\"1.0\"?>\r\n<UpdateInfo>\r\n  <Product productname=\"KvoLobby\" filenum=\"1\" Ver=\"7\">\r\n"
    "    <File><FileName>Lobby.dll</FileName><URL>http://update.example.com/v7/Lobby.dll</URL>"
    "<SHA256>9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08</SHA256></File>\r\n"
    "  </Product>\r\n</UpdateInfo>\r\n";
/// openssl dgst -sha256 -sign of kDocument, DER turned into r‖s.
const char kSignature[] = "T2csyt9klWGU3BwjL4v7LNMQ3wJcCCypeF8CXXO9JH0HgFmHAq+naR/peiaxW8hs0iPgdQibdLlVi/AlUQsyOA==";
/// The same over kDocument followed by its own signature comment (a document signed twice).
const char kSignatureOfSigned[] =
    "68vpXfmAbptF9JKs77BJ7Aj8xViBQPVqohz7uKuum6pE8n7KW81BP0p6qFkgKdt5UWumqG1oYmir5QdFzfm7eQ==";

std::string Comment(const std::string& base64)
{
    return "<!-- KvoSignature: " + base64 + " -->";
}

std::vector<unsigned char> TestKey()
{
    std::vector<unsigned char> key;
    EXPECT_TRUE(DecodeBase64(kTestPublicKey, key));
    return key;
}

std::string FlipBit(std::string text, std::size_t at)
{
    text[at] = static_cast<char>(text[at] ^ 1);
    return text;
}

std::string SignatureWithFlippedBit(std::size_t byte)
{
    std::vector<unsigned char> signature;
    EXPECT_TRUE(DecodeBase64(kSignature, signature));
    signature[byte] ^= 0x80;
    return EncodeBase64(signature);
}

struct SignatureCase {
    const char* what;
    std::string document;
    ManifestSignatureCheck expected;
};

}  // namespace

TEST(ManifestSignature, OnlyTheSignedBytesWithTheirSignatureLastAreVerified)
{
    const std::string doc = kDocument;
    const std::string signed_ = doc + Comment(kSignature);
    const std::size_t urlByte = doc.find("v7/Lobby");
    const SignatureCase cases[] = {
        {"as signed, white space after it", signed_ + " \t\r\n", ManifestSignatureCheck::verified},
        {"a URL byte changed", FlipBit(doc, urlByte) + Comment(kSignature), ManifestSignatureCheck::invalid},
        {"bytes added before the comment", doc + " " + Comment(kSignature), ManifestSignatureCheck::invalid},
        {"r changed", doc + Comment(SignatureWithFlippedBit(0)), ManifestSignatureCheck::invalid},
        {"unsigned", doc, ManifestSignatureCheck::missing},
        {"another comment last", doc + "<!-- built by hand -->", ManifestSignatureCheck::missing},
        {"text after the comment", signed_ + "x", ManifestSignatureCheck::malformed},
        {"a comment after the signature", signed_ + "<!-- x -->", ManifestSignatureCheck::malformed},
        {"doubled", signed_ + Comment(kSignatureOfSigned), ManifestSignatureCheck::malformed},
        {"signature cut by 4 characters", doc + Comment(std::string(kSignature).substr(4)),
         ManifestSignatureCheck::malformed},
    };
    const std::vector<unsigned char> key = TestKey();
    for (const SignatureCase& row : cases)
        EXPECT_EQ(CheckManifestSignature(row.document, key), row.expected) << row.what;

    std::vector<unsigned char> otherKey = key;
    otherKey[10] ^= 1;  // most likely not on the curve at all: refused as a key
    EXPECT_EQ(CheckManifestSignature(signed_, otherKey), ManifestSignatureCheck::invalid);
    EXPECT_EQ(CheckManifestSignature(signed_, {}), ManifestSignatureCheck::invalid) << "no key verifies nothing";
}

TEST(Base64, StrictStandardAlphabetWithPadding)
{
    const std::pair<std::string, std::string> known[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe", "//4="}};
    for (const auto& [bytes, text] : known) {
        std::vector<unsigned char> decoded;
        EXPECT_EQ(EncodeBase64(std::vector<unsigned char>(bytes.begin(), bytes.end())), text);
        ASSERT_TRUE(DecodeBase64(text, decoded)) << text;
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), bytes);
    }
    std::vector<unsigned char> ignored;
    for (const char* bad : {"Zg", "Zg=", "Z===", "Zg==Zg==", "Zh==", "Zm9v\n", "Zm-v", "=Zm9"})
        EXPECT_FALSE(DecodeBase64(bad, ignored)) << bad;
}


TEST(Sha256, KnownDigestsAndTheirTextInEitherCase)
{
    const std::string abc = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";  // "test"
    CSha256 hash;
    hash.Update("te", 2);
    hash.Update("st", 2);
    EXPECT_EQ(Sha256Hex(hash.Finish()), abc);
    EXPECT_EQ(Sha256Hex(hash.Finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")
        << "Finish starts over";

    // The processor's SHA extensions (where present) and the system's hash agree on every length
    // around the block and padding boundaries, whatever the pieces the bytes come in.
    std::string bytes(1000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    for (const std::size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 1000}) {
        CSha256 fastest;
        CSha256 system(CSha256::Engine::system);
        for (std::size_t at = 0; at < length; at += 1 + at % 70) {
            const std::size_t piece = std::min<std::size_t>(1 + at % 70, length - at);
            fastest.Update(bytes.data() + at, piece);
        }
        system.Update(bytes.data(), length);
        EXPECT_EQ(Sha256Hex(fastest.Finish()), Sha256Hex(system.Finish())) << length << " bytes";
    }

    Sha256Digest parsed;
    ASSERT_TRUE(ParseSha256Hex("9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08", parsed));
    EXPECT_EQ(Sha256Hex(parsed), abc);
    for (const std::string& bad : {abc.substr(1), abc + "0", abc.substr(0, 63) + "g", " " + abc.substr(1)})
        EXPECT_FALSE(ParseSha256Hex(bad, parsed)) << bad;
}
