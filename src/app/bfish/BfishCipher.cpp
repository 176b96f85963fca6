#include "app/bfish/BfishCipher.h"

#include "platform/UniqueFd.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace bfish {
namespace {

constexpr std::size_t kMagicBytes = sizeof(kMagic);
constexpr std::size_t kSaltBytes = crypto_pwhash_SALTBYTES;
constexpr std::size_t kPrefixBytes = kMagicBytes + 1 + kSaltBytes;
constexpr std::size_t kStreamHeaderBytes = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr std::size_t kFileHeaderBytes = kPrefixBytes + kStreamHeaderBytes;
constexpr std::size_t kSealBytes = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr std::size_t kSealedChunkSize = kChunkSize + kSealBytes;
constexpr std::size_t kKeyBytes = crypto_secretstream_xchacha20poly1305_KEYBYTES;

// The layout written by format version 1 must never drift with the library.
static_assert(kSaltBytes == 16 && kStreamHeaderBytes == 24 && kSealBytes == 17 && kKeyBytes == 32);

// Version 1 fixes the cost of the key derivation: libsodium's interactive limits of 1.0.18.
constexpr unsigned long long kOpsLimit = 2;
constexpr std::size_t kMemLimit = 64 * 1024 * 1024;
static_assert(kOpsLimit == crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE);
static_assert(kMemLimit == crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE);

CipherResult Fail(std::string message) {
    return CipherResult{false, std::move(message)};
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Key material never outlives its use.
struct SecretKey {
    std::array<unsigned char, kKeyBytes> bytes{};
    SecretKey() = default;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey() { sodium_memzero(bytes.data(), bytes.size()); }
};

struct StreamState {
    crypto_secretstream_xchacha20poly1305_state state{};
    StreamState() = default;
    StreamState(const StreamState&) = delete;
    StreamState& operator=(const StreamState&) = delete;
    ~StreamState() { sodium_memzero(&state, sizeof(state)); }
};

// A buffer that may hold plaintext: wiped when done.
class Buffer {
public:
    explicit Buffer(std::size_t size) : bytes_(size) {}
    ~Buffer() { sodium_memzero(bytes_.data(), bytes_.size()); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    unsigned char* Data() { return bytes_.data(); }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::vector<unsigned char> bytes_;
};

bool InitSodium() {
    return sodium_init() >= 0;
}

bool OpenInput(const std::string& path, UniqueFd& fd, std::string& error) {
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        error = "cannot open input " + Quoted(path) + ": " + ErrnoText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = "cannot read input " + Quoted(path) + ": " + ErrnoText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "input " + Quoted(path) + " is a folder, not a file";
        return false;
    }
    return true;
}

std::string ReadError(const std::string& path) {
    return "cannot read input " + Quoted(path) + ": " + ErrnoText(errno);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

// The result is built in a temporary file beside the output and renamed onto it only when
// complete, so the output is either the old file or the whole new one, never a part.
class PendingOutput {
public:
    explicit PendingOutput(std::string output)
        : output_(std::move(output)), folder_(FolderOf(output_)) {}
    ~PendingOutput() {
        if (!committed_ && !tempPath_.empty()) {
            fd_.reset();
            ::unlink(tempPath_.c_str());
        }
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    bool Open(std::string& error) {
        std::string pattern = folder_ + "/.bfish-XXXXXX";
        fd_ = UniqueFd(::mkostemp(pattern.data(), O_CLOEXEC)); // creates with mode 0600
        if (!fd_.valid()) {
            error =
                "cannot create a temporary file in " + Quoted(folder_) + ": " + ErrnoText(errno);
            return false;
        }
        tempPath_ = pattern;
        return true;
    }

    bool Write(const unsigned char* data, std::size_t size, std::string& error) {
        if (!WriteAll(fd_.get(), data, size)) {
            error = WriteError();
            return false;
        }
        return true;
    }

    bool Commit(std::string& error) {
        if (::fsync(fd_.get()) != 0) {
            error = WriteError();
            return false;
        }
        // close() can be the first to report a failed write on network file systems.
        if (::close(fd_.release()) != 0) {
            error = WriteError();
            return false;
        }
        if (::rename(tempPath_.c_str(), output_.c_str()) != 0) {
            error = "cannot replace " + Quoted(output_) + ": " + ErrnoText(errno);
            return false;
        }
        committed_ = true;
        SyncFolder();
        return true;
    }

private:
    std::string WriteError() const {
        return "cannot write " + Quoted(output_) + ": " + ErrnoText(errno);
    }

    // Makes the rename durable; the output is already complete, so failure here is not one.
    void SyncFolder() const {
        UniqueFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.valid()) {
            ::fsync(folder.get());
        }
    }

    std::string output_;
    std::string folder_;
    std::string tempPath_;
    UniqueFd fd_;
    bool committed_ = false;
};

bool DeriveKey(const std::string& password, const unsigned char* salt, SecretKey& key) {
    return crypto_pwhash(key.bytes.data(), key.bytes.size(), password.data(), password.size(), salt,
                         kOpsLimit, kMemLimit, crypto_pwhash_ALG_ARGON2ID13) == 0;
}

const char* const kKeyError = "not enough memory to derive the key from the password";

} // namespace

CipherResult Encrypt(const std::string& input, const std::string& output,
                     const std::string& password) {
    if (!InitSodium()) {
        return Fail("the cryptography library cannot be initialised");
    }
    std::string error;
    UniqueFd in;
    if (!OpenInput(input, in, error)) {
        return Fail(error);
    }

    std::array<unsigned char, kFileHeaderBytes> header{};
    std::memcpy(header.data(), kMagic, kMagicBytes);
    header[kMagicBytes] = kFormatVersion;
    unsigned char* salt = header.data() + kMagicBytes + 1;
    randombytes_buf(salt, kSaltBytes);

    SecretKey key;
    if (!DeriveKey(password, salt, key)) {
        return Fail(kKeyError);
    }
    StreamState stream;
    crypto_secretstream_xchacha20poly1305_init_push(&stream.state, header.data() + kPrefixBytes,
                                                    key.bytes.data());

    PendingOutput out(output);
    if (!out.Open(error) || !out.Write(header.data(), header.size(), error)) {
        return Fail(error);
    }
    Buffer plain(kChunkSize);
    Buffer sealed(kSealedChunkSize);
    for (;;) {
        const std::int64_t got = ReadFull(in.get(), plain.Data(), kChunkSize);
        if (got < 0) {
            return Fail(ReadError(input));
        }
        // A short read is the end of the input; a full chunk may be followed by more, so a
        // file that ends on a chunk boundary gets an empty final chunk.
        const bool last = static_cast<std::size_t>(got) < kChunkSize;
        const unsigned char tag = last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                                       : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE;
        unsigned long long sealedSize = 0;
        crypto_secretstream_xchacha20poly1305_push(
            &stream.state, sealed.Data(), &sealedSize, plain.Data(),
            static_cast<unsigned long long>(got), header.data(), kPrefixBytes, tag);
        if (!out.Write(sealed.Data(), static_cast<std::size_t>(sealedSize), error)) {
            return Fail(error);
        }
        if (last) {
            break;
        }
    }
    if (!out.Commit(error)) {
        return Fail(error);
    }
    return CipherResult{true, {}};
}

CipherResult Decrypt(const std::string& input, const std::string& output,
                     const std::string& password) {
    if (!InitSodium()) {
        return Fail("the cryptography library cannot be initialised");
    }
    std::string error;
    UniqueFd in;
    if (!OpenInput(input, in, error)) {
        return Fail(error);
    }

    std::array<unsigned char, kFileHeaderBytes> header{};
    const std::int64_t headerSize = ReadFull(in.get(), header.data(), header.size());
    if (headerSize < 0) {
        return Fail(ReadError(input));
    }
    if (headerSize < static_cast<std::int64_t>(kMagicBytes) ||
        std::memcmp(header.data(), kMagic, kMagicBytes) != 0) {
        return Fail(Quoted(input) + " is not a file encrypted by bfish");
    }
    if (headerSize > static_cast<std::int64_t>(kMagicBytes) &&
        header[kMagicBytes] != kFormatVersion) {
        return Fail(Quoted(input) + " uses format version " + std::to_string(header[kMagicBytes]) +
                    ", which this bfish cannot read");
    }
    if (headerSize < static_cast<std::int64_t>(kFileHeaderBytes)) {
        return Fail(Quoted(input) + " is truncated (its header is incomplete)");
    }

    SecretKey key;
    if (!DeriveKey(password, header.data() + kMagicBytes + 1, key)) {
        return Fail(kKeyError);
    }
    StreamState stream;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&stream.state, header.data() + kPrefixBytes,
                                                        key.bytes.data()) != 0) {
        return Fail(Quoted(input) + " is damaged (invalid stream header)");
    }

