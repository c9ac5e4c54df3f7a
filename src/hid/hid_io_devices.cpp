#include "hid/hid_io_shared.h"

namespace trident {

using namespace hid_io;

void HidIoThread::Shared::deliver(std::function<void(const Events&)> event) {
  MutexLock lock(postMutex);
  if (closed) return;
  main.post([self = shared_from_this(), event = std::move(event)] {
    if (self->delivering) event(self->events);
  });
}

void HidIoThread::Shared::enqueue(std::function<void()> command) {
  {
    MutexLock lock(mutex);
    commands.push_back(std::move(command));
  }
  queued = true;
  // A frame written from a delivery run on this thread (the answer to a report) is taken up as
  // soon as the delivery returns: waking the thread would only cost it a round through poll().
  if (running != this) wake.signal();
}

void HidIoThread::Shared::writeFrame(uint64_t handle, const Frame& frame) {
  const auto it = taken.find(handle);
  if (it == taken.end()) {
    deliver([](const Events& e) { e.unsent(); });
    return;
  }
  Taken& device = it->second;
  if (device.waiting.empty()) device.waitingSince = Clock::now();
  device.waiting.push_back(frame);
  flush(handle);
}

void HidIoThread::Shared::flush(uint64_t handle) {
  Taken& device = taken.at(handle);
  // Run only here, on the I/O thread: the analysis does not follow a lambda's captures.
  const auto close = [&] {
    io.assumeHeld();
    taken.erase(handle);
    monitor.retire(handle);
  };
  while (!device.waiting.empty()) {
    uint8_t report[65] = {0};
    std::copy(device.waiting.front().begin(), device.waiting.front().end(), report + 1);
    std::string error;
    switch (device.connection->write(report, error)) {
      case HidWrite::Written:
        device.waiting.pop_front();
        device.waitingSince = Clock::now();
        device.quietUntil = {};  // its reply is due: read at once
        if (!device.waiting.empty()) continue;
        if (device.letGo) close();
        return;
      case HidWrite::Gone:
        dropTaken(handle);
        return;
      case HidWrite::Busy:
        if (Clock::now() - device.waitingSince <= kWriteLimit &&
            device.waiting.size() <= kMostWaitingFrames)
          return;
        // A board let go has had its verdict; one still in use has stopped taking frames.
        if (device.letGo) {
          close();
          return;
        }
        deliver([device = device.ref, count = device.waiting.size()](const Events& e) {
          e.stalled(device, count);
        });
        dropTaken(handle);
        return;
    }
  }
}

bool HidIoThread::Shared::flushAll() {
  bool waiting = false;
  std::vector<uint64_t> handles;
  for (const auto& [handle, device] : taken) {
    if (!device.waiting.empty()) handles.push_back(handle);
  }
  for (const uint64_t handle : handles) {
    flush(handle);
    const auto it = taken.find(handle);
    waiting = waiting || (it != taken.end() && !it->second.waiting.empty());
  }
  return waiting;
}

void HidIoThread::Shared::releaseTaken(uint64_t handle) {
  // It stays known until enumeration no longer lists it, so that it is neither reported removed
  // twice nor attached again while its node lingers. What was queued for it before goes out
  // first: the final command among it.
  const auto it = taken.find(handle);
  if (it == taken.end()) return;
  if (!it->second.waiting.empty()) {
    it->second.letGo = true;
    return;
  }
  taken.erase(it);
  monitor.retire(handle);
}

void HidIoThread::Shared::dropTaken(uint64_t handle) {
  // A device that fails a read or a write is gone as far as the update is concerned.
  if (taken.erase(handle) == 0) return;
  if (const auto device = monitor.fail(handle))
    deliver([device = *device](const Events& e) { e.removed(device); });
}

void HidIoThread::Shared::tryCandidates(std::optional<uint64_t> only) {
  for (auto candidate = candidates.begin(); candidate != candidates.end();) {
    if (taken.size() >= boardLimit) break;
    if (only && *candidate != *only) {
      ++candidate;
      continue;
    }
    const auto device = monitor.find(*candidate);
    if (!device || taken.count(*candidate)) {
      candidate = candidates.erase(candidate);
      continue;
    }
    std::string why;
    auto connection = backend->open(device->info.path, why);
    if (!connection) {
      deliver([device = *device, why = why.empty() ? std::string("cannot open") : why](
                  const Events& e) { e.openFailed(device, why); });
      ++candidate;
      continue;
    }
    Taken opened;
    opened.ref = *device;
    opened.connection = std::move(connection);
    taken.emplace(device->handle, std::move(opened));
    candidate = candidates.erase(candidate);
    deliver([device = *device](const Events& e) { e.opened(device); });
  }
  // A board that waited beside the ones taken is not opened behind the sink's back once one of
  // them goes: a board whose host lets go leaves. The sink asks again when it has room.
  if (taken.size() >= boardLimit) candidates.clear();
}

void HidIoThread::Shared::enumerateOnce() {
  for (const DeviceChange& change : monitor.update(backend->enumerate())) {
    const HidDeviceRef& device = change.device;
    switch (change.kind) {
      case DeviceChange::Kind::Attached:
        deliver([device](const Events& e) { e.attached(device); });
        break;
      case DeviceChange::Kind::Removed:
        taken.erase(device.handle);
        deliver([device](const Events& e) { e.removed(device); });
        break;
      case DeviceChange::Kind::Departed:
        std::erase(candidates, device.handle);
        taken.erase(device.handle);
        deliver([device](const Events& e) { e.departed(device); });
        break;
    }
  }
  tryCandidates();
}

bool HidIoThread::Shared::readTaken(Taken& device, std::chrono::milliseconds timeout) {
  uint8_t report[64];
  std::string error;
  const int got =
      device.connection->read(report, sizeof report, static_cast<int>(timeout.count()), error);
  if (got < 0) dropTaken(device.ref.handle);
  if (got <= 0) return false;
  device.quietUntil = Clock::now() + kTurnaround;
  delivered = true;
  deliver([handle = device.ref.handle, bytes = std::vector<uint8_t>(report, report + got)](
              const Events& e) { e.report(handle, bytes); });
  return true;
}

void HidIoThread::Shared::readDevices(Clock::time_point nextEnumeration) {
  if (queued) return;  // queued by a delivery on this thread, which did not wake it
  const auto now = Clock::now();
  const auto untilEnumeration =
      std::max(std::chrono::ceil<std::chrono::milliseconds>(nextEnumeration - now),
               std::chrono::milliseconds(0)) +
      std::chrono::milliseconds(1);

  // A device with a descriptor is slept on together with the wake-up. One without (hidapi) is
  // read in slices, and only while no frame of ours may be on its way: a frame never waits for a
  // slice to end.
  std::vector<int> fds;
  std::vector<uint64_t> watched;
  std::vector<uint64_t> due;
  auto sleep = untilEnumeration;
  for (const auto& [handle, device] : taken) {
    if (const int fd = device.connection->pollDescriptor(); fd >= 0) {
      fds.push_back(fd);
      watched.push_back(handle);
    } else if (now >= device.quietUntil) {
      due.push_back(handle);
    } else {
      sleep =
          std::min(sleep, std::chrono::ceil<std::chrono::milliseconds>(device.quietUntil - now));
    }
  }
  // Frames that a device could not take yet are offered again every slice.
  if (std::any_of(taken.begin(), taken.end(),
                  [](const auto& entry) { return !entry.second.waiting.empty(); }))
    sleep = std::min(sleep, kPolledReadSlice);
  std::vector<bool> ready;
  if (wake.wait(fds, due.empty() ? sleep : std::chrono::milliseconds(0), ready)) return;
  for (size_t i = 0; i < watched.size(); ++i) {
    const auto it = taken.find(watched[i]);
    if (it != taken.end() && ready[i]) readTaken(it->second, std::chrono::milliseconds(0));
  }
  // One slice of up to 1 ms in all, shared by the devices that are due; with several, each is
  // only looked at, and the thread sleeps the rest of the slice on its wake-up.
  const auto slice =
      due.size() == 1 ? std::min(untilEnumeration, kPolledReadSlice) : std::chrono::milliseconds(0);
  bool got = false;
  for (const uint64_t handle : due) {
    if (queued) return;
    const auto it = taken.find(handle);
    if (it != taken.end() && readTaken(it->second, slice)) got = true;
  }
  if (due.size() > 1 && !got) wake.wait({}, kPolledReadSlice, ready);
}

}  // namespace trident
