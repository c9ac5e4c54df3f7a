// The update state machine fed a sequence of events: input reports of 0 to 64 bytes (arbitrary
// ones, and ones answering the last frame as a board would), removals, the take, the click, the
// release and the stored firmware, in any order. The ports watch what the engine sends: every
// image byte goes out in order, and the window's verdict is "complete" only for a whole image the
// board confirmed.
//
// Input: one byte picks how far the update has come before the events start (fresh, board
// taken, "Update" clicked, programming begun); then events, each an opcode byte and its operands.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "engine/update_engine.h"
#include "fuzz_check.h"
#include "targets.h"

namespace trident::fuzz {
namespace {

namespace fs = std::filesystem;

// The firmware: 180 bytes, so the transfer has a first frame, two full data frames and a short
// last one. kImageHex is what objcopy -I binary -O ihex writes for them.
constexpr uint32_t kImageSize = 180;
uint8_t imageByte(uint32_t at) {
  return static_cast<uint8_t>(at * 37 + 11);
}
constexpr std::string_view kImageHex =
    ":100000000B30557A9FC4E90E33587DA2C7EC1136E8\r\n"
    ":100010005B80A5CAEF14395E83A8CDF2173C6186D8\r\n"
    ":10002000ABD0F51A3F6489AED3F81D42678CB1D6C8\r\n"
    ":10003000FB20456A8FB4D9FE23486D92B7DC0126B8\r\n"
    ":100040004B7095BADF04294E7398BDE2072C5176A8\r\n"
    ":100050009BC0E50A2F54799EC3E80D32577CA1C698\r\n"
    ":10006000EB10355A7FA4C9EE13385D82A7CCF11688\r\n"
    ":100070003B6085AACFF4193E6388ADD2F71C416678\r\n"
    ":100080008BB0D5FA1F44698EB3D8FD22476C91B668\r\n"
    ":10009000DB00254A6F94B9DE03284D7297BCE10658\r\n"
    ":1000A0002B50759ABFE4092E53789DC2E70C315648\r\n"
    ":0400B0007BA0C5EA82\r\n"
    ":00000001FF\r\n";

uint16_t imageSum() {
  uint16_t sum = 0;
  for (uint32_t i = 0; i < kImageSize; ++i)
    sum = static_cast<uint16_t>(sum + imageByte(i));
  return sum;
}

// What a release line announces for the image, as the engine keeps it (byte-swapped).
uint64_t announcedChecksum() {
  return static_cast<uint64_t>((imageSum() & 0xFF) << 8 | imageSum() >> 8);
}

// The firmware file, written once for the whole run in a directory of its own.
class FixedHexFile {
 public:
  FixedHexFile()
      : dir_(fs::temp_directory_path() / ("trident-engine-fuzzer-" + std::to_string(::getpid()))) {
    fs::create_directories(dir_);
    std::ofstream out(path(), std::ios::binary);
    out.write(kImageHex.data(), static_cast<std::streamsize>(kImageHex.size()));
    check(out.good(), "the firmware file can be written");
  }
  ~FixedHexFile() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  FixedHexFile(const FixedHexFile&) = delete;
  FixedHexFile& operator=(const FixedHexFile&) = delete;

  fs::path path() const { return dir_ / "tmp.hex"; }

 private:
  fs::path dir_;
};

uint32_t u32At(const Frame& frame, size_t at) {
  return frame[at] | frame[at + 1] << 8 | frame[at + 2] << 16 |
         static_cast<uint32_t>(frame[at + 3]) << 24;
}

// The board's side of the link: checks every frame against the image and remembers the last one.
class BoardLink final : public ReportPort {
 public:
  void writeReport(const Frame& frame) override {
    last = frame;
    check(frame[6] == 0 && frame[7] == 0, "packet numbers travel in 16 bits");
    const uint32_t command = u32At(frame, 0);
    if (command == static_cast<uint32_t>(Command::FirstTransfer)) {
      check(u32At(frame, 12) == kImageSize, "the first frame announces the image length");
      checkPayload(frame, 16, 0);
      sent = std::min<uint32_t>(48, kImageSize);
      transferring = true;
    } else if (command == static_cast<uint32_t>(Command::Data)) {
      check(transferring, "data frames follow the first transfer frame");
      check(sent < kImageSize, "no data frame after the whole image");
      checkPayload(frame, 8, sent);
      sent = std::min<uint32_t>(sent + 56, kImageSize);
    } else if (command != static_cast<uint32_t>(Command::Sync) &&
               command != static_cast<uint32_t>(Command::Final)) {
      transferring = false;  // a pre-update command: a new image is on its way
    }
  }

  Frame last{};
  uint32_t sent = 0;  // image bytes sent since the last first transfer frame
  bool transferring = false;

