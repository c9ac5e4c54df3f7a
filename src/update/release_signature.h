#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace trident {

// A publisher's public key as minisign writes it: the key id and the Ed25519 key.
struct ReleaseKey {
  std::array<uint8_t, 8> id{};
  std::array<uint8_t, 32> key{};
};

// A detached signature as minisign writes it (NAME.minisig): the algorithm ("ED" signs the
// file's BLAKE2b-512 hash, "Ed" the file itself), the signing key's id, the signature, and the
// trusted comment with the global signature that binds it to the signature.
struct ReleaseSignature {
  bool prehashed = true;
  std::array<uint8_t, 8> keyId{};
  std::array<uint8_t, 64> signature{};
  std::string trustedComment;
  std::array<uint8_t, 64> globalSignature{};
};

// Reads a key from the base64 line of a minisign public key, or from a whole .pub file. Sets
// `why` and returns nothing when it is not one.
std::optional<ReleaseKey> readReleaseKey(std::string_view text, Error& why);

// The key this build trusts (TRIDENT_RELEASE_KEY); none when it was built without one.
std::optional<ReleaseKey> builtInReleaseKey();

// A key given on the command line: the base64 line of a minisign public key, or the path of a
// .pub file. Sets `why` and returns nothing when it is neither.
std::optional<ReleaseKey> releaseKeyFrom(std::string_view keyOrPath, Error& why);

// The key a program trusts: the one its --release-key option names, else the built-in one. With
// `error`, the option named no key.
struct TrustedKey {
  std::optional<ReleaseKey> key;
  std::optional<std::string> error;
};
TrustedKey trustedReleaseKey(const std::optional<std::string>& option);

// A key id as minisign shows it: upper-case hex digits, most significant first, no leading zeros.
std::string keyIdText(const std::array<uint8_t, 8>& id);

// Reads a signature file; sets `why` (with the line) and returns nothing when it is malformed.
std::optional<ReleaseSignature> readReleaseSignature(std::string_view text, Error& why);

// Whether `signature` is `key`'s over `message`, trusted comment included; the reason when not
// ("signed by another key (...)", "bad signature", "bad trusted comment").
std::optional<std::string> signatureRefusal(const ReleaseKey& key,
                                            const ReleaseSignature& signature,
                                            std::string_view message);

// The whole check of a release description against its signature file: the signature's trusted
// comment when `key` signed exactly `message` for the file `fileName`, else why not, in words for
// the log. The trusted comment must name that file (minisign's own says "file:NAME", sign-release
// gives its path), so that a release signed for one variant cannot be served as another's.
struct SignatureCheck {
  std::optional<std::string> refusal;
  std::string trustedComment;
};
SignatureCheck checkReleaseSignature(const ReleaseKey& key, std::string_view signatureFile,
                                     std::string_view message, std::string_view fileName);

// The SHA-256 of `bytes` in 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace trident
