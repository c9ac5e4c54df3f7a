#include "records/parse_line.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "records/checksum_text.h"
#include "records/split.h"

namespace trident {

// Where a layout finds its fields, how many it needs, and what it says when it cannot read a line.
// The messages are the ones our support staff grep the logs for, so they stay word for word,
// including the ones that name another routine.
struct ParseLineViewModel::Layout {
  std::size_t minimumFields;
  std::size_t nameField;
  std::size_t versionField;
  std::size_t checkSumField;
  std::size_t aPathField;
  std::optional<std::size_t> bPathField;
  std::string_view absentLineMessage;
  std::string_view startMessagePrefix;
  std::string_view tooFewFieldsMessage;
};

namespace {

using Layout = ParseLineViewModel::Layout;

constexpr std::string_view kParseLineStart = "DEBUG: [Download] parseLine = ";

constexpr Layout kSingle{
    .minimumFields = 4,
    .nameField = 0,
    .versionField = 1,
    .checkSumField = 2,
    .aPathField = 3,
    .bPathField = std::nullopt,
    .absentLineMessage = "DEBUG: parseLineAB [Download] Parse parseLineSingle error",
    .startMessagePrefix = kParseLineStart,
    .tooFewFieldsMessage = "DEBUG: [Download] ftpInfoTextAry.count < 4"};

constexpr Layout kSingleTE{
    .minimumFields = 5,
    .nameField = 0,
    .versionField = 2,
    .checkSumField = 3,
    .aPathField = 4,
    .bPathField = std::nullopt,
    .absentLineMessage = "DEBUG: parseLineAB [Download] Parse parseLineSingle_TE error",
    .startMessagePrefix = "DEBUG: [Download] parseLineSingle_TE = ",
    .tooFewFieldsMessage = "DEBUG: [Download] ftpInfoTextAry.count < 5"};

constexpr Layout kAB{.minimumFields = 5,
                     .nameField = 0,
                     .versionField = 1,
                     .checkSumField = 2,
                     .aPathField = 3,
                     .bPathField = 4,
                     .absentLineMessage = "DEBUG: parseLineAB [Download] Parse line error",
                     .startMessagePrefix = kParseLineStart,
                     .tooFewFieldsMessage = "DEBUG: [Download] ftpInfoTextAry.count < 5"};

// The two-image TE layout never had a short-line message of its own; this one follows the others.
constexpr Layout kABTE{.minimumFields = 6,
                       .nameField = 0,
                       .versionField = 2,
                       .checkSumField = 3,
                       .aPathField = 4,
                       .bPathField = 5,
                       .absentLineMessage = "DEBUG: parseLineAB_TE [Download] Parse line error",
                       .startMessagePrefix = kParseLineStart,
                       .tooFewFieldsMessage = "DEBUG: [Download] ftpInfoTextAry.count < 6"};

constexpr Layout kThistle{
    .minimumFields = 5,
    .nameField = 1,
    .versionField = 2,
    .checkSumField = 3,
    .aPathField = 4,
    .bPathField = std::nullopt,
    .absentLineMessage = "DEBUG: parseThistle [Download] Parse parseLineSingle error",
    .startMessagePrefix = kParseLineStart,
    .tooFewFieldsMessage = "DEBUG: [Download] parseThistle.count < 5"};

// Families that share a layout also share one log label; the rest log their own name.
constexpr std::string_view kGroupLabel1 =
    "ParseTyep_Alder || ParseTyep_Maple_Wheel || ParseTyep_RedCedar || ParseTyep_Oak || "
    "ParseTyep_Linden";
constexpr std::string_view kGroupLabel2 = "ParseTyep_Alder_TE || ParseTyep_RedCedar_TE";
constexpr std::string_view kGroupLabel3 =
    "ParseTyep_Birch_Old || ParseTyep_Rowan || ParseTyep_juniper";

struct Dispatch {
  std::string_view label;
  const Layout* layout;
};

// Indexed by ParseTyep value.
constexpr std::array<Dispatch, kParseTyepCount> kDispatch{{
    {kGroupLabel1, &kAB},    // Alder
    {kGroupLabel2, &kABTE},  // Alder_TE
    {"ParseTyep_Alder_Wheel", &kAB},
    {kGroupLabel3, &kSingle},  // Birch_Old
    {"ParseTyep_Cedar", &kAB},
    {"ParseTyep_Cedar_TE", &kABTE},
    {"ParseTyep_Cedar_Wheel", &kAB},
    {"ParseTyep_Hazel", &kSingle},
    {"ParseTyep_Hazel_TE", &kSingleTE},
    {"ParseTyep_Larch", &kAB},
    {"ParseTyep_Willow", &kSingle},
    {"ParseTyep_Hawthorn", &kSingle},
    {"ParseTyep_Maple", &kAB},
    {"ParseTyep_Maple_TE", &kABTE},
    {kGroupLabel1, &kAB},      // Maple_Wheel
    {kGroupLabel1, &kAB},      // RedCedar
    {kGroupLabel2, &kABTE},    // RedCedar_TE
    {kGroupLabel1, &kAB},      // Oak
    {kGroupLabel1, &kAB},      // Linden
    {kGroupLabel3, &kSingle},  // Rowan
    {"ParseTyep_Thistle", &kThistle},
    {kGroupLabel3, &kSingle},  // juniper
    {kGroupLabel1, &kAB},      // Poplar
    {kGroupLabel2, &kABTE},    // Poplar_TE
}};

std::string withoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

}  // namespace

ParseLineModel::ParseLineModel(std::optional<std::string> parseLine, std::int64_t parseType)
    : parseLine_(std::move(parseLine)), parseType_(parseType) {}

ParseLineViewModel::ParseLineViewModel(const ParseLineModel& model, std::string ftpRootUrlStr,
                                       Diagnostics& diagnostics)
    : parseLine_(model.parseLine()),
      parseType_(model.parseType()),
      ftpRootUrlStr_(std::move(ftpRootUrlStr)),
      diagnostics_(&diagnostics) {
  diagnostics_->systemLog("initWith ParseLineModel");
  parseModeBy(model.parseType());
}

void ParseLineViewModel::parseModeBy(std::int64_t parseType) {
  // Compared unsigned, so every negative value is out of range too.
  if (static_cast<std::uint64_t>(parseType) >= kParseTyepCount) {
    diagnostics_->systemLog("To be add mode!!!!");
    return;
  }
  const Dispatch& dispatch = kDispatch[static_cast<std::size_t>(parseType)];
  diagnostics_->systemLog(dispatch.label);
  parseBy(*dispatch.layout);
}

void ParseLineViewModel::parseLineSingle() {
  parseBy(kSingle);
}
void ParseLineViewModel::parseLineSingle_TE() {
  parseBy(kSingleTE);
}
void ParseLineViewModel::parseLineAB() {
  parseBy(kAB);
}
void ParseLineViewModel::parseLineAB_TE() {
  parseBy(kABTE);
}
void ParseLineViewModel::parseThistle() {
  parseBy(kThistle);
}

void ParseLineViewModel::parseBy(const Layout& layout) {
  if (!parseLine_) {
    diagnostics_->systemLog(layout.absentLineMessage);
    return;
  }
  diagnostics_->systemLog(std::string(layout.startMessagePrefix).append(*parseLine_));
  const std::vector<std::string> fields = splitByComma(*parseLine_);
  if (fields.size() < layout.minimumFields) {
    diagnostics_->systemLog(layout.tooFewFieldsMessage);
    return;
  }
  infoNameStr_ = fields[layout.nameField];
  versionStr_ = fields[layout.versionField];
  checkSumStr_ = fields[layout.checkSumField];
  // Catalogues written on Windows leave a carriage return at the end of the last field, and a
  // stray one inside a path would break the download, so image paths lose every one of them.
  aHexFileUrlStr_ = ftpRootUrlStr_ + withoutCarriageReturns(fields[layout.aPathField]);
  if (layout.bPathField) {
    bHexFileUrlStr_ = ftpRootUrlStr_ + withoutCarriageReturns(fields[*layout.bPathField]);
  }
  if (isCheckSumStrTooShort(*checkSumStr_)) diagnostics_->systemLog("DEBUG: checkSumStr error");
}

}  // namespace trident
