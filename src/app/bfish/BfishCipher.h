#pragma once

// File encryption of the bfish tool: password-based, streamed in chunks, and never leaving a
// half-written or unauthenticated output behind.
//
// File layout (format version 1):
//   offset  0  4 bytes  magic "TVBF"
//   offset  4  1 byte   format version (1)
//   offset  5 16 bytes  Argon2id salt, random per file
//   offset 21 24 bytes  secretstream (XChaCha20-Poly1305) header
//   offset 45 ...       chunks: every plaintext chunk of kChunkSize bytes becomes
//                       kChunkSize + 17 bytes tagged MESSAGE; the last chunk holds the
//                       remaining 0..kChunkSize-1 bytes and is tagged FINAL. A file whose
//                       length is a multiple of kChunkSize therefore ends with an empty
//                       FINAL chunk. The first 21 bytes are bound to every chunk as
//                       additional data.
// The key is crypto_pwhash (Argon2id 1.3, interactive limits) of the password and the salt.

#include <cstddef>
#include <cstdint>
#include <string>

namespace bfish {

inline constexpr char kMagic[4] = {'T', 'V', 'B', 'F'};
inline constexpr std::uint8_t kFormatVersion = 1;
inline constexpr std::size_t kChunkSize = 64 * 1024;

struct CipherResult {
    bool ok = false;
    std::string message; // one line, for the user, when !ok
};

// Encrypts the file `input` into `output`. `output` is replaced atomically once complete;
// on failure it is left exactly as it was. `input` may name the same file as `output`.
CipherResult Encrypt(const std::string& input, const std::string& output,
                     const std::string& password);

// Decrypts `input` into `output`; every chunk is authenticated and the FINAL chunk must be
// present before `output` is touched.
CipherResult Decrypt(const std::string& input, const std::string& output,
                     const std::string& password);

} // namespace bfish