    PendingOutput out(output);
    if (!out.Open(error)) {
        return Fail(error);
    }
    Buffer sealed(kSealedChunkSize);
    Buffer plain(kChunkSize);
    for (std::int64_t chunk = 0;; ++chunk) {
        const std::int64_t got = ReadFull(in.get(), sealed.Data(), kSealedChunkSize);
        if (got < 0) {
            return Fail(ReadError(input));
        }
        if (got == 0) {
            return Fail(Quoted(input) + " is truncated (its final chunk is missing)");
        }
        unsigned long long plainSize = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(
                &stream.state, plain.Data(), &plainSize, &tag, sealed.Data(),
                static_cast<unsigned long long>(got), header.data(), kPrefixBytes) != 0) {
            // A wrong key fails at once; a later chunk fails only if the file was altered.
            if (chunk == 0) {
                return Fail("wrong password, or " + Quoted(input) + " is damaged");
            }
            return Fail(Quoted(input) + " is damaged or truncated (chunk " +
                        std::to_string(chunk + 1) + " fails authentication)");
        }
        const bool last = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
        if (!last && (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE ||
                      static_cast<std::size_t>(got) != kSealedChunkSize)) {
            return Fail(Quoted(input) + " is not laid out as bfish writes its files");
        }
        if (!out.Write(plain.Data(), static_cast<std::size_t>(plainSize), error)) {
            return Fail(error);
        }
        if (last) {
            break;
        }
    }
    unsigned char extra = 0;
    const std::int64_t trailing = ReadFull(in.get(), &extra, 1);
    if (trailing < 0) {
        return Fail(ReadError(input));
    }
    if (trailing > 0) {
        return Fail(Quoted(input) + " is damaged (data follows its final chunk)");
    }
    if (!out.Commit(error)) {
        return Fail(error);
    }
    return CipherResult{true, {}};
}

} // namespace bfish
