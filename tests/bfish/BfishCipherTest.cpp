#include "app/bfish/BfishCipher.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace bfish {
namespace {

std::string RandomBytes(std::size_t size, std::uint64_t origin = 7) {
    std::independent_bits_engine<std::mt19937_64, 8, unsigned> generator(origin);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), generator);
    return bytes;
}

// Every name in a folder, so a test can see that no temporary file was left behind.
std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Sizes of the format, counted by hand: "TVBF" + version + 16-byte salt + 24-byte stream
// header, and 17 bytes of tag and MAC on every chunk.
constexpr std::size_t kHeader = 4 + 1 + 16 + 24;
constexpr std::size_t kSeal = 17;
constexpr std::size_t kChunk = 65536;
constexpr unsigned char kMessage = crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
constexpr unsigned char kFinal = crypto_secretstream_xchacha20poly1305_TAG_FINAL;

class BfishCipher : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(sodium_init(), 0); }

    std::string At(const std::string& name) const { return home.File(name); }

    // Encrypts `plain` into the file "sealed" and returns its bytes.
    std::string Sealed(const std::string& plain, const std::string& password = "pw") {
        home.Write("plain", plain);
        const CipherResult result = Encrypt(At("plain"), At("sealed"), password);
        EXPECT_TRUE(result.ok) << result.message;
        return home.Read("sealed");
    }

    // Decrypting `bytes` must fail with one line holding `messagePart` and leave the output
    // exactly as it was, existing or not, with no temporary file behind.
    void ExpectRefused(const std::string& bytes, const std::string& password,
                       const std::string& messagePart) {
        home.Write("damaged", bytes);
        home.Write("existing", "older content");
        const std::set<std::string> namesBefore = NamesIn(home.Path());
        for (const char* output : {"existing", "absent"}) {
            const CipherResult result = Decrypt(At("damaged"), At(output), password);
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.message.find(messagePart), std::string::npos) << result.message;
            EXPECT_EQ(result.message.find('\n'), std::string::npos) << "one line";
        }
        EXPECT_EQ(home.Read("existing"), "older content");
        EXPECT_EQ(NamesIn(home.Path()), namesBefore);
    }

    // The documented layout written with libsodium itself, so the format cannot drift without
    // a test noticing: password "by hand", a fixed salt, chunks of the given lengths and tags.
    using Chunks = std::vector<std::pair<std::size_t, unsigned char>>;
    static std::string BuiltByHand(const std::string& plain, const Chunks& chunks) {
        std::string file("TVBF\x01", 5);
        for (unsigned char i = 0; i < 16; ++i)
            file += static_cast<char>(i * 11 + 1);
        const auto* prefix = reinterpret_cast<const unsigned char*>(file.data());
        unsigned char key[32];
        EXPECT_EQ(crypto_pwhash(key, 32, "by hand", 7, prefix + 5, 2, 64u * 1024 * 1024,
                                crypto_pwhash_ALG_ARGON2ID13),
                  0);
        crypto_secretstream_xchacha20poly1305_state state;
        unsigned char sealed[kChunk + kSeal];
        crypto_secretstream_xchacha20poly1305_init_push(&state, sealed, key);
        std::string result = file + std::string(reinterpret_cast<const char*>(sealed), 24);
        std::size_t from = 0;
        for (const auto& [length, tag] : chunks) {
            unsigned long long sealedLength = 0;
            crypto_secretstream_xchacha20poly1305_push(
                &state, sealed, &sealedLength,
                reinterpret_cast<const unsigned char*>(plain.data()) + from, length, prefix, 21,
                tag);
            result.append(reinterpret_cast<const char*>(sealed), sealedLength);
            from += length;
        }
        return result;
    }

    TempHome home;
};

