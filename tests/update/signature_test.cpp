// Release signatures as the publisher makes them: keys and signatures from the real minisign
// program, checked by the product's reader and verifier.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "update/release_signature.h"

namespace trident {
namespace {

TEST(ReleaseSignature, KeysAndKeyIdsAreReadAsMinisignWritesThem) {
  testing::TempDir dir;
  const testing::Minisign minisign{dir.path()};
  const std::string pub = minisign.makeKey("publisher");
  Error why;
  const auto other = readReleaseKey(minisign.makeKey("other"), why);
  const auto key = readReleaseKey(pub, why);
  ASSERT_TRUE(key && readReleaseKey(pub.substr(pub.find('\n') + 1), why)) << why.reason;
  EXPECT_NE(pub.find("public key " + keyIdText(key->id) + "\n"), std::string::npos) << pub;
  for (const std::string& bad : std::vector<std::string>{"", "RWQ=", pub + pub, "zz" + pub})
    EXPECT_FALSE(readReleaseKey(bad, why)) << bad;
  // A signature by another key names both ids (the client's tests give every other reason, each
  // with a signature file that earns it).
  testing::writeFile(dir / "release.txt", std::string("TRIDENT,V2.1.0,0x4908,/fw.hex\n"));
  const auto signature = readReleaseSignature(minisign.sign("other", dir / "release.txt"), why);
  ASSERT_TRUE(signature && other) << why.reason;
  EXPECT_EQ(signatureRefusal(*key, *signature, "TRIDENT,V2.1.0,0x4908,/fw.hex\n"),
            "signed by another key (" + keyIdText(other->id) + ", not " + keyIdText(key->id) + ")");
  EXPECT_EQ(signatureRefusal(*other, *signature, "TRIDENT,V2.1.0,0x4908,/fw.hex\n"), std::nullopt);
  // The firmware's hash, as sha256sum writes it.
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace trident
