#include "app/bfish/BfishCipher.h"

#include "bfish/BfishTestSupport.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <array>
#include <string>
#include <vector>

namespace bfish {
namespace {

using test::Exists;
using test::RandomBytes;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

// Sizes of the format, counted by hand: "TVBF" + version + 16-byte salt + 24-byte stream
// header, and 17 bytes of tag and MAC on every chunk.
constexpr std::size_t kHeader = 4 + 1 + 16 + 24;
constexpr std::size_t kSeal = 17;
constexpr std::size_t kChunk = 65536;

class BfishCipher : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.Valid()); }

    // Encrypts `plain` with `password` and returns the path of the encrypted file.
    std::string Sealed(const std::string& plain, const std::string& password = "pw") {
        WriteFile(folder / "plain", plain);
        const CipherResult result = Encrypt(folder / "plain", folder / "sealed", password);
        EXPECT_TRUE(result.ok) << result.message;
        return folder / "sealed";
    }

    void ExpectRoundTrip(const std::string& plain) {
        const std::string sealed = Sealed(plain, "correct horse");
        const CipherResult result = Decrypt(sealed, folder / "opened", "correct horse");
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(ReadFile(folder / "opened"), plain);
        EXPECT_EQ(ReadFile(folder / "plain"), plain) << "the input must never change";
    }

    // Decrypting `sealed` must fail and leave the output exactly as it was, both when it
    // exists and when it does not, and leave no temporary file behind.
    void ExpectDecryptRefused(const std::string& sealed, const std::string& password,
                              const std::string& messagePart) {
        const std::string sealedBefore = ReadFile(sealed);

        WriteFile(folder / "existing", "older content");
        const std::set<std::string> namesBefore = folder.Names();
        CipherResult result = Decrypt(sealed, folder / "existing", password);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.message.find(messagePart), std::string::npos) << result.message;
        EXPECT_EQ(result.message.find('\n'), std::string::npos) << "one line";
        EXPECT_EQ(ReadFile(folder / "existing"), "older content");
        EXPECT_EQ(folder.Names(), namesBefore);

        result = Decrypt(sealed, folder / "absent", password);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(Exists(folder / "absent"));
        EXPECT_EQ(folder.Names(), namesBefore);
        EXPECT_EQ(ReadFile(sealed), sealedBefore);
    }

    TempFolder folder;
};

// --- round trips ---------------------------------------------------------------------------

TEST_F(BfishCipher, RestoresAnEmptyFile) {
    ExpectRoundTrip("");
}

TEST_F(BfishCipher, RestoresASingleByte) {
    ExpectRoundTrip("x");
}

TEST_F(BfishCipher, RestoresExactlyOneChunk) {
    ExpectRoundTrip(RandomBytes(kChunk));
}

TEST_F(BfishCipher, RestoresOneChunkAndOneByte) {
    ExpectRoundTrip(RandomBytes(kChunk + 1));
}

TEST_F(BfishCipher, RestoresSeveralMegabytesOfRandomData) {
    ExpectRoundTrip(RandomBytes(3 * 1024 * 1024 + 12345, 99));
}

TEST_F(BfishCipher, ReplacesTheFileWhenInputAndOutputAreTheSame) {
    const std::string plain = RandomBytes(2 * kChunk + 5);
    const std::string path = folder / "in place";
    WriteFile(path, plain);

    CipherResult result = Encrypt(path, path, "pw");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(ReadFile(path).size(), kHeader + 2 * (kChunk + kSeal) + 5 + kSeal);

    result = Decrypt(path, path, "pw");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(ReadFile(path), plain);
    EXPECT_EQ(folder.Names(), std::set<std::string>{"in place"});
}

TEST_F(BfishCipher, ReplacesAnExistingOutputOnSuccess) {
    WriteFile(folder / "out", std::string(200000, 'o'));
    const std::string sealed = Sealed("short");
    ASSERT_TRUE(Decrypt(sealed, folder / "out", "pw").ok);
    EXPECT_EQ(ReadFile(folder / "out"), "short");
}

