#include "monitor/drive_monitor.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "monitor/drive_status.h"
#include "monitor/frame_codec.h"

namespace kelvane::sim {

namespace {

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

RequestKind KindOf(std::uint8_t command) {
  switch (command) {
    case COMMAND_IDENTIFY:
      return RequestKind::Identify;
    case COMMAND_WRITE_BLOCK:
      return RequestKind::Write;
    case COMMAND_READ_BLOCK:
      return RequestKind::Read;
    default:
      return RequestKind::Other;
  }
}

}  // namespace

DriveMonitor::DriveMonitor(SimFamily family, IdentityConfig identity, FaultPlan faults)
    : family_(family),
      identity_(std::move(identity)),
      faults_(std::move(faults)),
      flash_(LayoutOf(family)) {
  for (const FaultPlan::StuckCell& cell : faults_.stuckCells()) {
    flash_.AddStuckCell(cell.address, cell.value);
  }
}

std::uint32_t DriveMonitor::Field(const std::vector<std::uint8_t>& payload, std::size_t offset,
                                  std::uint32_t size) const {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint32_t byte = payload[offset + i];
    value |= flash_.layout().bigEndian ? byte << (8 * (size - 1 - i)) : byte << (8 * i);
  }
  return value;
}

MonitorAnswer DriveMonitor::Handle(const Frame& request) {
  const RequestKind kind = KindOf(request.command);
  ++requests_;
  std::uint64_t kindNumber = 0;
  if (kind == RequestKind::Identify) kindNumber = ++identifies_;
  if (kind == RequestKind::Write) kindNumber = ++writes_;
  if (kind == RequestKind::Read) kindNumber = ++reads_;
  const FaultPlan::Effects effects = faults_.For(requests_, kind, kindNumber);
  const FamilyLayout& layout = flash_.layout();
  if (effects.silent || effects.status || effects.badPayloadChecksum || effects.badHeaderFirst ||
      effects.noiseFirst > 0 || effects.late || effects.staleReplyFirst || effects.shortRead) {
    ++faultsInjected_;
  }

  MonitorAnswer answer;
  std::string& log = answer.logLine;
  std::uint8_t status = STATUS_OK;
  std::vector<std::uint8_t> payload;
  const auto size = static_cast<std::uint32_t>(request.payload.size());

  // Describe the request first: a silent drive still received it.
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  bool wellFormed = false;
  switch (kind) {
    case RequestKind::Identify:
      log = "IDENTIFY";
      wellFormed = true;
      break;
    case RequestKind::Write:
      wellFormed = size == WritePayloadLength(layout);
      if (wellFormed) {
        address = Field(request.payload, 0, 4);
        log = "WRITE " + Hex32(address) + " " + std::to_string(size - 4);
      } else {
        log = "WRITE payload " + std::to_string(size) + " bytes";
      }
      break;
    case RequestKind::Read:
      wellFormed = size == ReadPayloadLength(layout);
      if (wellFormed) {
        address = Field(request.payload, 0, 4);
        length = Field(request.payload, 4, layout.readLengthBytes);
        log = "READ " + Hex32(address) + " " + std::to_string(length);
      } else {
        log = "READ payload " + std::to_string(size) + " bytes";
      }
      break;
    case RequestKind::Other: {
      char text[48];
      std::snprintf(text, sizeof text, "COMMAND 0x%02X payload %u bytes", request.command,
                    static_cast<unsigned>(size));
      log = text;
      break;
    }
  }

  if (effects.silent) {
    answer.silent = true;
    log += " silent";
    return answer;
  }

  if (effects.status) {
    status = *effects.status;  // the fault answers in the monitor's place: nothing stored
  } else if (kind == RequestKind::Other) {
    status = STATUS_UNKNOWN_COMMAND;
  } else if (!wellFormed) {
    status = STATUS_BAD_LENGTH;
  } else if (kind == RequestKind::Identify) {
    payload = IdentityReply(identity_, family_, flash_);
  } else if (kind == RequestKind::Write) {
    status = flash_.ProgramBlock(address, std::span(request.payload).subspan(4));
  } else {
    status = flash_.Read(address, length, payload);
  }

  std::string tags;
  if (effects.shortRead && status == STATUS_OK && payload.size() > *effects.shortRead) {
    payload.resize(*effects.shortRead);
    tags += " short " + std::to_string(*effects.shortRead);
  }
  std::vector<std::uint8_t> frame = BuildReplyFrame(request.command, status, payload);
  if (effects.badPayloadChecksum && CorruptPayloadChecksum(frame)) tags += " bad-payload-checksum";

  if (effects.noiseFirst > 0) {
    answer.bytes = NoiseBytes(effects.noiseFirst);
    tags += " noise " + std::to_string(effects.noiseFirst);
  }
  if (effects.staleReplyFirst) {
    const auto stale = BuildReplyFrame(COMMAND_WRITE_BLOCK, STATUS_OK, {});
    answer.bytes.insert(answer.bytes.end(), stale.begin(), stale.end());
    tags += " stale-reply";
  }
  if (effects.badHeaderFirst) {
    const auto decoy =
        BuildBadHeaderFrame(request.command, status, static_cast<std::uint16_t>(payload.size()));
    answer.bytes.insert(answer.bytes.end(), decoy.begin(), decoy.end());
    tags += " bad-header";
  }
  answer.bytes.insert(answer.bytes.end(), frame.begin(), frame.end());
  if (effects.late) {
    answer.late = true;
    tags += " late";
  }
  log += " status " + std::to_string(status) + tags;
  return answer;
}

std::string DriveMonitor::DescribeDroppedFrame(ParseEvent event) {
  return event == ParseEvent::BadHeader ? "BAD-HEADER silent" : "BAD-PAYLOAD-CHECKSUM silent";
}

}  // namespace kelvane::sim
