// Release signatures as the publisher makes them: keys and signatures from the real minisign
// program, checked by the product's reader and verifier.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "update/release_signature.h"

namespace trident {
namespace {

TEST(ReleaseSignature, OnlyThePublishersSignatureOverTheExactTextPasses) {
  testing::TempDir dir;
  // minisign in `dir`: "-G NAME" makes a key pair without a password, "-S NAME FILE" signs.
  const auto minisign = [&](const std::string& verb, const std::string& name,
                            const std::string& file = "", const std::string& legacy = "") {
    const std::string pub = (dir / (name + ".pub")).string(),
                      key = (dir / (name + ".key")).string();
    const std::string m = (dir / file).string();
    EXPECT_EQ(
        testing::runCommand("minisign " + verb + " -f -W -p " + pub + " -s " + key + " -m " + m +
                            " -x " + m + ".sig " + legacy + " >/dev/null 2>&1 </dev/null"),
        0);
    return testing::readFile(verb == "-G" ? pub : m + ".sig");
  };
  const std::string pub = minisign("-G", "publisher");
  minisign("-G", "other");
  const std::string release = "TRIDENT,V2.1.0,0x4908,/fw.hex\n";
  testing::writeFile(dir / "release.txt", release);
  testing::writeFile(dir / "other.txt", std::string("TRIDENT,V0.1,0x4908,/fw.hex\n"));
  Error why;
  const auto key = readReleaseKey(pub, why);
  ASSERT_TRUE(key && readReleaseKey(pub.substr(pub.find('\n') + 1), why)) << why.reason;
  for (const std::string& bad : std::vector<std::string>{"", "RWQ=", pub + pub, "zz" + pub})
    EXPECT_FALSE(readReleaseKey(bad, why)) << bad;
  const std::string hashed = minisign("-S", "publisher", "release.txt");
  const size_t line2 = hashed.find('\n') + 1, line3 = hashed.find('\n', line2) + 1,
               line4 = hashed.find('\n', line3) + 1;
  const auto replaced = [&](size_t at, size_t count, const std::string& with) {
    return std::string(hashed).replace(at, count, with);
  };
  const std::pair<std::string, std::string> cases[] = {
      {hashed, ""},
      {minisign("-S", "publisher", "release.txt", "-l"), ""},  // the legacy algorithm
      {minisign("-S", "publisher", "other.txt"), "bad signature"},
      {minisign("-S", "other", "release.txt"), "signed by another key"},
      {replaced(line4 - 1, 0, "x"), "bad trusted comment"},
      {"", "a signature file has four lines"},
      {hashed.substr(0, line3), "a signature file has four lines"},
      {replaced(line2, line3 - line2 - 1, "@@not base64@@"), "malformed signature"},
      {replaced(line2, 2, "RV"), "unknown signature algorithm"},  // "RU" is "ED", "RV" "ET"
      {replaced(line3, 8, ""), "no trusted comment"},
      {replaced(line4, 4, ""), "malformed global signature"}};
  for (const auto& [signature, refusal] : cases) {
    const auto read = readReleaseSignature(signature, why);
    EXPECT_EQ(read ? signatureRefusal(*key, *read, release).value_or("") : why.reason, refusal)
        << signature;
  }
  EXPECT_EQ(
      signatureRefusal(*key, *readReleaseSignature(hashed, why), "TRIDENT,V9,0x4908,/fw.hex\n"),
      "bad signature");  // the text changed after signing
  // The firmware's hash, as sha256sum writes it.
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace trident