TEST_F(BfishCipher, AcceptsEmptyAndLongPasswordsButTellsThemApart) {
    const std::string longPassword(5000, 'k');
    const std::string sealed = Sealed("data", "");
    EXPECT_TRUE(Decrypt(sealed, folder / "a", "").ok);
    EXPECT_FALSE(Decrypt(sealed, folder / "b", " ").ok);

    const std::string sealedLong = Sealed("data", longPassword);
    EXPECT_TRUE(Decrypt(sealedLong, folder / "c", longPassword).ok);
    EXPECT_FALSE(Decrypt(sealedLong, folder / "d", longPassword + "k").ok);
    EXPECT_EQ(ReadFile(folder / "c"), "data");
}

// --- the bytes on disk ---------------------------------------------------------------------

TEST_F(BfishCipher, WritesMagicVersionAndOneSealPerChunk) {
    struct Case {
        std::size_t plain;
        std::size_t sealed;
    };
    // Lengths worked out by hand: a file ending on a chunk boundary gets an empty final chunk.
    const std::vector<Case> cases = {
        {0, 62}, {1, 63}, {kChunk - 1, 65597}, {kChunk, 65615}, {kChunk + 1, 65616}};
    for (const Case& c : cases) {
        const std::string sealed = ReadFile(Sealed(RandomBytes(c.plain)));
        EXPECT_EQ(sealed.size(), c.sealed) << "plain size " << c.plain;
        EXPECT_EQ(sealed.substr(0, 5), std::string("TVBF\x01", 5));
    }
}

TEST_F(BfishCipher, HidesThePlaintextAndSaltsEveryFile) {
    std::string plain;
    for (int line = 0; line < 5000; ++line) {
        plain += "Tidevault secret line " + std::to_string(line) + "\n";
    }
    const std::string first = ReadFile(Sealed(plain));
    const std::string second = ReadFile(Sealed(plain));
    EXPECT_EQ(first.find("secret"), std::string::npos);
    EXPECT_EQ(first.find("Tidevault"), std::string::npos);
    EXPECT_NE(first, second);
    EXPECT_NE(first.substr(5, 16), second.substr(5, 16)) << "the salt must be random";
}

