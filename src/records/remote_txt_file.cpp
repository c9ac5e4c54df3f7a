#include "records/remote_txt_file.h"

#include "records/url_escape.h"

namespace trident {

RemoteTxtFileFields::RemoteTxtFileFields(std::optional<std::string> infoNameStr,
                                         std::optional<std::string> versionStr,
                                         std::optional<std::string> checkSumStr,
                                         std::optional<std::string> hexFileUrlStr)
    : infoNameStr_(std::move(infoNameStr)),
      versionStr_(std::move(versionStr)),
      checkSumStr_(std::move(checkSumStr)),
      hexFileUrlStr_(std::move(hexFileUrlStr)) {}

RemoteTxtFileModel::RemoteTxtFileModel(std::optional<std::string> infoNameStr,
                                       std::optional<std::string> versionStr,
                                       std::optional<std::string> checkSumStr,
                                       std::optional<std::string> hexFileUrlStr)
    : RemoteTxtFileFields(std::move(infoNameStr), std::move(versionStr), std::move(checkSumStr),
                          std::move(hexFileUrlStr)) {}

RemoteTxtFileViewModel::RemoteTxtFileViewModel(const RemoteTxtFileModel& model,
                                               std::string_view ftpRootUrlStr,
                                               Diagnostics& diagnostics)
    : RemoteTxtFileFields(model.infoNameStr(), model.versionStr(), model.checkSumStr(),
                          model.hexFileUrlStr()) {
  // No "/" goes between base and path: the path brings its own. The base is not escaped; it is
  // our own constant, not server data.
  std::optional<std::string> ftpTxtUrlStr;
  if (hexFileUrlStr()) {
    ftpTxtUrlStr = std::string(ftpRootUrlStr) + legacyPercentEscape(*hexFileUrlStr());
  }
  diagnostics.systemLog(std::string("initWithMode ftpTxtUrlStr = ").append(orNull(ftpTxtUrlStr)));
  if (ftpTxtUrlStr && isAbsoluteUrl(*ftpTxtUrlStr)) aHexUrl_ = std::move(ftpTxtUrlStr);
}

}  // namespace trident