TEST_F(BfishCipher, RoundTripsEverySizeAndPasswordAlsoInPlace) {
    // Plain size, password, encrypted size by hand (a whole last chunk gets an empty final one).
    // clang-format off
    const std::tuple<std::size_t, std::string, std::size_t> cases[] = {
        {0, "", 62}, {1, std::string(5000, 'k'), 63}, {kChunk - 1, "pw", 65597},
        {kChunk, "correct horse", 65615}, {kChunk + 1, " ", 65616},
        {3 * 1024 * 1024 + 12345, "Grüße", 3158951}};
    // clang-format on
    std::string previousSalt;
    for (const auto& [size, password, sealedSize] : cases) {
        SCOPED_TRACE(size);
        const std::string plain = RandomBytes(size, size);
        const std::string sealed = Sealed(plain, password);
        EXPECT_EQ(sealed.size(), sealedSize);
        EXPECT_EQ(sealed.substr(0, 5), std::string("TVBF\x01", 5));
        EXPECT_TRUE(plain.size() < 64 || sealed.find(plain.substr(0, 64)) == std::string::npos);
        EXPECT_NE(sealed.substr(5, 16), previousSalt) << "the salt must be random";
        previousSalt = sealed.substr(5, 16);
        const CipherResult result = Decrypt(At("sealed"), At("opened"), password);
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(home.Read("opened"), plain);
        EXPECT_EQ(home.Read("plain"), plain) << "the input must never change";
    }
    // In place, with owner-only permissions.
    const std::string plain = RandomBytes(2 * kChunk + 5);
    home.Write("in place", plain);
    CipherResult result = Encrypt(At("in place"), At("in place"), "pw");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(home.Read("in place").size(), kHeader + 2 * (kChunk + kSeal) + 5 + kSeal);
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(At("in place")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    // The plain file is shorter than the one it replaces: nothing of that may remain.
    result = Decrypt(At("in place"), At("in place"), "pw");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(home.Read("in place"), plain);
    EXPECT_EQ(NamesIn(home.Path()),
              (std::set<std::string>{"in place", "opened", "plain", "sealed"}));
}

TEST_F(BfishCipher, ReadsFilesBuiltByHandAndRefusesOtherLayoutsWrongPasswordsAndDamage) {
    const std::string plain = RandomBytes(kChunk + 10, 4);
    home.Write("by hand", BuiltByHand(plain, {{kChunk, kMessage}, {10, kFinal}}));
    CipherResult result = Decrypt(At("by hand"), At("opened"), "by hand");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(home.Read("opened"), plain);

    // bfish never writes a full-size final chunk, but reads one; nothing may follow it.
    const std::string fullFinal = BuiltByHand(plain.substr(0, kChunk), {{kChunk, kFinal}});
    home.Write("full final", fullFinal);
    result = Decrypt(At("full final"), At("opened"), "by hand");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(home.Read("opened"), plain.substr(0, kChunk));
    // What it reads is refused when damaged or laid out otherwise, the output left alone.
    const std::string longPassword(5000, 'k');
    // Three full chunks and 100 bytes.
    const std::string sealed = Sealed(RandomBytes(3 * kChunk + 100, 5));
    const std::size_t chunk = kChunk + kSeal;
    ASSERT_EQ(sealed.size(), kHeader + 3 * chunk + 100 + kSeal);
    const auto flipped = [&](std::size_t at) {
        std::string bytes = sealed;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        return bytes;
    };
    std::string swapped = sealed;
    swapped.replace(kHeader, chunk, sealed.substr(kHeader + chunk, chunk));
    swapped.replace(kHeader + chunk, chunk, sealed.substr(kHeader, chunk));
    // clang-format off
    const std::tuple<std::string, std::string, const char*> cases[] = {
        {Sealed("data", ""), " ", "wrong password"},
        {Sealed("data", longPassword), longPassword + "k", "wrong password"},
        {Sealed("data", "correct horse"), "correct", "wrong password"},
        {sealed, "pW", "wrong password"},
        {flipped(0), "pw", "not a file encrypted by bfish"}, {flipped(4), "pw", "format version 0"},
        {flipped(12), "pw", "damaged"}, /* salt */ {flipped(30), "pw", "damaged"}, // stream header
        {flipped(kHeader + chunk + 1000), "pw", "chunk 2"},
        {sealed.substr(0, sealed.size() - 5), "pw", "chunk 4"},
        {sealed.substr(0, kHeader + 3 * chunk), "pw", "final chunk is missing"},
        {sealed.substr(0, 30), "pw", "truncated"}, {sealed.substr(0, kHeader), "pw", "truncated"},
        {sealed.substr(0, 2), "pw", "not a file encrypted"}, {swapped, "pw", "damaged"},
        // The extra byte joins the final chunk, which then no longer authenticates.
        {sealed + "x", "pw", "chunk 4"},
        {"just some text, never encrypted\n", "pw", "not a file encrypted by bfish"},
        {"", "pw", "not a file encrypted by bfish"},
        {fullFinal + "x", "by hand", "follows its final chunk"},
        {BuiltByHand(plain, {{kChunk, crypto_secretstream_xchacha20poly1305_TAG_REKEY},
                             {10, kFinal}}), "by hand", "not laid out"}};
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        ExpectRefused(std::get<0>(cases[i]), std::get<1>(cases[i]), std::get<2>(cases[i]));
    }
}

TEST_F(BfishCipher, FailsCleanlyOnUnreadableInputOrUnwritableOutput) {
    home.Write("big", std::string(1 << 20, 'b'));
    home.Write("plain", "data");
    home.Write("out", "keep me");
    home.Write("taken/inside", "x");
    ASSERT_EQ(::mkdir(At("a folder").c_str(), 0700), 0);
    const std::set<std::string> names = NamesIn(home.Path());
    const std::array<std::array<const char*, 3>, 4> cases = {{
        {"missing", "out", "cannot open input"},
        {"a folder", "out", "is a folder"},
        {"plain", "no such folder/out", "temporary file"},
        {"plain", "taken", "cannot replace"}, // a folder cannot be replaced by a file
    }};
    for (const auto& [input, output, message] : cases) {
        const CipherResult result = Encrypt(At(input), At(output), "pw");
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.message.find(message), std::string::npos) << result.message;
    }
    EXPECT_FALSE(Decrypt(At("missing"), At("out"), "pw").ok);

    // A full disk: past 100000 bytes every write fails (EFBIG, as SIGXFSZ is ignored).
    rlimit normal{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &normal), 0);
    const rlimit full{100000, normal.rlim_max};
    const auto handler = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &full);
    const CipherResult result = Encrypt(At("big"), At("out"), "pw");
    ::setrlimit(RLIMIT_FSIZE, &normal);
    ::signal(SIGXFSZ, handler);
    EXPECT_NE(result.message.find("cannot write"), std::string::npos) << result.message;
    EXPECT_EQ(home.Read("out"), "keep me");
    EXPECT_EQ(home.Read("taken/inside"), "x");
    EXPECT_EQ(NamesIn(home.Path()), names);
}

} // namespace
} // namespace bfish