 private:
  static void checkPayload(const Frame& frame, size_t from, uint32_t offset) {
    for (size_t i = from; i < frame.size(); ++i) {
      const uint32_t at = offset + static_cast<uint32_t>(i - from);
      check(frame[i] == (at < kImageSize ? imageByte(at) : 0), "frames carry the image in order");
    }
  }
};

class VerdictWindow final : public NullWindowPort {
 public:
  explicit VerdictWindow(const BoardLink& link) : link_(link) {}
  void showProgressPicture(int index) override {
    check(index >= 0 && index <= 20, "progress pictures 0 to 20");
  }
  void showUpdateResult(bool success) override {
    check(link_.sent == kImageSize, "a verdict only after the whole image");
    const uint64_t reported = delivered[8] * 256u + delivered[9];
    check(success == (reported == expectedChecksum), "the verdict is the board's checksum");
  }

  Frame delivered{};              // the last input report, as the engine reads it
  uint64_t expectedChecksum = 0;  // from the last firmware the engine took

 private:
  const BoardLink& link_;
};

class Session {
 public:
  explicit Session(const fs::path& hexFile)
      : window_(link_), engine_({link_, window_, server_, diag_}, hexFile) {}

  void deliver(std::span<const uint8_t> report) {
    window_.delivered.fill(0);
    std::copy_n(report.begin(), std::min(report.size(), window_.delivered.size()),
                window_.delivered.begin());
    engine_.InputReportCallback(report.data(), report.size());
  }
  // A full reply to the last frame; `checksum` fills bytes 8-9 as the board writes its sum.
  void answer(uint16_t checksum) {
    Frame reply{};
    const uint16_t number = static_cast<uint16_t>(link_.last[4] | link_.last[5] << 8) + 1;
    reply[4] = static_cast<uint8_t>(number);
    reply[5] = static_cast<uint8_t>(number >> 8);
    reply[8] = static_cast<uint8_t>(checksum);
    reply[9] = static_cast<uint8_t>(checksum >> 8);
    deliver(reply);
  }
  void store(uint64_t checksum) {
    if (!isFinalStatus(engine_.state().iStatus)) window_.expectedChecksum = checksum;
    engine_.firmwareStored(checksum);
  }

  void checkState() const {
    const EngineState& st = engine_.state();
    check(st.acodeTotal <= st.acodeCapacity, "the announced length is stored");
    if (st.iStatus == STATUS_PEND_UPDATE || st.iStatus == STATUS_WAIT_CHECKSUM) {
      check(st.acodeOffset + st.acodeLength == st.acodeTotal, "sent and unsent make the image");
    }
  }

  UpdateEngine& engine() { return engine_; }

 private:
  NullDiagnostics diag_;
  BoardLink link_;
  VerdictWindow window_;
  NullUpdateServerPort server_;
  UpdateEngine engine_;
};

// Reads the input front to back; past its end every byte reads as 0.
class Input {
 public:
  explicit Input(std::span<const uint8_t> bytes) : rest_(bytes) {}
  bool empty() const { return rest_.empty(); }
  uint8_t byte() {
    if (rest_.empty()) return 0;
    const uint8_t b = rest_.front();
    rest_ = rest_.subspan(1);
    return b;
  }
  uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
  std::span<const uint8_t> bytes(size_t count) {
    const auto taken = rest_.first(std::min(count, rest_.size()));
    rest_ = rest_.subspan(taken.size());
    return taken;
  }

 private:
  std::span<const uint8_t> rest_;
};

void runEvents(Session& session, Input& in) {
  UpdateEngine& engine = session.engine();
  // How far the update has come before the events start.
  const uint8_t start = in.byte() % 4;
  if (start >= 1) {
    engine.SyncOnTake();
    session.answer(0);
  }
  if (start >= 2) {
    engine.releaseAccepted("V2.1.0");
    engine.OnActionButtonClick();
  }
  if (start >= 3) session.store(announcedChecksum());
  session.checkState();

  while (!in.empty()) {
    switch (in.byte() % 10) {
      case 0:  // any report of 0 to 64 bytes
        session.deliver(in.bytes(in.byte() % 65));
        break;
      case 1: {  // the board's answer to the last frame, with its sum or with the given bytes
        const uint8_t how = in.byte();
        const uint16_t given = in.word();
        session.answer(how & 1 ? imageSum() : given);
        break;
      }
      case 2:
        engine.RemovalRule(BOOTLOADER_VID, BOOTLOADER_PID);
        break;
      case 3: {  // some other device goes away
        const uint16_t vid = in.word();
        engine.RemovalRule(vid, in.word());
        break;
      }
      case 4:
        engine.SyncOnTake();
        break;
      case 5:
        engine.OnActionButtonClick();
        break;
      case 6:
        engine.releaseAccepted("V2.1.0");
        break;
      case 7:
        session.store(announcedChecksum());
        break;
      case 8:
        session.store(in.word());
        break;
      default:
        if (in.byte() & 1) {
          engine.showErrorAlertWithMessage("Parse txt file error");
        } else {
          engine.showSetupErrorAlertWithMessage("Error: Please check your network");
        }
        break;
    }
    session.checkState();
  }
}

}  // namespace

void updateEngine(std::span<const uint8_t> input) {
  static const FixedHexFile hexFile;
  Session session(hexFile.path());
  Input in(input);
  runEvents(session, in);
}

}  // namespace trident::fuzz
