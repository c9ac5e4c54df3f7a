#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/diagnostics.h"

namespace trident {

// The four text fields of a release line, exactly as the line gave them: nothing is trimmed or
// checked here, because accepting a release is the fetch's decision, made after the record exists.
class RemoteTxtFileFields {
 public:
  const std::optional<std::string>& infoNameStr() const { return infoNameStr_; }
  const std::optional<std::string>& versionStr() const { return versionStr_; }
  const std::optional<std::string>& checkSumStr() const { return checkSumStr_; }
  // Server path of the firmware image; it carries its own leading "/".
  const std::optional<std::string>& hexFileUrlStr() const { return hexFileUrlStr_; }

  void setInfoNameStr(std::optional<std::string> value) { infoNameStr_ = std::move(value); }
  void setVersionStr(std::optional<std::string> value) { versionStr_ = std::move(value); }
  void setCheckSumStr(std::optional<std::string> value) { checkSumStr_ = std::move(value); }
  void setHexFileUrlStr(std::optional<std::string> value) { hexFileUrlStr_ = std::move(value); }

 protected:
  RemoteTxtFileFields() = default;
  RemoteTxtFileFields(std::optional<std::string> infoNameStr, std::optional<std::string> versionStr,
                      std::optional<std::string> checkSumStr,
                      std::optional<std::string> hexFileUrlStr);

 private:
  std::optional<std::string> infoNameStr_;
  std::optional<std::string> versionStr_;
  std::optional<std::string> checkSumStr_;
  std::optional<std::string> hexFileUrlStr_;
};

// One release line as read from the release-description file (name, version, checksum, path).
class RemoteTxtFileModel : public RemoteTxtFileFields {
 public:
  // initWithInfoNameStr:versionStr:checkSumStr:hexFileUrlStr:
  RemoteTxtFileModel(std::optional<std::string> infoNameStr, std::optional<std::string> versionStr,
                     std::optional<std::string> checkSumStr,
                     std::optional<std::string> hexFileUrlStr);
};

// The release the window offers: the model's fields plus aHexUrl, the firmware image's full URL,
// ready for the download. It copies the model and keeps no link to it.
class RemoteTxtFileViewModel : public RemoteTxtFileFields {
 public:
  // initWithMode: — ftpRootUrlStr is the update server's base URL (scheme and host, no trailing
  // "/"); it is put in front of the escaped image path as it stands.
  RemoteTxtFileViewModel(const RemoteTxtFileModel& model, std::string_view ftpRootUrlStr,
                         Diagnostics& diagnostics);

  // Absent when the model has no image path, or when the base URL and path together do not make
  // an absolute URL; the download then fails with a reason instead of requesting garbage.
  const std::optional<std::string>& aHexUrl() const { return aHexUrl_; }
  void setAHexUrl(std::optional<std::string> value) { aHexUrl_ = std::move(value); }
  // The SHA-256 the firmware file must have (64 lower-case hex digits), when the release line
  // binds it with a fifth field "sha256:..."; absent otherwise.
  const std::optional<std::string>& firmwareSha256() const { return firmwareSha256_; }
  void setFirmwareSha256(std::optional<std::string> value) { firmwareSha256_ = std::move(value); }

 private:
  std::optional<std::string> aHexUrl_;
  std::optional<std::string> firmwareSha256_;
};

}  // namespace trident