TEST_F(BfishCipher, GivesTheOutputOwnerOnlyPermissions) {
    struct stat info {};
    ASSERT_EQ(::stat(Sealed("x").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// An independent reading and writing of the documented layout with libsodium itself, so the
// format cannot drift without a test noticing.
class BfishLayout : public BfishCipher {
protected:
    void SetUp() override {
        BfishCipher::SetUp();
        ASSERT_GE(sodium_init(), 0);
    }

    struct Chunk {
        std::size_t length;
        unsigned char tag;
    };

    // Seals `plain` under the password "by hand" with a fixed salt, cut into `chunks`.
    static std::string BuiltByHand(const std::string& plain, const std::vector<Chunk>& chunks) {
        std::string file("TVBF\x01", 5);
        std::array<unsigned char, 16> salt{};
        for (std::size_t i = 0; i < salt.size(); ++i) {
            salt[i] = static_cast<unsigned char>(i * 11 + 1);
        }
        file.append(reinterpret_cast<const char*>(salt.data()), salt.size());
        const std::string prefix = file;
        unsigned char key[32];
        DeriveKey("by hand", salt.data(), key);
        crypto_secretstream_xchacha20poly1305_state state;
        unsigned char streamHeader[24];
        crypto_secretstream_xchacha20poly1305_init_push(&state, streamHeader, key);
        file.append(reinterpret_cast<const char*>(streamHeader), sizeof(streamHeader));

        std::size_t from = 0;
        for (const Chunk& chunk : chunks) {
            std::vector<unsigned char> out(chunk.length + kSeal);
            unsigned long long outLength = 0;
            crypto_secretstream_xchacha20poly1305_push(
                &state, out.data(), &outLength,
                reinterpret_cast<const unsigned char*>(plain.data()) + from, chunk.length,
                reinterpret_cast<const unsigned char*>(prefix.data()), prefix.size(), chunk.tag);
            file.append(reinterpret_cast<const char*>(out.data()), outLength);
            from += chunk.length;
        }
        return file;
    }

    static void DeriveKey(const std::string& password, const unsigned char* salt,
                          unsigned char* key) {
        ASSERT_EQ(crypto_pwhash(key, 32, password.data(), password.size(), salt, 2,
                                64u * 1024 * 1024, crypto_pwhash_ALG_ARGON2ID13),
                  0);
    }
};

TEST_F(BfishLayout, WrittenFileOpensByTheDocumentedLayout) {
    const std::string plain = RandomBytes(2 * kChunk, 3);
    const std::string file = ReadFile(Sealed(plain, "layout"));
    ASSERT_EQ(file.size(), kHeader + 2 * (kChunk + kSeal) + kSeal);
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());

    unsigned char key[32];
    DeriveKey("layout", bytes + 5, key);
    crypto_secretstream_xchacha20poly1305_state state;
    ASSERT_EQ(crypto_secretstream_xchacha20poly1305_init_pull(&state, bytes + 21, key), 0);

    std::string opened;
    std::vector<unsigned char> chunk(kChunk);
    const std::vector<unsigned char> expectedTags = {
        crypto_secretstream_xchacha20poly1305_TAG_MESSAGE,
        crypto_secretstream_xchacha20poly1305_TAG_MESSAGE,
        crypto_secretstream_xchacha20poly1305_TAG_FINAL};
    std::size_t offset = kHeader;
    for (unsigned char expectedTag : expectedTags) {
        const std::size_t length = std::min(kChunk + kSeal, file.size() - offset);
        unsigned long long plainLength = 0;
        unsigned char tag = 0;
        ASSERT_EQ(crypto_secretstream_xchacha20poly1305_pull(
                      &state, chunk.data(), &plainLength, &tag, bytes + offset, length, bytes, 21),
                  0)
            << "chunk at " << offset << " (the first 21 bytes are its additional data)";
        EXPECT_EQ(tag, expectedTag);
        opened.append(reinterpret_cast<const char*>(chunk.data()), plainLength);
        offset += length;
    }
    EXPECT_EQ(offset, file.size());
    EXPECT_EQ(opened, plain);
}

TEST_F(BfishLayout, FileBuiltByHandDecrypts) {
    const std::string plain = RandomBytes(kChunk + 10, 4);
    WriteFile(folder / "by hand",
              BuiltByHand(plain, {{kChunk, crypto_secretstream_xchacha20poly1305_TAG_MESSAGE},
                                  {10, crypto_secretstream_xchacha20poly1305_TAG_FINAL}}));
    const CipherResult result = Decrypt(folder / "by hand", folder / "opened", "by hand");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(ReadFile(folder / "opened"), plain);
}

// bfish never writes a full-size final chunk, but nothing may follow one either.
TEST_F(BfishLayout, NothingMayFollowAFullSizeFinalChunk) {
    const std::string plain = RandomBytes(kChunk, 6);
    const std::string file =
        BuiltByHand(plain, {{kChunk, crypto_secretstream_xchacha20poly1305_TAG_FINAL}});
    WriteFile(folder / "full final", file);
    ASSERT_TRUE(Decrypt(folder / "full final", folder / "opened", "by hand").ok);
    EXPECT_EQ(ReadFile(folder / "opened"), plain);

    WriteFile(folder / "trailing", file + "x");
    ExpectDecryptRefused(folder / "trailing", "by hand", "follows its final chunk");
}

TEST_F(BfishLayout, ChunkTagsOtherThanMessageAndFinalAreRefused) {
    const std::string plain = RandomBytes(kChunk + 1, 8);
    WriteFile(folder / "rekey",
              BuiltByHand(plain, {{kChunk, crypto_secretstream_xchacha20poly1305_TAG_REKEY},
                                  {1, crypto_secretstream_xchacha20poly1305_TAG_FINAL}}));
    ExpectDecryptRefused(folder / "rekey", "by hand", "not laid out");
}

// --- refusals ------------------------------------------------------------------------------

class BfishDamage : public BfishCipher {
protected:
    // Three full chunks and 100 bytes: 45 + 3 * 65553 + 117 bytes once sealed.
    void SetUp() override {
        BfishCipher::SetUp();
        sealed = ReadFile(Sealed(RandomBytes(3 * kChunk + 100, 5)));
        ASSERT_EQ(sealed.size(), kHeader + 3 * (kChunk + kSeal) + 100 + kSeal);
    }

    std::string Damaged(std::string bytes) {
        WriteFile(folder / "damaged", bytes);
        return folder / "damaged";
    }

    std::string Flipped(std::size_t offset) {
        std::string bytes = sealed;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        return Damaged(bytes);
    }

    std::string sealed;
};

TEST_F(BfishDamage, WrongPasswordIsRefused) {
    WriteFile(folder / "wrong", sealed);
    ExpectDecryptRefused(folder / "wrong", "pW", "wrong password");
}

TEST_F(BfishDamage, FlippedMagicIsNotTakenForAnEncryptedFile) {
    ExpectDecryptRefused(Flipped(0), "pw", "not a file encrypted by bfish");
}

TEST_F(BfishDamage, UnknownFormatVersionIsRefused) {
    ExpectDecryptRefused(Flipped(4), "pw", "format version 0");
}

TEST_F(BfishDamage, FlippedSaltOrStreamHeaderIsRefused) {
    ExpectDecryptRefused(Flipped(12), "pw", "damaged");
    ExpectDecryptRefused(Flipped(30), "pw", "damaged");
}

TEST_F(BfishDamage, FlippedByteInAMiddleChunkIsRefused) {
    ExpectDecryptRefused(Flipped(kHeader + (kChunk + kSeal) + 1000), "pw", "chunk 2");
}

TEST_F(BfishDamage, TruncatedLastChunkIsRefused) {
    ExpectDecryptRefused(Damaged(sealed.substr(0, sealed.size() - 5)), "pw", "chunk 4");
}

TEST_F(BfishDamage, MissingFinalChunkIsRefused) {
    ExpectDecryptRefused(Damaged(sealed.substr(0, kHeader + 3 * (kChunk + kSeal))), "pw",
                         "final chunk is missing");
}

TEST_F(BfishDamage, CutInsideTheHeaderIsRefused) {
    ExpectDecryptRefused(Damaged(sealed.substr(0, 30)), "pw", "truncated");
    ExpectDecryptRefused(Damaged(sealed.substr(0, kHeader)), "pw", "truncated");
    ExpectDecryptRefused(Damaged(sealed.substr(0, 2)), "pw", "not a file encrypted");
}

TEST_F(BfishDamage, SwappedChunksAreRefused) {
    const std::size_t sealedChunk = kChunk + kSeal;
    std::string bytes = sealed;
    bytes.replace(kHeader, sealedChunk, sealed.substr(kHeader + sealedChunk, sealedChunk));
    bytes.replace(kHeader + sealedChunk, sealedChunk, sealed.substr(kHeader, sealedChunk));
    ExpectDecryptRefused(Damaged(bytes), "pw", "damaged");
}

TEST_F(BfishDamage, DataAfterTheFinalChunkIsRefused) {
    // The extra byte joins the final chunk, which then no longer authenticates.
    ExpectDecryptRefused(Damaged(sealed + "x"), "pw", "chunk 4");
}

TEST_F(BfishDamage, PlainFileIsRefused) {
    ExpectDecryptRefused(Damaged("just some text, never encrypted\n"), "pw",
                         "not a file encrypted by bfish");
    ExpectDecryptRefused(Damaged(""), "pw", "not a file encrypted by bfish");
}

TEST_F(BfishCipher, UnreadableInputLeavesTheOutputAlone) {
    WriteFile(folder / "out", "keep me");
    CipherResult result = Encrypt(folder / "missing", folder / "out", "pw");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("cannot open input"), std::string::npos) << result.message;
    result = Decrypt(folder / "missing", folder / "out", "pw");
    EXPECT_FALSE(result.ok);

    ASSERT_EQ(::mkdir((folder / "a folder").c_str(), 0700), 0);
    result = Encrypt(folder / "a folder", folder / "out", "pw");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("is a folder"), std::string::npos) << result.message;

    EXPECT_EQ(ReadFile(folder / "out"), "keep me");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"a folder", "out"}));
}

TEST_F(BfishCipher, UnwritableOutputFailsCleanly) {
    WriteFile(folder / "plain", "data");
    CipherResult result = Encrypt(folder / "plain", folder / "no such folder/out", "pw");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("temporary file"), std::string::npos) << result.message;

    // A folder in the output's place cannot be replaced by a file.
    ASSERT_EQ(::mkdir((folder / "taken").c_str(), 0700), 0);
    WriteFile(folder / "taken/inside", "x");
    result = Encrypt(folder / "plain", folder / "taken", "pw");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("cannot replace"), std::string::npos) << result.message;
    EXPECT_EQ(ReadFile(folder / "taken/inside"), "x");
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"plain", "taken"}));
}

} // namespace
} // namespace bfish
