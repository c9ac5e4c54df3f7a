#include "update/release_signature.h"

#include <sodium.h>

#include <cstring>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_reading.h"
#include "records/split.h"

namespace trident {

namespace {

// libsodium picks its implementations once; each entry point makes sure of that first.
bool sodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// Base64 as minisign writes it (standard alphabet, padded), the whole text or nothing.
std::optional<std::vector<uint8_t>> fromBase64(std::string_view text) {
  if (!sodiumReady()) return std::nullopt;
  std::vector<uint8_t> bytes(text.size() / 4 * 3 + 3);
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

template <size_t N>
void take(std::array<uint8_t, N>& into, const std::vector<uint8_t>& from, size_t at) {
  std::memcpy(into.data(), from.data() + at, N);
}

std::string_view withoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// A key pasted from a web page or a mail may bring blanks after it.
std::string_view withoutTrailingBlanks(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
    line.remove_suffix(1);
  return line;
}

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";

}  // namespace

std::optional<ReleaseKey> readReleaseKey(std::string_view text, Error& why) {
  // A .pub file: its comment line, then the key; a bare key: the key alone.
  std::vector<std::string> lines = splitBy(text, '\n');
  while (!lines.empty() && withoutTrailingBlanks(lines.back()).empty())
    lines.pop_back();
  const bool file = lines.size() == 2 && lines[0].starts_with(kUntrusted);
  if (lines.size() != 1 && !file) {
    why = {"not a minisign public key", std::nullopt};
    return std::nullopt;
  }
  const auto bytes = fromBase64(withoutTrailingBlanks(lines.back()));
  if (!bytes || bytes->size() != 42 || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
    why = {"not a minisign public key", static_cast<int32_t>(lines.size())};
    return std::nullopt;
  }
  ReleaseKey key;
  take(key.id, *bytes, 2);
  take(key.key, *bytes, 10);
  return key;
}

std::optional<ReleaseKey> builtInReleaseKey() {
  Error ignored;  // the build refuses a key that is not one
  const std::string_view key = TRIDENT_RELEASE_KEY;
  return key.empty() ? std::nullopt : readReleaseKey(key, ignored);
}

std::optional<ReleaseKey> releaseKeyFrom(std::string_view keyOrPath, Error& why) {
  if (auto key = readReleaseKey(keyOrPath, why)) return key;
  // Not a key: the name of a file holding one. A .pub file is two short lines.
  const std::filesystem::path path{std::string(keyOrPath)};
  const WholeFile file = readWholeFile(path, 4096, std::chrono::seconds(2), [] { return false; });
  if (file.failure) {
    const std::string reason = file.reason.empty() ? std::string("cannot be read") : file.reason;
    why = {joined({"neither a minisign public key nor a file holding one (", keyOrPath, ": ",
                   reason, ")"}),
           std::nullopt};
    return std::nullopt;
  }
  auto key = readReleaseKey(file.bytes, why);
  if (!key) why.reason = joined({keyOrPath, " holds no minisign public key"});
  return key;
}

TrustedKey trustedReleaseKey(const std::optional<std::string>& option) {
  if (!option) return {builtInReleaseKey(), std::nullopt};
  Error why;
  auto key = releaseKeyFrom(*option, why);
  if (!key) return {std::nullopt, "--release-key: " + why.reason};
  return {key, std::nullopt};
}

std::string keyIdText(const std::array<uint8_t, 8>& id) {
  // minisign stores the id little-endian and shows it as a number, without leading zeros: the id
  // we show must be the one its user sees.
  unsigned long long number = 0;
  for (auto byte = id.rbegin(); byte != id.rend(); ++byte)
    number = number << 8 | *byte;
  return strprintf("%llX", number);
}

std::optional<ReleaseSignature> readReleaseSignature(std::string_view text, Error& why) {
  std::vector<std::string> lines = splitBy(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  const auto fail = [&](const char* reason, int32_t line) {
    why = {reason, line};
    return std::nullopt;
  };
  if (lines.size() != 4) return fail("a signature file has four lines", 1);
  if (!lines[0].starts_with(kUntrusted)) return fail("no untrusted comment", 1);
  const auto signature = fromBase64(withoutLineEnd(lines[1]));
  if (!signature || signature->size() != 74) return fail("malformed signature", 2);
  const std::string_view algorithm(reinterpret_cast<const char*>(signature->data()), 2);
  if (algorithm != "ED" && algorithm != "Ed") return fail("unknown signature algorithm", 2);
  const std::string_view comment = withoutLineEnd(lines[2]);
  if (!comment.starts_with(kTrusted)) return fail("no trusted comment", 3);
  const auto global = fromBase64(withoutLineEnd(lines[3]));
  if (!global || global->size() != 64) return fail("malformed global signature", 4);
  ReleaseSignature read;
  read.prehashed = algorithm == "ED";
  take(read.keyId, *signature, 2);
  take(read.signature, *signature, 10);
  read.trustedComment = std::string(comment.substr(kTrusted.size()));
  take(read.globalSignature, *global, 0);
  return read;
}

std::optional<std::string> signatureRefusal(const ReleaseKey& key,
                                            const ReleaseSignature& signature,
                                            std::string_view message) {
  if (!sodiumReady()) return "the signature library did not start";
  if (signature.keyId != key.id) {
    return joined(
        {"signed by another key (", keyIdText(signature.keyId), ", not ", keyIdText(key.id), ")"});
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  std::array<uint8_t, crypto_generichash_BYTES_MAX> hash{};
  if (signature.prehashed) {
    crypto_generichash(hash.data(), hash.size(), bytes, message.size(), nullptr, 0);
    bytes = hash.data();
  }
  const size_t length = signature.prehashed ? hash.size() : message.size();
  if (crypto_sign_verify_detached(signature.signature.data(), bytes, length, key.key.data()) != 0)
    return "bad signature";
  // The trusted comment is signed together with the signature it follows.
  std::string global(signature.signature.begin(), signature.signature.end());
  global += signature.trustedComment;
  if (crypto_sign_verify_detached(signature.globalSignature.data(),
                                  reinterpret_cast<const unsigned char*>(global.data()),
                                  global.size(), key.key.data()) != 0)
    return "bad trusted comment";
  return std::nullopt;
}

SignatureCheck checkReleaseSignature(const ReleaseKey& key, std::string_view signatureFile,
                                     std::string_view message, std::string_view fileName) {
  Error why;
  const auto signature = readReleaseSignature(signatureFile, why);
  if (!signature) {
    return {strprintf("the signature file is malformed: %s at line %d", why.reason.c_str(),
                      why.line.value_or(1)),
            {}};
  }
  SignatureCheck check{signatureRefusal(key, *signature, message), signature->trustedComment};
  // The name as a word of its own: after a separator, before a blank or the end.
  const std::string_view comment = check.trustedComment;
  bool named = false;
  for (size_t at = comment.find(fileName); !fileName.empty() && at != std::string_view::npos;
       at = comment.find(fileName, at + 1)) {
    const size_t end = at + fileName.size();
    named =
        named ||
        ((at == 0 || std::string_view(" \t:/").find(comment[at - 1]) != std::string_view::npos) &&
         (end == comment.size() || comment[end] == ' ' || comment[end] == '\t'));
  }
  if (!check.refusal && !named) {
    check.refusal = joined(
        {"its trusted comment does not name ", fileName, ": it was signed for another file"});
  }
  return check;
}

std::string sha256Hex(std::string_view bytes) {
  sodiumReady();
  std::array<uint8_t, crypto_hash_sha256_BYTES> hash{};
  crypto_hash_sha256(hash.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                     bytes.size());
  std::string hex(hash.size() * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), hash.data(), hash.size());
  hex.pop_back();
  return hex;
}

}  // namespace trident
